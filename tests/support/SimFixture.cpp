#include "tests/support/SimFixture.h"

#include <sstream>

#include "tests/support/Files.h"

namespace kivtest {

void SimFixture::SetUp()
{
    m_Config.address = "127.0.0.1";
    m_Config.routerPort = 0;
    m_Config.telnetPort = 0;
    m_Config.transcriptPath = m_Dir / "transcript.jsonl";
}

void SimFixture::TearDown() { StopSim(); }

void SimFixture::AddFault(const std::string& spec)
{
    std::string error;
    ASSERT_TRUE(m_Config.faults.Add(spec, error)) << error;
}

void SimFixture::StartSim()
{
    m_pSim.reset();
    m_pSim = std::make_unique<CRouterSim>(m_Config);
    std::string error;
    ASSERT_TRUE(m_pSim->Open(error)) << error;
    ASSERT_TRUE(m_pSim->Start());
}

void SimFixture::StopSim()
{
    if (!m_pSim)
        return;
    m_nViolations = m_pSim->ViolationCount();
    m_pSim->Stop();
    m_pSim.reset();
}

std::vector<nlohmann::json> ParseJsonLines(const std::string& text)
{
    std::vector<nlohmann::json> records;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        nlohmann::json record = nlohmann::json::parse(line, nullptr, false);
        EXPECT_FALSE(record.is_discarded()) << "transcript line is no JSON: " << line;
        if (!record.is_discarded())
            records.push_back(std::move(record));
    }
    return records;
}

std::vector<nlohmann::json> SimFixture::Transcript() const
{
    return ParseJsonLines(ReadRequiredFile(m_Config.transcriptPath));
}

std::vector<nlohmann::json> SimFixture::Find(const std::string& key, const std::string& value) const
{
    std::vector<nlohmann::json> found;
    for (auto& record : Transcript()) {
        if (record.contains(key) && record[key].is_string() && record[key] == value)
            found.push_back(record);
    }
    return found;
}

int SimFixture::RecordsReceived(int type) const
{
    int count = 0;
    for (const auto& r : Transcript()) {
        if (r.value("proto", "") == "udp" && r.value("dir", "") == "in" && r.value("kind", "") == "record" &&
            r.value("type", -1) == type)
            ++count;
    }
    return count;
}

int SimFixture::UdpRecordsReceived() const
{
    int count = 0;
    for (const auto& r : Transcript())
        count += r.value("proto", "") == "udp" && r.value("dir", "") == "in";
    return count;
}

} // namespace kivtest
