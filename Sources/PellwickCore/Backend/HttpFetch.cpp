#include "HttpFetch.h"

namespace Pellwick {

namespace {

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

void HttpHeaders::set(const QByteArray &name, const QByteArray &value)
{
    for (Field &field : m_fields) {
        if (sameName(field.first, name)) {
            field.second = value;
            return;
        }
    }
    m_fields.append({name, value});
}

void HttpHeaders::append(const QByteArray &name, const QByteArray &value)
{
    m_fields.append({name, value});
}

std::optional<QByteArray> HttpHeaders::value(const QByteArray &name) const
{
    for (const Field &field : m_fields) {
        if (sameName(field.first, name))
            return field.second;
    }
    return std::nullopt;
}

QUrl appendingPath(const QUrl &base, const QString &path)
{
    QString joined = base.path(QUrl::FullyEncoded);
    if (!joined.endsWith(QLatin1Char('/')))
        joined += QLatin1Char('/');
    joined += QString::fromLatin1(QUrl::toPercentEncoding(path, QByteArrayLiteral("/")));
    QUrl url = base;
    url.setPath(joined, QUrl::TolerantMode);
    return url;
}

bool isHttpUrl(const QString &url)
{
    const qsizetype colon = url.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    const QStringView scheme = QStringView(url).left(colon);
    return scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0
           || scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

} // namespace Pellwick
