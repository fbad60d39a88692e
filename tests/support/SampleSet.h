#pragma once

#include <cstdint>
#include <string>

#include "tests/support/TempDir.h"

namespace kivtest {

// The sample images of both families (DIR/a, DIR/b) in a directory of their own, written
// with the product's sample writer; the directory goes with the object.
class SampleSet {
public:
    // Total data bytes of the five-part firmware: small keeps the runs quick, the layout is
    // that of the full-size set.
    static constexpr uint32_t FIRMWARE_SIZE = 256 * 1024;

    // The one set of this test program, written on first use.
    static const SampleSet& Shared();

    explicit SampleSet(uint32_t firmwareSize = FIRMWARE_SIZE);
    SampleSet(const SampleSet&) = delete;
    SampleSet& operator=(const SampleSet&) = delete;

    // False (Error() says why) when the set could not be written.
    bool Ok() const { return m_strError.empty(); }
    const std::string& Error() const { return m_strError; }
    const std::string& Dir() const { return m_Dir.Path(); }
    // The directory of family "a" or "b".
    std::string Family(const std::string& family) const { return m_Dir / family; }

private:
    TempDir m_Dir{"kiv-samples"};
    std::string m_strError;
};

} // namespace kivtest
