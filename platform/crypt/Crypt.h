// The system certificate stores of crypt32: CertOpenSystemStoreW,
// CertEnumCertificatesInStore, CertFreeCertificateContext and CertCloseStore.
//
// Stores.  "ROOT" (any letter case) holds the system's trusted root
// certificates: the file named with vplatformSetRootCertificateFile, or else
// the first readable of the PEM bundles where the distributions keep them:
// /etc/ssl/certs/ca-certificates.crt (Debian, Ubuntu, Arch, Gentoo),
// /etc/pki/tls/certs/ca-bundle.crt (Fedora, RHEL), /etc/ssl/ca-bundle.pem
// (openSUSE), /etc/pki/tls/cacert.pem, /etc/pki/ca-trust/extracted/pem/
// tls-ca-bundle.pem (CentOS, RHEL 7 on) and /etc/ssl/cert.pem (Alpine).
// Every "-----BEGIN CERTIFICATE-----" block of the file becomes one
// certificate, in file order, its Base64 body decoded to DER by the platform;
// a block whose body is not valid Base64 is skipped, other text between
// blocks is ignored.  The file is read when the store is opened; the store
// does not follow later changes.  Every other store name ("CA", "MY"...)
// opens an empty store: Linux keeps no intermediate or personal store.
//
// Contexts.  CERT_CONTEXT carries the encoding type (X509_ASN_ENCODING |
// PKCS_7_ASN_ENCODING), the DER bytes and the store; pCertInfo is always null
// here (the platform does not decode certificates: read the DER bytes).  A
// context handed out by CertEnumCertificatesInStore stays valid until it is
// passed back as `prev` or freed with CertFreeCertificateContext; the store's
// memory lives until its handle is closed and every such context is freed.
//
// Errors set the last error: ERROR_INVALID_PARAMETER for null arguments,
// the file's error (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
// ERROR_ACCESS_DENIED...) when the "ROOT" bundle cannot be read (when none
// of the system's bundles can, the error of the first one that exists, or
// else of the first one),
// CRYPT_E_NOT_FOUND at the end of an enumeration.
//
// Threads: every function may be called from any thread.  An open store is
// never changed, so several threads may enumerate one store at once, each with
// its own `prev`; a context may be freed, and a store closed, on any thread,
// also while another thread enumerates it.  vplatformSetRootCertificateFile
// affects the stores opened after it returns.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

struct HCERTSTORE__;
using HCERTSTORE = HCERTSTORE__*;
using HCRYPTPROV_LEGACY = ULONG_PTR;

// Decoded certificate fields (not provided by this platform; see above).
struct CERT_INFO;

struct CERT_CONTEXT {
    DWORD dwCertEncodingType;
    BYTE* pbCertEncoded;
    DWORD cbCertEncoded;
    CERT_INFO* pCertInfo;
    HCERTSTORE hCertStore;
};
using PCERT_CONTEXT = CERT_CONTEXT*;
using PCCERT_CONTEXT = const CERT_CONTEXT*;

constexpr DWORD X509_ASN_ENCODING = 0x00000001;
constexpr DWORD PKCS_7_ASN_ENCODING = 0x00010000;
constexpr DWORD CERT_CLOSE_STORE_FORCE_FLAG = 0x00000001;
constexpr DWORD CERT_CLOSE_STORE_CHECK_FLAG = 0x00000002;
constexpr DWORD CRYPT_E_NOT_FOUND = 0x80092004;
constexpr DWORD CRYPT_E_PENDING_CLOSE = 0x8009200F;

extern "C" {

// Opens the system store `subsystem` ("ROOT", "CA", "MY"...); `hProv` is
// ignored.  Null, with the last error set, for a null name or an unreadable
// root bundle.
VPLATFORM_API HCERTSTORE CertOpenSystemStoreW(HCRYPTPROV_LEGACY hProv, LPCWSTR subsystem);

// The first certificate of `store` when `prev` is null, else the one after
// `prev`.  `prev` is freed, also when the call fails.  Null at the end, with
// the last error CRYPT_E_NOT_FOUND; null with ERROR_INVALID_PARAMETER for a
// null store or a `prev` of another store, ERROR_INVALID_HANDLE for a store
// handle that is closed (and no context of it held) or forged.
VPLATFORM_API PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE store, PCCERT_CONTEXT prev);

// Releases a context from CertEnumCertificatesInStore.  Null does nothing.
// Always TRUE.
VPLATFORM_API BOOL CertFreeCertificateContext(PCCERT_CONTEXT context);

// Closes the store handle.  Store handles come from a handle table: a store
// handle stays usable while a context of it is held (a held context's
// hCertStore enumerates on), and a handle of a store whose last reference is
// gone fails with ERROR_INVALID_HANDLE, never reaching freed memory.  With
// CERT_CLOSE_STORE_FORCE_FLAG the handle goes at once; contexts still held
// stay readable until freed (crypt32 frees them at once).  Without it, with
// CERT_CLOSE_STORE_CHECK_FLAG, contexts still held make it return FALSE with
// CRYPT_E_PENDING_CLOSE (the store is closed all the same).  Closing a store
// twice fails with ERROR_INVALID_HANDLE.  A null store does nothing and
// returns TRUE.
VPLATFORM_API BOOL CertCloseStore(HCERTSTORE store, DWORD flags);

// Names the PEM file that the "ROOT" store reads from the next opening on,
// for hosts that keep their trusted roots elsewhere and for tests; no other
// bundle is tried then.  Null (or the empty text) returns to the system's
// bundles.  The text is copied.  Any thread may call it.
VPLATFORM_API void vplatformSetRootCertificateFile(const char* pemFile);
}
