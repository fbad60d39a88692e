// Programs of the build, run by the Windows tests: BuildProgram and RunProgram over
// CreateProcessW, with standard output and error read through pipes. The Process class
// (signals, process ids, reading while it runs) and FindProgram are POSIX-only so far.
#include "tests/support/Process.h"

#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <thread>

#include "platform/SystemError.h"
#include "platform/WideText.h"

namespace kivtest {

namespace {

// One argument quoted so that the C runtime's parser (and CommandLineToArgvW) give it back.
std::wstring Quoted(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring out = L"\"";
    for (size_t i = 0;; ++i) {
        size_t backslashes = 0;
        while (i < argument.size() && argument[i] == L'\\') {
            ++i;
            ++backslashes;
        }
        if (i == argument.size()) {
            out.append(2 * backslashes, L'\\');
            break;
        }
        if (argument[i] == L'"')
            out.append(2 * backslashes + 1, L'\\');
        else
            out.append(backslashes, L'\\');
        out.push_back(argument[i]);
    }
    out.push_back(L'"');
    return out;
}

struct NoCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const { return _wcsicmp(a.c_str(), b.c_str()) < 0; }
};

// The test's own environment with `changes` applied (names compare without case, as
// Windows compares them), as the block CreateProcessW takes.
std::wstring EnvironmentBlock(const Process::Env& changes)
{
    std::map<std::wstring, std::wstring, NoCase> variables;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        const size_t equals = text.find(L'=', 1); // "=C:=C:\dir" entries begin with '='
        if (equals != std::wstring::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    FreeEnvironmentStringsW(block);
    for (const auto& [name, value] : changes) {
        if (value.empty())
            variables.erase(WideFromUtf8(name));
        else
            variables[WideFromUtf8(name)] = WideFromUtf8(value);
    }
    std::wstring out;
    for (const auto& [name, value] : variables)
        out += name + L"=" + value + L'\0';
    out += L'\0';
    return out;
}

void ReadToEnd(HANDLE pipe, std::string* text)
{
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0)
        text->append(buffer, n);
}

// A pipe whose write end the child inherits and whose read end stays here.
bool MakePipe(HANDLE& read, HANDLE& write)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreatePipe(&read, &write, &inherit, 0) && SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
}

} // namespace

std::string BuildProgram(const std::string& relative)
{
    const char* dir = std::getenv("KIV_TEST_BIN_DIR");
    return std::string(dir != nullptr ? dir : ".") + "/" + relative + ".exe";
}

RunResult RunProgram(const std::vector<std::string>& argv, const Process::Env& env, std::chrono::milliseconds limit)
{
    RunResult result;
    if (argv.empty())
        return result;
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!MakePipe(outRead, outWrite) || !MakePipe(errRead, errWrite)) {
        result.err = "cannot make pipes: " + SystemErrorText(GetLastError());
        return result;
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE input =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    std::wstring commandLine;
    for (const std::string& argument : argv)
        commandLine += (commandLine.empty() ? L"" : L" ") + Quoted(WideFromUtf8(argument));
    std::wstring environment = EnvironmentBlock(env);
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                                        environment.data(), nullptr, &startup, &process);
    const DWORD startError = GetLastError();
    // Only the child holds the write ends now: the reads end when it (and its children) do.
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (input != INVALID_HANDLE_VALUE)
        CloseHandle(input);
    if (!started) {
        CloseHandle(outRead);
        CloseHandle(errRead);
        result.err = "cannot start " + argv[0] + ": " + SystemErrorText(startError);
        return result;
    }
    std::thread outReader(ReadToEnd, outRead, &result.out);
    std::thread errReader(ReadToEnd, errRead, &result.err);
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.status = static_cast<int>(code);
    } else {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 10000);
        result.status = -1;
    }
    outReader.join();
    errReader.join();
    CloseHandle(outRead);
    CloseHandle(errRead);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

} // namespace kivtest
