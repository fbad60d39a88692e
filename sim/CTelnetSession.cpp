#include "sim/CTelnetSession.h"

#include "sim/CSimContext.h"

namespace {

constexpr uint8_t IAC = 255;
constexpr uint8_t DONT = 254;
constexpr uint8_t DO = 253;
constexpr uint8_t WONT = 252;
constexpr uint8_t WILL = 251;
constexpr uint8_t SB = 250;
constexpr uint8_t SE = 240;
constexpr uint8_t OPT_ECHO = 1;
constexpr uint8_t OPT_SGA = 3;
constexpr uint8_t OPT_TTYPE = 24;

const char USER[] = "admin";
const char PASSWORD[] = "tovex";

const char* VerbName(uint8_t verb)
{
    switch (verb) {
    case WILL: return "WILL";
    case WONT: return "WONT";
    case DO: return "DO";
    case DONT: return "DONT";
    default: return "?";
    }
}

} // namespace

CTelnetSession::CTelnetSession(CSimContext& context, uint32_t conn)
    : m_Context(context), m_nConn(conn), m_bSilent(context.Config().faults.Has(Fault::TelnetSilent))
{
}

void CTelnetSession::OnConnect()
{
    if (m_bSilent) {
        m_Context.Transcript().Event("telnet", m_nConn, "silent (fault telnet-silent)");
        return;
    }
    const uint8_t options[] = {IAC, WILL, OPT_ECHO, IAC, WILL, OPT_SGA, IAC, DO, OPT_TTYPE};
    Send(options, sizeof options);
    m_Context.Transcript().Message("telnet", "out", m_nConn,
                                   {{"kind", "options"},
                                    {"text", "WILL ECHO, WILL SUPPRESS-GO-AHEAD, DO TERMINAL-TYPE"}},
                                   options, sizeof options);
    SendText("\r\nKivRouter\r\n");
    LoginPrompt();
}

void CTelnetSession::LoginPrompt()
{
    const bool wrong = m_Context.Config().faults.Text(Fault::TelnetWrongPrompt) == "login";
    SendText(wrong ? "KivRouter login " : "KivRouter login: ");
    m_Stage = Stage::User;
}

void CTelnetSession::ShellPrompt()
{
    const bool wrong = m_Context.Config().faults.Text(Fault::TelnetWrongPrompt) == "shell";
    if (m_Context.Config().family == 'B')
        SendText(wrong ? "<Router>" : "<QRX>");
    else
        SendText(wrong ? "> " : "# ");
}

void CTelnetSession::SendText(const std::string& text)
{
    Send(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    m_Context.Transcript().Message("telnet", "out", m_nConn, {{"kind", "text"}, {"text", text}},
                                   reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void CTelnetSession::OnBytes(const uint8_t* data, size_t length)
{
    if (m_bSilent || m_bClose)
        return;
    for (size_t i = 0; i < length && !m_bClose; ++i)
        Byte(data[i]);
}

void CTelnetSession::Byte(uint8_t byte)
{
    switch (m_Input) {
    case Input::Iac:
        if (byte == IAC) {
            m_Input = Input::Data; // an escaped 255 data byte: not part of any command we know
            return;
        }
        if (byte >= WILL && byte <= DONT) {
            m_Verb = byte;
            m_Input = Input::Option;
        } else {
            m_Input = byte == SB ? Input::Sub : Input::Data;
        }
        return;
    case Input::Option: {
        const uint8_t bytes[3] = {IAC, m_Verb, byte};
        m_Context.Transcript().Message("telnet", "in", m_nConn,
                                       {{"kind", "option"}, {"verb", VerbName(m_Verb)}, {"option", byte}}, bytes, 3);
        m_Input = Input::Data;
        return;
    }
    case Input::Sub:
        if (byte == IAC)
            m_Input = Input::SubIac;
        return;
    case Input::SubIac: m_Input = byte == SE ? Input::Data : Input::Sub; return;
    case Input::Data: break;
    }
    if (byte == IAC) {
        m_Input = Input::Iac;
        return;
    }
    const bool wasCr = m_bLastWasCr;
    m_bLastWasCr = byte == '\r';
    if (byte == '\n' && wasCr)
        return; // the LF of a CR LF
    if (byte == 0)
        return; // CR NUL, or padding
    if (byte == '\r' || byte == '\n') {
        std::string line;
        line.swap(m_Line);
        if (m_bLineTooLong)
            m_Context.Transcript().Violation("telnet", m_nConn,
                                             "line longer than " + std::to_string(MAX_LINE) + " bytes", nullptr, 0);
        m_bLineTooLong = false;
        Line(line);
        return;
    }
    if (m_Line.size() >= MAX_LINE) {
        m_bLineTooLong = true;
        return;
    }
    m_Line.push_back(static_cast<char>(byte));
}

void CTelnetSession::Line(const std::string& line)
{
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(line.data());
    const char* stage = m_Stage == Stage::User ? "user" : m_Stage == Stage::Password ? "password" : "command";
    m_Context.Transcript().Message("telnet", "in", m_nConn, {{"kind", "line"}, {"stage", stage}, {"text", line}}, bytes,
                                   line.size());
    switch (m_Stage) {
    case Stage::User:
        SendText(line + "\r\nPassword: ");
        m_User = line;
        m_Stage = Stage::Password;
        return;
    case Stage::Password:
        if (m_User == USER && line == PASSWORD) {
            m_Context.Transcript().Event("telnet", m_nConn, "logged in");
            SendText("\r\n");
            m_Stage = Stage::Shell;
            ShellPrompt();
            return;
        }
        m_Context.Transcript().Event("telnet", m_nConn, "login refused", {{"user", m_User}});
        SendText("\r\nLogin incorrect\r\n");
        if (++m_nFailures >= MAX_LOGIN_TRIES) {
            m_bClose = true;
            return;
        }
        LoginPrompt();
        return;
    case Stage::Shell:
        SendText(line + "\r\n");
        Command(line);
        return;
    case Stage::Hung: return;
    }
}

void CTelnetSession::Command(const std::string& command)
{
    if (command == "exit" || command == "logout" || command == "quit") {
        m_bClose = true;
        return;
    }
    if (m_Context.Config().faults.Has(Fault::TelnetHang)) {
        m_Context.Transcript().Event("telnet", m_nConn, "command hangs (fault telnet-hang)");
        m_Stage = Stage::Hung;
        return;
    }
    if (m_Context.Config().family == 'B') {
        if (command == "diag display version") {
            SendText(
                "Router board: KR-3G family B\r\n"
                "software version: " +
                m_Context.AppVersion() +
                "\r\n"
                "boot version: " +
                m_Context.BootVersion() + "\r\nhardware version: HW1.0\r\nsuccess\r\n");
        } else if (!command.empty()) {
            SendText("Error: unrecognised command \"" + command + "\"\r\n");
        }
    } else if (command.rfind("nvram get ", 0) == 0) {
        const std::string name = command.substr(10);
        if (name == "cfe_version")
            SendText(m_Context.BootVersion() + "\r\n");
        else if (name == "app_version")
            SendText(m_Context.AppVersion() + "\r\n");
        else
            SendText("\r\n");
    } else if (!command.empty()) {
        SendText("sh: " + command + ": not found\r\n");
    }
    ShellPrompt();
}
