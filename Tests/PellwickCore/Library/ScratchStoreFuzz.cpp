#undef QT_NO_CAST_FROM_ASCII
#include <PellwickCore/Library/LocalLibraryCache.h>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <Support/FaultInjectingFileManager.h>
#include <Support/LibraryFixtures.h>
#include <Support/TestFiles.h>
#include <cstdio>
using namespace Pellwick;
using namespace Pellwick::Test;

static QString show(const QList<LocalLibraryItem> &items)
{
    QStringList s;
    for (const auto &i : items)
        s.append(i.id.toString().mid(1, 4) + QLatin1Char(':') + toRaw(i.importStatus));
    return s.join(QLatin1Char(' '));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seeds = argc > 1 ? atoi(argv[1]) : 50;
    const int steps = argc > 2 ? atoi(argv[2]) : 60;
    const bool multi = argc > 3;
    int failures = 0;
    for (int seed = 1; seed <= seeds; ++seed) {
        QRandomGenerator rng(seed);
        QTemporaryDir dir;
        const QString root = dir.filePath(QStringLiteral("lib"));
        const QString file = root + QStringLiteral("/library-items.json");
        const QString journal = root + QStringLiteral("/library-items.journal");
        auto faults = std::make_shared<FaultInjectingFileManager>();
        const qint64 foldBytes = rng.bounded(2) ? 6000 : 0;
        LocalLibraryCache cache(root, faults, {foldBytes});
        int next = 0;
        QList<QByteArray> savedFile, savedJournal;
        QStringList history;
        const int faultStep = rng.bounded(steps);
        bool diskMatches = false;
        for (int step = 0; step < steps; ++step) {
            // outside interference
            const int outside = rng.bounded(14);
            QString what;
            if (QFile::exists(file) && outside == 0) { QFile f(file); f.open(QIODevice::ReadWrite); f.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-rng.bounded(1000)), QFileDevice::FileModificationTime); what = "touch file"; }
            else if (QFile::exists(journal) && outside == 1) { QFile f(journal); f.open(QIODevice::ReadWrite); f.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-rng.bounded(1000)), QFileDevice::FileModificationTime); what = "touch journal"; }
            else if (outside == 2) { QFile::remove(journal); what = "rm journal"; }
            else if (outside == 3 && !savedFile.isEmpty()) { int k = rng.bounded(savedFile.size()); writeFile(file, savedFile[k]); if (!savedJournal[k].isNull()) writeFile(journal, savedJournal[k]); what = QStringLiteral("restore pair %1").arg(k); }
            else if (outside == 4 && QFile::exists(journal)) { QByteArray j = readFile(journal); QFile f(journal); f.open(QIODevice::ReadWrite); f.resize(std::min<qint64>(j.size(), 80 + rng.bounded(int(j.size()) + 1))); what = "truncate journal"; }
            else if (outside == 5 && QFile::exists(file)) { QFile::remove(file); what = "rm file"; }
            else if (outside == 6 && QFile::exists(file)) { savedFile.append(readFile(file)); savedJournal.append(QFile::exists(journal) ? readFile(journal) : QByteArray()); what = "save"; }
            else if (outside == 7 && QFile::exists(journal)) { QFile f(journal); f.open(QIODevice::Append); f.write("garbage PWJE"); what = "garbage journal"; }
            else if (outside == 8 && QFile::exists(journal)) { QByteArray j = readFile(journal); if (j.size() > 81) { int at = 80 + rng.bounded(int(j.size()) - 80); j[at] = char(j[at] ^ 0x21); writeFile(journal, j); what = "flip journal"; } }
            // fault
            if (multi ? rng.bounded(4) == 0 : step == faultStep) {
                const auto op = static_cast<FileOperation>(rng.bounded(int(FileOperation::Truncate) + 1));
                faults->failOperation(op, rng.bounded(2) ? EIO : ENOSPC, QString(), 1 + rng.bounded(6));
                what += QStringLiteral(" fault %1").arg(operationName(op));
            }
            const QList<LocalLibraryItem> before = cache.readItems().value_or(QList<LocalLibraryItem>());
            Result<void> r;
            const int kind = rng.bounded(7);
            const auto anyId = [&] { return before.isEmpty() ? QUuid::createUuid() : before[rng.bounded(before.size())].id; };
            switch (kind) {
            case 0: { QList<LocalLibraryItem> add; for (int n = rng.bounded(3); n >= 0; --n) add.append(filledLibraryItem(next++)); r = cache.appendItems(add); what += " append"; break; }
            case 1: case 2: { auto x = cache.updateImportStatus(anyId(), static_cast<LibraryItemImportStatus>(rng.bounded(7))); r = x ? Result<void>() : Result<void>(tl::unexpected<Error>(x.error())); what += " status"; break; }
            case 3: r = cache.removeItems({anyId()}); what += " remove"; break;
            case 4: { QList<LocalLibraryItem> all = before; if (!all.isEmpty()) all.removeAt(rng.bounded(all.size())); all.append(filledLibraryItem(next++)); r = cache.writeItems(all); what += " writeItems"; break; }
            case 5: { auto x = cache.upsertIngestCacheItems({filledLibraryItem(rng.bounded(next + 1))}); r = x ? Result<void>() : Result<void>(tl::unexpected<Error>(x.error())); what += " upsert"; break; }
            case 6: { auto x = cache.updateImportStatus(anyId(), LibraryItemImportStatus::Duplicate); r = x ? Result<void>() : Result<void>(tl::unexpected<Error>(x.error())); what += " status dup"; break; }
            }
            history.append(what + QString::fromLatin1(r ? " ok" : " FAILED"));
            const Result<QList<LocalLibraryItem>> mem = cache.readItems();
            if (!mem) { continue; }
            if (!r && !(*mem == before)) { std::fprintf(stderr, "seed %d step %d: failed op changed memory\n", seed, step); ++failures; break; }
            const bool outsideChanged = !what.startsWith(QLatin1Char(' ')) && !what.startsWith(QLatin1String("save"));
            if (!r && (multi || outsideChanged || !diskMatches)) { diskMatches = false; continue; }
            const Result<QList<LocalLibraryItem>> disk = LocalLibraryCache(root, std::make_shared<LocalFileManager>()).readItems();
            if (!disk || !(*disk == *mem)) {
                std::fprintf(stderr, "seed %d step %d: reload differs (%s)\n mem:  %s\n disk: %s\n", seed, step, disk ? "" : "load failed", qPrintable(show(*mem)), disk ? qPrintable(show(*disk)) : "");
                for (const QString &h : history) std::fprintf(stderr, "   %s\n", qPrintable(h));
                ++failures;
                break;
            }
            diskMatches = true;
        }
    }
    std::fprintf(stderr, "done, %d failing seeds\n", failures);
    return failures ? 1 : 0;
}
