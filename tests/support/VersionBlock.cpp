#include "tests/support/VersionBlock.h"

namespace kivtest {

VersionInfoContent SampleVersionInfo(bool translation, const std::string& table)
{
    VersionInfoContent c;
    c.fileVersion[0] = 2;
    c.fileVersion[1] = 5;
    c.tableKey = table;
    c.strings = {{"FileVersion", "2.5.0.0"}, {"ProductVersion", "2.5.1"}};
    c.withTranslation = translation;
    return c;
}

} // namespace kivtest
