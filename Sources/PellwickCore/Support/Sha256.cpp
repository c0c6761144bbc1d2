#include "Sha256.h"

#include <openssl/evp.h>

namespace Pellwick {

namespace {

/// The algorithm, looked up once: a lookup at every start costs more than hashing a short text.
const EVP_MD *algorithm()
{
    static const EVP_MD *const fetched = [] {
        const EVP_MD *md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
        return md ? md : EVP_sha256();
    }();
    return fetched;
}

} // namespace

struct Sha256::Context
{
    EVP_MD_CTX *context = EVP_MD_CTX_new();

    Context() { EVP_DigestInit_ex(context, algorithm(), nullptr); }

    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    ~Context() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256()
    : m_context(std::make_unique<Context>())
{}

Sha256::Sha256(Sha256 &&) noexcept = default;
Sha256 &Sha256::operator=(Sha256 &&) noexcept = default;
Sha256::~Sha256() = default;

void Sha256::addData(const char *data, qint64 size)
{
    EVP_DigestUpdate(m_context->context, data, static_cast<size_t>(size));
}

QByteArray Sha256::result()
{
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    EVP_DigestFinal_ex(
        m_context->context, reinterpret_cast<unsigned char *>(digest.data()), &length);
    digest.resize(static_cast<qsizetype>(length));
    EVP_DigestInit_ex(m_context->context, algorithm(), nullptr);
    return digest;
}

QByteArray Sha256::hash(const char *data, qint64 size)
{
    Sha256 hasher;
    hasher.addData(data, size);
    return hasher.result();
}

} // namespace Pellwick
