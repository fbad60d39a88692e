#include <gtest/gtest.h>

#include <string>

#include "platform/CSha256.h"

// The FIPS 180-4 examples, the message that needs a second padding block, and one fed in
// pieces that straddle the 64-byte blocks.
TEST(Sha256, KnownDigests)
{
    const struct {
        std::string message;
        const char* digest;
    } CASES[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : CASES) {
        CSha256 whole;
        whole.Update(reinterpret_cast<const uint8_t*>(c.message.data()), c.message.size());
        EXPECT_EQ(whole.FinalHex(), c.digest) << c.message.size();
        CSha256 pieces;
        for (size_t at = 0; at < c.message.size(); at += 37) {
            const size_t n = std::min<size_t>(37, c.message.size() - at);
            pieces.Update(reinterpret_cast<const uint8_t*>(c.message.data()) + at, n);
        }
        EXPECT_EQ(pieces.FinalHex(), c.digest) << c.message.size();
    }
}
