#include "ImportReviewHeader.h"

#include <PellwickApp/Views/Kit/ElidedLabel.h>
#include <PellwickApp/Views/Kit/FoldingBox.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/StatusBadge.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>
#include <PellwickApp/Views/Kit/TransferProgressRows.h>
#include <PellwickCore/Library/LibraryPresentation.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>

#include <array>

namespace Pellwick {

using namespace Qt::StringLiterals;

QString binaryByteCountText(qint64 byteCount)
{
    if (byteCount <= 0)
        return u"Zero KB"_s;
    if (byteCount == 1)
        return u"1 byte"_s;
    if (byteCount < 1024)
        return QString::number(byteCount) + u" bytes"_s;

    struct Unit
    {
        const char16_t *name;
        int decimals;
    };

    static constexpr std::array<Unit, 5> units{
        {{u"KB", 0}, {u"MB", 1}, {u"GB", 2}, {u"TB", 2}, {u"PB", 2}}};
    qint64 unitBytes = 1024;
    for (std::size_t index = 0;; ++index, unitBytes *= 1024) {
        const Unit &unit = units[index];
        qint64 scale = 1;
        for (int digit = 0; digit < unit.decimals; ++digit)
            scale *= 10;
        // Integer rounding, half away from zero: no binary fraction decides a boundary.
        const qint64 whole = byteCount / unitBytes;
        const qint64 rest = byteCount % unitBytes;
        const qint64 scaled = whole * scale + (2 * rest * scale + unitBytes) / (2 * unitBytes);
        if (scaled >= 1024 * scale && index + 1 < units.size())
            continue;
        QString text = QString::number(scaled / scale);
        if (const qint64 fraction = scaled % scale; fraction != 0) {
            QString digits = QString::number(fraction).rightJustified(unit.decimals, u'0');
            while (digits.endsWith(u'0'))
                digits.chop(1);
            text += u'.' + digits;
        }
        return text + u' ' + QString::fromUtf16(unit.name);
    }
}

namespace {

QPushButton *actionButton(const QString &title, const QString &symbol, const QString &id)
{
    auto *button = new QPushButton(SymbolIcons::icon(symbol), title);
    button->setObjectName(id);
    PellwickControlStyles::compactActionButton(*button);
    PellwickControlStyles::compactActionButtonLabel(*button);
    return button;
}

} // namespace

ImportReviewHeaderActions::ImportReviewHeaderActions(QWidget *parent)
    : QWidget(parent)
{
    struct Action
    {
        QString title;
        QString symbol;
        QString id;
        void (ImportReviewHeaderActions::*signal)();
    };

    const std::array<Action, 2> actions{{
        {u"Rescan"_s,
         u"arrow.clockwise"_s,
         u"importReview.rescan"_s,
         &ImportReviewHeaderActions::rescanRequested},
        {u"Choose Folder"_s,
         u"folder"_s,
         u"importReview.chooseFolder"_s,
         &ImportReviewHeaderActions::chooseFolderRequested},
    }};

    auto *full = new QWidget;
    auto *row = new QHBoxLayout(full);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    auto *menuButton = actionButton(u"Import Actions"_s, u"ellipsis.circle"_s, {});
    menuButton->setObjectName(u"importReview.actionsMenu"_s);
    m_menu = new QMenu(menuButton);
    for (const Action &action : actions) {
        QPushButton *button = actionButton(action.title, action.symbol, action.id);
        connect(button, &QPushButton::clicked, this, action.signal);
        row->addWidget(button);
        QAction *item = m_menu->addAction(SymbolIcons::icon(action.symbol), action.title);
        item->setObjectName(action.id);
        connect(item, &QAction::triggered, this, action.signal);
    }
    row->addStretch(1);
    menuButton->setMenu(m_menu);
    auto *folded = new QWidget;
    auto *foldedRow = new QHBoxLayout(folded);
    foldedRow->setContentsMargins(0, 0, 0, 0);
    foldedRow->addWidget(menuButton);
    foldedRow->addStretch(1);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_bar = FoldingBox::alternating(full, folded, this);
    layout->addWidget(m_bar);
}

ImportReviewHeader::ImportReviewHeader(QWidget *parent)
    : PageHeader(u"Add to Ingest Cache"_s,
                 LibraryPresentation::importReviewSourceDetail({}),
                 true,
                 true,
                 parent)
    , m_actions(new ImportReviewHeaderActions(this))
    , m_status(new QStackedWidget)
    , m_sourceTitle(new ElidedLabel)
    , m_badge(new StatusBadge({}, LibraryPresentationTone::Secondary))
    , m_count(new QLabel)
    , m_bytes(new QLabel)
    , m_progressRows(new TransferProgressRows)
{
    actionBar()->addWidget(m_actions, 1);
    connect(m_actions,
            &ImportReviewHeaderActions::rescanRequested,
            this,
            &ImportReviewHeader::rescanRequested);
    connect(m_actions,
            &ImportReviewHeaderActions::chooseFolderRequested,
            this,
            &ImportReviewHeader::chooseFolderRequested);

    auto *source = new QWidget;
    m_source = new QVBoxLayout(source);
    m_source->setContentsMargins(0, 0, 0, 0);
    m_source->setSpacing(8);
    m_sourceTitle->setObjectName(u"importReview.sourceTitle"_s);
    m_sourceTitle->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Headline));
    m_source->addWidget(m_sourceTitle);
    auto *summary = new QWidget;
    summary->setObjectName(u"importReview.scanSummary"_s);
    auto *row = new QHBoxLayout(summary);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(m_badge);
    for (QLabel *label : {m_count, m_bytes}) {
        label->setTextFormat(Qt::PlainText);
        label->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Callout));
        PellwickTheme::setTextColour(*label, PellwickTheme::secondaryLabel());
        row->addWidget(label);
    }
    row->addStretch(1);
    m_source->addWidget(summary);
    m_status->addWidget(source);
    m_status->addWidget(m_progressRows);
    setStatus(m_status);
    showStatusPage(0);
    updateSourceStatus();
}

void ImportReviewHeader::setReview(const std::optional<ImportReview> &review)
{
    m_review = review;
    updateSourceStatus();
}

void ImportReviewHeader::setScanning(bool isScanning)
{
    m_isScanning = isScanning;
    updateSourceStatus();
}

void ImportReviewHeader::setProgresses(const QList<TransferProgress> &progresses)
{
    m_progressRows->setProgresses(progresses);
    showStatusPage(progresses.isEmpty() ? 0 : 1);
}

void ImportReviewHeader::setCompact(bool compact)
{
    PageHeader::setCompact(compact);
    m_source->setDirection(compact ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
    m_source->setSpacing(compact ? 16 : 8);
}

void ImportReviewHeader::showStatusPage(int index)
{
    // The status region is as tall as what it shows: a page out of sight asks for no room.
    for (int page = 0; page < m_status->count(); ++page) {
        const auto policy = page == index ? QSizePolicy::Preferred : QSizePolicy::Ignored;
        m_status->widget(page)->setSizePolicy(policy, policy);
    }
    m_status->setCurrentIndex(index);
    m_status->updateGeometry();
}

void ImportReviewHeader::updateSourceStatus()
{
    setDescription(LibraryPresentation::importReviewSourceDetail(m_review));
    m_sourceTitle->setText(LibraryPresentation::importReviewSourceTitle(m_review));
    if (m_isScanning) {
        m_badge->setText(u"Scanning"_s);
        m_badge->setTone(LibraryPresentationTone::Active);
    } else if (!m_review) {
        m_badge->setText(u"No source"_s);
        m_badge->setTone(LibraryPresentationTone::Secondary);
    } else {
        m_badge->setText(u"Scan Complete"_s);
        m_badge->setTone(LibraryPresentationTone::Positive);
    }
    // The word stays plural for one, as everywhere on this page.
    m_count->setText(QString::number(m_review ? m_review->candidateCount() : 0)
                     + u" RAW Originals"_s);
    m_bytes->setText(m_review ? binaryByteCountText(m_review->totalSupportedBytes())
                              : u"0 bytes"_s);
}

} // namespace Pellwick
