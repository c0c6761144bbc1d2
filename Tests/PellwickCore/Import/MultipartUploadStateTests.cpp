#include "ImportFixtures.h"

#include <PellwickCore/Import/MultipartUploadState.h>
#include <PellwickCore/Support/Json.h>

#include <QJsonArray>
#include <QTest>

#include <functional>

#include <Support/TestErrors.h>

using namespace Pellwick;
using namespace Pellwick::Test;
using namespace Qt::StringLiterals;

namespace {

using Change = std::function<MultipartUploadState(const MultipartUploadState &)>;
using Parts = QList<UploadedMultipartPart>;

MultipartUploadState stateWithParts(Parts uploaded, bool completed = false)
{
    MultipartUploadState state
        = MultipartUploadState::starting(multipartUpload(QStringLiteral("u"), 100, {1, 2, 3}));
    state.uploadedParts = uploaded;
    state.isCompleted = completed;
    return state;
}

} // namespace

class MultipartUploadStateTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startsFromAnUpload_data();
    void startsFromAnUpload();
    void changes_data();
    void changes();
    void normalization_data();
    void normalization();
    void ownJsonForm();
    void ownJsonFormRequiresEveryKey_data();
    void ownJsonFormRequiresEveryKey();
};

void MultipartUploadStateTests::startsFromAnUpload_data()
{
    QTest::addColumn<PresignedMultipartUpload>("upload");
    QTest::newRow("three parts out of order")
        << multipartUpload(QStringLiteral("abc"), 5 * 1024 * 1024, {3, 1, 2});
    QTest::newRow("no parts") << multipartUpload(QStringLiteral("empty"), 10, {});
}

void MultipartUploadStateTests::startsFromAnUpload()
{
    QFETCH(PresignedMultipartUpload, upload);
    const MultipartUploadState state = MultipartUploadState::starting(upload);
    QCOMPARE(state.uploadID, upload.uploadID);
    QCOMPARE(state.partSizeBytes, upload.partSizeBytes);
    QCOMPARE(state.authorizedParts.size(), upload.parts.size());
    for (qsizetype i = 0; i < upload.parts.size(); ++i) {
        QCOMPARE(state.authorizedParts.at(i).partNumber, upload.parts.at(i).partNumber);
        QCOMPARE(state.authorizedParts.at(i).url, upload.parts.at(i).url);
    }
    QVERIFY(state.uploadedParts.isEmpty());
    QVERIFY(!state.isCompleted);
}

void MultipartUploadStateTests::changes_data()
{
    QTest::addColumn<MultipartUploadState>("before");
    QTest::addColumn<Change>("change");
    QTest::addColumn<MultipartUploadState>("expected");

    const Parts twoParts{{1, QStringLiteral("a")}, {2, QStringLiteral("b")}};
    const MultipartUploadState uploading = stateWithParts(twoParts);
    const MultipartUploadState completed = stateWithParts(twoParts, true);

    QTest::newRow("part 3 twice keeps the second etag last")
        << stateWithParts({{3, QStringLiteral("a")}}) << Change([](const auto &s) {
               return s.recordingUploadedPart({3, QStringLiteral("b")});
           })
        << stateWithParts({{3, QStringLiteral("b")}});
    QTest::newRow("parts 1, 2, 3 then 1 again")
        << stateWithParts({{1, u"x"_s}, {2, u"y"_s}, {3, u"z"_s}}) << Change([](const auto &s) {
               return s.recordingUploadedPart({1, QStringLiteral("w")});
           })
        << stateWithParts({{2, u"y"_s}, {3, u"z"_s}, {1, u"w"_s}});
    QTest::newRow("a part not authorized is recorded all the same")
        << uploading << Change([](const auto &s) {
               return s.recordingUploadedPart({9, QStringLiteral("n")});
           })
        << stateWithParts({{1, u"a"_s}, {2, u"b"_s}, {9, u"n"_s}});
    QTest::newRow("completing") << uploading
                                << Change([](const auto &s) { return s.markingCompleted(); })
                                << completed;
    QTest::newRow("completing again changes nothing")
        << completed << Change([](const auto &s) { return s.markingCompleted(); }) << completed;

    {
        MultipartUploadState expected = uploading;
        expected.authorizedParts
            = MultipartUploadState::starting(multipartUpload(QStringLiteral("u"), 100, {2, 3}))
                  .authorizedParts;
        QTest::newRow("same id and size: parts kept, urls replaced")
            << uploading << Change([](const auto &s) {
                   return s.replacingAuthorization(
                       multipartUpload(QStringLiteral("u"), 100, {2, 3}));
               })
            << expected;
    }
    {
        // Parts already sent were cut at the old size; they are sent again at the new one.
        MultipartUploadState expected
            = MultipartUploadState::starting(multipartUpload(QStringLiteral("u"), 64, {1, 2}));
        QTest::newRow("same id, other size: uploaded parts forgotten")
            << uploading << Change([](const auto &s) {
                   return s.replacingAuthorization(
                       multipartUpload(QStringLiteral("u"), 64, {1, 2}));
               })
            << expected;
    }
    {
        MultipartUploadState expected = completed;
        expected.partSizeBytes = 64;
        expected.authorizedParts
            = MultipartUploadState::starting(multipartUpload(QStringLiteral("u"), 64, {1}))
                  .authorizedParts;
        QTest::newRow("same id, other size, completed: kept")
            << completed << Change([](const auto &s) {
                   return s.replacingAuthorization(multipartUpload(QStringLiteral("u"), 64, {1}));
               })
            << expected;
    }
    QTest::newRow("another id starts afresh even when completed")
        << completed << Change([](const auto &s) {
               return s.replacingAuthorization(multipartUpload(QStringLiteral("v"), 100, {1}));
           })
        << MultipartUploadState::starting(multipartUpload(QStringLiteral("v"), 100, {1}));
    QTest::newRow("upload id compared exactly") << uploading << Change([](const auto &s) {
        return s.replacingAuthorization(multipartUpload(QStringLiteral("U"), 100, {1}));
    }) << MultipartUploadState::starting(multipartUpload(QStringLiteral("U"), 100, {1}));
}

void MultipartUploadStateTests::changes()
{
    QFETCH(MultipartUploadState, before);
    QFETCH(Change, change);
    QFETCH(MultipartUploadState, expected);
    const MultipartUploadState copy = before;
    QCOMPARE(change(before), expected);
    QCOMPARE(before, copy);
}

void MultipartUploadStateTests::normalization_data()
{
    QTest::addColumn<Parts>("given");
    QTest::addColumn<Parts>("expected");
    QTest::newRow("empty") << Parts() << Parts();
    QTest::newRow("distinct, unsorted")
        << Parts{{3, u"c"_s}, {1, u"a"_s}} << Parts{{3, u"c"_s}, {1, u"a"_s}};
    QTest::newRow("1, 2, 1") << Parts{{1, u"a"_s}, {2, u"b"_s}, {1, u"c"_s}}
                             << Parts{{2, u"b"_s}, {1, u"c"_s}};
    QTest::newRow("three of one") << Parts{{4, u"a"_s}, {4, u"b"_s}, {5, u"x"_s}, {4, u"c"_s}}
                                  << Parts{{5, u"x"_s}, {4, u"c"_s}};
}

void MultipartUploadStateTests::normalization()
{
    QFETCH(Parts, given);
    QFETCH(Parts, expected);
    QCOMPARE(MultipartUploadState::normalizedUploadedParts(given), expected);
}

void MultipartUploadStateTests::ownJsonForm()
{
    const MultipartUploadState state = stateWithParts({{2, u"\"b\""_s}, {1, u"\"a\""_s}}, true);
    const QJsonObject object = toJson(state);
    QCOMPARE(object.keys(),
             (QStringList{u"authorizedParts"_s,
                          u"isCompleted"_s,
                          u"partSizeBytes"_s,
                          u"uploadID"_s,
                          u"uploadedParts"_s}));
    QCOMPARE(object.value(u"uploadedParts").toArray().first().toObject().value(u"part_number"),
             QJsonValue(2));
    const Result<MultipartUploadState> read = multipartUploadStateFromJson(object);
    PELLWICK_VERIFY_SUCCESS(read);
    QCOMPARE(*read, state);

    QJsonObject repeated = object;
    repeated.insert(QStringLiteral("uploadedParts"),
                    QJsonArray{toJson(UploadedMultipartPart{1, u"x"_s}),
                               toJson(UploadedMultipartPart{2, u"y"_s}),
                               toJson(UploadedMultipartPart{1, u"z"_s})});
    const Result<MultipartUploadState> normalized = multipartUploadStateFromJson(repeated);
    PELLWICK_VERIFY_SUCCESS(normalized);
    QCOMPARE(normalized->uploadedParts, (Parts{{2, u"y"_s}, {1, u"z"_s}}));
}

void MultipartUploadStateTests::ownJsonFormRequiresEveryKey_data()
{
    QTest::addColumn<QString>("key");
    for (const char *key :
         {"uploadID", "partSizeBytes", "authorizedParts", "uploadedParts", "isCompleted"})
        QTest::newRow(key) << QString::fromLatin1(key);
}

void MultipartUploadStateTests::ownJsonFormRequiresEveryKey()
{
    QFETCH(QString, key);
    QJsonObject object = toJson(stateWithParts({{1, u"a"_s}}));
    object.remove(key);
    const Result<MultipartUploadState> read = multipartUploadStateFromJson(object);
    QVERIFY(!read);
    QVERIFY(read.error().is<DecodingError>());
    QCOMPARE(read.error().as<DecodingError>()->keyPath, key);
    QCOMPARE(read.error().as<DecodingError>()->kind, DecodingError::Kind::KeyNotFound);
}

QTEST_GUILESS_MAIN(MultipartUploadStateTests)
#include "MultipartUploadStateTests.moc"
