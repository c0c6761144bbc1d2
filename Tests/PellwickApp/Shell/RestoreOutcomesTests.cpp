#include <PellwickApp/Feedback/RestoreFeedback.h>

#include <QLocale>
#include <QTest>

using namespace Pellwick;
using namespace Qt::StringLiterals;
using E = RestoreTransferError;

class RestoreOutcomesTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void textsOfTheRun_data();
    void textsOfTheRun();
};

void RestoreOutcomesTests::textsOfTheRun_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::newRow("C") << QLocale::c();
    // Counts stay plain digits where the locale would group them.
    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany);
}

void RestoreOutcomesTests::textsOfTheRun()
{
    QFETCH(QLocale, locale);
    QLocale::setDefault(locale);
    const auto reason = [](decltype(E::value) error) {
        return RestoreFeedback::restoreTransferFailureReason(E{std::move(error)});
    };
    const QString incomplete
        = u"Restore Transfer received incomplete data. Retry this RAW Original."_s;
    const QStringList texts{reason(E::InvalidRangeData{1, 2}),
                            reason(E::ByteCountMismatch{1, 2}),
                            reason(E::ContentHashMismatch{}),
                            reason(E::MissingLocalLibraryItem{7}),
                            reason(E::DestinationAlreadyExists{}),
                            reason(E::Paused{}),
                            reason(E::Cancelled{}),
                            reason(E::UnexpectedRangeResponse{}),
                            reason(E::MissingSidecarCapability{}),
                            RestoreFeedback::restoreTransferFailureReason(CancellationError{}),
                            RestoreFeedback::restoreCompleteMessage(1),
                            RestoreFeedback::restoreCompleteMessage(5),
                            RestoreFeedback::restoreCompleteMessage(1000),
                            RestoreFeedback::itemsNeedAttentionMessage(1),
                            RestoreFeedback::itemsNeedAttentionMessage(5),
                            RestoreFeedback::restoreTransferPausedMessage()};
    QLocale::setDefault(QLocale::c());
    QCOMPARE(texts,
             (QStringList{
                 incomplete,
                 incomplete,
                 u"Restore Transfer did not verify the RAW Original. Retry this RAW Original."_s,
                 u"This RAW Original is missing from Local Library Cache. Refresh Local Library "
                 u"Cache, then retry."_s,
                 u"Restore destination changed. Choose a destination again, then retry."_s,
                 u"Restore Transfer paused. Continue when ready."_s,
                 u"Restore stopped in Pellwick."_s,
                 u"Restore Transfer could not download a byte range. Check your connection, then "
                 u"retry."_s,
                 u"Restore Transfer could not retrieve the paired Sidecar. Retry this Archive "
                 u"Package."_s,
                 u"Restore Transfer failed. Check your connection, then retry."_s,
                 u"Restore complete: 1 item(s) saved"_s,
                 u"Restore complete: 5 item(s) saved"_s,
                 u"Restore complete: 1000 item(s) saved"_s,
                 u"1 item(s) need attention"_s,
                 u"5 item(s) need attention"_s,
                 u"Restore Transfer paused"_s}));
}

QTEST_GUILESS_MAIN(RestoreOutcomesTests)
#include "RestoreOutcomesTests.moc"
