// Root certificates for TLS contexts: real handshakes over loopback with
// certificates made by the openssl command.
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <string>
#include <thread>

#include "encoding/Ssl.h"
#include "tests/support/Peer.h"
#include "tests/support/RootFileScope.h"
#include "tests/support/TempDir.h"

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;

constexpr const char* kSystemBundle = "/etc/ssl/certs/ca-certificates.crt";

using vlibtest::RootFileScope;

class SslRoots : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(vlibtest::HavePeer("openssl"));
        s_dir = new vlibtest::TempDir;
        const auto path = [](const char* name) { return (s_dir->Path() / name).string(); };
        const std::vector<std::string> key = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
        const auto req = [&](std::vector<std::string> args) {
            std::vector<std::string> argv = {"openssl", "req"};
            argv.insert(argv.end(), key.begin(), key.end());
            argv.insert(argv.end(), args.begin(), args.end());
            return vlibtest::RunPeer(argv).has_value();
        };
        ASSERT_TRUE(req(
            {"-x509", "-days", "2", "-subj", "/CN=VLib test CA", "-keyout", path("ca.key"), "-out", path("ca.pem")}));
        ASSERT_TRUE(req({"-subj", "/CN=localhost", "-keyout", path("server.key"), "-out", path("server.csr")}));
        ASSERT_TRUE(vlibtest::RunPeer({"openssl", "x509", "-req", "-days", "2", "-in", path("server.csr"), "-CA",
                                       path("ca.pem"), "-CAkey", path("ca.key"), "-CAcreateserial", "-out",
                                       path("server.pem")}));
        ASSERT_TRUE(req(
            {"-x509", "-days", "2", "-subj", "/CN=localhost", "-keyout", path("self.key"), "-out", path("self.pem")}));
        // The local CA behind a few system roots, as a host's bundle would hold it.
        const std::string system = vlibtest::TempDir::Read(kSystemBundle);
        s_dir->Write("bundle.pem", system.substr(0, system.find("-----END CERTIFICATE-----") + 26) +
                                       vlibtest::TempDir::Read(path("ca.pem")));
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }

    static std::string File(const char* name) { return (s_dir->Path() / name).string(); }

    // Runs a TLS server on 127.0.0.1 with the certificate `name` for one
    // connection, and connects `client` to it; true when the client's
    // handshake succeeded.
    static bool Handshake(asio::ssl::context& client, const std::string& name) {
        asio::io_context io;
        asio::ssl::context server(asio::ssl::context::tls_server);
        server.use_certificate_chain_file(File((name + ".pem").c_str()));
        server.use_private_key_file(File((name + ".key").c_str()), asio::ssl::context::pem);
        tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
        std::thread serverThread([&] {
            asio::ssl::stream<tcp::socket> stream(io, server);
            boost::system::error_code ignored;
            acceptor.accept(stream.lowest_layer(), ignored);
            stream.handshake(asio::ssl::stream_base::server, ignored);
            stream.shutdown(ignored);
        });
        asio::ssl::stream<tcp::socket> stream(io, client);
        boost::system::error_code error;
        stream.lowest_layer().connect(acceptor.local_endpoint(), error);
        if (!error) stream.handshake(asio::ssl::stream_base::client, error);
        stream.lowest_layer().close();
        serverThread.join();
        return !error;
    }

    static asio::ssl::context Client() {
        asio::ssl::context client(asio::ssl::context::tls_client);
        client.set_verify_mode(asio::ssl::verify_peer);
        return client;
    }

    static inline vlibtest::TempDir* s_dir = nullptr;
};

TEST_F(SslRoots, TheBundlesRootsVerifyAServerTheyIssuedAndNotASelfSignedOne) {
    RootFileScope scope(File("bundle.pem"));
    auto client = Client();
    EXPECT_FALSE(Handshake(client, "server")) << "no roots yet";
    VTools::Ssl::AddWindowsRootCerts(client);
    EXPECT_TRUE(Handshake(client, "server"));
    EXPECT_FALSE(Handshake(client, "self"));
}

TEST_F(SslRoots, TheNewStoreReplacesEarlierPathsUnlessTheSystemStoreIsMissing) {
    auto client = Client();
    client.load_verify_file(File("ca.pem"));
    ASSERT_TRUE(Handshake(client, "server"));
    {
        RootFileScope missing(File("missing.pem"));
        VTools::Ssl::AddWindowsRootCerts(client);  // no store: the context stays as it was
    }
    EXPECT_TRUE(Handshake(client, "server"));
    VTools::Ssl::AddWindowsRootCerts(client);  // the system roots replace the local CA
    EXPECT_FALSE(Handshake(client, "server"));
}

TEST_F(SslRoots, TheContextHoldsEveryCertificateOfTheSystemBundle) {
    const auto count = vlibtest::RunPeer({"sh", "-c",
                                          std::string("openssl crl2pkcs7 -nocrl -certfile ") + kSystemBundle +
                                              " | openssl pkcs7 -print_certs | grep -c 'BEGIN CERTIFICATE'"});
    ASSERT_TRUE(count.has_value());
    auto client = Client();
    VTools::Ssl::AddWindowsRootCerts(client);
    const auto* objects = X509_STORE_get0_objects(SSL_CTX_get_cert_store(client.native_handle()));
    int certificates = 0;
    for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
        if (X509_OBJECT_get_type(sk_X509_OBJECT_value(objects, i)) == X509_LU_X509) ++certificates;
    }
    EXPECT_EQ(certificates, std::stoi(*count));
}

}  // namespace
