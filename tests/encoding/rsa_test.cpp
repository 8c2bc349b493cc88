// RSA encryption with keys made by the openssl command, checked both ways
// against openssl.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "encoding/Rsa.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Peer.h"
#include "tests/support/TempDir.h"
#include "text/StringConversion.h"

namespace {

using VTools::Encryption::Rsa::RsaWrapper;

struct KeyFiles {
    std::filesystem::path privatePem;  // PKCS #1 PEM
    std::filesystem::path publicPem;   // SubjectPublicKeyInfo PEM
    std::vector<std::byte> publicBody;
    std::vector<std::byte> privateBody;
};

std::vector<std::byte> Bytes(const std::string& text) {
    const auto* data = reinterpret_cast<const std::byte*>(text.data());
    return {data, data + text.size()};
}

// The base64 lines of a PEM file, without its BEGIN and END lines.
std::vector<std::byte> Body(const std::string& pem) {
    std::istringstream lines(pem);
    std::string body, line;
    while (std::getline(lines, line)) {
        if (!line.starts_with("-----")) body += line + "\n";
    }
    return Bytes(body);
}

std::string Text(const std::vector<unsigned char>& bytes) {
    return {bytes.begin(), bytes.end()};
}

gsl::span<const std::byte> Span(const std::vector<unsigned char>& bytes) {
    return gsl::as_bytes(gsl::span<const unsigned char>(bytes));
}

class Rsa : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(vlibtest::HavePeer("openssl"));
        s_dir = new vlibtest::TempDir;
        s_keys2048 = MakeKey(2048);
        s_keys1024 = MakeKey(1024);
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }

    static KeyFiles MakeKey(int bits) {
        KeyFiles keys;
        const std::string name = std::to_string(bits);
        const auto generated = s_dir->Path() / (name + "-generated.pem");
        keys.privatePem = s_dir->Path() / (name + "-private.pem");
        keys.publicPem = s_dir->Path() / (name + "-public.pem");
        EXPECT_TRUE(vlibtest::RunPeer({"openssl", "genrsa", "-out", generated.string(), name}));
        EXPECT_TRUE(vlibtest::RunPeer(
            {"openssl", "rsa", "-traditional", "-in", generated.string(), "-out", keys.privatePem.string()}));
        EXPECT_TRUE(vlibtest::RunPeer(
            {"openssl", "rsa", "-pubout", "-in", generated.string(), "-out", keys.publicPem.string()}));
        const std::string privatePem = vlibtest::TempDir::Read(keys.privatePem);
        EXPECT_NE(privatePem.find("BEGIN RSA PRIVATE KEY"), std::string::npos);
        keys.privateBody = Body(privatePem);
        keys.publicBody = Body(vlibtest::TempDir::Read(keys.publicPem));
        return keys;
    }

    static std::optional<std::string> OpenSsl(const std::string& mode, const KeyFiles& keys, const std::string& in) {
        std::vector<std::string> argv = {"openssl", "pkeyutl", mode, "-pkeyopt", "rsa_padding_mode:pkcs1"};
        if (mode == "-encrypt") argv.insert(argv.end(), {"-pubin", "-inkey", keys.publicPem.string()});
        if (mode == "-decrypt") argv.insert(argv.end(), {"-inkey", keys.privatePem.string()});
        return vlibtest::RunPeer(argv, in);
    }

    static std::string RandomBytes(std::size_t size, unsigned seed) {
        std::mt19937 random(seed);
        std::string bytes(size, '\0');
        for (auto& c : bytes) c = static_cast<char>(random());
        return bytes;
    }

    static inline vlibtest::TempDir* s_dir = nullptr;
    static inline KeyFiles s_keys2048;
    static inline KeyFiles s_keys1024;
};

TEST_F(Rsa, BlocksOfTwoChunksDecryptWithOpenSslAndBack) {
    const RsaWrapper rsa(s_keys2048.publicBody, s_keys2048.privateBody);
    const std::string plaintext = RandomBytes(300, 1) + std::string(1, '\0');
    const auto first = rsa.Encrypt(plaintext);
    const auto second = rsa.Encrypt(plaintext);
    ASSERT_EQ(first.size(), 512u);
    EXPECT_NE(first, second) << "the padding is random";
    // Chunks of 245 bytes, one block of 256 each.
    EXPECT_EQ(OpenSsl("-decrypt", s_keys2048, Text(first).substr(0, 256)), plaintext.substr(0, 245));
    EXPECT_EQ(OpenSsl("-decrypt", s_keys2048, Text(first).substr(256)), plaintext.substr(245));
    EXPECT_EQ(rsa.Decrypt(Span(first)), plaintext);
    EXPECT_EQ(rsa.Decrypt(Span(second)), plaintext);
}

TEST_F(Rsa, OpenSslBlocksAndTheirDigitTextDecrypt) {
    const RsaWrapper rsa(s_keys1024.publicBody, s_keys1024.privateBody);
    const std::string a = RandomBytes(117, 2), b = "tail";
    const auto blockA = OpenSsl("-encrypt", s_keys1024, a), blockB = OpenSsl("-encrypt", s_keys1024, b);
    ASSERT_TRUE(blockA && blockB);
    const std::string ciphertext = *blockA + *blockB;
    EXPECT_EQ(rsa.Decrypt(gsl::as_bytes(gsl::span<const char>(ciphertext))), a + b);
    std::string digits;
    char group[4];
    for (const char c : ciphertext) {
        std::snprintf(group, sizeof group, "%03d", static_cast<unsigned char>(c));
        digits += group;
    }
    EXPECT_EQ(rsa.DecryptFromHash(digits), a + b);
}

TEST_F(Rsa, DigitTextHasThreeDigitsPerByteAndAShortLastGroupBreaksIt) {
    const RsaWrapper rsa(s_keys1024.publicBody, s_keys1024.privateBody);
    const std::string text = "0123456789";
    const std::string digits = rsa.EncryptAndHash(text);
    ASSERT_EQ(digits.size(), 384u);
    for (std::size_t i = 0; i < digits.size(); i += 3) {
        ASSERT_LE(std::stoi(digits.substr(i, 3)), 255) << i;
    }
    EXPECT_EQ(rsa.DecryptFromHash(digits), text);
    EXPECT_EQ(rsa.DecryptFromHash(digits + "7"), "");
    EXPECT_EQ(rsa.DecryptFromHash(digits.substr(0, 383)), "");
    EXPECT_EQ(rsa.EncryptAndHash(""), "");
    EXPECT_EQ(rsa.DecryptFromHash(""), "");
}

TEST_F(Rsa, MissingKeysGiveEmptyResultsAndCopiesKeepTheKeys) {
    const RsaWrapper encryptOnly(s_keys2048.publicBody, std::vector<std::byte>{});
    const auto ciphertext = encryptOnly.Encrypt("secret");
    EXPECT_EQ(ciphertext.size(), 256u);
    EXPECT_EQ(encryptOnly.Decrypt(Span(ciphertext)), "");
    EXPECT_EQ(encryptOnly.Encrypt(""), std::vector<unsigned char>{});

    const RsaWrapper decryptOnly(std::vector<std::byte>{}, s_keys2048.privateBody);
    EXPECT_TRUE(decryptOnly.Encrypt("secret").empty());
    EXPECT_EQ(decryptOnly.Decrypt(Span(ciphertext)), "secret");
    EXPECT_EQ(decryptOnly.Decrypt({}), "");

    auto publicKey = s_keys2048.publicBody, privateKey = s_keys2048.privateBody;
    auto original = std::make_unique<RsaWrapper>(gsl::span<std::byte>(publicKey), gsl::span<std::byte>(privateKey));
    RsaWrapper copy(*original);
    RsaWrapper assigned = encryptOnly;
    assigned = *original;
    original.reset();
    EXPECT_EQ(copy.Decrypt(Span(copy.Encrypt("x"))), "x");
    EXPECT_EQ(assigned.Decrypt(Span(assigned.Encrypt("y"))), "y");
    RsaWrapper moved(std::move(copy));
    EXPECT_EQ(moved.Decrypt(Span(ciphertext)), "secret");
    EXPECT_TRUE(copy.Encrypt("x").empty());  // NOLINT(bugprone-use-after-move): a moved-from wrapper has no keys
    RsaWrapper copyOfMoved(copy);
    EXPECT_EQ(copyOfMoved.DecryptFromHash("001"), "");
}

// A bad key is logged once, by the function that loads it ("Wyjątek: " and the
// library's text); an altered block gives an empty result without an entry.
TEST_F(Rsa, BadKeysAreLoggedOnceAndBadBlocksNotAtAll) {
    const std::string prefix = VTools::String::Utf8ToAnsi("Wyjątek: ");
    const RsaWrapper badPublic(Bytes("bm90IGEga2V5"), s_keys1024.privateBody);
    const RsaWrapper badPrivate(s_keys1024.publicBody, s_keys1024.publicBody);  // the public body as private key
    const auto ciphertext = badPrivate.Encrypt("text");
    const struct {
        std::function<void()> call;
        const char* function;
        bool endsWithComma;  // the private key's entry ends with ", " as it always did
    } cases[] = {{[&] { EXPECT_TRUE(badPublic.Encrypt("text").empty()); }, "LoadBase64PublicKey", false},
                 {[&] { EXPECT_EQ(badPrivate.Decrypt(Span(ciphertext)), ""); }, "LoadBase64PrivateKey", true}};
    for (const auto& c : cases) {
        const auto entries = vlibtest::EntriesOf(c.call);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].function, std::string("VTools::Encryption::Rsa::") + c.function);
        EXPECT_TRUE(entries[0].message.starts_with(prefix)) << entries[0].message;
        EXPECT_GT(entries[0].message.size(), prefix.size() + 2);
        EXPECT_EQ(entries[0].message.ends_with(", "), c.endsWithComma) << entries[0].message;
    }
    const RsaWrapper rsa(s_keys2048.publicBody, s_keys2048.privateBody);
    auto altered = rsa.Encrypt(RandomBytes(400, 3));
    ASSERT_EQ(altered.size(), 512u);
    altered[255] ^= 0x01;  // the low end of the first block keeps it below the modulus
    EXPECT_TRUE(vlibtest::EntriesOf([&] { EXPECT_EQ(rsa.Decrypt(Span(altered)), ""); }).empty());
}

}  // namespace
