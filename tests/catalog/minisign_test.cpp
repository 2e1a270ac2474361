#include "catalog/minisign.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "catalog/catalogue_trust.h"
#include "tests/support/ChildProgram.h"
#include "tests/support/TempDir.h"

namespace toval::minisign {
namespace {

using test::ReadFile;
using test::TempDir;

std::string Bytes(const auto& array) {
    return std::string(reinterpret_cast<const char*>(array.data()), array.size());
}

SecretKey NewKey() {
    const auto key = GenerateSecretKey();
    EXPECT_TRUE(key);
    return key.value_or(SecretKey{});
}

PublicKey PublicOf(const SecretKey& key) { return {key.Id, key.Public}; }

// A signature file from its parts, for the forms SignFile never makes.
std::string Assemble(std::string_view algorithm, const KeyId& id, const Ed25519Signature& sig,
                     std::string_view comment, const Ed25519Signature& global) {
    return "untrusted comment: test\n" +
           Base64Encode(std::string(algorithm) + Bytes(id) + Bytes(sig)) +
           "\ntrusted comment: " + std::string(comment) + "\n" + Base64Encode(Bytes(global)) + "\n";
}

// The exit status of a program run to its end, -1 when it did not start or exit.
int RunProgram(const std::vector<std::string>& args) { return test::RunProgram(args).Status; }

bool HaveMinisign() { return RunProgram({"minisign", "-v"}) == 0; }

TEST(Minisign, VerifiesOnlyAnIntactFileAndCommentFromATrustedKey) {
    const SecretKey key = NewKey();
    const SecretKey other = NewKey();
    const SecretKey stranger = NewKey();
    const std::vector<PublicKey> trusted = {PublicOf(other), PublicOf(key)};
    const std::string file = "<catalogue/>";
    const std::string comment = "serial:7 expires:4102444800";
    const std::string good = SignFile(key, file, comment, "signed by the test").value();

    const Signature parsed = ParseSignature(good).value();
    const Ed25519Signature legacySig = SignEd25519(key.Seed, file).value();
    const std::string legacy = Assemble("Ed", key.Id, legacySig, comment,
                                        SignEd25519(key.Seed, Bytes(legacySig) + comment).value());
    std::string crlf;
    for (const char c : good) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string otherComment = good;
    otherComment.replace(otherComment.find("serial:7"), 8, "serial:8");
    const std::string unknownAlgorithm =
        Assemble("Ex", key.Id, parsed.FileSignature, comment, parsed.GlobalSignature);
    const std::string otherId =
        Assemble("ED", other.Id, parsed.FileSignature, comment, parsed.GlobalSignature);
    const size_t second = good.find('\n') + 1;
    const size_t third = good.find('\n', second) + 1;
    const std::string withoutGlobal = good.substr(0, good.find('\n', third) + 1);

    struct Case {
        const char* Name;
        std::string Signature;
        std::string File;
        VerifyResult Result;
    };
    const Case cases[] = {
        {"prehashed", good, file, VerifyResult::Ok},
        {"legacy", legacy, file, VerifyResult::Ok},
        {"crlf lines", crlf, file, VerifyResult::Ok},
        {"without the final line break", good.substr(0, good.size() - 1), file, VerifyResult::Ok},
        {"tampered file", good, file + " ", VerifyResult::BadSignature},
        {"legacy, tampered file", legacy, "<catalogue/ >", VerifyResult::BadSignature},
        {"tampered trusted comment", otherComment, file, VerifyResult::BadGlobalSignature},
        {"another trusted key's id", otherId, file, VerifyResult::BadSignature},
        {"untrusted key", SignFile(stranger, file, comment, "").value(), file,
         VerifyResult::UnknownKey},
        {"unknown algorithm", unknownAlgorithm, file, VerifyResult::Malformed},
        {"empty", "", file, VerifyResult::Malformed},
        {"global signature missing", withoutGlobal, file, VerifyResult::Malformed},
        {"a line too many", good + "\n", file, VerifyResult::Malformed},
        {"truncated signature line", good.substr(0, second + 20) + good.substr(third - 1), file,
         VerifyResult::Malformed},
        {"no trusted comment prefix", good.substr(0, third) + good.substr(third + 8), file,
         VerifyResult::Malformed},
        {"no untrusted comment prefix", good.substr(2), file, VerifyResult::Malformed},
        {"garbage", "untrusted comment:\n!!!!\ntrusted comment: \n????\n", file,
         VerifyResult::Malformed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const Verification v = VerifyCatalogueSignature(trusted, c.File, c.Signature);
        EXPECT_EQ(v.Result, c.Result);
        if (c.Result == VerifyResult::Ok) {
            EXPECT_EQ(v.Id, key.Id);
            EXPECT_EQ(v.TrustedComment, comment);
        }
    }
    EXPECT_FALSE(SignFile(key, file, "serial:1\nexpires:2", ""));
}

TEST(Minisign, TrustedKeysFile) {
    const SecretKey a = NewKey();
    const SecretKey b = NewKey();
    const std::string pubA = WritePublicKey(PublicOf(a), "minisign public key A").value();
    const std::string pubB = WritePublicKey(PublicOf(b), "key B").value();
    const std::string lineA = pubA.substr(pubA.find('\n') + 1);
    SecretKey aAgain = b;
    aAgain.Id = a.Id;
    const std::string conflicting = WritePublicKey(PublicOf(aAgain), "").value();

    struct Case {
        const char* Name;
        std::string Text;
        std::vector<KeyId> Ids;  // empty: refused
    };
    const Case cases[] = {
        {"one", pubA, {a.Id}},
        {"two, blank lines between", pubA + "\n\n" + pubB, {a.Id, b.Id}},
        {"key lines only", lineA + lineA, {a.Id}},
        {"comment only", "untrusted comment: nothing\n", {}},
        {"empty", "", {}},
        {"a stray line", pubA + "# keys\n", {}},
        {"one id, two keys", pubA + conflicting, {}},
        {"a secret key", WriteSecretKey(a, "secret").value(), {}},
        {"cut short", pubA.substr(0, pubA.size() - 5), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto keys = ParseTrustedKeys(c.Text);
        ASSERT_EQ(keys.has_value(), !c.Ids.empty());
        if (!keys) continue;
        std::vector<KeyId> ids;
        for (const PublicKey& k : *keys) ids.push_back(k.Id);
        EXPECT_EQ(ids, c.Ids);
        EXPECT_EQ(keys->front().Key, a.Public);
    }
}

TEST(Minisign, SecretKeyFile) {
    const SecretKey key = NewKey();
    const std::string text = WriteSecretKey(key, "minisign secret key").value();
    const std::string prefix = text.substr(0, text.find('\n') + 1);
    const std::string bytes =
        Base64Decode(text.substr(prefix.size(), text.size() - prefix.size() - 1)).value();
    const auto edit = [](std::string changed, size_t at, std::string_view replacement) {
        return changed.replace(at, replacement.size(), replacement);
    };
    const auto withBytes = [&](size_t at, std::string_view replacement) {
        return prefix + Base64Encode(edit(bytes, at, replacement)) + "\n";
    };
    const size_t keyAt = 54 + 8;  // after the header and the key id
    const std::string zeros(32, '\0');
    const std::string damagedUnchecked = edit(edit(bytes, keyAt + 64, zeros), keyAt, "x");
    SecretKey otherPublic = key;
    otherPublic.Public = NewKey().Public;

    struct Case {
        const char* Name;
        std::string Text;
        bool Accepted;
    };
    const Case cases[] = {
        {"as written", text, true},
        {"checksum left zero", withBytes(keyAt + 64, zeros), true},
        {"wrong checksum", withBytes(keyAt + 64, "x"), false},
        {"damaged seed", withBytes(keyAt, "x"), false},
        {"damaged seed, checksum left zero", prefix + Base64Encode(damagedUnchecked) + "\n", false},
        {"public half not the seed's", WriteSecretKey(otherPublic, "").value(), false},
        {"encrypted", withBytes(2, "Sc"), false},
        {"another checksum algorithm", withBytes(4, "B3"), false},
        {"no comment line", text.substr(prefix.size()), false},
        {"cut short", prefix + Base64Encode(bytes.substr(0, 150)) + "\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto parsed = ParseSecretKey(c.Text);
        ASSERT_EQ(parsed.has_value(), c.Accepted);
        if (!parsed) continue;
        EXPECT_EQ(parsed->Id, key.Id);
        EXPECT_EQ(parsed->Seed, key.Seed);
        EXPECT_EQ(parsed->Public, key.Public);
    }
}

TEST(Minisign, KeyIdShowsAsMinisignPrintsIt) {
    const KeyId id = {0xe1, 0x10, 0x75, 0x11, 0x02, 0xba, 0xd7, 0xb1};
    EXPECT_EQ(KeyIdHex(id), "B1D7BA02117510E1");
    EXPECT_EQ(ParseKeyIdHex("b1d7ba02117510e1"), id);
    EXPECT_FALSE(ParseKeyIdHex("B1D7BA02117510E"));
    EXPECT_FALSE(ParseKeyIdHex("B1D7BA02117510EX"));
}

// The real program, both ways: what it makes we accept, what we make it accepts.
class MinisignProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveMinisign()) GTEST_SKIP() << "minisign is not installed";
        File = Dir.Write("update.xml", "<catalogue>\n  <file name=\"a.dll\"/>\n</catalogue>\n");
    }
    TempDir Dir;
    std::string File;
};

TEST_F(MinisignProgram, ItsKeysAndSignaturesAreOurs) {
    const std::string pub = Dir / "their.pub";
    const std::string secret = Dir / "their.key";
    ASSERT_EQ(RunProgram({"minisign", "-G", "-W", "-p", pub, "-s", secret}), 0);
    const auto keys = ParseTrustedKeys(ReadFile(pub));
    ASSERT_TRUE(keys);
    ASSERT_EQ(keys->size(), 1u);

    for (const bool legacy : {false, true}) {
        SCOPED_TRACE(legacy ? "legacy" : "prehashed");
        std::vector<std::string> sign = {
            "minisign", "-S", "-s",        secret, "-m",
            File,       "-x", Dir / "sig", "-t",   "serial:5 expires:4102444800"};
        if (legacy) sign.push_back("-l");
        ASSERT_EQ(RunProgram(sign), 0);
        const Verification v =
            VerifyCatalogueSignature(*keys, ReadFile(File), ReadFile(Dir / "sig"));
        ASSERT_EQ(v.Result, VerifyResult::Ok);
        EXPECT_EQ(v.Id, keys->front().Id);
        const TrustedCommentValues values = ParseTrustedComment(v.TrustedComment);
        EXPECT_EQ(values.Status, TrustedCommentStatus::Ok);
        EXPECT_EQ(values.Serial, 5u);
        EXPECT_EQ(values.Expires, 4102444800u);
    }

    // Its secret key signs here, and the program accepts the result.
    const auto key = ParseSecretKey(ReadFile(secret));
    ASSERT_TRUE(key);
    EXPECT_EQ(key->Id, keys->front().Id);
    const std::string ours =
        Dir.Write("ours.minisig", SignFile(*key, ReadFile(File), "serial:6", "ours").value());
    EXPECT_EQ(RunProgram({"minisign", "-V", "-p", pub, "-m", File, "-x", ours}), 0);
}

TEST_F(MinisignProgram, OurKeysAndSignaturesAreIts) {
    const SecretKey key = NewKey();
    const std::string pub = Dir.Write("our.pub", WritePublicKey(PublicOf(key), "our key").value());
    const std::string secret = Dir.Write("our.key", WriteSecretKey(key, "our secret key").value());
    const std::string sig =
        Dir.Write("ours.minisig",
                  SignFile(key, ReadFile(File), "serial:9 expires:4102444800", "ours").value());
    EXPECT_EQ(RunProgram({"minisign", "-V", "-p", pub, "-m", File, "-x", sig}), 0);
    // A check that can fail: the same signature over another file.
    const std::string other = Dir.Write("other.xml", "<catalogue/>\n");
    EXPECT_NE(RunProgram({"minisign", "-V", "-p", pub, "-m", other, "-x", sig}), 0);

    // Our secret key file signs with the program.
    ASSERT_EQ(RunProgram({"minisign", "-S", "-s", secret, "-m", File, "-x", Dir / "theirs.minisig",
                          "-t", "serial:10 expires:4102444800"}),
              0);
    const Verification v =
        VerifyCatalogueSignature({PublicOf(key)}, ReadFile(File), ReadFile(Dir / "theirs.minisig"));
    EXPECT_EQ(v.Result, VerifyResult::Ok);
    EXPECT_EQ(v.TrustedComment, "serial:10 expires:4102444800");
}

}  // namespace
}  // namespace toval::minisign
