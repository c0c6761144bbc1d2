#include "LibraryFile_p.h"
#include "LibraryRecordDecoder_p.h"

#include <PellwickCore/Support/Json.h>
#include <PellwickCore/Support/Sha256.h>

#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

namespace Pellwick::LibraryFile {

namespace {

constexpr qint64 blockSize = 4 * 1024 * 1024;
constexpr qsizetype batchRecords = 512;

DecodingError notValidJson(const QString &detail)
{
    return Json::dataCorrupted(QString(),
                               QStringLiteral("The given data was not valid JSON. %1").arg(detail));
}

bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

/// Finds the top-level elements of a JSON array in a byte stream that arrives in pieces.
class ArrayScanner
{
public:
    enum class Step {
        Element,  ///< [begin, end) is the next element
        NeedMore, ///< the buffer ends inside a token: call again with more bytes
        Finished, ///< the array is closed and only white space follows so far
        Invalid,
    };

    /// Scans `data` (of `size` bytes) from `position`. With `atEnd`, nothing follows the buffer.
    Step next(const char *data,
              qsizetype size,
              qsizetype &position,
              bool atEnd,
              qsizetype &begin,
              qsizetype &end)
    {
        for (;;) {
            while (position < size && isSpace(data[position]))
                ++position;
            if (position == size) {
                if (!atEnd)
                    return Step::NeedMore;
                return m_state == State::Done ? Step::Finished : Step::Invalid;
            }
            const char c = data[position];
            switch (m_state) {
            case State::ExpectOpen:
                if (c != '[')
                    return Step::Invalid;
                ++position;
                m_state = State::ExpectFirstOrClose;
                continue;
            case State::ExpectFirstOrClose:
                if (c == ']') {
                    ++position;
                    m_state = State::Done;
                    continue;
                }
                m_state = State::ExpectValue;
                continue;
            case State::ExpectValue: {
                const qsizetype valueEnd = endOfValue(data, size, position, atEnd);
                if (valueEnd == incomplete)
                    return atEnd ? Step::Invalid : Step::NeedMore;
                if (valueEnd == invalid)
                    return Step::Invalid;
                begin = position;
                end = valueEnd;
                position = valueEnd;
                m_state = State::ExpectCommaOrClose;
                return Step::Element;
            }
            case State::ExpectCommaOrClose:
                if (c != ',' && c != ']')
                    return Step::Invalid;
                ++position;
                m_state = c == ',' ? State::ExpectValue : State::Done;
                continue;
            case State::Done:
                return Step::Invalid;
            }
        }
    }

private:
    enum class State {
        ExpectOpen,
        ExpectFirstOrClose,
        ExpectValue,
        ExpectCommaOrClose,
        Done
    };
    static constexpr qsizetype incomplete = -1;
    static constexpr qsizetype invalid = -2;

    /// The end of the string whose opening quote is at `quote`, or `incomplete`.
    static qsizetype endOfString(const char *data, qsizetype size, qsizetype quote)
    {
        qsizetype from = quote + 1;
        for (;;) {
            const auto *found = static_cast<const char *>(
                std::memchr(data + from, '"', static_cast<size_t>(size - from)));
            if (!found)
                return incomplete;
            const qsizetype at = found - data;
            qsizetype backslashes = 0;
            while (at - backslashes - 1 > quote && data[at - backslashes - 1] == '\\')
                ++backslashes;
            if (backslashes % 2 == 0)
                return at + 1;
            from = at + 1;
        }
    }

    static qsizetype endOfValue(const char *data, qsizetype size, qsizetype start, bool atEnd)
    {
        const char first = data[start];
        if (first == '"')
            return endOfString(data, size, start);
        if (first != '{' && first != '[') {
            qsizetype i = start;
            while (i < size && !isSpace(data[i]) && data[i] != ',' && data[i] != ']'
                   && data[i] != '}')
                ++i;
            return i == size && !atEnd ? incomplete : i;
        }
        int depth = 0;
        for (qsizetype i = start; i < size; ++i) {
            switch (data[i]) {
            case '"':
                i = endOfString(data, size, i);
                if (i == incomplete)
                    return incomplete;
                --i;
                break;
            case '{':
            case '[':
                ++depth;
                break;
            case '}':
            case ']':
                if (--depth == 0)
                    return i + 1;
                if (depth < 0)
                    return invalid;
                break;
            default:
                break;
            }
        }
        return incomplete;
    }

    State m_state = State::ExpectOpen;
};

Result<LocalLibraryItem> decodeElementStrictly(const char *data, qsizetype size, qsizetype index);

/// `data` must be followed by `LibraryRecordDecoder::padding()` readable bytes.
Result<LocalLibraryItem> decodeElement(const char *data, qsizetype size, qsizetype index)
{
    if (std::optional<LocalLibraryItem> item = LibraryRecordDecoder::decode(data, size))
        return std::move(*item);
    return decodeElementStrictly(data, size, index);
}

Result<LocalLibraryItem> decodeElementStrictly(const char *data, qsizetype size, qsizetype index)
{
    const QString path = Json::elementPath(QString(), index);
    if (data[0] == '{') {
        QJsonParseError parseError{};
        const QJsonDocument document
            = QJsonDocument::fromJson(QByteArray::fromRawData(data, size), &parseError);
        if (parseError.error != QJsonParseError::NoError)
            return failure(notValidJson(parseError.errorString()));
        return LocalLibraryItem::fromJson(document.object(), path);
    }
    Result<QJsonValue> value = Json::parseValue(QByteArray(data, size));
    if (!value)
        return tl::unexpected<Error>(std::move(value).error());
    return LocalLibraryItem::fromJson(*value, path);
}

/// One piece of the file handed to a decoding thread.
struct Batch
{
    qsizetype number = 0;
    qsizetype firstIndex = 0;
    QByteArray bytes;
    QList<std::pair<qsizetype, qsizetype>> spans; // offset and length within `bytes`
};

/// Reads the file block by block and cuts it into batches of whole elements; used by one thread at
/// a time.
class BatchSource
{
public:
    BatchSource(std::unique_ptr<FileHandle> file, QString path)
        : m_file(std::move(file))
        , m_path(std::move(path))
    {}

    /// The next batch; nothing when the array is complete. Fails on a read error or bad syntax.
    Result<std::optional<Batch>> next()
    {
        Batch batch;
        batch.number = m_batches;
        batch.firstIndex = m_elements;
        qsizetype batchStart = -1;
        qsizetype batchEnd = 0;
        while (batch.spans.size() < batchRecords) {
            qsizetype begin = 0;
            qsizetype end = 0;
            const ArrayScanner::Step step = m_scanner.next(
                m_buffer.constData(), m_buffer.size(), m_position, m_atEnd, begin, end);
            if (step == ArrayScanner::Step::Element) {
                if (batchStart < 0)
                    batchStart = begin;
                batch.spans.append({begin - batchStart, end - begin});
                batchEnd = end;
                continue;
            }
            if (step == ArrayScanner::Step::Invalid)
                return failure(
                    notValidJson(QStringLiteral("at offset %1").arg(m_consumed + m_position)));
            if (step == ArrayScanner::Step::Finished)
                break;
            if (!batch.spans.isEmpty())
                break; // hand over what is whole before reading on
            PELLWICK_TRY(readBlock());
        }
        if (batch.spans.isEmpty())
            return std::optional<Batch>();
        batch.bytes.reserve(batchEnd - batchStart + LibraryRecordDecoder::padding());
        batch.bytes.append(m_buffer.constData() + batchStart, batchEnd - batchStart);
        std::memset(batch.bytes.data() + batch.bytes.size(),
                    0,
                    static_cast<size_t>(LibraryRecordDecoder::padding()));
        m_elements += batch.spans.size();
        ++m_batches;
        return std::optional<Batch>(std::move(batch));
    }

    LibraryJournal::SnapshotName name() { return {m_consumed + m_buffer.size(), m_hash.result()}; }

private:
    Result<void> readBlock()
    {
        // Drop what is consumed, keep the unfinished token.
        m_buffer.remove(0, m_position);
        m_consumed += m_position;
        m_position = 0;
        const qsizetype kept = m_buffer.size();
        m_buffer.resize(kept + blockSize);
        qint64 filled = 0;
        while (filled < blockSize) {
            Result<qint64> n = m_file->read(m_buffer.data() + kept + filled, blockSize - filled);
            if (!n)
                return tl::unexpected<Error>(std::move(n).error());
            if (*n == 0) {
                m_atEnd = true;
                break;
            }
            filled += *n;
        }
        m_buffer.resize(kept + filled);
        m_hash.addData(m_buffer.constData() + kept, filled);
        return {};
    }

    std::unique_ptr<FileHandle> m_file;
    QString m_path;
    QByteArray m_buffer;
    qsizetype m_position = 0;
    qint64 m_consumed = 0;
    bool m_atEnd = false;
    ArrayScanner m_scanner;
    Sha256 m_hash;
    qsizetype m_elements = 0;
    qsizetype m_batches = 0;
};

/// Runs `work` on `count` threads, the calling one included, and returns when all have returned.
void runOnThreads(int count, const std::function<void()> &work)
{
    std::vector<std::thread> threads;
    for (int i = 1; i < count; ++i)
        threads.emplace_back(work);
    work();
    for (std::thread &thread : threads)
        thread.join();
}

/// One thread per 4 MiB of file, up to the machine's cores (at most 8).
int decodingThreads(qint64 fileSize)
{
    const int wanted = static_cast<int>(std::min<qint64>(8, 1 + fileSize / (4 * 1024 * 1024)));
    return std::clamp(
        wanted, 1, std::max(1, static_cast<int>(std::thread::hardware_concurrency())));
}

/// The record as the pretty-printed element of the file's array, indented one level, without
/// the separating comma.
Result<QByteArray> encodeElement(const LocalLibraryItem &item)
{
    Result<QByteArray> json = Json::serialize(item.toJson(), Json::Format::Pretty);
    if (!json)
        return json;
    QByteArray element;
    element.reserve(json->size() + json->size() / 8);
    element.append("    ");
    const qsizetype length = json->endsWith('\n') ? json->size() - 1 : json->size();
    for (qsizetype i = 0; i < length; ++i) {
        element.append(json->at(i));
        if (json->at(i) == '\n')
            element.append("    ");
    }
    return element;
}

} // namespace

Result<Loaded> read(const FileManager &fileManager, const QString &path)
{
    Result<FileAttributes> attributes = fileManager.attributesOfItem(path);
    if (!attributes)
        return tl::unexpected<Error>(std::move(attributes).error());
    Result<std::unique_ptr<FileHandle>> file = fileManager.openForReading(path);
    if (!file)
        return tl::unexpected<Error>(std::move(file).error());
    BatchSource source(std::move(*file), path);
    bool syntaxError = false;

    std::mutex mutex;
    std::optional<Error> firstError;
    qsizetype errorIndex = std::numeric_limits<qsizetype>::max();
    std::vector<QList<LocalLibraryItem>> decoded;
    bool finished = false;

    runOnThreads(decodingThreads(attributes->size), [&] {
        for (;;) {
            std::optional<Batch> batch;
            {
                const std::lock_guard lock(mutex);
                if (finished || firstError)
                    return;
                Result<std::optional<Batch>> next = source.next();
                if (!next) {
                    // A syntax error stops the file; a decoding error already found before it
                    // in the file still wins below.
                    firstError = std::move(next).error();
                    syntaxError = errorIndex == std::numeric_limits<qsizetype>::max();
                    return;
                }
                if (!*next) {
                    finished = true;
                    return;
                }
                batch = std::move(**next);
                if (static_cast<size_t>(batch->number) >= decoded.size())
                    decoded.resize(static_cast<size_t>(batch->number) + 1);
            }
            QList<LocalLibraryItem> items;
            items.reserve(batch->spans.size());
            for (qsizetype i = 0; i < batch->spans.size(); ++i) {
                const auto &[offset, length] = batch->spans[i];
                Result<LocalLibraryItem> item = decodeElement(
                    batch->bytes.constData() + offset, length, batch->firstIndex + i);
                if (!item) {
                    const std::lock_guard lock(mutex);
                    if (batch->firstIndex + i < errorIndex) {
                        errorIndex = batch->firstIndex + i;
                        firstError = std::move(item).error();
                    }
                    return;
                }
                items.append(std::move(*item));
            }
            const std::lock_guard lock(mutex);
            decoded[static_cast<size_t>(batch->number)] = std::move(items);
        }
    });

    if (syntaxError && errorIndex == std::numeric_limits<qsizetype>::max()) {
        // Not an array of whole elements: the whole-document reader says what is wrong, as it
        // would have had it read the file.
        Result<QByteArray> bytes = readFileContents(fileManager, path);
        if (!bytes)
            return tl::unexpected<Error>(std::move(bytes).error());
        Result<QList<LocalLibraryItem>> document = decodeDocument(*bytes);
        if (!document)
            return tl::unexpected<Error>(std::move(document).error());
    }
    if (firstError)
        return tl::unexpected<Error>(std::move(*firstError));
    Loaded loaded;
    loaded.batches = std::move(decoded);
    loaded.name = source.name();
    return loaded;
}

Result<QList<LocalLibraryItem>> decodeDocument(const QByteArray &bytes)
{
    Result<QJsonValue> value = Json::parseValue(bytes);
    if (!value)
        return tl::unexpected<Error>(std::move(value).error());
    Result<QJsonArray> array = Json::readArray(*value, QString());
    if (!array)
        return tl::unexpected<Error>(std::move(array).error());
    return Json::readElements<LocalLibraryItem>(*array, QString(), &LocalLibraryItem::fromJson);
}

Result<LibraryJournal::SnapshotName>
write(const FileManager &fileManager, const QString &path, const LocalLibraryCacheRecords &records)
{
    if (!fileManager.createFile(path))
        return fileSystemFailure(QStringLiteral("create"), path, errno ? errno : EIO);
    Result<std::unique_ptr<FileHandle>> file = fileManager.openForWriting(path);
    if (!file)
        return tl::unexpected<Error>(std::move(file).error());
    Sha256 hash;
    qint64 length = 0;
    QByteArray buffer;
    buffer.reserve(blockSize + 64 * 1024);
    const auto flush = [&]() -> Result<void> {
        PELLWICK_TRY((*file)->write(buffer.constData(), buffer.size()));
        hash.addData(buffer);
        length += buffer.size();
        buffer.clear();
        return {};
    };

    buffer.append("[\n");
    for (qsizetype p = 0; p < records.size(); ++p) {
        Result<QByteArray> element = encodeElement(records.at(p));
        if (!element)
            return tl::unexpected<Error>(std::move(element).error());
        if (p > 0)
            buffer.append(",\n");
        buffer.append(*element);
        if (buffer.size() >= blockSize)
            PELLWICK_TRY(flush());
    }
    buffer.append(records.isEmpty() ? "]\n" : "\n]\n");
    PELLWICK_TRY(flush());
    PELLWICK_TRY((*file)->synchronize());
    (*file)->close();
    return LibraryJournal::SnapshotName{length, hash.result()};
}

} // namespace Pellwick::LibraryFile
