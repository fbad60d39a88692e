#pragma once

#include <cstdint>
#include <string>

#include "sim/ISession.h"

class CSimContext;

// The router's Telnet service: its own option requests, a login ("admin" / "tovex"), and
// a small shell. Family A answers "nvram get ..." under the prompt "#"; family B answers
// "diag display version" under a prompt holding "QRX".
class CTelnetSession : public ISession {
public:
    static constexpr size_t MAX_LINE = 256;
    static constexpr int MAX_LOGIN_TRIES = 3;

    CTelnetSession(CSimContext& context, uint32_t conn);

    void OnConnect() override;
    void OnBytes(const uint8_t* data, size_t length) override;

private:
    enum class Input { Data, Iac, Option, Sub, SubIac };
    enum class Stage { User, Password, Shell, Hung };

    void Byte(uint8_t byte);
    void Line(const std::string& line);
    void Command(const std::string& command);
    void SendText(const std::string& text);
    void LoginPrompt();
    void ShellPrompt();

    CSimContext& m_Context;
    uint32_t m_nConn;
    Input m_Input = Input::Data;
    uint8_t m_Verb = 0;
    Stage m_Stage = Stage::User;
    std::string m_Line;
    bool m_bLastWasCr = false;
    bool m_bLineTooLong = false;
    std::string m_User;
    int m_nFailures = 0;
    bool m_bSilent = false;
};
