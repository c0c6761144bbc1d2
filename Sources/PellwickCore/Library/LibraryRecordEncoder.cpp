#include "LibraryRecordEncoder_p.h"

#include <PellwickCore/Restore/RestoreRequest.h>
#include <PellwickCore/Support/Json.h>
#include <PellwickCore/Support/UuidText.h>

#include <QLocale>

#include <cmath>

namespace Pellwick::LibraryRecordEncoder {

namespace {

char hexDigit(uint value)
{
    return static_cast<char>(value < 10 ? '0' + value : 'a' + value - 10);
}

void appendEscape(QByteArray &out, char16_t unit)
{
    out += "\\u";
    for (const int shift : {12, 8, 4, 0})
        out += hexDigit((unit >> shift) & 0xF);
}

/// The members of one object, written in the order they are given, which must be the sorted
/// order of their keys.
class ObjectWriter
{
public:
    ObjectWriter(QByteArray &out, bool &finite)
        : m_out(out)
        , m_finite(finite)
    {
        m_out += '{';
    }

    ObjectWriter(const ObjectWriter &) = delete;
    ObjectWriter &operator=(const ObjectWriter &) = delete;

    ~ObjectWriter() { m_out += '}'; }

    /// Starts a member; its value is written next.
    QByteArray &key(const char *name)
    {
        if (!m_empty)
            m_out += ',';
        m_empty = false;
        m_out += '"';
        m_out += name;
        m_out += "\":";
        return m_out;
    }

    void text(const char *name, const QString &value) { appendString(key(name), value); }

    void text(const char *name, const std::optional<QString> &value)
    {
        if (value)
            text(name, *value);
    }

    void integer(const char *name, qint64 value) { key(name) += QByteArray::number(value); }

    void integer(const char *name, const std::optional<qint64> &value)
    {
        if (value)
            integer(name, *value);
    }

    void number(const char *name, double value)
    {
        if (!std::isfinite(value))
            m_finite = false;
        QByteArray &out = key(name);
        // Whole numbers up to 2^53 are written with all their digits, others in the shortest
        // form that reads back exactly.
        constexpr double largestExactWhole = 9007199254740992.0;
        const double magnitude = std::abs(value);
        if (magnitude <= largestExactWhole && magnitude == std::floor(magnitude)) {
            if (value < 0)
                out += '-';
            out += QByteArray::number(static_cast<quint64>(magnitude));
        } else {
            out += QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
        }
    }

    void fileURL(const char *name, const std::optional<QString> &path)
    {
        if (path)
            text(name, Json::fileURLText(*path));
    }

    /// A nested object: `write(ObjectWriter &)` writes its members.
    template<typename F>
    void object(const char *name, F &&write)
    {
        key(name);
        ObjectWriter nested(m_out, m_finite);
        write(nested);
    }

    /// The known-or-unknown wrapper of a metadata value: `write(ObjectWriter &)` writes the
    /// payload's member "_0" when the value is known.
    template<typename T, typename F>
    void wrapped(const char *name, const std::optional<T> &value, F &&write)
    {
        object(name, [&](ObjectWriter &wrapper) {
            if (value)
                wrapper.object("known", [&](ObjectWriter &known) { write(known, *value); });
            else
                wrapper.object("unknown", [](ObjectWriter &) {});
        });
    }

private:
    QByteArray &m_out;
    bool &m_finite;
    bool m_empty = true;
};

void writeMetadata(ObjectWriter &json, const PhotoMetadata &metadata)
{
    json.wrapped("cameraModel",
                 metadata.cameraModel.knownModel(),
                 [](ObjectWriter &known, const QString &model) { known.text("_0", model); });
    json.wrapped("captureLocation",
                 metadata.captureLocation.knownLocation(),
                 [](ObjectWriter &known, const CaptureLocation &location) {
                     known.object("_0", [&](ObjectWriter &coordinates) {
                         coordinates.number("latitude", location.latitude);
                         coordinates.number("longitude", location.longitude);
                     });
                 });
    json.wrapped(
        "captureTime", metadata.captureTime.knownDate(), [](ObjectWriter &known, const Date &date) {
            known.number("_0", date.secondsSinceReferenceDate);
        });
}

void writeEvidence(ObjectWriter &json, const SourceMediaEvidence &evidence)
{
    json.text("rawContentHash", evidence.rawContentHash);
    json.text("rawRelativePath", evidence.rawRelativePath);
    json.text("safety", toRaw(evidence.safety));
    json.text("sidecarContentHash", evidence.sidecarContentHash);
    json.text("sidecarRelativePath", evidence.sidecarRelativePath);
    json.object("sourceIdentity", [&](ObjectWriter &identity) {
        if (const auto *volume
            = std::get_if<ImportSourceIdentity::Volume>(&evidence.sourceIdentity.value)) {
            identity.object("volume", [&](ObjectWriter &v) { v.text("uuid", volume->uuid); });
        } else if (const auto *folder
                   = std::get_if<ImportSourceIdentity::Folder>(&evidence.sourceIdentity.value)) {
            identity.object("folder", [&](ObjectWriter &f) {
                f.text("canonicalPath", folder->canonicalPath);
                f.text("manifestHash", folder->manifestHash);
            });
        }
    });
    json.text("sourceRootURL", Json::fileURLText(evidence.sourceRootURL));
}

void writePreview(ObjectWriter &json, const LocalPreviewState &preview)
{
    if (const auto *available = std::get_if<LocalPreviewState::Available>(&preview.value)) {
        json.object("available",
                    [&](ObjectWriter &a) { a.text("relativePath", available->relativePath); });
    } else if (const auto *failed = std::get_if<LocalPreviewState::Failed>(&preview.value)) {
        json.object("failed", [&](ObjectWriter &f) { f.text("reason", failed->reason); });
    }
}

} // namespace

void appendString(QByteArray &out, const QString &text)
{
    out += '"';
    const auto *unit = reinterpret_cast<const char16_t *>(text.constData());
    const char16_t *const end = unit + text.size();
    while (unit != end) {
        const char16_t u = *unit++;
        if (u < 0x80) {
            if (u >= 0x20 && u != '"' && u != '\\') {
                out += static_cast<char>(u);
                continue;
            }
            out += '\\';
            switch (u) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '\b':
                out += 'b';
                break;
            case '\f':
                out += 'f';
                break;
            case '\n':
                out += 'n';
                break;
            case '\r':
                out += 'r';
                break;
            case '\t':
                out += 't';
                break;
            default:
                out.chop(1);
                appendEscape(out, u);
            }
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else if (QChar::isHighSurrogate(u) && unit != end && QChar::isLowSurrogate(*unit)) {
            const char32_t c = QChar::surrogateToUcs4(u, *unit++);
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (QChar::isSurrogate(u)) {
            appendEscape(out, u); // a lone surrogate has no UTF-8 form
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    out += '"';
}

bool appendCompact(QByteArray &out, const LocalLibraryItem &item)
{
    bool finite = true;
    {
        ObjectWriter json(out, finite);
        json.integer("archiveByteCount", item.archiveByteCount);
        json.integer("archiveSidecarByteCount", item.archiveSidecarByteCount);
        json.text("archiveSidecarContentHash", item.archiveSidecarContentHash);
        json.text("archiveSidecarFilename", item.archiveSidecarFilename);
        json.integer("backendLibraryItemID", item.backendLibraryItemID);
        json.text("cacheRelativePath", item.cacheRelativePath);
        json.text("canonicalFilename", item.canonicalFilename);
        json.text("contentHash", item.contentHash);
        json.text("id", uuidText(item.id));
        json.number("importDate", item.importDate.secondsSinceReferenceDate);
        json.text("importStatus", toRaw(item.importStatus));
        json.fileURL("ingestCacheOriginalURL", item.ingestCacheOriginalURL);
        json.text("ingestCacheSidecarContentHash", item.ingestCacheSidecarContentHash);
        json.fileURL("ingestCacheSidecarURL", item.ingestCacheSidecarURL);
        json.text("ingestSourceName", item.ingestSourceName);
        json.object("metadata",
                    [&](ObjectWriter &metadata) { writeMetadata(metadata, item.metadata); });
        json.text("originalFilename", item.originalFilename);
        json.object("preview", [&](ObjectWriter &preview) { writePreview(preview, item.preview); });
        json.text("restoreAttentionReason", item.restoreAttentionReason);
        if (item.restoreStatus)
            json.text("restoreStatus", toRaw(*item.restoreStatus));
        if (item.sourceMediaEvidence) {
            json.object("sourceMediaEvidence", [&](ObjectWriter &evidence) {
                writeEvidence(evidence, *item.sourceMediaEvidence);
            });
        }
        json.text("sourceRelativePath", item.sourceRelativePath);
    }
    return finite;
}

} // namespace Pellwick::LibraryRecordEncoder
