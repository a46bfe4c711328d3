// SHA-256 against the published test vectors, including the lengths where the padding spills
// into a second block.
#include "data/sha256.h"

#include <gtest/gtest.h>
#include <string>

namespace velmar {
namespace {

TEST(Sha256, PublishedVectors) {
    const struct {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(1000, 'a'),
         "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Sha256Hex(reinterpret_cast<const uint8_t*>(c.message.data()), c.message.size()),
                  c.digest)
            << c.message.size() << " bytes";
    }
}

} // namespace
} // namespace velmar
