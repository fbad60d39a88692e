#include "tests/support/SampleSet.h"

#include "images/CSampleImage.h"

namespace kivtest {

const SampleSet& SampleSet::Shared()
{
    static const SampleSet SHARED_SET;
    return SHARED_SET;
}

SampleSet::SampleSet(uint32_t firmwareSize)
{
    if (m_Dir.Path().empty())
        m_strError = "no directory";
    else if (!SampleImage::WriteSamples(m_Dir.Path(), firmwareSize, m_strError) && m_strError.empty())
        m_strError = "the sample images could not be written";
}

} // namespace kivtest
