#include <PellwickApp/Feedback/RestoreFeedback.h>

#include <QLocale>
#include <QTest>

#include <cerrno>

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
    const QString restored = u"/home/ada/Restored"_s, state = u"/home/ada/RestoreTransfers"_s;
    const auto reason = [&](decltype(E::value) error) {
        return RestoreFeedback::restoreTransferFailureReason(E{std::move(error)}, restored, state);
    };
    const QString incomplete
        = u"Restore Transfer received incomplete data. Retry this RAW Original."_s;
    // clang-format off
    const std::pair<QString, QString> texts[]{
        {reason(E::InvalidRangeData{1, 2}), incomplete},
        {reason(E::ByteCountMismatch{1, 2}), incomplete},
        {reason(E::ContentHashMismatch{}), u"Restore Transfer did not verify the RAW Original. Retry this RAW Original."_s},
        {reason(E::MissingLocalLibraryItem{7}), u"This RAW Original is missing from Local Library Cache. Refresh Local Library Cache, then retry."_s},
        {reason(E::DestinationAlreadyExists{}), u"Restore destination changed. Choose a destination again, then retry."_s},
        {reason(E::Paused{}), u"Restore Transfer paused. Continue when ready."_s},
        {reason(E::Cancelled{}), u"Restore stopped in Pellwick."_s},
        {reason(E::UnexpectedRangeResponse{}), u"Restore Transfer could not download a byte range. Check your connection, then retry."_s},
        {reason(E::MissingSidecarCapability{}), u"Restore Transfer could not retrieve the paired Sidecar. Retry this Archive Package."_s},
        {RestoreFeedback::restoreTransferFailureReason(CancellationError{}, restored, state), u"Restore Transfer failed. Check your connection, then retry."_s},
        {RestoreFeedback::restoreTransferFailureReason(FileSystemError{u"mkdir"_s, u"/ro/pw"_s, EROFS}, restored, u"/ro/pw/transfers"_s),
            u"Pellwick's restore state folder (/ro/pw/transfers) cannot be written (read-only). Make it writable, then retry."_s},
        {RestoreFeedback::restoreCompleteMessage(1), u"Restore complete: 1 item(s) saved"_s},
        {RestoreFeedback::restoreCompleteMessage(5), u"Restore complete: 5 item(s) saved"_s},
        {RestoreFeedback::restoreCompleteMessage(1000), u"Restore complete: 1000 item(s) saved"_s},
        {RestoreFeedback::partlySavedMessage(0, 1, 1), u"0 of 1 item(s) saved; 1 need attention"_s},
        {RestoreFeedback::partlySavedMessage(6, 1024, 1018), u"6 of 1024 item(s) saved; 1018 need attention"_s},
        {RestoreFeedback::restoreTransferPausedMessage(), u"Restore Transfer paused"_s},
        {RestoreFeedback::unfinishedRestoreTransferMessage(25, 1042, u"/home/ada/Restored"_s),
            u"Restore Transfer paused: 25 of 1042 item(s) saved in /home/ada/Restored"_s}};
    // clang-format on
    QLocale::setDefault(QLocale::c());
    for (const auto &[text, expected] : texts)
        QCOMPARE(text, expected);
}

QTEST_GUILESS_MAIN(RestoreOutcomesTests)
#include "RestoreOutcomesTests.moc"
