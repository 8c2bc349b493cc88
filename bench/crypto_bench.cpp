// Throughput of the digests and of inflate beside their best peers, and RSA
// figures.
//
// SHA-1 and SHA-256 of 64 B, 4 KiB and 1 MiB: ours (Crypto++ underneath)
// against OpenSSL's EVP digest (fetched once, one context reused).  Inflate of about 1 MiB and 16 MiB
// of text-like data (words, ratio about 4:1) and of random-ish data (random
// hexadecimal digits, about 2:1): ours appending into an output vector that
// is cleared and reused, as a caller that inflates repeatedly would, against
// zlib's uncompress into a presized reused buffer (the peer knows the size in
// advance, we do not); "ours/fresh" inflates into a new vector each time.
// Bytes processed are the expanded bytes.  RSA-2048 encryption and
// decryption of 200 bytes (one block) are figures only.  The ratio rows
// follow: medians of the repetitions, with their ranges.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "encoding/Rsa.h"
#include "encoding/Sha.h"
#include "encoding/ZipCompressor.h"

#include "MedianReporter.h"

namespace {

using VTools::Encryption::Sha::EncryptionProvider;

std::string Random(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& c : bytes) c = static_cast<char>(random());
    return bytes;
}

std::string TextLike(std::size_t size) {
    static const char* words[] = {"kurs ",    "WIG20 ",    "akcje ",      "obrót ",  "1234,50 ", "sesja\n", "spółka ",
                                  "wolumen ", "otwarcie ", "zamknięcie ", "mWIG40 ", "PKO ",     "2.35% ",  "-0,12 "};
    std::mt19937 random(11);
    std::string text;
    while (text.size() < size) text += words[random() % 14];
    text.resize(size);
    return text;
}

std::string RandomIsh(std::size_t size) {
    std::mt19937 random(13);
    std::string text(size, '\0');
    for (auto& c : text) c = "0123456789abcdef"[random() % 16];
    return text;
}

std::string Compress(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    if (compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                 static_cast<uLong>(data.size())) != Z_OK) {
        throw std::runtime_error("compress failed");
    }
    out.resize(size);
    return out;
}

void RegisterDigests() {
    for (const std::size_t size : {std::size_t{64}, std::size_t{4096}, std::size_t{1} << 20}) {
        const std::string name = size == 64 ? "64B" : size == 4096 ? "4KiB" : "1MiB";
        auto data = std::make_shared<std::string>(Random(size, 1));
        for (const bool sha256 : {false, true}) {
            const std::string prefix = std::string(sha256 ? "SHA256" : "SHA1") + "/" + name + "/";
            benchmark::RegisterBenchmark((prefix + "ours").c_str(), [=](benchmark::State& state) {
                const auto bytes = gsl::as_bytes(gsl::span<const char>(*data));
                for (auto _ : state) {
                    auto digest =
                        sha256 ? EncryptionProvider::EncryptSHA256(bytes) : EncryptionProvider::EncryptSHA1(bytes);
                    benchmark::DoNotOptimize(digest);
                }
                state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data->size()));
            });
            // The digest fetched once and one context reused, as a program
            // hashing many messages does; its digest checked equal to ours.
            benchmark::RegisterBenchmark((prefix + "openssl").c_str(), [=](benchmark::State& state) {
                EVP_MD* md = EVP_MD_fetch(nullptr, sha256 ? "SHA256" : "SHA1", nullptr);
                EVP_MD_CTX* context = EVP_MD_CTX_new();
                unsigned char digest[EVP_MAX_MD_SIZE];
                unsigned length = 0;
                const auto hash = [&] {
                    EVP_DigestInit_ex2(context, md, nullptr);
                    EVP_DigestUpdate(context, data->data(), data->size());
                    EVP_DigestFinal_ex(context, digest, &length);
                };
                hash();
                const auto bytes = gsl::as_bytes(gsl::span<const char>(*data));
                const auto ours =
                    sha256 ? EncryptionProvider::EncryptSHA256(bytes) : EncryptionProvider::EncryptSHA1(bytes);
                if (ours.size() != length || std::memcmp(ours.data(), digest, length) != 0) {
                    state.SkipWithError("the digests differ");
                }
                for (auto _ : state) {
                    hash();
                    benchmark::DoNotOptimize(digest);
                }
                EVP_MD_CTX_free(context);
                EVP_MD_free(md);
                state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data->size()));
            });
        }
    }
}

void RegisterInflate() {
    for (const std::size_t size : {std::size_t{1} << 20, std::size_t{16} << 20}) {
        for (const bool text : {true, false}) {
            const std::string prefix = std::string("Inflate/") + (text ? "text/" : "randomish/") +
                                       (size == (std::size_t{1} << 20) ? "1MiB/" : "16MiB/");
            const std::string data = text ? TextLike(size) : RandomIsh(size);
            auto input = std::make_shared<std::vector<char>>();
            const std::string compressed = Compress(data);
            input->assign(compressed.begin(), compressed.end());
            benchmark::RegisterBenchmark((prefix + "ours").c_str(), [=](benchmark::State& state) {
                // The output's memory is made ready before timing, as the
                // peer's presized buffer is.
                std::vector<char> output;
                VTools::ZipCompressor zip;
                zip.Inflate(*input, output);
                for (auto _ : state) {
                    output.clear();
                    if (!zip.Inflate(*input, output) || output.size() != size) state.SkipWithError("inflate failed");
                    benchmark::ClobberMemory();
                }
                state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
            });
            benchmark::RegisterBenchmark((prefix + "ours/fresh").c_str(), [=](benchmark::State& state) {
                VTools::ZipCompressor zip;
                for (auto _ : state) {
                    std::vector<char> output;
                    if (!zip.Inflate(*input, output) || output.size() != size) state.SkipWithError("inflate failed");
                    benchmark::DoNotOptimize(output.data());
                }
                state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
            });
            benchmark::RegisterBenchmark((prefix + "zlib").c_str(), [=](benchmark::State& state) {
                std::vector<char> output(size);
                for (auto _ : state) {
                    uLongf length = static_cast<uLongf>(output.size());
                    if (uncompress(reinterpret_cast<Bytef*>(output.data()), &length,
                                   reinterpret_cast<const Bytef*>(input->data()),
                                   static_cast<uLong>(input->size())) != Z_OK ||
                        length != size) {
                        state.SkipWithError("uncompress failed");
                    }
                    benchmark::ClobberMemory();
                }
                state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
            });
        }
    }
}

// A 2048-bit key pair made by OpenSSL as the Base64 texts the wrapper takes.
std::pair<std::vector<std::byte>, std::vector<std::byte>> MakeKeys() {
    EVP_PKEY* key = EVP_RSA_gen(2048);
    if (key == nullptr) throw std::runtime_error("no RSA key");
    const auto base64 = [](unsigned char* der, int length) {
        std::string text(static_cast<std::size_t>(4 * ((length + 2) / 3) + 1), '\0');
        text.resize(
            static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), der, length)));
        const auto* bytes = reinterpret_cast<const std::byte*>(text.data());
        return std::vector<std::byte>(bytes, bytes + text.size());
    };
    unsigned char* der = nullptr;
    const int publicLength = i2d_PUBKEY(key, &der);  // SubjectPublicKeyInfo
    auto publicKey = base64(der, publicLength);
    OPENSSL_free(der);
    der = nullptr;
    const int privateLength = i2d_PrivateKey(key, &der);  // PKCS #1 RSAPrivateKey
    auto privateKey = base64(der, privateLength);
    OPENSSL_free(der);
    EVP_PKEY_free(key);
    return {publicKey, privateKey};
}

void RegisterRsa() {
    const auto [publicKey, privateKey] = MakeKeys();
    auto rsa = std::make_shared<VTools::Encryption::Rsa::RsaWrapper>(publicKey, privateKey);
    auto plaintext = std::make_shared<std::string>(Random(200, 5));
    auto ciphertext = std::make_shared<std::vector<unsigned char>>(rsa->Encrypt(*plaintext));
    benchmark::RegisterBenchmark("RSA2048/encrypt/ours", [=](benchmark::State& state) {
        for (auto _ : state) benchmark::DoNotOptimize(rsa->Encrypt(*plaintext));
    });
    benchmark::RegisterBenchmark("RSA2048/decrypt/ours", [=](benchmark::State& state) {
        for (auto _ : state) {
            if (rsa->Decrypt(gsl::as_bytes(gsl::span<const unsigned char>(*ciphertext))) != *plaintext) {
                state.SkipWithError("decrypt failed");
            }
        }
    });
}

// One row per case with a peer: ours / peer in MB/s.
void ReportRatios(const vbench::MedianReporter& reporter) {
    const auto mb = [](vbench::Spread figure) {
        for (double& value : figure.values) value /= 1e6;
        return vbench::Spread(figure.values);
    };
    for (const auto& [name, rate] : reporter.Medians()) {
        const auto slash = name.rfind('/');
        if (name.substr(slash + 1) != "ours") continue;
        const std::string prefix = name.substr(0, slash + 1);
        for (const char* peer : {"openssl", "zlib"}) {
            const auto theirs = reporter.Figures(prefix + peer);
            if (theirs.Empty()) continue;
            vbench::Report(prefix.starts_with("SHA") ? "Digests" : "Inflate",
                           prefix.substr(0, prefix.size() - 1) + " vs " + peer, name, mb(reporter.Figures(name)),
                           prefix + peer, mb(theirs), "MB/s");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    RegisterDigests();
    RegisterInflate();
    RegisterRsa();
    vbench::Initialize(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    vbench::MedianReporter reporter(vbench::MedianReporter::Figure::BytesPerSecond);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    ReportRatios(reporter);
    benchmark::Shutdown();
    return 0;
}
