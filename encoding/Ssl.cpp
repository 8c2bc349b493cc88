#include "encoding/Ssl.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <boost/asio/ssl/context.hpp>

#include "platform/crypt/Crypt.h"

namespace VTools::Ssl {

void AddWindowsRootCerts(boost::asio::ssl::context& context) {
    const HCERTSTORE system = CertOpenSystemStoreW(0, L"ROOT");
    if (system == nullptr) return;
    X509_STORE* store = X509_STORE_new();
    if (store != nullptr) {
        for (PCCERT_CONTEXT certificate = nullptr;
             (certificate = CertEnumCertificatesInStore(system, certificate)) != nullptr;) {
            const unsigned char* der = certificate->pbCertEncoded;
            X509* x509 = d2i_X509(nullptr, &der, static_cast<long>(certificate->cbCertEncoded));
            if (x509 == nullptr) continue;
            X509_STORE_add_cert(store, x509);
            X509_free(x509);
        }
        // Refused certificates leave entries in this thread's OpenSSL error
        // queue; they must not be taken for errors of later TLS calls.
        ERR_clear_error();
        SSL_CTX_set_cert_store(context.native_handle(), store);
    }
    CertCloseStore(system, 0);
}

}  // namespace VTools::Ssl
