// The names the virtual router gives the payloads of the TCP channel in its transcript and
// takes in its faults.
#include <gtest/gtest.h>

#include <set>

#include "tests/support/HdlcBytes.h"
#include "wire/DiagCodec.h"
#include "wire/DiagRequestName.h"

using namespace kivtest;

namespace {

Bytes Zeros(const std::string& hexStart, size_t length)
{
    Bytes bytes = Hex(hexStart);
    bytes.resize(length, 0);
    return bytes;
}

Bytes RequestBytes(const DiagRequest& r) { return Bytes(r.bytes, r.bytes + r.length); }

} // namespace

TEST(DiagRequestName, EveryPayloadByItsBytes)
{
    const struct {
        Bytes payload;
        const char* name;
    } cases[] = {
        {Zeros("26 00 00 25 A7 00 06", 133), "hand-shake"},
        // An NV read of item 0 whose data begins with the whole magic is the hand-shake; one
        // of another item, or with only the magic's first two bytes, is an NV read.
        {Zeros("26 01 00 25 A7 00 06", 133), "nv-read"},
        {Zeros("26 00 00 25 A7 00 07", 133), "nv-read"},
        {Zeros("26 0A 00", 133), "nv-read"},
        {Hex("26"), "unlock-preamble"},
        {Zeros("27 0A 00 01 02", 133), "nv-write"},
        {Zeros("4B C9 03 FF", 4), "board-version"},
        {Zeros("4B C9 24 FF", 36), "dashboard-version"},
        {Hex("4B C8 1E FF 00 00 00 00"), "nv-backup"},
        {Hex("4B C8 1E FF 01 01 00 00"), "nv-restore"},
        {Zeros("4B C9 21 FF", 36), "nv-restore-status"},
        {Zeros("4B C9 22 FF", 36), "subsystem"},
        {Hex("4B C9"), "subsystem"},
        {Hex("29 01 00"), "change-mode"},
        {Hex("3A"), "switch-to-downloader"},
        {Hex("0B 46 57 41 30 30 30 30 31"), "unlock"},
        {Hex("0A"), "reset"},
        {Zeros("0F 00 10 00 00 00 04 AA BB CC DD", 11), "block-write"},
        {Hex("02"), "ack"},
        {Hex("02 00 10 00 00"), "block-ack"},
        {Hex("03 00 06"), "nak"},
        {Hex("13 0A"), "error"},
        {Hex("14 3A"), "error"},
        {Zeros("FF", 40), "control-packet"},
        {Hex("77"), "unknown"},
        {Bytes{}, "empty"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(DiagRequestName::Of(c.payload), c.name) << ToHex(c.payload);
}

// The names no-answer takes are the names of the requests the tool sends: a name of no
// request would be a fault that can never fire, a request without one a fault it cannot name.
TEST(DiagRequestName, ModuleRequestsAreTheNamesOfEveryRequestTheToolBuilds)
{
    using namespace DiagCodec;
    const uint8_t code[8] = {'F', 'W', 'A', '0', '0', '0', '0', '1'};
    const uint8_t nvData[4] = {1, 2, 3, 4};
    uint8_t blockHeader[7] = {};
    BlockWriteHeader(0x1000, 16, blockHeader);
    std::vector<Bytes> requests;
    for (const DiagRequest& r :
         {DiagCodec::HandShakeRequest(), BoardVersionRequest(), IsoVersionRequest(), BackupRestoreRequest(true),
          BackupRestoreRequest(false), RestoreStatusRequest(), ChangeModeRequest(2), SwitchToDownloaderRequest(),
          UnlockRequest(code), ResetRequest(), NvRequest(DiagProtocol::DIAG_NV_READ, 10, nullptr, 0),
          NvRequest(DiagProtocol::DIAG_NV_WRITE, 10, nvData, sizeof nvData)})
        requests.push_back(RequestBytes(r));
    requests.emplace_back(blockHeader, blockHeader + sizeof blockHeader);
    std::set<std::string> named;
    for (const Bytes& request : requests)
        named.insert(DiagRequestName::Of(request));
    const std::vector<std::string>& list = DiagRequestName::ModuleRequests();
    EXPECT_EQ(std::set<std::string>(list.begin(), list.end()), named);
    EXPECT_EQ(list.size(), named.size());
}
