#include "LibraryRecordDecoder_p.h"

#include <QDir>
#include <QSet>

// The parser library reports failures as codes, never by throwing.
#define SIMDJSON_EXCEPTIONS 0 // NOLINT(readability-identifier-naming): the library's switch
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <simdjson.h>

namespace Pellwick::LibraryRecordDecoder {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;
using simdjson::dom::object;

/// Collects the fields named in `keys` of `source`; false when one of them occurs twice or the
/// value is not an object.
template<size_t N>
bool collect(element source,
             const std::array<std::string_view, N> &keys,
             std::array<std::optional<element>, N> &fields)
{
    object fieldsObject;
    if (source.get_object().get(fieldsObject) != simdjson::SUCCESS)
        return false;
    // Keys come in the order of `keys` when written by this store: each search starts after the
    // key found last.
    size_t expected = 0;
    for (const auto field : fieldsObject) {
        for (size_t n = 0; n < N; ++n) {
            const size_t i = expected + n < N ? expected + n : expected + n - N;
            if (field.key == keys[i]) {
                if (fields[i])
                    return false;
                fields[i] = field.value;
                expected = i + 1;
                break;
            }
        }
    }
    return true;
}

bool text(const std::optional<element> &value, QString &out)
{
    std::string_view view;
    if (!value || value->get_string().get(view) != simdjson::SUCCESS)
        return false;
    out = QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
    return true;
}

/// What `fromRaw` makes of a short ASCII word; nothing for another value. The words a thread has
/// read are remembered with their values, so a word read again is looked up without converting.
template<typename Value>
std::optional<Value> word(const std::optional<element> &value,
                          std::optional<Value> (*fromRaw)(const QString &))
{
    thread_local std::vector<std::pair<std::string, Value>> known;
    std::string_view view;
    std::array<QChar, 32> units;
    if (!value || value->get_string().get(view) != simdjson::SUCCESS || view.size() > units.size())
        return std::nullopt;
    for (const auto &[bytes, result] : known) {
        if (view == bytes)
            return result;
    }
    for (size_t i = 0; i < view.size(); ++i) {
        if (static_cast<unsigned char>(view[i]) >= 0x80)
            return std::nullopt;
        units[i] = QLatin1Char(view[i]);
    }
    const std::optional<Value> result
        = fromRaw(QString::fromRawData(units.data(), static_cast<qsizetype>(view.size())));
    if (result && known.size() < 32)
        known.emplace_back(view, *result);
    return result;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

const QString *optionalPointer(const std::optional<QString> &text)
{
    return text ? &*text : nullptr;
}

/// A record's id: the canonical 36-character text of a UUID, in either case.
bool uuid(const std::optional<element> &value, QUuid &out)
{
    std::string_view view;
    if (!value || value->get_string().get(view) != simdjson::SUCCESS || view.size() != 36)
        return false;
    for (size_t i = 0; i < view.size(); ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? view[i] != '-' : hexDigit(view[i]) < 0)
            return false;
    }
    out = QUuid::fromString(QLatin1StringView(view.data(), static_cast<qsizetype>(view.size())));
    return true;
}

bool optionalText(const std::optional<element> &value, std::optional<QString> &out)
{
    if (!value || value->is_null()) {
        out.reset();
        return true;
    }
    QString result;
    if (!text(value, result))
        return false;
    out = std::move(result);
    return true;
}

bool optionalInteger(const std::optional<element> &value, std::optional<qint64> &out)
{
    if (!value || value->is_null()) {
        out.reset();
        return true;
    }
    if (value->type() != element_type::INT64)
        return false;
    int64_t number = 0;
    if (value->get_int64().get(number) != simdjson::SUCCESS)
        return false;
    out = number;
    return true;
}

bool number(const std::optional<element> &value, double &out)
{
    if (!value)
        return false;
    if (value->type() == element_type::INT64) {
        int64_t integer = 0;
        if (value->get_int64().get(integer) != simdjson::SUCCESS)
            return false;
        out = static_cast<double>(integer);
        return true;
    }
    // A fraction that reads as zero may be one too small for a double ("1e-400"), which the
    // reference reader refuses: it decides.
    return value->type() == element_type::DOUBLE
           && value->get_double().get(out) == simdjson::SUCCESS && out != 0;
}

/// The bytes a file URL's path may hold as they are.
constexpr std::array<bool, 256> pathBytes = [] {
    std::array<bool, 256> table{};
    for (char c = 'a'; c <= 'z'; ++c)
        table[static_cast<unsigned char>(c)] = true;
    for (char c = 'A'; c <= 'Z'; ++c)
        table[static_cast<unsigned char>(c)] = true;
    for (char c = '0'; c <= '9'; ++c)
        table[static_cast<unsigned char>(c)] = true;
    for (const char c : std::string_view("-._~!$&'()*+,;=:@/"))
        table[static_cast<unsigned char>(c)] = true;
    return table;
}();

/// True for "/" and for an absolute path without an empty, "." or ".." component.
bool isCleanAbsolutePath(std::string_view path)
{
    if (path == "/")
        return true;
    for (size_t start = 1;;) {
        const size_t slash = path.find('/', start);
        const std::string_view component
            = path.substr(start, slash == std::string_view::npos ? slash : slash - start);
        if (component.empty() || component == "." || component == "..")
            return false;
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
}

/// A "file:///" URL whose decoded path is absolute, clean and valid UTF-8 without NUL.
bool fileURL(const std::optional<element> &value, QString &out)
{
    std::string_view view;
    if (!value || value->get_string().get(view) != simdjson::SUCCESS)
        return false;
    if (!view.starts_with("file:///"))
        return false;
    const std::string_view encoded = view.substr(std::string_view("file://").size());
    const auto plainRun = [&](size_t from) {
        while (from < encoded.size() && pathBytes[static_cast<unsigned char>(encoded[from])])
            ++from;
        return from;
    };
    size_t i = plainRun(0);
    if (i == encoded.size()) {
        // Nothing escaped: the path is the URL's ASCII as it stands.
        if (!isCleanAbsolutePath(encoded))
            return false;
        out = QString::fromLatin1(encoded.data(), static_cast<qsizetype>(encoded.size()));
        return true;
    }
    // Decoded into a buffer each thread keeps.
    thread_local std::string path;
    path.assign(encoded.substr(0, i));
    bool ascii = true;
    while (i < encoded.size()) {
        if (encoded[i] != '%' || i + 2 >= encoded.size())
            return false;
        const int high = hexDigit(encoded[i + 1]);
        const int low = hexDigit(encoded[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0))
            return false;
        path.push_back(static_cast<char>(high * 16 + low));
        ascii = ascii && high < 8;
        const size_t run = i + 3;
        i = plainRun(run);
        path.append(encoded.substr(run, i - run));
    }
    if (!isCleanAbsolutePath(path))
        return false;
    if (ascii) {
        out = QString::fromLatin1(path.data(), static_cast<qsizetype>(path.size()));
        return true;
    }
    out = QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
    // The reference reader's URL decoding turns noncharacters into replacement characters.
    for (qsizetype k = 0; k < out.size(); ++k) {
        const QChar c = out.at(k);
        char32_t code = c.unicode();
        if (c.isHighSurrogate() && k + 1 < out.size() && out.at(k + 1).isLowSurrogate())
            code = QChar::surrogateToUcs4(c, out.at(++k));
        if (code == QChar::ReplacementCharacter || QChar::isNonCharacter(code))
            return false;
    }
    return true;
}

bool optionalFileURL(const std::optional<element> &value, std::optional<QString> &out)
{
    if (!value || value->is_null()) {
        out.reset();
        return true;
    }
    QString path;
    if (!fileURL(value, path))
        return false;
    out = std::move(path);
    return true;
}

/// A {"<case>": {...}} value of which exactly one of `cases` is present; its index and payload.
template<size_t N>
bool caseOf(const std::optional<element> &value,
            const std::array<std::string_view, N> &cases,
            size_t &index,
            element &payload)
{
    if (!value)
        return false;
    std::array<std::optional<element>, N> found;
    if (!collect(*value, cases, found))
        return false;
    int count = 0;
    for (size_t i = 0; i < N; ++i) {
        if (found[i]) {
            ++count;
            index = i;
        }
    }
    if (count != 1 || found[index]->type() != element_type::OBJECT)
        return false;
    payload = *found[index];
    return true;
}

/// A known-or-unknown wrapper: false on a malformed one; `known` is the payload, if any.
bool wrapper(const std::optional<element> &value, std::optional<element> &known)
{
    size_t index = 0;
    element payload;
    if (!caseOf<2>(value, {"known", "unknown"}, index, payload))
        return false;
    if (index == 1) {
        known.reset();
        return true;
    }
    std::array<std::optional<element>, 1> fields;
    if (!collect<1>(payload, {"_0"}, fields) || !fields[0] || fields[0]->is_null())
        return false;
    known = fields[0];
    return true;
}

/// Lets the many records naming one card, camera or reason share one text. Neighbouring records
/// mostly name the same one, so each kind of text first meets the JSON text it read last.
enum class Interned {
    SourceName,
    AttentionReason,
    CameraModel,
    SourceRoot,
    VolumeID,
    Count
};

/// The text of `value` as `read` makes it (`text` or `fileURL`), shared with an equal one met
/// before.
bool interned(const std::optional<element> &value,
              QString &out,
              Interned kind,
              bool (*read)(const std::optional<element> &, QString &))
{
    struct Recent
    {
        bool known = false;
        std::string bytes;
        QString text;
    };

    thread_local std::array<Recent, static_cast<size_t>(Interned::Count)> recent;
    thread_local QSet<QString> pool;
    std::string_view view;
    if (!value || value->get_string().get(view) != simdjson::SUCCESS)
        return false;
    Recent &last = recent[static_cast<size_t>(kind)];
    if (last.known && view == last.bytes) {
        out = last.text;
        return true;
    }
    if (!read(value, out))
        return false;
    if (const auto found = pool.constFind(out); found != pool.constEnd())
        out = *found;
    else if (pool.size() < 4096)
        pool.insert(out);
    last = {true, std::string(view), out};
    return true;
}

bool optionalInterned(const std::optional<element> &value,
                      std::optional<QString> &out,
                      Interned kind)
{
    if (!value || value->is_null()) {
        out.reset();
        return true;
    }
    QString result;
    if (!interned(value, result, kind, &text))
        return false;
    out = std::move(result);
    return true;
}

/// A text of the record read before, for an equal one read later to share.
struct ReadText
{
    const std::optional<element> &value;
    const QString *text = nullptr;
};

/// The text of `value`, sharing `same`'s storage when its JSON text is the same.
bool sharedText(const std::optional<element> &value, QString &out, const ReadText &same)
{
    std::string_view view;
    std::string_view sameView;
    if (same.text && value && same.value && value->get_string().get(view) == simdjson::SUCCESS
        && same.value->get_string().get(sameView) == simdjson::SUCCESS && view == sameView) {
        out = *same.text;
        return true;
    }
    return text(value, out);
}

bool optionalSharedText(const std::optional<element> &value,
                        std::optional<QString> &out,
                        const ReadText &same)
{
    if (!value || value->is_null()) {
        out.reset();
        return true;
    }
    QString result;
    if (!sharedText(value, result, same))
        return false;
    out = std::move(result);
    return true;
}

bool metadata(const std::optional<element> &value, PhotoMetadata &out)
{
    std::array<std::optional<element>, 3> fields;
    if (!value || !collect<3>(*value, {"cameraModel", "captureLocation", "captureTime"}, fields))
        return false;
    std::optional<element> known;
    if (!wrapper(fields[2], known))
        return false;
    if (known) {
        double seconds = 0;
        if (!number(known, seconds))
            return false;
        out.captureTime = CaptureTimeMetadata::known(Date{seconds});
    }
    if (!wrapper(fields[1], known))
        return false;
    if (known) {
        std::array<std::optional<element>, 2> coordinates;
        CaptureLocation location;
        if (!collect<2>(*known, {"latitude", "longitude"}, coordinates)
            || !number(coordinates[0], location.latitude)
            || !number(coordinates[1], location.longitude)) {
            return false;
        }
        out.captureLocation = CaptureLocationMetadata::known(location);
    }
    if (!wrapper(fields[0], known))
        return false;
    if (known) {
        QString model;
        if (!interned(known, model, Interned::CameraModel, &text))
            return false;
        out.cameraModel = CameraModelMetadata::known(std::move(model));
    }
    return true;
}

/// The evidence of a record; its texts equal to the record's content hash, source path or sidecar
/// hash share their storage.
bool evidence(const std::optional<element> &value,
              SharedOptional<SourceMediaEvidence> &out,
              const ReadText &contentHash,
              const ReadText &sourceRelativePath,
              const ReadText &sidecarContentHash)
{
    if (!value || value->is_null()) {
        out.reset();
        return true;
    }
    std::array<std::optional<element>, 7> fields;
    if (!collect<7>(*value,
                    {"rawContentHash",
                     "rawRelativePath",
                     "safety",
                     "sidecarContentHash",
                     "sidecarRelativePath",
                     "sourceIdentity",
                     "sourceRootURL"},
                    fields)) {
        return false;
    }
    SourceMediaEvidence result;
    if (!interned(fields[6], result.sourceRootURL, Interned::SourceRoot, &fileURL)
        || !sharedText(fields[1], result.rawRelativePath, sourceRelativePath)
        || !sharedText(fields[0], result.rawContentHash, contentHash)
        || !optionalText(fields[4], result.sidecarRelativePath)
        || !optionalSharedText(fields[3], result.sidecarContentHash, sidecarContentHash)) {
        return false;
    }
    const std::optional<SourceMediaSafety> safety = word(fields[2], &sourceMediaSafetyFromRaw);
    if (!safety)
        return false;
    result.safety = *safety;

    size_t index = 0;
    element payload;
    if (!caseOf<2>(fields[5], {"volume", "folder"}, index, payload))
        return false;
    if (index == 0) {
        std::array<std::optional<element>, 1> uuid;
        QString text;
        if (!collect<1>(payload, {"uuid"}, uuid)
            || !interned(uuid[0], text, Interned::VolumeID, &LibraryRecordDecoder::text))
            return false;
        result.sourceIdentity = ImportSourceIdentity::volume(std::move(text));
    } else {
        std::array<std::optional<element>, 2> folder;
        QString canonicalPath;
        QString manifestHash;
        if (!collect<2>(payload, {"canonicalPath", "manifestHash"}, folder)
            || !text(folder[0], canonicalPath) || !text(folder[1], manifestHash)) {
            return false;
        }
        result.sourceIdentity
            = ImportSourceIdentity::folder(std::move(canonicalPath), std::move(manifestHash));
    }
    out = std::move(result);
    return true;
}

bool preview(const std::optional<element> &value, LocalPreviewState &out)
{
    size_t index = 0;
    element payload;
    if (!caseOf<2>(value, {"available", "failed"}, index, payload))
        return false;
    std::array<std::optional<element>, 1> field;
    QString text;
    if (!collect<1>(payload, {index == 0 ? "relativePath" : "reason"}, field)
        || !LibraryRecordDecoder::text(field[0], text)) {
        return false;
    }
    out = index == 0 ? LocalPreviewState::available(std::move(text))
                     : LocalPreviewState::failed(std::move(text));
    return true;
}

/// The keys of a record, in the order this store writes them.
enum Key : size_t {
    ArchiveByteCount,
    ArchiveSidecarByteCount,
    ArchiveSidecarContentHash,
    ArchiveSidecarFilename,
    BackendLibraryItemID,
    CacheRelativePath,
    CanonicalFilename,
    ContentHash,
    Id,
    ImportDate,
    ImportStatus,
    IngestCacheOriginalURL,
    IngestCacheSidecarContentHash,
    IngestCacheSidecarURL,
    IngestSourceName,
    Metadata,
    OriginalFilename,
    Preview,
    RestoreAttentionReason,
    RestoreStatus,
    SourceMediaEvidenceKey,
    SourceRelativePath,
    KeyCount,
};

const std::array<std::string_view, KeyCount> keys = {"archiveByteCount",
                                                     "archiveSidecarByteCount",
                                                     "archiveSidecarContentHash",
                                                     "archiveSidecarFilename",
                                                     "backendLibraryItemID",
                                                     "cacheRelativePath",
                                                     "canonicalFilename",
                                                     "contentHash",
                                                     "id",
                                                     "importDate",
                                                     "importStatus",
                                                     "ingestCacheOriginalURL",
                                                     "ingestCacheSidecarContentHash",
                                                     "ingestCacheSidecarURL",
                                                     "ingestSourceName",
                                                     "metadata",
                                                     "originalFilename",
                                                     "preview",
                                                     "restoreAttentionReason",
                                                     "restoreStatus",
                                                     "sourceMediaEvidence",
                                                     "sourceRelativePath"};

} // namespace

qsizetype padding()
{
    return static_cast<qsizetype>(simdjson::SIMDJSON_PADDING);
}

bool decode(const char *data, qsizetype size, LocalLibraryItem &item, bool backslashes)
{
    // Escaped code points are left to the reference reader, which decides how lone surrogates
    // read.
    if (backslashes
        && std::string_view(data, static_cast<size_t>(size)).find("\\u") != std::string_view::npos)
        return false;
    thread_local simdjson::dom::parser parser;
    // Nesting as deep as the reference reader takes inside the file's array, and no deeper.
    constexpr size_t maximumDepth = 1022;
    if (parser.max_depth() != maximumDepth
        && parser.allocate(std::max<size_t>(parser.capacity(), static_cast<size_t>(size)),
                           maximumDepth)
               != simdjson::SUCCESS)
        return false;
    element root;
    if (parser.parse(data, static_cast<size_t>(size), false).get(root) != simdjson::SUCCESS)
        return false;
    std::array<std::optional<element>, KeyCount> fields;
    if (!collect(root, keys, fields))
        return false;

    if (!uuid(fields[Id], item.id))
        return false;
    const std::optional<LibraryItemImportStatus> importStatus
        = word(fields[ImportStatus], &libraryItemImportStatusFromRaw);
    if (!importStatus)
        return false;
    item.importStatus = *importStatus;
    if (!text(fields[OriginalFilename], item.originalFilename)
        || !text(fields[CanonicalFilename], item.canonicalFilename)
        || !text(fields[ContentHash], item.contentHash)
        || !number(fields[ImportDate], item.importDate.secondsSinceReferenceDate)
        || !optionalInteger(fields[ArchiveByteCount], item.archiveByteCount)
        || !optionalText(fields[ArchiveSidecarFilename], item.archiveSidecarFilename)
        || !optionalInteger(fields[ArchiveSidecarByteCount], item.archiveSidecarByteCount)
        || !optionalText(fields[ArchiveSidecarContentHash], item.archiveSidecarContentHash)
        || !optionalInteger(fields[BackendLibraryItemID], item.backendLibraryItemID)
        || !optionalInterned(
            fields[RestoreAttentionReason], item.restoreAttentionReason, Interned::AttentionReason)
        || !optionalFileURL(fields[IngestCacheOriginalURL], item.ingestCacheOriginalURL)
        || !optionalFileURL(fields[IngestCacheSidecarURL], item.ingestCacheSidecarURL)
        || !optionalSharedText(
            fields[IngestCacheSidecarContentHash],
            item.ingestCacheSidecarContentHash,
            {fields[ArchiveSidecarContentHash], optionalPointer(item.archiveSidecarContentHash)})
        || !optionalInterned(fields[IngestSourceName], item.ingestSourceName, Interned::SourceName)
        || !optionalText(fields[SourceRelativePath], item.sourceRelativePath)
        || !optionalText(fields[CacheRelativePath], item.cacheRelativePath)
        || !evidence(fields[SourceMediaEvidenceKey],
                     item.sourceMediaEvidence,
                     {fields[ContentHash], &item.contentHash},
                     {fields[SourceRelativePath], optionalPointer(item.sourceRelativePath)},
                     {fields[IngestCacheSidecarContentHash],
                      optionalPointer(item.ingestCacheSidecarContentHash)})
        || !metadata(fields[Metadata], item.metadata) || !preview(fields[Preview], item.preview)) {
        return false;
    }
    if (fields[RestoreStatus] && !fields[RestoreStatus]->is_null()) {
        item.restoreStatus = word(fields[RestoreStatus], &restoreRequestStatusFromRaw);
        if (!item.restoreStatus)
            return false;
    }
    return true;
}

} // namespace Pellwick::LibraryRecordDecoder
