// RSA encryption of texts with a key pair given as Base64 text, to raw
// ciphertext bytes or to a decimal-digit text, and back.
//
// Keys: the public key is the Base64 body of a PEM public key block (DER of an
// X.509 SubjectPublicKeyInfo), the private key the Base64 body of a PEM
// "RSA PRIVATE KEY" block (DER of a PKCS #1 RSAPrivateKey, not PKCS #8).
// Characters outside the Base64 alphabet (line breaks) are skipped.  Keys are
// parsed anew by every operation; nothing parsed is kept.
//
// Ciphertext: the plaintext is cut into chunks of at most M bytes (M = the
// PKCS #1 v1.5 maximum: 245 bytes for a 2048-bit key, 117 for 1024 bits), and
// each chunk is encrypted with fresh random padding into one block of the
// modulus length k; the blocks follow one another.  The digit text writes each
// ciphertext byte as three decimal digits ("%03d", no separators).
//
// Failure: no operation throws for bad keys, ciphertext or digit text; each
// returns an empty result.  An exception of the cryptography library while a
// key is loaded or a block is processed is also written to the log as one
// entry (the loading or working function's name and "Wyjątek: <text>");  a
// block whose padding is invalid gives an empty result without a log entry.
// Allocation failure propagates as std::bad_alloc.
//
// Threads: the operations are const and keep no state between calls, so one
// object may serve several threads at once; assignment needs exclusive access.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <gsl/span>

#include "VLibExport.h"

namespace VTools::Encryption::Rsa {

class VLIB_API RsaWrapper {
public:
    // Copies both Base64 texts; either may be empty (then the operations that
    // need that key return an empty result).
    RsaWrapper(const gsl::span<std::byte>& publicKey, const gsl::span<std::byte>& privateKey);
    RsaWrapper(const std::vector<std::byte>& publicKey, const std::vector<std::byte>& privateKey);
    // Copies copy the keys; a moved-from wrapper holds no keys and every
    // operation on it returns an empty result.
    RsaWrapper(const RsaWrapper& other);
    RsaWrapper(RsaWrapper&& other) noexcept;
    RsaWrapper& operator=(const RsaWrapper& other);
    RsaWrapper& operator=(RsaWrapper&& other) noexcept;
    ~RsaWrapper();

    // The ciphertext of `plaintext` with the public key; empty when the
    // plaintext or the public key is empty, the key does not load or a block
    // cannot be encrypted.
    std::vector<unsigned char> Encrypt(const std::string& plaintext) const;
    // The plaintext bytes (NUL bytes included) of `ciphertext`, read as blocks
    // of the modulus length (the last one may be shorter); empty when the
    // ciphertext or the private key is empty, the key does not load or any
    // block does not decrypt.
    std::string Decrypt(gsl::span<const std::byte> ciphertext) const;
    // The digit text of Encrypt(plaintext); empty when that is empty.
    std::string EncryptAndHash(const std::string& plaintext) const;
    // Reads the digit text in groups of three characters (the last group may
    // be shorter; each group's leading digits give a number whose low 8 bits
    // are one byte, a group without a leading digit gives 0) and decrypts the
    // bytes as Decrypt does; empty on any failure.
    std::string DecryptFromHash(const std::string& digits) const;

private:
    struct Keys;
    std::unique_ptr<Keys> m_keys;
};

}  // namespace VTools::Encryption::Rsa
