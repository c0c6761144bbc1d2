#include "LibraryFile_p.h"
#include "LibraryRecordDecoder_p.h"

#include <PellwickCore/Support/Executor.h>
#include <PellwickCore/Support/Json.h>
#include <PellwickCore/Support/Sha256.h>

#include <QJsonArray>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <limits>
#include <mutex>
#include <string_view>
#include <vector>

#include <malloc.h>
#include <sched.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace Pellwick::LibraryFile {

namespace {

constexpr qint64 blockSize = qint64{4} * 1024 * 1024;
constexpr qsizetype batchRecords = 512;
/// The largest file whose syntax error the whole-document reader words, as it holds it all.
constexpr qint64 wholeDocumentBytes = qint64{256} * 1024 * 1024;

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

/// Decodes into `item`, a default-constructed record; `backslashes` false when the caller knows
/// that `data` holds none. `data` must be followed by `LibraryRecordDecoder::padding()` readable
/// bytes.
Result<void> decodeElement(const char *data,
                           qsizetype size,
                           qsizetype index,
                           LocalLibraryItem &item,
                           bool backslashes = true)
{
    if (LibraryRecordDecoder::decode(data, size, item, backslashes))
        return {};
    PELLWICK_TRY_ASSIGN(item, decodeElementStrictly(data, size, index));
    return {};
}

Result<LocalLibraryItem> decodeElementStrictly(const char *data, qsizetype size, qsizetype index)
{
    const QString path = Json::elementPath(QString(), index);
    // Parsed inside an array, as an element of the file, so that it nests as deep as there.
    PELLWICK_TRY_ASSIGN(QJsonValue value,
                        Json::parseValue("[" + QByteArray::fromRawData(data, size) + "]"));
    const QJsonArray element = value.toArray();
    if (element.size() != 1)
        return failure(notValidJson(QString()));
    return LocalLibraryItem::fromJson(element.at(0), path);
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
    BatchSource(std::unique_ptr<FileHandle> file, QString path, bool withSha256)
        : m_file(std::move(file))
        , m_path(std::move(path))
        , m_withSha256(withSha256)
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

    LibraryJournal::SnapshotName name()
    {
        return {m_consumed + m_buffer.size(),
                m_digest.result(),
                m_withSha256 ? m_hash.result() : QByteArray()};
    }

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
            PELLWICK_TRY_ASSIGN(qint64 n,
                                m_file->read(m_buffer.data() + kept + filled, blockSize - filled));
            if (n == 0) {
                m_atEnd = true;
                break;
            }
            filled += n;
        }
        m_buffer.resize(kept + filled);
        m_digest.addData(m_buffer.constData() + kept, filled);
        if (m_withSha256)
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
    bool m_withSha256 = false;
    LibraryJournal::BlockDigest m_digest;
    Sha256 m_hash;
    qsizetype m_elements = 0;
    qsizetype m_batches = 0;
};

/// The cores this process may run on.
int usableCores()
{
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof cores, &cores) == 0)
        return std::max(1, CPU_COUNT(&cores));
    return static_cast<int>(std::min<qsizetype>(Executor::defaultMaxConcurrentTasks(), 1024));
}

/// One thread per 4 MiB of file (at most 8), leaving one of the usable cores to a whole-file
/// hashing beside them, which the load waits for.
int decodingThreads(qint64 fileSize, bool hashingBeside)
{
    const int wanted
        = static_cast<int>(std::min<qint64>(8, 1 + fileSize / (qint64{4} * 1024 * 1024)));
    return std::clamp(wanted, 1, std::max(1, usableCores() - (hashingBeside ? 1 : 0)));
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

/// The file at `path` opened, with what it is: anything but a regular file is refused before a
/// byte is read (a device such as /dev/zero never ends).
Result<std::pair<std::unique_ptr<FileHandle>, FileAttributes>>
openRegularFile(const FileManager &fileManager, const QString &path)
{
    PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> file, fileManager.openForReading(path));
    PELLWICK_TRY_ASSIGN(FileAttributes attributes, file->attributes());
    PELLWICK_TRY(requireRegularFile(attributes.type, path));
    return std::pair(std::move(file), attributes);
}

bool isBlank(const QByteArray &bytes)
{
    return std::all_of(bytes.cbegin(), bytes.cend(), isSpace);
}

DecodingError emptyFile()
{
    return Json::dataCorrupted(QString(), QStringLiteral("The library file is empty"));
}

Result<QList<LocalLibraryItem>> decodeWholeDocument(const QByteArray &bytes)
{
    if (isBlank(bytes))
        return failure(emptyFile());
    PELLWICK_TRY_ASSIGN(QJsonValue value, Json::parseValue(bytes));
    PELLWICK_TRY_ASSIGN(QJsonArray array, Json::readArray(value, QString()));
    return Json::readElements<LocalLibraryItem>(array, QString(), &LocalLibraryItem::fromJson);
}

/// A decoding failure names the library file ahead of the record's key path.
template<typename T>
Result<T> namingTheFile(Result<T> result)
{
    if (!result) {
        if (auto *decoding = std::get_if<DecodingError>(&result.error().value))
            decoding->keyPath.prepend(QStringLiteral("library-items.json"));
    }
    return result;
}

Result<Loaded>
readSequentially(const FileManager &fileManager, const QString &path, bool withSha256)
{
    PELLWICK_TRY_ASSIGN(auto opened, openRegularFile(fileManager, path));
    auto &[file, attributes] = opened;
    BatchSource source(std::move(file), path, withSha256);
    bool syntaxError = false;

    std::mutex mutex;
    std::optional<Error> firstError;
    qsizetype errorIndex = std::numeric_limits<qsizetype>::max();
    std::vector<QList<LocalLibraryItem>> decoded;
    bool finished = false;

    const int threads = decodingThreads(attributes.size, false);
    Executor::shared()->forEach(threads, threads, [&](qsizetype) {
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
                Result<void> read = decodeElement(batch->bytes.constData() + offset,
                                                  length,
                                                  batch->firstIndex + i,
                                                  items.emplace_back());
                if (!read) {
                    const std::lock_guard lock(mutex);
                    if (batch->firstIndex + i < errorIndex) {
                        errorIndex = batch->firstIndex + i;
                        firstError = std::move(read).error();
                    }
                    return;
                }
            }
            const std::lock_guard lock(mutex);
            decoded[static_cast<size_t>(batch->number)] = std::move(items);
        }
    });

    if (syntaxError && errorIndex == std::numeric_limits<qsizetype>::max()
        && attributes.size <= wholeDocumentBytes) {
        // Not an array of whole elements: the whole-document reader says what is wrong, as it
        // would have had it read the file (of a larger file, the scanner's word stands).
        PELLWICK_TRY_ASSIGN(QByteArray bytes,
                            readRegularFileContents(fileManager, path, wholeDocumentBytes));
        PELLWICK_TRY_ASSIGN(QList<LocalLibraryItem> document, decodeWholeDocument(bytes));
    }
    if (firstError)
        return tl::unexpected<Error>(std::move(*firstError));
    return Loaded{LocalLibraryCacheRecords(std::move(decoded)), source.name()};
}

/// What this store writes between two records of its file: the first one's closing brace, the
/// comma and the next one's opening brace, on lines of their own at one level of indentation.
constexpr std::string_view recordSeparator = "\n    },\n    {";
constexpr auto separatorLength = static_cast<qsizetype>(recordSeparator.size());
constexpr qsizetype separatorClose = 5; ///< where its closing brace is
constexpr qsizetype separatorOpen = 12; ///< where its opening brace is

/// Where the first record separator lying wholly in `data[from, to)` begins, or -1. Sets
/// `backslash` when one lies before it (before `to - separatorLength` when there is none), and
/// perhaps for one a little beyond.
qsizetype findSeparator(const char *data, qsizetype from, qsizetype to, bool &backslash)
{
    const auto matches = [&](qsizetype at) {
        return std::memcmp(data + at, recordSeparator.data(), recordSeparator.size()) == 0;
    };
    const qsizetype last = to - separatorLength;
    qsizetype at = from;
#ifdef __SSE2__
    // Candidates: a line break with a closing brace five bytes on, read 16 positions at a time.
    const __m128i lineBreak = _mm_set1_epi8('\n');
    const __m128i close = _mm_set1_epi8('}');
    const __m128i escape = _mm_set1_epi8('\\');
    __m128i escapes = _mm_setzero_si128();
    const auto noteEscapes = [&] { backslash = backslash || _mm_movemask_epi8(escapes) != 0; };
    for (; last - at >= 15; at += 16) {
        const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + at));
        const __m128i closes
            = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + at + separatorClose));
        escapes = _mm_or_si128(escapes, _mm_cmpeq_epi8(starts, escape));
        auto candidates = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(starts, lineBreak), _mm_cmpeq_epi8(closes, close))));
        for (; candidates != 0; candidates &= candidates - 1) {
            const qsizetype candidate = at + std::countr_zero(candidates);
            if (matches(candidate)) {
                noteEscapes();
                return candidate;
            }
        }
    }
    noteEscapes();
#endif
    for (; at <= last; ++at) {
        backslash = backslash || data[at] == '\\';
        if (data[at] == '\n' && matches(at))
            return at;
    }
    return -1;
}

/// Reads up to `size` bytes at `offset`, fewer only at the end of the file.
Result<qint64> readFully(FileHandle &file, char *buffer, qint64 size, qint64 offset)
{
    qint64 filled = 0;
    while (filled < size) {
        Result<qint64> n = file.readAt(buffer + filled, size - filled, offset + filled);
        if (!n)
            return n;
        if (*n == 0)
            break;
        filled += *n;
    }
    return filled;
}

/// Bytes of the file from `base` on, read as far as needed, followed by the decoder's padding.
class Window
{
public:
    /// Reads into `storage`, which may be reused from window to window.
    Window(FileHandle &file, qint64 base, QByteArray &storage)
        : m_file(file)
        , m_base(base)
        , m_bytes(storage)
    {}

    const char *data() const { return m_bytes.data(); }

    qsizetype size() const { return m_size; }

    /// Reads up to `more` further bytes; false at the end of the file.
    Result<bool> extend(qint64 more)
    {
        const qsizetype padding = LibraryRecordDecoder::padding();
        const qsizetype touched = std::max(m_size, m_bytes.capacity());
        m_bytes.resize(m_size + more + padding);
        // Fresh memory is touched here rather than by the read: the kernel's copy into pages
        // never touched before costs several times as much (the first segments took four times
        // as long as the rest, with every decoding thread faulting in its buffer at once).
        if (m_bytes.size() > touched) {
            std::memset(m_bytes.data() + touched, 0, static_cast<size_t>(m_bytes.size() - touched));
        }
        PELLWICK_TRY_ASSIGN(qint64 n,
                            readFully(m_file, m_bytes.data() + m_size, more, m_base + m_size));
        m_size += n;
        std::memset(m_bytes.data() + m_size, 0, static_cast<size_t>(padding));
        return n > 0;
    }

private:
    FileHandle &m_file;
    qint64 m_base;
    QByteArray &m_bytes;
    qsizetype m_size = 0;
};

/// The records that start in one segment of the file.
struct RegionResult
{
    QList<LocalLibraryItem> items;
    bool plain = true; ///< false: something unusual for the sequential reader to judge
};

/// Decodes the records whose opening braces lie in [from, to) of `window`, reading on `extension`
/// bytes at a time for the record that ends beyond; the first region also reads the array's
/// opening bracket. A record ends at the next record separator, the last one at the file's final
/// closing brace before the array's, and each must decode as one whole JSON value: so a file
/// laid out otherwise, or one record longer than `longest` bytes, gives a region that is not
/// plain, never a wrong record.
Result<RegionResult> readRegion(
    Window &window, qsizetype from, qsizetype to, bool first, qint64 extension, qsizetype longest)
{
    RegionResult result;
    const auto unusual = [&] {
        result.plain = false;
        return std::move(result);
    };
    qsizetype start = from;
    if (first) {
        while (start < window.size() && isSpace(window.data()[start]))
            ++start;
        if (start == window.size() || window.data()[start] != '[')
            return unusual();
        ++start;
        while (start < window.size() && isSpace(window.data()[start]))
            ++start;
        if (start >= to || window.data()[start] != '{')
            return unusual();
    } else {
        bool backslash = false;
        const qsizetype separator = findSeparator(window.data(),
                                                  std::max<qsizetype>(0, from - separatorOpen),
                                                  std::min(window.size(), to),
                                                  backslash);
        if (separator < 0)
            return result;
        start = separator + separatorOpen;
    }
    for (;;) {
        // The separator after the record, read on until found or the file ends; whether the
        // record holds a backslash is noted on the way.
        qsizetype separator = -1;
        bool backslash = false;
        for (qsizetype searched = start + 1;;) {
            separator = findSeparator(window.data(), searched, window.size(), backslash);
            if (separator >= 0)
                break;
            if (window.size() - start > longest)
                return unusual();
            searched = std::max(searched, window.size() - separatorLength + 1);
            PELLWICK_TRY_ASSIGN(bool more, window.extend(extension));
            if (!more)
                break;
        }
        qsizetype end = separator + separatorClose + 1;
        if (separator < 0) {
            // The last record: only white space and the array's closing bracket follow.
            const auto skipSpace = [&] {
                while (end > start && isSpace(window.data()[end - 1]))
                    --end;
            };
            end = window.size();
            backslash = true;
            skipSpace();
            if (end == start || window.data()[end - 1] != ']')
                return unusual();
            --end;
            skipSpace();
            if (end == start || window.data()[end - 1] != '}')
                return unusual();
        }
        if (result.items.isEmpty()) {
            // Records are alike in size: room for about as many as the first suggests.
            result.items.reserve((to - from) / std::max<qsizetype>(end - start, 256) * 5 / 4 + 16);
        }
        if (!decodeElement(
                window.data() + start, end - start, 0, result.items.emplace_back(), backslash))
            return unusual();
        if (separator < 0 || separator + separatorOpen >= to)
            return result;
        start = separator + separatorOpen;
    }
}

/// The allocator's per-thread heaps while a library loads: each heap the allocator makes for a
/// thread is made usable whole at once. Otherwise it grows by a few pages at a time as the records
/// are made, every growth a call that stops the page faults of all the other decoding threads
/// (about a fifth of a load's time at 100,000 records). Set for the first of overlapping loads,
/// put back to the allocator's default after the last. (Setting the pad also keeps the allocator
/// from raising its threshold for mapping large blocks on their own, for the rest of the process;
/// the application makes its large buffers once per file, not once per block.)
class LoadingHeaps
{
public:
    LoadingHeaps()
    {
        const std::lock_guard lock(mutex());
        if (users()++ == 0)
            mallopt(M_TOP_PAD, heapBytes);
    }

    ~LoadingHeaps()
    {
        const std::lock_guard lock(mutex());
        if (--users() == 0)
            mallopt(M_TOP_PAD, defaultTopPad);
    }

    LoadingHeaps(const LoadingHeaps &) = delete;
    LoadingHeaps &operator=(const LoadingHeaps &) = delete;

private:
    static constexpr int heapBytes = 64 * 1024 * 1024; // the most a thread heap spans
    static constexpr int defaultTopPad = 128 * 1024;

    static std::mutex &mutex()
    {
        static std::mutex instance;
        return instance;
    }

    static int &users()
    {
        static int count = 0;
        return count;
    }
};

/// Runs `body(k, buffer)` for every segment `k` below `count` on up to `workers` threads, each
/// thread reusing one buffer. The buffers are released once every thread is done: releasing one
/// interrupts every thread still working (the processors' address caches are flushed), which
/// slowed the last segments down to twice their time.
template<typename Body>
void forEachSegment(const Executor &executor, qsizetype count, qsizetype workers, const Body &body)
{
    std::atomic<qsizetype> next{0};
    const qsizetype tasks = std::min(count, workers);
    std::vector<QByteArray> buffers(static_cast<size_t>(std::max<qsizetype>(tasks, 0)));
    executor.forEach(tasks, workers, [&](qsizetype task) {
        QByteArray &buffer = buffers[static_cast<size_t>(task)];
        for (qsizetype k = next++; k < count; k = next++)
            body(k, buffer);
    });
}

/// Reads the file in segments on several threads, its SHA-256 on one more. Gives nothing when the
/// file is not an array of records laid out as this store writes it (or changed while read): the
/// sequential reader then reads it and judges exactly.
Result<std::optional<Loaded>> readInParallel(const FileManager &fileManager,
                                             const QString &path,
                                             const FileAttributes &attributes,
                                             qint64 segmentBytes,
                                             bool withSha256)
{
    PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> opened, fileManager.openForReading(path));
    FileHandle &file = *opened;
    const qint64 size = attributes.size;
    const qsizetype segments = std::max<qsizetype>(1, (size + segmentBytes - 1) / segmentBytes);
    const std::shared_ptr<const Executor> executor = Executor::shared();
    const qsizetype workers = decodingThreads(size, withSha256);

    std::mutex mutex;
    std::optional<Error> firstError;
    const auto fail = [&](Error error) {
        const std::lock_guard lock(mutex);
        if (!firstError)
            firstError = std::move(error);
    };

    // The SHA-256 of the file, where asked for: read once more from start to end beside the
    // decoding.
    Sha256 hash;
    qint64 hashedLength = 0;
    Executor::Task hashing = executor->start([&] {
        if (!withSha256)
            return;
        QByteArray block(blockSize, Qt::Uninitialized);
        for (;;) {
            Result<qint64> n = readFully(file, block.data(), blockSize, hashedLength);
            if (!n)
                return fail(std::move(n).error());
            hash.addData(block.data(), *n);
            hashedLength += *n;
            if (*n < blockSize)
                return;
        }
    });

    // Each segment is read once, from just before it (where the separator ahead of its first
    // record may begin) to the end of its last record, and its records are decoded; the record
    // separators chain the segments' records into the whole array.
    // The digests of the file's blocks, each hashed by the thread whose segment holds it.
    constexpr qint64 digestBlock = LibraryJournal::digestBlockSize;
    std::vector<QByteArray> blockDigests(
        static_cast<size_t>((size + digestBlock - 1) / digestBlock));
    const bool segmentsHoldBlocks = segmentBytes % digestBlock == 0;
    const auto digestBlocks = [&](qint64 offset, const char *data, qint64 length) {
        for (qint64 at = 0; at < length; at += digestBlock) {
            blockDigests[static_cast<size_t>((offset + at) / digestBlock)]
                = LibraryJournal::BlockDigest::ofBlock(data + at,
                                                       std::min(digestBlock, length - at));
        }
    };

    // What is read beyond a segment at a time, for the record that ends there, and the longest
    // record taken here.
    const qint64 extension = std::clamp<qint64>(segmentBytes, 4096, qint64{256} * 1024);
    const auto longest = static_cast<qsizetype>(std::max(segmentBytes, qint64{1024} * 1024));
    std::atomic<bool> abandoned{false};
    std::vector<RegionResult> regions(static_cast<size_t>(segments));
    forEachSegment(*executor, segments, workers, [&](qsizetype k, QByteArray &storage) {
        const auto index = static_cast<size_t>(k);
        const qint64 begin = k * segmentBytes;
        const qsizetype length = std::min(size, begin + segmentBytes) - begin;
        const auto lead = static_cast<qsizetype>(std::min<qint64>(begin, separatorOpen));
        const auto stop = [&](std::optional<Error> error) {
            if (error)
                fail(std::move(*error));
            regions[index].plain = false;
            abandoned = true;
        };
        if (abandoned)
            return stop(std::nullopt);
        Window window(file, begin - lead, storage);
        if (Result<bool> read = window.extend(lead + length + std::min<qint64>(extension, 16384));
            !read)
            return stop(std::move(read).error());
        if (segmentsHoldBlocks && window.size() >= lead + length)
            digestBlocks(begin, window.data() + lead, length);
        Result<RegionResult> region
            = readRegion(window, lead, lead + length, k == 0, extension, longest);
        if (!region)
            return stop(std::move(region).error());
        if (!region->plain)
            return stop(std::nullopt);
        regions[index] = std::move(*region);
    });
    const auto finish = [&]() -> Result<void> {
        hashing.wait();
        if (firstError)
            return tl::unexpected<Error>(std::move(*firstError));
        return {};
    };
    // Not an array of records as this store writes it: the sequential reader judges, unless
    // reading failed.
    const auto notPlain = [&]() -> Result<std::optional<Loaded>> {
        PELLWICK_TRY(finish());
        return std::optional<Loaded>();
    };
    if (firstError)
        return notPlain();

    for (const RegionResult &region : regions) {
        if (!region.plain)
            return notPlain();
    }
    if (!segmentsHoldBlocks) {
        // Segments that do not hold whole blocks: the blocks are read once more.
        forEachSegment(*executor,
                       static_cast<qsizetype>(blockDigests.size()),
                       workers,
                       [&](qsizetype k, QByteArray &buffer) {
                           buffer.resize(digestBlock);
                           const qint64 offset = k * digestBlock;
                           Result<qint64> n = readFully(file, buffer.data(), digestBlock, offset);
                           if (!n)
                               return fail(std::move(n).error());
                           if (*n == std::min(digestBlock, size - offset))
                               digestBlocks(offset, buffer.data(), *n);
                       });
    }
    LibraryJournal::BlockDigest digest;
    for (const QByteArray &blockDigest : blockDigests) {
        if (blockDigest.isEmpty())
            return notPlain(); // the file changed while it was read
        digest.addBlockDigest(blockDigest);
    }
    // The records are put in place while the hashing finishes.
    std::vector<QList<LocalLibraryItem>> batches;
    batches.reserve(regions.size());
    for (RegionResult &region : regions)
        batches.push_back(std::move(region.items));
    regions = {};
    LocalLibraryCacheRecords records(std::move(batches));
    PELLWICK_TRY(finish());
    // A file changed while it was read is read again the slow way.
    const Result<FileAttributes> after = file.attributes();
    if ((withSha256 && hashedLength != size) || !after || after->size != size
        || after->modificationDate != attributes.modificationDate)
        return std::optional<Loaded>();
    return std::optional<Loaded>(Loaded{
        std::move(records), {size, digest.result(), withSha256 ? hash.result() : QByteArray()}});
}

} // namespace

Result<Loaded>
read(const FileManager &fileManager, const QString &path, qint64 segmentBytes, bool withSha256)
{
    return namingTheFile([&]() -> Result<Loaded> {
        PELLWICK_TRY_ASSIGN(auto opened, openRegularFile(fileManager, path));
        const FileAttributes attributes = opened.second;
        opened.first->close();
        if (attributes.size == 0)
            return failure(emptyFile());
        const LoadingHeaps loadingHeaps;
        PELLWICK_TRY_ASSIGN(
            std::optional<Loaded> loaded,
            readInParallel(fileManager, path, attributes, segmentBytes, withSha256));
        if (loaded)
            return std::move(*loaded);
        return readSequentially(fileManager, path, withSha256);
    }());
}

Result<QList<LocalLibraryItem>> decodeDocument(const QByteArray &bytes)
{
    return namingTheFile(decodeWholeDocument(bytes));
}

Result<LibraryJournal::SnapshotName> write(const FileManager &fileManager,
                                           const QString &path,
                                           const LocalLibraryCacheRecords &records,
                                           bool lineBreakAtEnd)
{
    PELLWICK_TRY(fileManager.createFile(path));
    PELLWICK_TRY_ASSIGN(std::unique_ptr<FileHandle> file, fileManager.openForWriting(path));
    LibraryJournal::BlockDigest digest;
    qint64 length = 0;
    QByteArray buffer;
    buffer.reserve(blockSize + qint64{64} * 1024);
    const auto flush = [&]() -> Result<void> {
        PELLWICK_TRY(file->write(buffer.constData(), buffer.size()));
        digest.addData(buffer.constData(), buffer.size());
        length += buffer.size();
        buffer.clear();
        return {};
    };

    buffer.append("[\n");
    for (qsizetype p = 0; p < records.size(); ++p) {
        PELLWICK_TRY_ASSIGN(QByteArray element, encodeElement(records.at(p)));
        if (p > 0)
            buffer.append(",\n");
        buffer.append(element);
        if (buffer.size() >= blockSize)
            PELLWICK_TRY(flush());
    }
    buffer.append(records.isEmpty() ? "]\n" : "\n]\n");
    if (lineBreakAtEnd)
        buffer.append('\n');
    PELLWICK_TRY(flush());
    PELLWICK_TRY(file->synchronize());
    file->close();
    return LibraryJournal::SnapshotName{length, digest.result(), QByteArray()};
}

} // namespace Pellwick::LibraryFile
