#include <PellwickCore/Restore/RestoreDestinationResolver.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Pellwick;
using namespace Qt::StringLiterals;

namespace {

const QString folder = u"/restore/Photos"_s;

/// A resolver whose disk holds exactly `existing` (names in `folder`), counting its lookups.
struct FakeDisk
{
    QSet<QString> existing;
    int lookups = 0;

    RestoreDestinationResolver resolver()
    {
        return RestoreDestinationResolver(std::make_shared<LocalFileManager>(),
                                          [this](const QString &path) {
                                              ++lookups;
                                              return existing.contains(path);
                                          });
    }
};

QSet<QString> pathsIn(const QStringList &names)
{
    QSet<QString> paths;
    for (const QString &name : names)
        paths.insert(folder + u'/' + name);
    return paths;
}

} // namespace

class RestoreDestinationResolverTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void filenameSplitsAtItsExtension_data();
    void filenameSplitsAtItsExtension();
    void sidecarPairsWithTheRawStem_data();
    void sidecarPairsWithTheRawStem();
    void suggestionIsTheFirstFreeRestoredName_data();
    void suggestionIsTheFirstFreeRestoredName();
    void resolveRefusesTakenAndUnusableNames_data();
    void resolveRefusesTakenAndUnusableNames();
    void whatIsOnDiskIsTaken_data();
    void whatIsOnDiskIsTaken();
};

void RestoreDestinationResolverTests::filenameSplitsAtItsExtension_data()
{
    QTest::addColumn<QString>("filename");
    QTest::addColumn<QString>("stem");
    QTest::addColumn<QString>("extension");

    QTest::newRow("one dot") << u"IMG_0001.CR3"_s << u"IMG_0001"_s << u"CR3"_s;
    QTest::newRow("several dots: the last") << u"a.b.CR3"_s << u"a.b"_s << u"CR3"_s;
    QTest::newRow("no extension") << u"SCAN"_s << u"SCAN"_s << QString();
    QTest::newRow("a leading dot is no extension") << u".hidden"_s << u".hidden"_s << QString();
    QTest::newRow("a trailing dot is no extension") << u"name."_s << u"name."_s << QString();
    QTest::newRow("two leading dots") << u"..x"_s << u"."_s << u"x"_s;
    QTest::newRow("a dot only before a slash") << u"dir.d/file"_s << u"dir.d/file"_s << QString();
    QTest::newRow("empty") << QString() << QString() << QString();
}

void RestoreDestinationResolverTests::filenameSplitsAtItsExtension()
{
    QFETCH(QString, filename);
    QFETCH(QString, stem);
    QFETCH(QString, extension);

    const auto parts = RestoreDestinationResolver::splitFilename(filename);
    QCOMPARE(parts.stem, stem);
    QCOMPARE(parts.extension, extension);
}

void RestoreDestinationResolverTests::sidecarPairsWithTheRawStem_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("sidecar");
    QTest::addColumn<QString>("paired");

    QTest::newRow("renamed RAW") << u"IMG_0001-restored.CR3"_s << u"IMG_0001.xmp"_s
                                 << u"IMG_0001-restored.xmp"_s;
    QTest::newRow("sidecar without extension")
        << u"IMG_0001-restored.CR3"_s << u"IMG_0001"_s << u"IMG_0001-restored"_s;
    QTest::newRow("RAW without extension")
        << u"SCAN-restored"_s << u"SCAN.XMP"_s << u"SCAN-restored.XMP"_s;
    QTest::newRow("sidecar with several dots") << u"a.CR3"_s << u"a.CR3.xmp"_s << u"a.xmp"_s;
}

void RestoreDestinationResolverTests::sidecarPairsWithTheRawStem()
{
    QFETCH(QString, raw);
    QFETCH(QString, sidecar);
    QFETCH(QString, paired);

    QCOMPARE(RestoreDestinationResolver::pairedSidecarFilename(raw, sidecar), paired);
}

void RestoreDestinationResolverTests::suggestionIsTheFirstFreeRestoredName_data()
{
    QTest::addColumn<QString>("filename");
    QTest::addColumn<QString>("sidecar"); // null: no sidecar
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QStringList>("reserved");
    QTest::addColumn<QString>("suggested");

    const QString xmp = u"IMG_0001.xmp"_s;
    QTest::newRow("empty folder") << u"IMG_0001.CR3"_s << xmp << QStringList() << QStringList()
                                  << u"IMG_0001-restored.CR3"_s;
    QTest::newRow("original present") << u"IMG_0001.CR3"_s << xmp << QStringList{u"IMG_0001.CR3"_s}
                                      << QStringList() << u"IMG_0001-restored.CR3"_s;
    QTest::newRow("restored RAW present")
        << u"IMG_0001.CR3"_s << xmp << QStringList{u"IMG_0001-restored.CR3"_s} << QStringList()
        << u"IMG_0001-restored-2.CR3"_s;
    QTest::newRow("restored sidecar present")
        << u"IMG_0001.CR3"_s << xmp << QStringList{u"IMG_0001-restored.xmp"_s} << QStringList()
        << u"IMG_0001-restored-2.CR3"_s;
    QTest::newRow("restored sidecar present, no sidecar asked")
        << u"IMG_0001.CR3"_s << QString() << QStringList{u"IMG_0001-restored.xmp"_s}
        << QStringList() << u"IMG_0001-restored.CR3"_s;
    QTest::newRow("reserved in this run")
        << u"IMG_0001.CR3"_s << xmp << QStringList()
        << QStringList{u"IMG_0001-restored.CR3"_s, u"IMG_0001-restored-2.xmp"_s}
        << u"IMG_0001-restored-3.CR3"_s;
    QTest::newRow("no extension") << u"SCAN"_s << QString() << QStringList() << QStringList()
                                  << u"SCAN-restored"_s;
    QTest::newRow("no extension, first taken")
        << u"SCAN"_s << QString() << QStringList{u"SCAN-restored"_s} << QStringList()
        << u"SCAN-restored-2"_s;
    QTest::newRow("sidecar without extension")
        << u"IMG_0001.CR3"_s << u"IMG_0001"_s << QStringList{u"IMG_0001-restored"_s}
        << QStringList() << u"IMG_0001-restored-2.CR3"_s;
    QTest::newRow("unusable name") << u"../../x.CR3"_s << QString() << QStringList()
                                   << QStringList() << u".._.._x-restored.CR3"_s;
    QTest::newRow("empty name") << QString() << QString() << QStringList() << QStringList()
                                << u"file-restored"_s;
    // Names near the 255-byte limit give up the end of their stem, never half a character.
    const QString a250 = QString(250, u'A');
    QTest::newRow("long name") << a250 + u".CR3"_s << xmp << QStringList() << QStringList()
                               << QString(242, u'A') + u"-restored.CR3"_s;
    QTest::newRow("long name, first taken")
        << a250 + u".CR3"_s << xmp << QStringList{QString(242, u'A') + u"-restored.CR3"_s}
        << QStringList() << QString(240, u'A') + u"-restored-2.CR3"_s;
    QTest::newRow("long name, longer sidecar extension")
        << QString(252, u'A') + u".R"_s << xmp << QStringList() << QStringList()
        << QString(242, u'A') + u"-restored.R"_s;
    QTest::newRow("long two-byte name")
        << QString(125, u'\u00e9') + u".CR3"_s << QString() << QStringList() << QStringList()
        << QString(121, u'\u00e9') + u"-restored.CR3"_s;
    QTest::newRow("long astral name")
        << QString(u"\U0001F600"_s).repeated(62) + u".CR3"_s << QString() << QStringList()
        << QStringList() << QString(u"\U0001F600"_s).repeated(60) + u"-restored.CR3"_s;
    QTest::newRow("unusable sidecar name")
        << u"IMG_0001.CR3"_s << u"a/b.x\0mp"_s << QStringList{u"IMG_0001-restored.x_mp"_s}
        << QStringList() << u"IMG_0001-restored-2.CR3"_s;
}

void RestoreDestinationResolverTests::suggestionIsTheFirstFreeRestoredName()
{
    QFETCH(QString, filename);
    QFETCH(QString, sidecar);
    QFETCH(QStringList, existing);
    QFETCH(QStringList, reserved);
    QFETCH(QString, suggested);

    FakeDisk disk{pathsIn(existing)};
    const auto sidecarName = sidecar.isNull() ? std::nullopt : std::optional(sidecar);
    QCOMPARE(disk.resolver().suggestedFilename(filename, sidecarName, folder, pathsIn(reserved)),
             suggested);
}

void RestoreDestinationResolverTests::resolveRefusesTakenAndUnusableNames_data()
{
    QTest::addColumn<QString>("filename");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QStringList>("reserved");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("conflict");
    QTest::addColumn<int>("lookups");

    const QString raw = u"IMG_0001.CR3"_s;
    const QString rawPath = folder + u"/IMG_0001.CR3"_s;
    QTest::newRow("free") << raw << folder << QStringList() << QStringList() << rawPath << false
                          << 1;
    QTest::newRow("folder with a trailing slash")
        << raw << folder + u'/' << QStringList() << QStringList() << rawPath << false << 1;
    QTest::newRow("present") << raw << folder << QStringList{raw} << QStringList() << rawPath
                             << true << 1;
    QTest::newRow("reserved: the disk is not asked")
        << raw << folder << QStringList() << QStringList{raw} << rawPath << true << 0;
    QTest::newRow("parent folder")
        << u".."_s << folder << QStringList() << QStringList() << folder + u"/file"_s << true << 0;
    QTest::newRow("this folder") << u"."_s << folder << QStringList() << QStringList()
                                 << folder + u"/file"_s << true << 0;
    QTest::newRow("empty") << QString() << folder << QStringList() << QStringList()
                           << folder + u"/file"_s << true << 0;
    QTest::newRow("climbing out") << u"../../x.CR3"_s << folder << QStringList() << QStringList()
                                  << folder + u"/.._.._x.CR3"_s << true << 0;
    QTest::newRow("two components") << u"a/b.CR3"_s << folder << QStringList() << QStringList()
                                    << folder + u"/a_b.CR3"_s << true << 0;
    QTest::newRow("NUL") << u"a\0b.CR3"_s << folder << QStringList() << QStringList()
                         << folder + u"/a_b.CR3"_s << true << 0;
}

void RestoreDestinationResolverTests::resolveRefusesTakenAndUnusableNames()
{
    QFETCH(QString, filename);
    QFETCH(QString, directory);
    QFETCH(QStringList, existing);
    QFETCH(QStringList, reserved);
    QFETCH(QString, path);
    QFETCH(bool, conflict);
    QFETCH(int, lookups);

    FakeDisk disk{pathsIn(existing)};
    const auto resolved = disk.resolver().resolve(filename, directory, pathsIn(reserved));
    QCOMPARE(!resolved, conflict);
    if (conflict) {
        QCOMPARE(resolved.error(),
                 RestoreDestinationResolverError{RestoreDestinationResolverError::Conflict{path}});
    } else {
        QCOMPARE(*resolved, path);
    }
    QCOMPARE(disk.lookups, lookups);
}

void RestoreDestinationResolverTests::whatIsOnDiskIsTaken_data()
{
    QTest::addColumn<QString>("kind");

    QTest::newRow("a folder") << u"folder"_s;
    QTest::newRow("a file") << u"file"_s;
    QTest::newRow("a link to a file") << u"link"_s;
    // A link whose target is gone (a disk not mounted) still holds the name: a file cannot be
    // installed there.
    QTest::newRow("a link to nothing") << u"dangling"_s;
    QTest::newRow("a link to itself") << u"loop"_s;
}

void RestoreDestinationResolverTests::whatIsOnDiskIsTaken()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString taken = dir.filePath(u"IMG_0001.CR3"_s);
    if (kind == u"folder"_s) {
        QVERIFY(QDir(dir.path()).mkdir(u"IMG_0001.CR3"_s));
    } else if (kind == u"file"_s) {
        QFile file(taken);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else {
        const QString target = kind == u"link"_s       ? dir.filePath(u"elsewhere"_s)
                               : kind == u"dangling"_s ? dir.filePath(u"gone/IMG_0001.CR3"_s)
                                                       : taken;
        if (kind == u"link"_s) {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(target, taken));
    }
    const RestoreDestinationResolver resolver;

    QVERIFY(!resolver.resolve(u"IMG_0001.CR3"_s, dir.path(), {}));
    QCOMPARE(resolver.suggestedFilename(u"IMG_0001.CR3"_s, std::nullopt, dir.path(), {}),
             u"IMG_0001-restored.CR3"_s);
    QVERIFY(resolver.resolve(u"IMG_0002.CR3"_s, dir.path(), {}));
}

QTEST_GUILESS_MAIN(RestoreDestinationResolverTests)
#include "RestoreDestinationResolverTests.moc"
