// System certificate stores: "ROOT" read from a PEM bundle, the others empty.
#include "platform/crypt/Crypt.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinError.h"
#include "platform/crypt/internal/Base64.h"
#include "platform/crypt/internal/RootBundle.h"
#include "platform/internal/HandleTable.h"
#include "platform/kernel/FileSystemPath.h"
#include "platform/kernel/Files.h"

namespace vplatform {
namespace {

// A store: the DER bytes and the contexts over them.  Its handle stays valid
// while the store is open or any context of it is held (crypt32's reference
// count), so enumeration may go on through a held context's hCertStore after
// CertCloseStore, as on Windows; the object itself lives while the handle or
// a context needs it.  Contexts are pointers, as on Windows: each sits in a
// ContextEntry that leads back to its store.
class CertStore;

struct ContextEntry {
    CERT_CONTEXT context;  // first: a PCCERT_CONTEXT is the entry's address
    CertStore* store;
};

class CertStore final : public HandleObject {
public:
    static constexpr ObjectType kType = ObjectType::CertStore;

    std::vector<std::vector<BYTE>> der;
    std::vector<ContextEntry> contexts;
    HCERTSTORE handle = nullptr;
    // Keeps the object alive for the contexts held, whatever the table does.
    std::shared_ptr<CertStore> self;
    // The open handle plus every context handed out and not yet freed.
    std::atomic<long> references{1};
    std::atomic<bool> open{true};
};

// crypt32's handles: a table of their own, on the kernel's mechanism, so that
// CloseHandle or a window call refuses them.
HandleTable& StoreHandles() {
    static auto* table = new HandleTable({.tag = 4,
                                          .indexShift = 2,
                                          .indexBits = 20,
                                          .generationShift = 32,
                                          .generationBits = 31,
                                          .quota = (std::size_t{1} << 20) - 1,
                                          .reuseDelay = 64,
                                          .invalidError = ERROR_INVALID_HANDLE,
                                          .quotaError = ERROR_NOT_ENOUGH_MEMORY});
    return *table;
}

// Takes a reference for a new context unless the last one is gone already
// (the store is closing under a racing call).
bool AddReference(CertStore& store) {
    long count = store.references.load(std::memory_order_relaxed);
    do {
        if (count == 0) return false;
    } while (!store.references.compare_exchange_weak(count, count + 1, std::memory_order_relaxed));
    return true;
}

// Gives back one reference; the last closes the handle and lets the object go.
void Release(CertStore& store) {
    if (store.references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    const auto closed = StoreHandles().Remove<CertStore>(store.handle);
    const auto self = std::move(store.self);  // may destroy `store`, as the last step
}

// Where the distributions keep the PEM bundle of their trusted roots, in the
// order they are tried.
constexpr const char* kSystemRootBundles[] = {
    "/etc/ssl/certs/ca-certificates.crt",                 // Debian, Ubuntu, Arch, Gentoo
    "/etc/pki/tls/certs/ca-bundle.crt",                   // Fedora, RHEL
    "/etc/ssl/ca-bundle.pem",                             // openSUSE
    "/etc/pki/tls/cacert.pem",                            // OpenELEC
    "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem",  // CentOS, RHEL 7 and later
    "/etc/ssl/cert.pem",                                  // Alpine
};

std::mutex g_rootFileLock;
std::string g_rootFile;  // the host's bundle; empty: the system's
std::string g_rootPrefix;

// The files to try for the "ROOT" store, in order.
std::vector<std::string> RootFiles() {
    std::lock_guard lock(g_rootFileLock);
    if (!g_rootFile.empty()) return {g_rootFile};
    std::vector<std::string> files;
    for (const char* path : kSystemRootBundles) files.push_back(g_rootPrefix + path);
    return files;
}

// The whole file, read through the platform's file functions; false with
// the last error set.
bool ReadWholeFile(const std::string& path, std::string& bytes) {
    std::wstring name;
    if (!FromFileSystemPath(path, name)) return false;
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char buffer[65536];
    bool complete = false;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &read, nullptr)) break;
        if (read == 0) {
            complete = true;
            break;
        }
        bytes.append(buffer, read);
    }
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return complete;
}

// The DER bytes of every CERTIFICATE block of a PEM text, in order.
void ParsePem(std::string_view text, std::vector<std::vector<BYTE>>& out) {
    constexpr std::string_view begin = "-----BEGIN CERTIFICATE-----";
    constexpr std::string_view end = "-----END CERTIFICATE-----";
    std::size_t at = 0;
    while ((at = text.find(begin, at)) != std::string_view::npos) {
        const std::size_t body = at + begin.size();
        const std::size_t stop = text.find(end, body);
        if (stop == std::string_view::npos) break;
        std::vector<BYTE> der;
        if (DecodeBase64(text.substr(body, stop - body), der) && !der.empty()) out.push_back(std::move(der));
        at = stop + end.size();
    }
}

bool IsRootName(LPCWSTR name) {
    const wchar_t* root = L"ROOT";
    for (; *root != 0; ++name, ++root) {
        const wchar_t c = (*name >= L'a' && *name <= L'z') ? static_cast<wchar_t>(*name - 32) : *name;
        if (c != *root) return false;
    }
    return *name == 0;
}

// The bytes of the first of RootFiles() that can be read; false with the
// last error of the first file that exists but cannot be read, or else of
// the first file.
bool ReadRootBundle(std::string& pem) {
    DWORD error = ERROR_SUCCESS;
    for (const std::string& file : RootFiles()) {
        pem.clear();
        if (ReadWholeFile(file, pem)) return true;
        const DWORD now = GetLastError();
        const bool missing = now == ERROR_FILE_NOT_FOUND || now == ERROR_PATH_NOT_FOUND;
        if (error == ERROR_SUCCESS || (!missing && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))) {
            error = now;
        }
    }
    SetLastError(error);
    return false;
}

}  // namespace

void test::SetRootBundlePrefixForTesting(const std::string& prefix) {
    std::lock_guard lock(g_rootFileLock);
    g_rootPrefix = prefix;
}

}  // namespace vplatform

using namespace vplatform;

extern "C" {

HCERTSTORE CertOpenSystemStoreW(HCRYPTPROV_LEGACY, LPCWSTR subsystem) {
    if (subsystem == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto store = std::make_shared<CertStore>();
    if (IsRootName(subsystem)) {
        std::string pem;
        if (!ReadRootBundle(pem)) return nullptr;
        ParsePem(pem, store->der);
    }
    store->handle = StoreHandles().Insert(store);
    if (store->handle == nullptr) return nullptr;
    store->self = store;
    store->contexts.reserve(store->der.size());
    for (auto& der : store->der) {
        store->contexts.push_back({CERT_CONTEXT{X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                                static_cast<DWORD>(der.size()), nullptr, store->handle},
                                   store.get()});
    }
    return store->handle;
}

PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT prev) {
    const auto* previous = reinterpret_cast<const ContextEntry*>(prev);
    // `prev` is given back whatever happens, as crypt32 does.
    const auto fail = [&](DWORD error) -> PCCERT_CONTEXT {
        if (previous != nullptr) Release(*previous->store);
        SetLastError(error);
        return nullptr;
    };
    if (hCertStore == nullptr) return fail(ERROR_INVALID_PARAMETER);
    const auto store = StoreHandles().Lookup<CertStore>(hCertStore);
    if (!store) return fail(ERROR_INVALID_HANDLE);
    if (previous != nullptr && previous->store != store.get()) return fail(ERROR_INVALID_PARAMETER);
    const std::size_t next = previous == nullptr ? 0 : static_cast<std::size_t>(previous - store->contexts.data()) + 1;
    if (next >= store->contexts.size()) return fail(CRYPT_E_NOT_FOUND);
    // The new context's reference comes before the old one goes, so that a
    // store whose handle is already closed lives on while needed.
    if (!AddReference(*store)) return fail(ERROR_INVALID_HANDLE);
    if (previous != nullptr) Release(*store);
    return &store->contexts[next].context;
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT context) {
    if (context != nullptr) Release(*reinterpret_cast<const ContextEntry*>(context)->store);
    return TRUE;
}

BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD flags) {
    if (hCertStore == nullptr) return TRUE;
    const auto store = StoreHandles().Lookup<CertStore>(hCertStore);
    if (!store) return FALSE;
    // The handle's own reference goes once, whoever else closes it meanwhile.
    if (store->open.exchange(false, std::memory_order_acq_rel) == false) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const bool pending = store->references.load(std::memory_order_acquire) > 1;
    // Forced: the handle goes now; contexts still held keep their memory
    // until they are freed.
    if ((flags & CERT_CLOSE_STORE_FORCE_FLAG) != 0) StoreHandles().Close(hCertStore);
    Release(*store);
    if (pending && (flags & CERT_CLOSE_STORE_CHECK_FLAG) != 0) {
        SetLastError(CRYPT_E_PENDING_CLOSE);
        return FALSE;
    }
    return TRUE;
}

void vplatformSetRootCertificateFile(const char* pemFile) {
    std::lock_guard lock(vplatform::g_rootFileLock);
    vplatform::g_rootFile = pemFile != nullptr ? pemFile : "";
}
}
