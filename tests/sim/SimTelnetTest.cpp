// The Telnet service, driven the way the version check drives it.

#include "net/CTelnetClient.h"
#include "tests/support/Loopback.h"
#include "tests/support/ScopedTimeScale.h"
#include "tests/support/SilentPort.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TimeScale.h"

using namespace kivtest;

namespace {

class SimTelnetTest : public SimFixture {
protected:
    // The client takes a reply by elapsed time (what arrived within 500 ms): the Telnet pace.
    ScopedTimeScale m_Scale{TelnetTimeScale()};

    // Connects and logs in; false at the first step that fails.
    bool Login(CTelnetClient& client, const std::string& prompt, const std::string& password = "tovex")
    {
        client.SetPortNumber(m_pSim->TelnetPort());
        return client.Connect("127.0.0.1") && client.WaitReply(500) && client.FindLine(":") != -1 &&
               client.SendAndWait("admin\r\n", ":", 500) && client.SendAndWait(password + "\r\n", prompt, 500);
    }

    // The newest line of the last reply that equals `text`.
    static bool HasLine(const CTelnetClient& client, const std::string& text)
    {
        for (int i = 0; i < client.GetLineCount(); ++i)
            if (client.GetLine(i) == text)
                return true;
        return false;
    }
};

TEST_F(SimTelnetTest, FamilyALoginAndNvramVersions)
{
    m_Config.bootVersion = "1.0.1.1";
    m_Config.appVersion = "2.1.2.2";
    StartSim();
    CTelnetClient client;
    ASSERT_TRUE(Login(client, "#"));
    ASSERT_TRUE(client.SendAndWait("nvram get cfe_version\r\n", "#", 500));
    EXPECT_TRUE(HasLine(client, "nvram get cfe_version")); // the echo
    EXPECT_TRUE(HasLine(client, "1.0.1.1"));
    ASSERT_TRUE(client.SendAndWait("nvram get app_version\r\n", "#", 500));
    EXPECT_TRUE(HasLine(client, "2.1.2.2"));
    client.Disconnect();
    EXPECT_EQ(0u, m_pSim->ViolationCount());
}

TEST_F(SimTelnetTest, FamilyBDiagDisplayVersion)
{
    m_Config.family = 'B';
    m_Config.appVersion = "3.2.0.7";
    StartSim();
    CTelnetClient client;
    ASSERT_TRUE(Login(client, "QRX"));
    ASSERT_TRUE(client.SendAndWait("diag display version\r\n", "success", 500));
    const int line = client.FindLine("software version: ");
    ASSERT_NE(-1, line);
    EXPECT_EQ("software version: 3.2.0.7", client.GetLine(line));
    client.Disconnect();
}

TEST_F(SimTelnetTest, WrongPasswordIsRefused)
{
    StartSim();
    CTelnetClient client;
    EXPECT_FALSE(Login(client, "#", "secret"));
    EXPECT_NE(-1, client.FindLine("Login incorrect"));
    client.Disconnect();
    m_pSim->Stop();
    EXPECT_EQ(1u, Find("event", "login refused").size());
}

TEST_F(SimTelnetTest, TelnetFaults)
{
    AddFault("telnet-silent");
    StartSim();
    CTelnetClient client;
    client.SetPortNumber(m_pSim->TelnetPort());
    ASSERT_TRUE(client.Connect("127.0.0.1"));
    ASSERT_TRUE(client.WaitReply(500));
    EXPECT_EQ(-1, client.FindLine(":"));
    client.Disconnect();
    StopSim();

    m_Config.faults = CFaultTable();
    AddFault("telnet-wrong-prompt");
    StartSim();
    EXPECT_FALSE(Login(client, "#"));
    client.Disconnect();
    StopSim();

    m_Config.faults = CFaultTable();
    AddFault("telnet-hang");
    StartSim();
    ASSERT_TRUE(Login(client, "#"));
    EXPECT_FALSE(client.SendAndWait("nvram get app_version\r\n", "#", 500));
    client.Disconnect();
    StopSim();

    m_Config.faults = CFaultTable();
    AddFault("telnet-refused");
    SilentPort nobody;
    m_Config.telnetPort = nobody.Port(); // held, but nobody listens there
    StartSim();
    client.SetPortNumber(m_pSim->TelnetPort());
    EXPECT_FALSE(client.Connect("127.0.0.1"));
}

} // namespace
