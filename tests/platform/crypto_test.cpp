#include "platform/crypto.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace toval {
namespace {

std::string Hex(const auto& digest) { return ToHex(digest.data(), digest.size()); }

template <size_t N>
std::array<uint8_t, N> FromHex(std::string_view hex) {
    std::array<uint8_t, N> bytes{};
    for (size_t i = 0; i < N; ++i)
        bytes[i] = uint8_t(std::stoi(std::string(hex.substr(2 * i, 2)), nullptr, 16));
    return bytes;
}

TEST(Crypto, HashesOfKnownInputs) {
    struct Case {
        std::string Input;
        const char* Sha256;
        const char* Blake2b256;
        const char* Blake2b512;
    };
    // Lengths around BLAKE2b's 128-byte block, where the final block is easy to get wrong.
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
         "0e5751c026e543b2e8ab2eb06099daa1d1e5df47778f7787faab45cdf12fe3a8",
         "786a02f742015903c6c6fd852552d272912f4740e15847618a86e217f71f5419d25e1031afee585313896444"
         "934eb04b903a685b1448b755d56f701afe9be2ce"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
         "bddd813c634239723171ef3fee98579b94964e3bb1cb3e427262c8c068d52319",
         "ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d17d87c5392aab792dc252d5"
         "de4533cc9518d38aa8dbf1925ab92386edd4009923"},
        {std::string(128, 'a'), nullptr,
         "ae2aa48507885c4c950fb809b2076f959cde9f8ea6da260d9a3587df33dac450",
         "fc6c71f688f43ea7d60817478808f3cac753e61571865c95adbc2d9122c943a76b92c2cb1047ef3fe7bf6e4"
         "36ec1d0a99a9e5b216780bf7fed9d7ca91d3a8f3b"},
        {std::string(129, 'a'), nullptr,
         "2f64744a6de0d2c0b56e64cf6e29a5aaa255010d415d51c75ccc82f73dccd865", nullptr},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Input.size());
        if (c.Sha256) {
            // Fed in uneven pieces, as a download arrives.
            Sha256 hash;
            for (size_t at = 0, piece = 1; at < c.Input.size(); at += piece, piece = piece * 3 + 1)
                hash.Update(std::string_view(c.Input).substr(at, piece));
            const auto digest = hash.Final();
            ASSERT_TRUE(digest);
            EXPECT_EQ(Hex(*digest), c.Sha256);
            EXPECT_EQ(ParseSha256Hex(c.Sha256), digest);
        }
        if (c.Blake2b256) {
            EXPECT_EQ(Hex(Blake2b256(c.Input)), c.Blake2b256);
        }
        if (c.Blake2b512) {
            const auto digest = Blake2b512(c.Input);
            ASSERT_TRUE(digest);
            EXPECT_EQ(Hex(*digest), c.Blake2b512);
        }
    }
}

TEST(Crypto, Sha256HexOfEitherCaseOnly) {
    const std::string lower = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    std::string upper = lower;
    for (char& c : upper) c = char(std::toupper(c));
    EXPECT_EQ(ParseSha256Hex(upper), ParseSha256Hex(lower));
    EXPECT_TRUE(ParseSha256Hex(lower));
    // Appended rather than "literal" + string: GCC 12 at -O3 falsely warns (-Wrestrict) on that.
    for (const std::string& bad :
         {lower.substr(1), lower + "0", std::string(" ").append(lower.substr(1)),
          lower.substr(0, 63) + "g", std::string("0x").append(lower.substr(2)), std::string()}) {
        EXPECT_FALSE(ParseSha256Hex(bad)) << bad;
    }
}

TEST(Crypto, Ed25519KnownAnswerAndRoundTrip) {
    // The first test of RFC 8032 (an empty message).
    const auto seed =
        FromHex<32>("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60");
    const auto pub =
        FromHex<32>("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
    const auto sig = FromHex<64>(
        "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701c"
        "f9b46bd25bf5f0595bbe24655141438e7a100b");
    EXPECT_EQ(Ed25519PublicFromSeed(seed), pub);
    EXPECT_EQ(SignEd25519(seed, ""), sig);
    EXPECT_TRUE(VerifyEd25519(pub, "", sig));
    EXPECT_FALSE(VerifyEd25519(pub, "x", sig));
    auto flipped = sig;
    flipped[10] ^= 1;
    EXPECT_FALSE(VerifyEd25519(pub, "", flipped));

    const auto pair = GenerateEd25519();
    ASSERT_TRUE(pair);
    const auto made = SignEd25519(pair->Seed, "catalogue");
    ASSERT_TRUE(made);
    EXPECT_TRUE(VerifyEd25519(pair->Public, "catalogue", *made));
    EXPECT_FALSE(VerifyEd25519(pub, "catalogue", *made));
}

TEST(Crypto, Base64IsStrict) {
    struct Case {
        std::string Text;
        std::optional<std::string> Bytes;
    };
    const Case cases[] = {
        {"", ""},
        {"Zg==", "f"},
        {"Zm8=", "fo"},
        {"Zm9v", "foo"},
        {"Zm9vYg==", "foob"},
        {"+/+/", "\xfb\xff\xbf"},
        {"Zg=", std::nullopt},   // length not a multiple of four
        {"Zg", std::nullopt},    // padding missing
        {"Zh==", std::nullopt},  // unused bits set
        {"Zm9=", std::nullopt},  // unused bits set
        {"Z===", std::nullopt},  // a single character holds no byte
        {"====", std::nullopt},
        {"Zg==Zg==", std::nullopt},  // padding inside
        {"Zm 9", std::nullopt},
        {"Zm9v\n", std::nullopt},
        {"Zm-_", std::nullopt},  // the URL alphabet
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Base64Decode(c.Text), c.Bytes) << c.Text;
        if (c.Bytes) {
            EXPECT_EQ(Base64Encode(*c.Bytes), c.Text);
        }
    }
}

}  // namespace
}  // namespace toval
