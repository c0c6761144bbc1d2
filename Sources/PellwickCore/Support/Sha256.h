#pragma once

#include <QByteArray>

#include <memory>

namespace Pellwick {

/// Incremental SHA-256 of bytes held in memory (OpenSSL). Not thread-safe; movable.
class Sha256
{
public:
    Sha256();
    Sha256(Sha256 &&) noexcept;
    Sha256 &operator=(Sha256 &&) noexcept;
    ~Sha256();

    void addData(const char *data, qint64 size);

    void addData(const QByteArray &data) { addData(data.constData(), data.size()); }

    /// The 32-byte digest of everything added; the hasher starts over afterwards.
    QByteArray result();

    /// The 32-byte digest of `data`.
    static QByteArray hash(const char *data, qint64 size);

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

} // namespace Pellwick
