#include "TlsTestServer.h"

#include <atomic>
#include <thread>

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

namespace Pellwick::Test {

namespace {

struct KeyDeleter
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};

struct CertificateDeleter
{
    void operator()(X509 *certificate) const { X509_free(certificate); }
};

std::unique_ptr<X509, CertificateDeleter> selfSignedCertificate(EVP_PKEY *key)
{
    std::unique_ptr<X509, CertificateDeleter> certificate(X509_new());
    X509 *cert = certificate.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME *name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(
        name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    if (X509_sign(cert, key, EVP_sha256()) == 0)
        qFatal("Could not sign the test certificate.");
    return certificate;
}

} // namespace

struct TlsTestServer::Private
{
    std::unique_ptr<httplib::SSLServer> server;
    std::thread thread;
    int port = 0;
    std::atomic<int> answered{0};
};

TlsTestServer::TlsTestServer()
    : d(std::make_unique<Private>())
{
    std::unique_ptr<EVP_PKEY, KeyDeleter> key(EVP_EC_gen("P-256"));
    if (!key)
        qFatal("Could not generate the test key.");
    const auto certificate = selfSignedCertificate(key.get());
    d->server = std::make_unique<httplib::SSLServer>(certificate.get(), key.get());
    if (!d->server->is_valid())
        qFatal("Could not set up the TLS test server.");
    d->server->Get(".*", [this](const httplib::Request &, httplib::Response &response) {
        ++d->answered;
        response.set_content("secret", "text/plain");
    });
    d->port = d->server->bind_to_any_port("127.0.0.1");
    if (d->port <= 0)
        qFatal("The TLS test server could not bind to 127.0.0.1.");
    d->thread = std::thread([this] { d->server->listen_after_bind(); });
    while (!d->server->is_running())
        std::this_thread::yield();
}

TlsTestServer::~TlsTestServer()
{
    d->server->stop();
    d->thread.join();
}

QString TlsTestServer::url() const
{
    return QStringLiteral("https://127.0.0.1:%1/").arg(d->port);
}

int TlsTestServer::answeredRequests() const
{
    return d->answered;
}

} // namespace Pellwick::Test
