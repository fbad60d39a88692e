#include "sim/CTelnetSession.h"

#include "sim/CSimContext.h"
#include "wire/TelnetDialogue.h"

using namespace TelnetDialogue;

namespace {

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
    const uint8_t options[] = {IAC, WILL, OPT_ECHO, IAC, WILL, OPT_SUPPRESS_GO_AHEAD, IAC, DO, OPT_TERMINAL_TYPE};
    Send(options, sizeof options);
    m_Context.Transcript().Message("telnet", "out", m_nConn,
                                   {{"kind", "options"},
                                    {"text", "WILL ECHO, WILL SUPPRESS-GO-AHEAD, DO TERMINAL-TYPE"}},
                                   options, sizeof options);
    SendText(std::string(LINE_END) + "KivRouter" + LINE_END);
    LoginPrompt();
}

void CTelnetSession::LoginPrompt()
{
    const bool wrong = m_Context.Config().faults.Text(Fault::TelnetWrongPrompt) == "login";
    SendText(std::string("KivRouter login") + (wrong ? "" : LOGIN_PROMPT_MARK) + " ");
    m_Stage = Stage::User;
}

void CTelnetSession::ShellPrompt()
{
    const bool wrong = m_Context.Config().faults.Text(Fault::TelnetWrongPrompt) == "shell";
    if (m_Context.Config().family == 'B')
        SendText(std::string("<") + (wrong ? "Router" : PROMPT_FAMILY_B) + ">");
    else
        SendText(std::string(wrong ? ">" : PROMPT_FAMILY_A) + " ");
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
        SendText(line + LINE_END + "Password" + LOGIN_PROMPT_MARK + " ");
        m_User = line;
        m_Stage = Stage::Password;
        return;
    case Stage::Password:
        if (m_User == USER && line == PASSWORD) {
            m_Context.Transcript().Event("telnet", m_nConn, "logged in");
            SendText(LINE_END);
            m_Stage = Stage::Shell;
            ShellPrompt();
            return;
        }
        m_Context.Transcript().Event("telnet", m_nConn, "login refused", {{"user", m_User}});
        SendText(std::string(LINE_END) + "Login incorrect" + LINE_END);
        if (++m_nFailures >= MAX_LOGIN_TRIES) {
            m_bClose = true;
            return;
        }
        LoginPrompt();
        return;
    case Stage::Shell:
        SendText(line + LINE_END);
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
        if (command == DISPLAY_VERSION) {
            SendText(std::string("Router board: KR-3G family B") + LINE_END + VERSION_MARKER + m_Context.AppVersion() +
                     LINE_END + "boot version: " + m_Context.BootVersion() + LINE_END + "hardware version: HW1.0" +
                     LINE_END + DISPLAY_VERSION_DONE + LINE_END);
        } else if (!command.empty()) {
            SendText("Error: unrecognised command \"" + command + "\"" + LINE_END);
        }
    } else if (command.rfind(NVRAM_GET, 0) == 0) {
        const std::string name = command.substr(std::string(NVRAM_GET).size());
        if (name == NVRAM_BOOT_VERSION)
            SendText(m_Context.BootVersion() + LINE_END);
        else if (name == NVRAM_APP_VERSION)
            SendText(m_Context.AppVersion() + LINE_END);
        else
            SendText(LINE_END);
    } else if (!command.empty()) {
        SendText("sh: " + command + ": not found" + LINE_END);
    }
    ShellPrompt();
}
