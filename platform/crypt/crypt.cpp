// System certificate stores: "ROOT" read from a PEM bundle, the others empty.
#include "platform/crypt/Crypt.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypt/internal/Base64.h"
#include "platform/kernel/FileSystemPath.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/WinError.h"

struct HCERTSTORE__ {
    std::vector<std::vector<BYTE>> der;
    std::vector<CERT_CONTEXT> contexts;
    // The open handle plus every context handed out and not yet freed.
    std::atomic<long> references{1};
};

namespace vplatform {
namespace {

constexpr const char* kDefaultRootBundle = "/etc/ssl/certs/ca-certificates.crt";

std::mutex g_rootFileLock;
std::string g_rootFile = kDefaultRootBundle;

std::string RootFile() {
    std::lock_guard lock(g_rootFileLock);
    return g_rootFile;
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

void Release(HCERTSTORE store) {
    if (store->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete store;
}

}  // namespace
}  // namespace vplatform

extern "C" {

HCERTSTORE CertOpenSystemStoreW(HCRYPTPROV_LEGACY, LPCWSTR subsystem) {
    if (subsystem == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto store = std::make_unique<HCERTSTORE__>();
    if (vplatform::IsRootName(subsystem)) {
        std::string pem;
        if (!vplatform::ReadWholeFile(vplatform::RootFile(), pem)) return nullptr;
        vplatform::ParsePem(pem, store->der);
    }
    store->contexts.reserve(store->der.size());
    for (auto& der : store->der) {
        store->contexts.push_back(CERT_CONTEXT{X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                               static_cast<DWORD>(der.size()), nullptr, store.get()});
    }
    return store.release();
}

PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT prev) {
    if (store == nullptr || (prev != nullptr && prev->hCertStore != store)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::size_t next = prev == nullptr ? 0 : static_cast<std::size_t>(prev - store->contexts.data()) + 1;
    const bool found = next < store->contexts.size();
    // Take the new context's reference before the old one is given back, so
    // that a store whose handle is already closed lives on while needed.
    if (found) store->references.fetch_add(1, std::memory_order_relaxed);
    if (prev != nullptr) vplatform::Release(store);
    if (!found) {
        SetLastError(CRYPT_E_NOT_FOUND);
        return nullptr;
    }
    return &store->contexts[next];
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT context) {
    if (context != nullptr) vplatform::Release(context->hCertStore);
    return TRUE;
}

BOOL CertCloseStore(HCERTSTORE store, DWORD flags) {
    if (store == nullptr) return TRUE;
    if ((flags & CERT_CLOSE_STORE_FORCE_FLAG) != 0) {
        delete store;
        return TRUE;
    }
    const bool pending = store->references.load(std::memory_order_acquire) > 1;
    vplatform::Release(store);
    if (pending && (flags & CERT_CLOSE_STORE_CHECK_FLAG) != 0) {
        SetLastError(CRYPT_E_PENDING_CLOSE);
        return FALSE;
    }
    return TRUE;
}

void vplatformSetRootCertificateFile(const char* pemFile) {
    std::lock_guard lock(vplatform::g_rootFileLock);
    vplatform::g_rootFile = pemFile != nullptr ? pemFile : vplatform::kDefaultRootBundle;
}
}
