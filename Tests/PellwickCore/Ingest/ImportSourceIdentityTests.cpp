#include <PellwickCore/Ingest/ImportSourceIdentity.h>
#include <PellwickCore/Support/Json.h>

#include <QTest>

#include <Support/TestErrors.h>

using namespace Pellwick;

class ImportSourceIdentityTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writesOneKeyNamingTheCase();
    void readsBackWhatItWrites();
    void refusesAnythingButExactlyOneCaseKey_data();
    void refusesAnythingButExactlyOneCaseKey();
    void payloadFailuresNameTheirKey();
};

namespace {

QJsonValue parsed(const char *json)
{
    Result<QJsonValue> value = Json::parseValue(QByteArray(json));
    if (!value)
        qFatal("bad fixture %s", json);
    return *value;
}

} // namespace

void ImportSourceIdentityTests::writesOneKeyNamingTheCase()
{
    QCOMPARE(ImportSourceIdentity::volume(QStringLiteral("A1B2")).toJson(),
             parsed(R"({"volume":{"uuid":"A1B2"}})").toObject());
    QCOMPARE(ImportSourceIdentity::folder(QStringLiteral("/home/ann/Photos"), QStringLiteral("ab"))
                 .toJson(),
             parsed(R"({"folder":{"canonicalPath":"/home/ann/Photos","manifestHash":"ab"}})")
                 .toObject());
}

void ImportSourceIdentityTests::readsBackWhatItWrites()
{
    const QList<ImportSourceIdentity> identities{
        ImportSourceIdentity::volume(QStringLiteral("0A1B-2C3D")),
        ImportSourceIdentity::volume(QString()),
        ImportSourceIdentity::folder(QStringLiteral("/media/ann/Fotos ü"), QString(64, u'f')),
    };
    for (const ImportSourceIdentity &identity : identities) {
        Result<QByteArray> written = Json::serialize(identity.toJson());
        QVERIFY(written);
        Result<QJsonValue> value = Json::parseValue(*written);
        QVERIFY(value);
        Result<ImportSourceIdentity> read = ImportSourceIdentity::fromJson(*value);
        PELLWICK_VERIFY_SUCCESS(read);
        QCOMPARE(*read, identity);
    }
    // A folder and a volume never compare equal, even with equal texts.
    QVERIFY(ImportSourceIdentity::volume(QStringLiteral("x"))
            != ImportSourceIdentity::folder(QStringLiteral("x"), QString()));
    // Unknown keys beside the case key are ignored.
    Result<ImportSourceIdentity> withExtra
        = ImportSourceIdentity::fromJson(parsed(R"({"volume":{"uuid":"u","size":3},"note":1})"));
    QVERIFY(withExtra);
    QCOMPARE(*withExtra, ImportSourceIdentity::volume(QStringLiteral("u")));
}

void ImportSourceIdentityTests::refusesAnythingButExactlyOneCaseKey_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("empty object") << QByteArray("{}");
    QTest::newRow("only unknown keys") << QByteArray(R"({"disk":{"uuid":"u"}})");
    QTest::newRow("both cases") << QByteArray(
        R"({"volume":{"uuid":"u"},"folder":{"canonicalPath":"/a","manifestHash":"h"}})");
    QTest::newRow("both cases, one null") << QByteArray(R"({"volume":{"uuid":"u"},"folder":null})");
}

void ImportSourceIdentityTests::refusesAnythingButExactlyOneCaseKey()
{
    QFETCH(QByteArray, json);
    Result<ImportSourceIdentity> read
        = ImportSourceIdentity::fromJson(*Json::parseValue(json), QStringLiteral("sourceIdentity"));
    QVERIFY(!read);
    const auto *error = read.error().as<DecodingError>();
    QVERIFY(error);
    QCOMPARE(error->kind, DecodingError::Kind::TypeMismatch);
    QCOMPARE(error->keyPath, QStringLiteral("sourceIdentity"));
    QCOMPARE(error->description, QStringLiteral("Invalid number of keys found, expected one."));
}

void ImportSourceIdentityTests::payloadFailuresNameTheirKey()
{
    struct Case
    {
        const char *json;
        DecodingError::Kind kind;
        const char *keyPath;
    };

    const Case cases[] = {
        {R"({"volume":{}})", DecodingError::Kind::KeyNotFound, "id.volume.uuid"},
        {R"({"volume":{"uuid":7}})", DecodingError::Kind::TypeMismatch, "id.volume.uuid"},
        {R"({"volume":null})", DecodingError::Kind::ValueNotFound, "id.volume"},
        {R"({"folder":{"canonicalPath":"/a"}})",
         DecodingError::Kind::KeyNotFound,
         "id.folder.manifestHash"},
        {R"("volume")", DecodingError::Kind::TypeMismatch, "id"},
    };
    for (const Case &c : cases) {
        Result<ImportSourceIdentity> read
            = ImportSourceIdentity::fromJson(parsed(c.json), QStringLiteral("id"));
        QVERIFY2(!read, c.json);
        const auto *error = read.error().as<DecodingError>();
        QVERIFY(error);
        QCOMPARE(error->kind, c.kind);
        QCOMPARE(error->keyPath, QString::fromLatin1(c.keyPath));
    }
}

QTEST_GUILESS_MAIN(ImportSourceIdentityTests)
#include "ImportSourceIdentityTests.moc"
