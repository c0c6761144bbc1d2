#include "CanonicalFilenameGenerator.h"

#include <PellwickCore/Support/FileManager.h>

#include <QDateTime>
#include <QStringList>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace Pellwick {

namespace {

/// The most UTF-8 bytes the name's base (everything before "-n" and the extension) may take.
/// File systems allow 255 bytes per name, and the name is also written with additions: a preview
/// is saved as "<name>.jpg" through ".<name>.jpg.<uuid>.tmp", a restore assembles ".<name>.tmp-
/// <uuid>" and may save "<stem>-restored-<n>.<extension>". Each of those must still fit.
constexpr qsizetype maximumBaseBytes = 160;
/// The most UTF-8 bytes the camera component may take; the name stem gets what is left.
constexpr qsizetype maximumCameraBytes = 64;
/// The least UTF-8 bytes a name stem is cut to, whatever the other components take.
constexpr qsizetype minimumStemBytes = 16;

qsizetype utf8Length(const QString &text)
{
    return text.toUtf8().size();
}

/// A sanitised component cut to at most `maxBytes` UTF-8 bytes, between two characters, without
/// a "-" left at its end; "unknown" when nothing would be left.
QString truncatedComponent(const QString &component, qsizetype maxBytes)
{
    if (utf8Length(component) <= maxBytes)
        return component;
    QString kept = leadingUtf8Bytes(component, maxBytes);
    while (kept.endsWith(QLatin1Char('-')))
        kept.chop(1);
    return kept.isEmpty() ? QStringLiteral("unknown") : kept;
}

bool keepsCharacter(char32_t scalar)
{
    if (scalar == U'-' || scalar == U'_')
        return true;
    switch (QChar::category(scalar)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
        return true;
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Punctuation_Connector:
    case QChar::Punctuation_Dash:
    case QChar::Punctuation_Open:
    case QChar::Punctuation_Close:
    case QChar::Punctuation_InitialQuote:
    case QChar::Punctuation_FinalQuote:
    case QChar::Punctuation_Other:
    case QChar::Symbol_Math:
    case QChar::Symbol_Currency:
    case QChar::Symbol_Modifier:
    case QChar::Symbol_Other:
        return false;
    }
    return false;
}

/// "yyyyMMdd-HHmmss" of the instant in UTC, whole seconds (the fraction is dropped).
QString captureTimeComponent(const CaptureTimeMetadata &captureTime)
{
    const std::optional<Date> date = captureTime.knownDate();
    if (!date)
        return QStringLiteral("unknown-date");
    const auto seconds = static_cast<qint64>(std::floor(date->unixSeconds()));
    return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc())
        .toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

/// Splits a file name at its last "." into stem and extension; without "." the whole name is
/// the stem and the extension is empty.
std::pair<QString, QString> splitExtension(const QString &filename)
{
    const qsizetype dot = filename.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return {filename, QString()};
    return {filename.left(dot), filename.mid(dot + 1)};
}

/// Lower-cased; every character but letters, marks, numbers, "-" and "_" becomes "-"; runs of
/// "-" collapse and "-" at either end goes; "unknown" when nothing is left.
QString sanitizedFilenameComponent(const QString &text)
{
    QString replaced;
    const QString lower = text.toLower();
    replaced.reserve(lower.size());
    for (const char32_t scalar : lower.toUcs4()) {
        if (keepsCharacter(scalar))
            replaced.append(QString::fromUcs4(&scalar, 1));
        else
            replaced.append(QLatin1Char('-'));
    }
    const QString joined
        = replaced.split(QLatin1Char('-'), Qt::SkipEmptyParts).join(QLatin1Char('-'));
    return joined.isEmpty() ? QStringLiteral("unknown") : joined;
}

} // namespace

QString CanonicalFilenameGenerator::canonicalFilename(const QString &originalFilename,
                                                      const PhotoMetadata &metadata,
                                                      const QString &shortContentHash,
                                                      QSet<QString> &usedFilenames)
{
    const std::optional<QString> model = metadata.cameraModel.knownModel();
    const auto [stem, extension] = splitExtension(originalFilename);
    const QString time = captureTimeComponent(metadata.captureTime);
    // Long names and crafted camera models are cut so that the name stays usable as a file name.
    const QString camera = truncatedComponent(model ? sanitizedFilenameComponent(*model)
                                                    : QStringLiteral("unknown-camera"),
                                              maximumCameraBytes);
    const qsizetype stemBytes = std::max(minimumStemBytes,
                                         maximumBaseBytes - utf8Length(time) - utf8Length(camera)
                                             - utf8Length(shortContentHash) - 3);
    const QString base = QStringList{
        time,
        camera,
        truncatedComponent(sanitizedFilenameComponent(stem), stemBytes),
        shortContentHash,
    }.join(QLatin1Char('_'));
    // A name without extension gets none, rather than a trailing ".".
    const QString suffix = extension.isEmpty() ? QString() : QLatin1Char('.') + extension.toLower();

    QString candidate = base + suffix;
    for (int n = 2; usedFilenames.contains(candidate); ++n)
        candidate = base + QLatin1Char('-') + QString::number(n) + suffix;
    usedFilenames.insert(candidate);
    return candidate;
}

} // namespace Pellwick
