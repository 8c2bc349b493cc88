#include "encoding/Rsa.h"

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>
#include <cryptopp/osrng.h>
#include <cryptopp/queue.h>
#include <cryptopp/rsa.h>

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>

#include "diagnostics/Log.h"
#include "text/StringConversion.h"

namespace VTools::Encryption::Rsa {

struct RsaWrapper::Keys {
    std::vector<std::byte> publicKey;
    std::vector<std::byte> privateKey;
};

namespace {

constexpr unsigned kSeedBytes = 32;

// "Wyjątek: " in the ANSI code page, then the exception's text (exception
// texts are ANSI already), then `tail`.
void LogException(const char* function, int line, const CryptoPP::Exception& error, std::string_view tail) {
    std::string message = VTools::String::Utf8ToAnsi("Wyjątek: ");
    message += error.what();
    message += tail;
    VTools::Log::Instance().Write(function, line, message);
}

// Base64-decodes `text` (characters outside the alphabet skipped) into `queue`.
void DecodeBase64(const std::vector<std::byte>& text, CryptoPP::ByteQueue& queue) {
    CryptoPP::Base64Decoder decoder(new CryptoPP::Redirector(queue));
    decoder.Put(reinterpret_cast<const CryptoPP::byte*>(text.data()), text.size());
    decoder.MessageEnd();
}

}  // namespace

// The work functions: not exported, named in the log entries they write.

bool LoadBase64PublicKey(const std::vector<std::byte>& key, CryptoPP::RSA::PublicKey& publicKey) {
    try {
        CryptoPP::ByteQueue queue;
        DecodeBase64(key, queue);
        publicKey.Load(queue);
    } catch (const CryptoPP::Exception& error) {
        LogException("VTools::Encryption::Rsa::LoadBase64PublicKey", __LINE__, error, "");
        return false;
    }
    return true;
}

bool LoadBase64PrivateKey(const std::vector<std::byte>& key, CryptoPP::RSA::PrivateKey& privateKey) {
    try {
        CryptoPP::ByteQueue queue;
        DecodeBase64(key, queue);
        privateKey.BERDecodePrivateKey(queue, false, static_cast<std::size_t>(queue.MaxRetrievable()));
    } catch (const CryptoPP::Exception& error) {
        LogException("VTools::Encryption::Rsa::LoadBase64PrivateKey", __LINE__, error, ", ");
        return false;
    }
    return true;
}

bool Encrypt(const CryptoPP::RSA::PublicKey& publicKey, std::string_view plaintext, std::vector<unsigned char>& out) {
    try {
        CryptoPP::AutoSeededRandomPool random(false, kSeedBytes);
        const CryptoPP::RSAES_PKCS1v15_Encryptor encryptor(publicKey);
        const std::size_t chunk = encryptor.FixedMaxPlaintextLength();
        const std::size_t block = encryptor.FixedCiphertextLength();
        // A modulus too short for the padding leaves no room for plaintext;
        // refuse it instead of cutting the text into empty chunks forever.
        if (chunk == 0) throw CryptoPP::InvalidArgument("RSA key too short for PKCS #1 v1.5 padding");
        const std::size_t blocks = (plaintext.size() + chunk - 1) / chunk;
        out.resize(blocks * block);
        const auto* data = reinterpret_cast<const CryptoPP::byte*>(plaintext.data());
        for (std::size_t i = 0; i < blocks; ++i) {
            const std::size_t offset = i * chunk;
            encryptor.Encrypt(random, data + offset, std::min(chunk, plaintext.size() - offset),
                              out.data() + i * block);
        }
    } catch (const CryptoPP::Exception& error) {
        LogException("VTools::Encryption::Rsa::Encrypt", __LINE__, error, ", ");
        out.clear();
        return false;
    }
    return true;
}

bool Decrypt(const CryptoPP::RSA::PrivateKey& privateKey, gsl::span<const std::byte> ciphertext,
             std::vector<unsigned char>& out) {
    try {
        CryptoPP::AutoSeededRandomPool random(false, kSeedBytes);
        const CryptoPP::RSAES_PKCS1v15_Decryptor decryptor(privateKey);
        const std::size_t block = decryptor.FixedCiphertextLength();
        const std::size_t maximum = decryptor.FixedMaxPlaintextLength();
        if (block == 0) throw CryptoPP::InvalidArgument("RSA key without a modulus");
        const auto* data = reinterpret_cast<const CryptoPP::byte*>(ciphertext.data());
        out.reserve(ciphertext.size() / block * maximum + maximum);
        for (std::size_t offset = 0; offset < ciphertext.size(); offset += block) {
            const std::size_t size = out.size();
            out.resize(size + maximum);
            const CryptoPP::DecodingResult result = decryptor.Decrypt(
                random, data + offset, std::min(block, ciphertext.size() - offset), out.data() + size);
            if (!result.isValidCoding) {
                out.clear();
                return false;
            }
            out.resize(size + result.messageLength);
        }
    } catch (const CryptoPP::Exception& error) {
        LogException("VTools::Encryption::Rsa::Decrypt", __LINE__, error, ", ");
        out.clear();
        return false;
    }
    return true;
}

namespace {

std::string DecryptWith(const std::vector<std::byte>& privateKeyText, gsl::span<const std::byte> ciphertext) {
    if (privateKeyText.empty()) return {};
    CryptoPP::RSA::PrivateKey privateKey;
    if (!LoadBase64PrivateKey(privateKeyText, privateKey)) return {};
    std::vector<unsigned char> plaintext;
    if (!Decrypt(privateKey, ciphertext, plaintext)) return {};
    return std::string(plaintext.begin(), plaintext.end());
}

// The three-digit groups of every byte value.
struct DigitGroups {
    char text[256][3];
    constexpr DigitGroups() : text{} {
        for (int value = 0; value < 256; ++value) {
            text[value][0] = static_cast<char>('0' + value / 100);
            text[value][1] = static_cast<char>('0' + value / 10 % 10);
            text[value][2] = static_cast<char>('0' + value % 10);
        }
    }
};
constexpr DigitGroups kDigitGroups;

}  // namespace

RsaWrapper::RsaWrapper(const gsl::span<std::byte>& publicKey, const gsl::span<std::byte>& privateKey)
    : m_keys(
          std::make_unique<Keys>(Keys{{publicKey.begin(), publicKey.end()}, {privateKey.begin(), privateKey.end()}})) {}

RsaWrapper::RsaWrapper(const std::vector<std::byte>& publicKey, const std::vector<std::byte>& privateKey)
    : m_keys(std::make_unique<Keys>(Keys{publicKey, privateKey})) {}

RsaWrapper::RsaWrapper(const RsaWrapper& other)
    : m_keys(other.m_keys ? std::make_unique<Keys>(*other.m_keys) : nullptr) {}

RsaWrapper::RsaWrapper(RsaWrapper&& other) noexcept = default;

RsaWrapper& RsaWrapper::operator=(const RsaWrapper& other) {
    if (this != &other) m_keys = other.m_keys ? std::make_unique<Keys>(*other.m_keys) : nullptr;
    return *this;
}

RsaWrapper& RsaWrapper::operator=(RsaWrapper&& other) noexcept {
    if (this != &other) m_keys = std::move(other.m_keys);
    return *this;
}

RsaWrapper::~RsaWrapper() = default;

std::vector<unsigned char> RsaWrapper::Encrypt(const std::string& plaintext) const {
    std::vector<unsigned char> ciphertext;
    if (plaintext.empty() || !m_keys || m_keys->publicKey.empty()) return ciphertext;
    CryptoPP::RSA::PublicKey publicKey;
    if (!LoadBase64PublicKey(m_keys->publicKey, publicKey)) return ciphertext;
    Rsa::Encrypt(publicKey, plaintext, ciphertext);
    return ciphertext;
}

std::string RsaWrapper::Decrypt(gsl::span<const std::byte> ciphertext) const {
    if (ciphertext.empty() || !m_keys) return {};
    return DecryptWith(m_keys->privateKey, ciphertext);
}

std::string RsaWrapper::EncryptAndHash(const std::string& plaintext) const {
    const std::vector<unsigned char> ciphertext = Encrypt(plaintext);
    std::string digits;
    digits.reserve(ciphertext.size() * 3);
    for (const unsigned char byte : ciphertext) digits.append(kDigitGroups.text[byte], 3);
    return digits;
}

std::string RsaWrapper::DecryptFromHash(const std::string& digits) const {
    if (digits.empty() || !m_keys) return {};
    std::vector<std::byte> ciphertext;
    ciphertext.reserve(digits.size() / 3 + 1);
    for (std::size_t i = 0; i < digits.size(); i += 3) {
        const std::size_t end = std::min(i + 3, digits.size());
        unsigned value = 0;
        for (std::size_t j = i; j < end && digits[j] >= '0' && digits[j] <= '9'; ++j) {
            value = value * 10 + static_cast<unsigned>(digits[j] - '0');
        }
        ciphertext.push_back(static_cast<std::byte>(value & 0xFF));
    }
    return DecryptWith(m_keys->privateKey, ciphertext);
}

}  // namespace VTools::Encryption::Rsa
