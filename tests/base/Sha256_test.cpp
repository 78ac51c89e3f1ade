#include "base/Sha256.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <random>

using quorvel::Sha256;
using quorvel::sha256Hex;

TEST(Sha256, StandardVectors) {
    struct Case {
        std::string message;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1'000'000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sha256Hex(c.message), c.digest) << c.message.size() << " bytes";
}

// Every length around the block and padding boundaries, fed whole and in random pieces, against
// the system's cryptography library.
TEST(Sha256, AgreesWithTheSystemLibraryAcrossLengthsAndPieces) {
    std::mt19937 random(20261207);
    for (std::size_t length = 0; length <= 300; ++length) {
        std::vector<std::uint8_t> message(length);
        for (auto& byte : message)
            byte = static_cast<std::uint8_t>(random());
        unsigned char expected[32];
        unsigned int expectedLength = 0;
        ASSERT_EQ(EVP_Digest(message.data(), message.size(), expected, &expectedLength,
                             EVP_sha256(), nullptr),
                  1);

        Sha256 pieces;
        for (std::size_t offset = 0; offset < length;) {
            std::size_t piece = std::min<std::size_t>(length - offset, random() % 70);
            pieces.update(std::span(message).subspan(offset, piece));
            offset += piece;
        }
        auto digest = pieces.finish();
        EXPECT_EQ(quorvel::hexEncode(digest), quorvel::hexEncode({expected, expectedLength}))
            << length << " bytes";
        EXPECT_EQ(sha256Hex(message), quorvel::hexEncode(digest)) << length << " bytes";
    }
}
