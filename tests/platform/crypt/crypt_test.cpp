// The "ROOT" certificate store over the system bundle and over a bundle named
// by the host: the same certificates, in order, as python3's PEM decoding;
// the end of enumeration, other stores, unreadable bundles, and contexts
// held past the closing of their store.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/WinError.h"
#include "platform/crypt/Crypt.h"
#include "platform/crypt/internal/RootBundle.h"
#include "tests/support/LastError.h"
#include "tests/support/Peer.h"
#include "tests/support/RootFileScope.h"
#include "tests/support/Seam.h"
#include "tests/support/TempDir.h"

namespace {

constexpr const char* kSystemBundle = "/etc/ssl/certs/ca-certificates.crt";

using vlibtest::FailsWith;
using vlibtest::RootFileScope;

// The DER bytes of every certificate of a store, in enumeration order; the
// end of the enumeration is checked on the way.
std::vector<std::string> Certificates(LPCWSTR name) {
    std::vector<std::string> der;
    HCERTSTORE store = CertOpenSystemStoreW(0, name);
    EXPECT_NE(store, nullptr);
    if (store == nullptr) return der;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
        EXPECT_EQ(context->dwCertEncodingType, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING);
        EXPECT_EQ(context->hCertStore, store);
        EXPECT_EQ(context->pCertInfo, nullptr);
        der.emplace_back(reinterpret_cast<const char*>(context->pbCertEncoded), context->cbCertEncoded);
        SetLastError(0xdeadbeef);
    }
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
    return der;
}

// python3's DER form of every certificate of a PEM file.
std::vector<std::string> PythonCertificates(const std::string& file) {
    const auto out = vlibtest::RunPeer({"python3", "-c", R"(
import re, ssl, sys
text = open(sys.argv[1], encoding='latin-1').read()
for block in re.findall(r'-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----', text, re.S):
    der = ssl.PEM_cert_to_DER_cert(block)
    sys.stdout.buffer.write(len(der).to_bytes(4, 'little') + der)
)",
                                        file});
    EXPECT_TRUE(out.has_value());
    std::vector<std::string> der;
    for (std::size_t at = 0; out && at + 4 <= out->size();) {
        std::size_t n = 0;
        for (int i = 3; i >= 0; --i) n = n << 8 | static_cast<unsigned char>((*out)[at + i]);
        der.push_back(out->substr(at + 4, n));
        at += 4 + n;
    }
    return der;
}

// The i-th certificate of the system's bundle alone, as PEM.
std::string SystemPem(std::size_t i) {
    const std::string pem = vlibtest::TempDir::Read(kSystemBundle);
    std::size_t at = pem.find("-----BEGIN CERTIFICATE-----");
    for (std::size_t k = 0; k < i; ++k) at = pem.find("-----BEGIN CERTIFICATE-----", at + 1);
    return pem.substr(at, pem.find("-----END CERTIFICATE-----", at) + 26 - at);
}

// ROOT (in any case) holds the system bundle in order; a host's bundle gives
// its certificates, passing over broken blocks and other text; other stores
// are empty.
TEST(CertStore, RootHoldsTheSystemBundleOrTheHostsInOrder) {
    const auto expected = PythonCertificates(kSystemBundle);
    ASSERT_GE(expected.size(), 2u);
    EXPECT_TRUE(Certificates(L"ROOT") == expected);
    EXPECT_EQ(Certificates(L"root").size(), expected.size());

    vlibtest::TempDir dir;
    const std::string begin = "-----BEGIN CERTIFICATE-----\n", b = SystemPem(1);
    const auto file = dir.Write("bundle.pem", "# comment\r\n" + SystemPem(0) + "text between\n" + begin +
                                                  "@@not base64@@\n" + "-----END CERTIFICATE-----\n" +
                                                  b.substr(0, b.size() - 1) + "\r\n" + begin + "AAAA\n");
    RootFileScope scope(file.string());
    EXPECT_TRUE(Certificates(L"ROOT") == std::vector<std::string>(expected.begin(), expected.begin() + 2));
    for (const wchar_t* name : {L"CA", L"MY", L"ROOTS"}) EXPECT_TRUE(Certificates(name).empty()) << name;
}

// The system's bundle is looked for where each distribution keeps it; the
// first readable one wins, and a host's file still overrides them.
TEST(CertStore, RootLooksWhereEachDistributionKeepsItsBundle) {
    const std::vector<std::string> places = {
        "/etc/ssl/certs/ca-certificates.crt",                 // Debian, Ubuntu, Arch, Gentoo
        "/etc/pki/tls/certs/ca-bundle.crt",                   // Fedora, RHEL
        "/etc/ssl/ca-bundle.pem",                             // openSUSE
        "/etc/pki/tls/cacert.pem",                            // OpenELEC
        "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem",  // CentOS, RHEL 7 and later
        "/etc/ssl/cert.pem",                                  // Alpine
    };
    const auto system = PythonCertificates(kSystemBundle);
    ASSERT_GT(system.size(), places.size());
    vlibtest::TempDir dir;
    struct PrefixScope {
        explicit PrefixScope(const std::string& prefix) { vplatform::test::SetRootBundlePrefixForTesting(prefix); }
        ~PrefixScope() { vplatform::test::SetRootBundlePrefixForTesting(""); }
    } scope(dir.Path().string());

    // Each place alone, then each together with all the later ones.
    for (std::size_t i = 0; i < places.size(); ++i) {
        const auto file = dir.Path() / places[i].substr(1);
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << SystemPem(i);
        EXPECT_TRUE(Certificates(L"ROOT") == std::vector<std::string>{system[i]}) << places[i];
        std::filesystem::rename(file, file.string() + ".away");
    }
    for (std::size_t i = places.size(); i-- > 0;) {
        const auto file = dir.Path() / places[i].substr(1);
        std::filesystem::rename(file.string() + ".away", file);
        EXPECT_TRUE(Certificates(L"ROOT") == std::vector<std::string>{system[i]}) << places[i];
    }
    // One that cannot be read (a folder in its place) is passed over.
    const auto first = dir.Path() / places[0].substr(1);
    std::filesystem::remove(first);
    std::filesystem::create_directory(first);
    EXPECT_TRUE(Certificates(L"ROOT") == std::vector<std::string>{system[1]});
    const auto host = dir.Write("host.pem", SystemPem(places.size()));
    RootFileScope hostScope(host.string());
    EXPECT_TRUE(Certificates(L"ROOT") == std::vector<std::string>{system[places.size()]});
}

int g_error = 0;

// Bundles that cannot be read give their Windows errors, also through failed
// system calls (the bundle is read through the platform's file functions).
TEST(CertStore, UnreadableBundlesAndBadArgumentsFailWithTheirErrors) {
    vlibtest::TempDir dir;
    const auto opens = [](LPCWSTR name) { return [=] { return CertOpenSystemStoreW(0, name) != nullptr; }; };
    {
        RootFileScope scope((dir.Path() / "missing.pem").string());
        EXPECT_TRUE(FailsWith(ERROR_FILE_NOT_FOUND, opens(L"ROOT")));
        RootFileScope inMissingFolder((dir.Path() / "missing" / "bundle.pem").string());
        EXPECT_TRUE(FailsWith(ERROR_PATH_NOT_FOUND, opens(L"ROOT")));
    }
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, opens(nullptr)));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [] { return CertEnumCertificatesInStore(nullptr, nullptr); }));
    EXPECT_TRUE(CertCloseStore(nullptr, 0));
    RootFileScope scope(dir.Write("bundle.pem", "-----BEGIN CERTIFICATE-----\n").string());
    const struct {
        bool open;  // fail the open, else the read
        int error;
        DWORD expected;
    } cases[] = {{true, EACCES, ERROR_ACCESS_DENIED},
                 {true, EMFILE, ERROR_TOO_MANY_OPEN_FILES},
                 {false, EIO, ERROR_READ_FAULT},
                 {false, ENOMEM, ERROR_NOT_ENOUGH_MEMORY}};
    for (const auto& c : cases) {
        g_error = c.error;
        const vlibtest::SeamScope seam([&](auto& s) {
            if (c.open) s.open = [](const char*, int, mode_t) { return errno = g_error, -1; };
            if (!c.open) s.read = [](int, void*, size_t) -> ssize_t { return errno = g_error, -1; };
        });
        EXPECT_TRUE(FailsWith(c.expected, opens(L"ROOT"))) << std::strerror(c.error);
    }
}

TEST(CertStore, AContextHeldPastTheClosingStaysReadable) {
    HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
    ASSERT_NE(store, nullptr);
    PCCERT_CONTEXT first = CertEnumCertificatesInStore(store, nullptr);
    ASSERT_NE(first, nullptr);
    const std::string der(reinterpret_cast<const char*>(first->pbCertEncoded), first->cbCertEncoded);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
    EXPECT_EQ(GetLastError(), CRYPT_E_PENDING_CLOSE);
    // Still readable (AddressSanitizer would see a freed store here).
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(first->pbCertEncoded), first->cbCertEncoded), der);
    EXPECT_TRUE(CertFreeCertificateContext(first));

    store = CertOpenSystemStoreW(0, L"ROOT");
    PCCERT_CONTEXT held = CertEnumCertificatesInStore(store, nullptr);
    EXPECT_TRUE(CertCloseStore(store, 0));
    PCCERT_CONTEXT next = CertEnumCertificatesInStore(held->hCertStore, held);
    ASSERT_NE(next, nullptr);
    EXPECT_TRUE(CertFreeCertificateContext(next));
}

}  // namespace
