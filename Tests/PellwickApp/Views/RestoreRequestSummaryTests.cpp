#include "KeyboardNavigation.h"

#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/ShellUtilityViews.h>
#include <PellwickApp/Views/Restore/RestoreRequestSummary.h>

#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace Pellwick;
using namespace Qt::StringLiterals;

using Status = RestoreRequestStatus;
using Tone = LibraryPresentationTone;

namespace {

QString colourName(const QWidget &widget)
{
    const QColor colour = widget.palette().color(QPalette::WindowText);
    for (const auto &[tone, name] : {std::pair{Tone::Positive, "green"},
                                     {Tone::Attention, "orange"},
                                     {Tone::Danger, "red"},
                                     {Tone::Primary, "blue"},
                                     {Tone::Secondary, "grey"}}) {
        if (PellwickTheme::toneColour(tone) == colour)
            return QString::fromLatin1(name);
    }
    return colour == PellwickTheme::label() ? u"label"_s : colour.name();
}

/// What the card shows, top to bottom: identified texts with their colours, the current
/// timeline step, buttons and strips.
QStringList outline(const RestoreRequestSummary &card)
{
    QStringList lines;
    const auto describe = [&lines, &card](QWidget *widget) {
        if (auto *label = qobject_cast<QLabel *>(widget);
            label && label->objectName().startsWith(u"restore."_s) && label->isVisibleTo(&card))
            lines.append(u"%1=%2 %3"_s.arg(label->objectName(), label->text(), colourName(*label)));
        if (widget->objectName() == u"restore-timeline.row"_s
            && widget->property("active").toBool())
            lines.append(u"active:"_s + widget->accessibleName());
    };
    for (int index = 0; index < card.layout()->count(); ++index) {
        QWidget *widget = card.layout()->itemAt(index)->widget();
        if (!widget || widget->isHidden())
            continue;
        if (auto *button = qobject_cast<QPushButton *>(widget)) {
            lines.append(u"%1:%2%3"_s.arg(button->objectName(),
                                          button->text(),
                                          button->isEnabled() ? QString() : u" disabled"_s));
        } else if (auto *strip = qobject_cast<AlertStrip *>(widget)) {
            lines.append(u"strip %1:%2 %3"_s.arg(
                strip->objectName(),
                strip->text(),
                colourName(*strip->findChild<QLabel *>(u"alert-strip.text"_s))));
        } else {
            describe(widget);
            for (QWidget *child : widget->findChildren<QWidget *>())
                describe(child);
        }
    }
    return lines;
}

struct Case
{
    RestoreSummaryFields fields = {};
    QStringList outline = {};
};

const QString help = u"restore.summary.help= grey"_s;

} // namespace

Q_DECLARE_METATYPE(Case)

class RestoreRequestSummaryTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void elementsInOrder_data()
    {
        QTest::addColumn<Case>("c");
        QTest::newRow("no request") << Case{
            .outline
            = {u"restore.summary.item-count=0 item(s) grey"_s, u"restore.status= grey"_s, help}};
        QTest::newRow("needs attention with a reason and a message")
            << Case{.fields = {.itemCount = 1,
                               .requestByteCount = 1536,
                               .statusText = u"Restore Needs Attention"_s,
                               .statusTone = Tone::Attention,
                               .attentionReason = u"why"_s,
                               .timelineStatus = Status::NeedsAttention,
                               .message = u"Checked"_s},
                    .outline = {u"restore.summary.item-count=1 item(s) blue"_s,
                                u"restore.summary.request-size=1.5 KB grey"_s,
                                u"restore.status=Restore Needs Attention orange"_s,
                                u"active:Needs Attention"_s,
                                u"restore.cancel-request:Stop Restore"_s,
                                u"restore.retry-preparation:Retry Restore Preparation"_s,
                                u"strip restore.completed:Checked orange"_s,
                                u"strip restore.attention-reason:why orange"_s,
                                help}};
        QTest::newRow("cancelling")
            << Case{.fields = {.timelineStatus = Status::Preparing, .isCancellingRestore = true},
                    .outline = {u"restore.summary.item-count=0 item(s) grey"_s,
                                u"restore.status= grey"_s,
                                u"active:Preparing"_s,
                                u"restore.cancel-request:Stopping Restore… disabled"_s,
                                help}};
        QTest::newRow("downloaded has no stop button")
            << Case{.fields = {.timelineStatus = Status::Downloaded},
                    .outline = {u"restore.summary.item-count=0 item(s) grey"_s,
                                u"restore.status= grey"_s,
                                u"active:Downloaded"_s,
                                help}};
        QTest::newRow("cancelled has no stop button and no current step") << Case{
            .fields = {.timelineStatus = Status::Cancelled},
            .outline
            = {u"restore.summary.item-count=0 item(s) grey"_s, u"restore.status= grey"_s, help}};
        QTest::newRow("every strip, in order") << Case{
            .fields = {.statusTone = Tone::Positive,
                       .allowanceText = u"1 KB of 4 KB"_s,
                       .preparationEstimate = u"Tomorrow"_s,
                       .attentionReason = u"why"_s,
                       .canRebuildLocalLibraryCache = true,
                       .message = u"Saved"_s,
                       .errorMessage = u"Failed"_s,
                       .helpText = u"Help."_s,
                       .completedDestination = u"/home/u/Restored"_s},
            .outline = {u"restore.summary.item-count=0 item(s) grey"_s,
                        u"restore.status= green"_s,
                        u"restore.summary.allowance=1 KB of 4 KB grey"_s,
                        u"restore.summary.preparation-estimate=Tomorrow grey"_s,
                        u"restore.retry-preparation:Retry Restore Preparation"_s,
                        u"restore.rebuild-local-library-cache:Rebuild Local Library Cache"_s,
                        u"strip restore.completed:Saved green"_s,
                        u"strip :Failed red"_s,
                        u"strip restore.attention-reason:why orange"_s,
                        u"restore.summary.saved-to-path=/home/u/Restored label"_s,
                        u"restore.summary.help=Help. grey"_s}};
    }

    void elementsInOrder()
    {
        QFETCH(Case, c);
        RestoreRequestSummary card;
        card.apply({.timelineStatus = Status::Ready, .message = u"before"_s});
        card.apply(c.fields);
        QCOMPARE(outline(card), c.outline);
    }

    void reasonIsPlainTextAndKeepsTheCardNarrow()
    {
        RestoreRequestSummary card;
        const QString reason = u"<img src=x>"_s + QString(50'000, u'x');
        card.apply({.attentionReason = reason});
        auto *strip = card.findChild<AlertStrip *>(u"restore.attention-reason"_s);
        auto *text = strip->findChild<QLabel *>(u"alert-strip.text"_s);
        QCOMPARE(text->textFormat(), Qt::PlainText);
        QCOMPARE(text->text(), reason);
        QVERIFY(card.minimumSizeHint().width() < 600);
    }

    /// Linux has no viewer that selects a file: the button reads "Show in Folder" and opens the
    /// folder itself, as a local file URL.
    void showInFolderOpensTheFolder()
    {
        RestoreRequestSummary card;
        QList<QUrl> opened;
        card.setURLOpener([&opened](const QUrl &url) {
            opened.append(url);
            return true;
        });
        card.apply({.completedDestination = u"/home/u/Pictures/Restored #1"_s});
        QPushButton *show = nullptr;
        for (QPushButton *button : card.findChildren<QPushButton *>())
            show = button->text() == u"Show in Folder"_s ? button : show;
        QVERIFY(show);
        QTest::mouseClick(show, Qt::LeftButton);
        QCOMPARE(opened, QList{QUrl::fromLocalFile(u"/home/u/Pictures/Restored #1"_s)});
        QVERIFY(opened.first().isLocalFile());
    }

    void keyboardReachesEveryButtonAndThePath()
    {
        RestoreRequestSummary card;
        card.setURLOpener([](const QUrl &) { return true; });
        card.apply({.attentionReason = u"why"_s,
                    .timelineStatus = Status::NeedsAttention,
                    .canRebuildLocalLibraryCache = true,
                    .completedDestination = u"/home/u/Restored"_s});
        card.show();
        card.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&card));
        auto *stop = card.findChild<QPushButton *>(u"restore.cancel-request"_s);
        auto *retry = card.findChild<QPushButton *>(u"restore.retry-preparation"_s);
        auto *rebuild = card.findChild<QPushButton *>(u"restore.rebuild-local-library-cache"_s);
        stop->setFocus();
        const QList<QWidget *> reached = Test::focusChain(card);
        QCOMPARE(reached.size(), 5);
        QVERIFY(reached.contains(card.findChild<QLabel *>(u"restore.summary.saved-to-path"_s)));
        const QList<std::pair<QPushButton *, void (RestoreRequestSummary::*)()>> actions{
            {stop, &RestoreRequestSummary::cancelRestoreRequested},
            {retry, &RestoreRequestSummary::retryPreparationRequested},
            {rebuild, &RestoreRequestSummary::rebuildLocalLibraryCacheRequested}};
        for (const auto &[button, signal] : actions) {
            QVERIFY(reached.contains(button));
            QSignalSpy spy(&card, signal);
            button->setFocus();
            Test::activateFocused(Qt::Key_Space);
            QCOMPARE(spy.size(), 1);
        }
    }
};

QTEST_MAIN(RestoreRequestSummaryTests)
#include "RestoreRequestSummaryTests.moc"
