#include "KeyboardNavigation.h"

#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Restore/RestoreRequestSummary.h>

#include <QLabel>
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

/// What the card shows, top to bottom: buttons, the current timeline step, and identified
/// texts and strips with their colours.
QStringList outline(const RestoreRequestSummary &card)
{
    QStringList lines;
    for (QWidget *widget : card.findChildren<QWidget *>()) {
        const QString name = widget->objectName();
        const auto *label = qobject_cast<QLabel *>(widget);
        const bool isStrip = name == u"alert-strip.text"_s;
        if (!widget->isVisibleTo(&card))
            continue;
        if (auto *button = qobject_cast<QPushButton *>(widget))
            lines.append(name + u':' + button->text() + (button->isEnabled() ? u""_s : u" off"_s));
        else if (name == u"restore-timeline.row"_s && widget->property("active").toBool())
            lines.append(u"active:"_s + widget->accessibleName());
        else if (label && !label->text().isEmpty() && (name.startsWith(u"restore."_s) || isStrip))
            lines.append(
                u"%1=%2 %3"_s.arg(isStrip ? u"strip "_s + widget->parent()->objectName() : name,
                                  label->text(),
                                  colourName(*label)));
    }
    return lines;
}

struct Case
{
    RestoreSummaryFields fields = {};
    QStringList outline = {};
};

const QString none = u"restore.summary.item-count=0 item(s) grey"_s;

} // namespace

Q_DECLARE_METATYPE(Case)

class RestoreRequestSummaryTests : public QObject
{
    Q_OBJECT

private Q_SLOTS:

    void elementsInOrder_data()
    {
        QTest::addColumn<Case>("c");
        QTest::newRow("no request") << Case{.outline = {none}};
        QTest::newRow("needs attention, stopping")
            << Case{.fields = {.itemCount = 1,
                               .requestByteCount = 1536,
                               .statusText = u"Restore Needs Attention"_s,
                               .statusTone = Tone::Attention,
                               .attentionReason = u"why"_s,
                               .timelineStatus = Status::NeedsAttention,
                               .isCancellingRestore = true,
                               .message = u"Checked"_s,
                               .messageTone = Tone::Attention},
                    .outline = {u"restore.summary.item-count=1 item(s) blue"_s,
                                u"restore.summary.request-size=1.5 KB grey"_s,
                                u"restore.status=Restore Needs Attention orange"_s,
                                u"active:Needs Attention"_s,
                                u"restore.cancel-request:Stopping Restore… off"_s,
                                u"restore.retry-preparation:Retry Restore Preparation"_s,
                                u"strip restore.completed=Checked orange"_s,
                                u"strip restore.attention-reason=why orange"_s}};
        QTest::newRow("cancelled has no stop button and no current step")
            << Case{.fields = {.timelineStatus = Status::Cancelled}, .outline = {none}};
        QTest::newRow("downloaded: no stop button; every strip, in order") << Case{
            .fields = {.statusText = u"Restore Ready"_s,
                       .statusTone = Tone::Positive,
                       .allowanceText = u"1 KB of 4 KB"_s,
                       .preparationEstimate = u"Tomorrow"_s,
                       .attentionReason = u"why"_s,
                       .timelineStatus = Status::Downloaded,
                       .canRebuildLocalLibraryCache = true,
                       .message = u"Saved"_s,
                       .messageTone = Tone::Positive,
                       .errorMessage = u"Failed"_s,
                       .helpText = u"Help."_s,
                       .completedDestination = u"/home/u/Restored"_s},
            .outline = {none,
                        u"restore.status=Restore Ready green"_s,
                        u"restore.summary.allowance=1 KB of 4 KB grey"_s,
                        u"restore.summary.preparation-estimate=Tomorrow grey"_s,
                        u"active:Downloaded"_s,
                        u"restore.retry-preparation:Retry Restore Preparation"_s,
                        u"restore.rebuild-local-library-cache:Rebuild Local Library Cache"_s,
                        u"strip restore.completed=Saved green"_s,
                        u"strip =Failed red"_s,
                        u"strip restore.attention-reason=why orange"_s,
                        u"restore.summary.saved-to-path=/home/u/Restored label"_s,
                        u":Show in Folder"_s,
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

    /// Every button and the path are reached with Tab. "Show in Folder" (Linux has no viewer
    /// that selects a file) opens the folder itself, as a local file URL.
    void keyboardReachesEveryButtonAndThePath()
    {
        RestoreRequestSummary card;
        QList<QUrl> opened;
        card.setURLOpener([&opened](const QUrl &url) {
            opened.append(url);
            return true;
        });
        card.apply({.attentionReason = u"why"_s,
                    .timelineStatus = Status::NeedsAttention,
                    .canRebuildLocalLibraryCache = true,
                    .completedDestination = u"/home/u/Restored #1"_s});
        card.show();
        card.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&card));
        QSignalSpy stop(&card, &RestoreRequestSummary::cancelRestoreRequested);
        QSignalSpy retry(&card, &RestoreRequestSummary::retryPreparationRequested);
        QSignalSpy rebuild(&card, &RestoreRequestSummary::rebuildLocalLibraryCacheRequested);
        card.findChild<QWidget *>(u"restore.summary.saved-to-path"_s)->setFocus();
        const QList<QWidget *> reached = Test::focusChain(card);
        QCOMPARE(reached.size(), 5); // the path and four buttons
        for (QWidget *widget : reached) {
            widget->setFocus();
            Test::activateFocused(Qt::Key_Space);
        }
        QCOMPARE((QList{stop.size(), retry.size(), rebuild.size()}), (QList<qsizetype>{1, 1, 1}));
        QCOMPARE(opened, QList{QUrl::fromLocalFile(u"/home/u/Restored #1"_s)});
        QVERIFY(opened.first().isLocalFile());
    }
};

QTEST_MAIN(RestoreRequestSummaryTests)
#include "RestoreRequestSummaryTests.moc"
