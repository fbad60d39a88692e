// Every answer interpreter of the DIAG caller fed an arbitrary answer (the rest of the
// response buffer holds the filler, as after a real read).
#include <cstdint>
#include <cstring>
#include <string>

#include "diag/CDiagCaller.h"
#include "log/CDownloadLog.h"
#include "wire/DiagProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t response[CDiagCaller::RESPONSE_SIZE];
    std::memset(response, 0xCD, sizeof(response));
    const uint32_t length = uint32_t(std::min(size, sizeof(response)));
    std::memcpy(response, data, length);

    CDownloadLog log{""};
    std::string text = CDiagCaller::ParseBoardVersion(response);
    if (text.size() > 31 * 3)
        __builtin_trap();
    CDiagCaller::ParseISOVersion(response, &text);
    CDiagCaller::InterpretBackupRestore(response, 1, &log);
    CDiagCaller::InterpretBackupRestore(response, 0, &log);
    CDiagCaller::InterpretRestoreStatus(response, &log);
    int force = 1, offline = 1;
    CDiagCaller::InterpretHandShake(response, length, &force, &offline, &log);
    uint8_t nv[DiagProtocol::NV_DATA_LENGTH];
    uint16_t status = 0;
    const uint32_t asked = size > 0 ? data[0] : 0; // may exceed 128: must be cut
    CDiagCaller::InterpretNvStatus(response, true, nv, asked, &status, &log);
    CDiagCaller::InterpretNvStatus(response, false, nullptr, 0, &status, &log);
    return 0;
}
