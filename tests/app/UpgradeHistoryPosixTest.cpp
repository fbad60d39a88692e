// The upgrade history's file and its lines, where the POSIX rules place it: modes, links and
// the XDG state directory (Windows: tests/platform/FilesWin32Test.cpp).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "app/UpgradeHistory.h"
#include "tests/support/Files.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {

HistoryRecord SampleRecord(const std::string& marker)
{
    HistoryRecord record;
    record.time = "2024-02-29T23:59:59Z";
    record.routerIp = "192.168.1.1";
    record.routerMac = "02-4B-49-56-00-01";
    record.succeeded = true;
    record.resultText = "Download successfully";
    record.durationSeconds = 75;
    HistoryComponent c;
    c.type = "APP of router module";
    c.oldVersion = "2.1.5.0";
    c.imageVersion = "2.1.7.1 \"beta\" \\ " + marker;
    c.image = "/images/app\x1b[2J.bin";
    c.sha256 = std::string(64, 'a');
    c.result = "written";
    c.status = "Download successfully (00:12)";
    record.components = {c};
    return record;
}

// Each record is one line of valid JSON, whatever its texts hold: quotes and backslashes
// escaped, control characters replaced, a version not read back null.
TEST(UpgradeHistory, OneJsonLinePerRunAppendedToAFileOfTheUsers)
{
    kivtest::TempDir dir;
    const std::string path = dir / "state/kivupgrade/history.jsonl";
    std::string why;
    ASSERT_TRUE(AppendHistory(path, SampleRecord("one"), why)) << why;
    ASSERT_TRUE(AppendHistory(path, SampleRecord("two"), why)) << why;
    const std::string text = kivtest::ReadFile(path);
    ASSERT_EQ(kivtest::CountOf(text, "\n"), 2);
    const nlohmann::json second = nlohmann::json::parse(text.substr(text.find('\n') + 1));
    EXPECT_EQ(second["time"], "2024-02-29T23:59:59Z");
    EXPECT_EQ(second["router"]["mac"], "02-4B-49-56-00-01");
    EXPECT_EQ(second["result"], "success");
    EXPECT_EQ(second["durationSeconds"], 75);
    const nlohmann::json& app = second["components"][0];
    EXPECT_EQ(app["imageVersion"], "2.1.7.1 \"beta\" \\ two");
    EXPECT_EQ(app["image"], "/images/app\xEF\xBF\xBD[2J.bin");
    EXPECT_TRUE(app["newVersion"].is_null());
    EXPECT_EQ(app["oldVersion"], "2.1.5.0");

    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir / "state/kivupgrade").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Never written through a link planted in its place.
    const std::string planted = dir / "planted.jsonl";
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), planted.c_str()), 0);
    EXPECT_FALSE(AppendHistory(planted, SampleRecord("three"), why));
    EXPECT_EQ(why, planted + " is a symbolic link");
    EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
}

TEST(UpgradeHistory, TheFileFollowsTheStateDirectoryRules)
{
    const struct {
        std::optional<std::string> state;
        std::optional<std::string> home;
        std::string path;
    } CASES[] = {
        {"/srv/state", "/home/u", "/srv/state/kivupgrade/history.jsonl"},
        {"/srv/state/", "/home/u", "/srv/state/kivupgrade/history.jsonl"},
        {"relative/state", "/home/u", "/home/u/.local/state/kivupgrade/history.jsonl"},
        {std::nullopt, "/home/u/", "/home/u/.local/state/kivupgrade/history.jsonl"},
    };
    for (const auto& c : CASES) {
        kivtest::ScopedEnv state("XDG_STATE_HOME", c.state);
        kivtest::ScopedEnv home("HOME", c.home);
        EXPECT_EQ(UpgradeHistoryPath(), c.path);
    }
    kivtest::ScopedEnv state("XDG_STATE_HOME", std::nullopt);
    kivtest::ScopedEnv home("HOME", std::nullopt);
    const std::string fromUserDatabase = UpgradeHistoryPath();
    EXPECT_EQ(fromUserDatabase.rfind('/', 0), 0u) << fromUserDatabase;
    EXPECT_NE(fromUserDatabase.find("/.local/state/kivupgrade/history.jsonl"), std::string::npos);

    using namespace std::chrono;
    EXPECT_EQ(UtcTimestamp(system_clock::time_point{}), "1970-01-01T00:00:00Z");
    EXPECT_EQ(UtcTimestamp(system_clock::time_point{seconds{1709251199}}), "2024-02-29T23:59:59Z");
}

} // namespace
