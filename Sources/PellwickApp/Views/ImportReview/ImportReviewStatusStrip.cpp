#include "ImportReviewStatusStrip.h"

#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/BusySpinner.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QStyle>

#include <algorithm>

namespace Pellwick {

using namespace Qt::StringLiterals;

namespace {

using Tone = LibraryPresentationTone;
using Theme = PellwickTheme;

ImportReviewStatusItem runningItem(const QString &title, const QString &value, bool isActive)
{
    return {
        title, isActive ? value : u"Idle"_s, isActive ? Tone::Active : Tone::Secondary, isActive};
}

/// A caption label of at most two lines, cut after the second.
QLabel *twoLineLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setMaximumHeight(2 * label->fontMetrics().lineSpacing());
    return label;
}

} // namespace

ImportReviewStatusPresentation importReviewStatusPresentation(const ImportReviewStatusInputs &in)
{
    const QString attention = LibraryPresentation::importReviewNeedsAttentionText(in.review);
    ImportReviewStatusPresentation presentation{
        .items = {{
            runningItem(u"Scanning progress"_s, u"Scanning"_s, in.isScanning),
            runningItem(u"Import progress"_s, u"Importing"_s, in.isImporting),
            runningItem(
                u"Restart Reconciliation"_s, u"Recovering interrupted Import"_s, in.isRecovering),
            {u"Needs Attention"_s,
             attention,
             attention == u"None"_s ? Tone::Secondary : Tone::Attention,
             false},
        }},
        .alerts = {},
    };
    if (const auto warning = LibraryPresentation::importReviewNeedsAttentionWarningText(in.review))
        presentation.alerts.append({*warning, u"exclamationmark.triangle"_s, Tone::Attention});
    if (in.recoveryMessage) {
        presentation.alerts.append(
            in.isRecovering ? ImportReviewStatusAlert{*in.recoveryMessage,
                                                      u"arrow.triangle.2.circlepath"_s,
                                                      Tone::Active}
                            : ImportReviewStatusAlert{
                                *in.recoveryMessage, u"exclamationmark.triangle"_s, Tone::Danger});
    }
    if (in.importErrorMessage) {
        presentation.alerts.append(in.isImportMessageSuccess
                                       ? ImportReviewStatusAlert{*in.importErrorMessage,
                                                                 u"checkmark.circle"_s,
                                                                 Tone::Positive}
                                       : ImportReviewStatusAlert{*in.importErrorMessage,
                                                                 u"exclamationmark.triangle"_s,
                                                                 Tone::Danger});
    }
    return presentation;
}

void showStatusAlerts(const std::array<AlertStrip *, 3> &strips,
                      const QList<ImportReviewStatusAlert> &alerts)
{
    for (qsizetype index = 0; index < qsizetype(strips.size()); ++index) {
        AlertStrip *strip = strips[std::size_t(index)];
        if (index < alerts.size()) {
            const ImportReviewStatusAlert &shown = alerts[index];
            strip->setAlert(shown.text, shown.systemImage, shown.tone);
        }
        strip->setVisible(index < alerts.size());
    }
}

QList<AlertStrip *> shownStatusAlerts(const std::array<AlertStrip *, 3> &strips)
{
    QList<AlertStrip *> shown;
    for (AlertStrip *strip : strips) {
        if (!strip->isHidden())
            shown.append(strip);
    }
    return shown;
}

ImportReviewStatusStrip::ImportReviewStatusStrip(QWidget *parent)
    : QWidget(parent)
    , m_alertRegion(new QScrollArea(this))
{
    setFont(Theme::font(Theme::TextStyle::Caption));
    auto *column = new QVBoxLayout(this);

    m_title = new QLabel(u"Status"_s, this);
    m_title->setObjectName(u"importReview.status"_s);
    m_title->setFont(Theme::font(Theme::TextStyle::Headline));

    m_grid = new QGridLayout;
    m_grid->setHorizontalSpacing(16);
    m_grid->setVerticalSpacing(10);
    for (Cell &parts : m_cells) {
        parts.cell = new QWidget(this);
        auto *stack = new QVBoxLayout(parts.cell);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(3);
        auto *titleRow = new QHBoxLayout;
        titleRow->setSpacing(5);
        parts.spinner = new BusySpinner(parts.cell);
        parts.title = twoLineLabel(parts.cell);
        Theme::setTextColour(*parts.title, Theme::secondaryLabel());
        titleRow->addWidget(parts.spinner, 0, Qt::AlignVCenter);
        titleRow->addWidget(parts.title, 1);
        stack->addLayout(titleRow);
        QFont valueFont = font();
        valueFont.setWeight(QFont::Medium);
        parts.value = twoLineLabel(parts.cell);
        parts.value->setFont(valueFont);
        stack->addWidget(parts.value);
    }
    column->addLayout(m_grid);
    arrangeGrid(false);

    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    m_alertRegion->setObjectName(u"importReview.alertRegion"_s);
    m_alertRegion->setFrameShape(QFrame::NoFrame);
    m_alertRegion->setWidgetResizable(true);
    m_alertRegion->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_alertRegion->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_alertRegion->viewport()->setAutoFillBackground(false);
    auto *alerts = new QWidget;
    alerts->setAutoFillBackground(false);
    auto *alertColumn = new QVBoxLayout(alerts);
    alertColumn->setContentsMargins(0, 0, 0, 0);
    alertColumn->setSpacing(8);
    for (AlertStrip *&alert : m_alerts) {
        alert = new AlertStrip({}, u"exclamationmark.triangle"_s, Tone::Danger, alerts);
        alertColumn->addWidget(alert);
    }
    alertColumn->addStretch(1);
    m_alertRegion->setWidget(alerts);
    column->addWidget(m_alertRegion);

    auto *guidance = new QLabel(u"Confirming Import starts staging, upload, and Verified Backup "
                                u"checks. Pellwick never deletes source media."_s,
                                this);
    guidance->setWordWrap(true);
    Theme::setTextColour(*guidance, Theme::secondaryLabel());
    column->addWidget(guidance);

    present(importReviewStatusPresentation({}));
}

void ImportReviewStatusStrip::setInputs(const ImportReviewStatusInputs &inputs)
{
    ImportReviewStatusPresentation presentation = importReviewStatusPresentation(inputs);
    if (presentation != m_presentation)
        present(presentation);
}

QList<AlertStrip *> ImportReviewStatusStrip::shownAlerts() const
{
    return shownStatusAlerts(m_alerts);
}

void ImportReviewStatusStrip::present(const ImportReviewStatusPresentation &presentation)
{
    m_presentation = presentation;
    for (std::size_t index = 0; index < m_cells.size(); ++index) {
        const ImportReviewStatusItem &item = presentation.items[index];
        const Cell &cell = m_cells[index];
        cell.spinner->setVisible(item.isActive);
        cell.title->setText(item.title);
        cell.value->setText(item.value);
        Theme::setTextColour(*cell.value, Theme::toneColour(item.tone));
    }
    showStatusAlerts(m_alerts, presentation.alerts);
    fitAlertRegion();
}

void ImportReviewStatusStrip::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const QMargins margins = layout()->contentsMargins();
    const int width = contentsRect().width() - margins.left() - margins.right();
    const int oneRow = m_title->sizeHint().width()
                       + int(m_cells.size()) * (cellMinimumWidth + m_grid->horizontalSpacing());
    arrangeGrid(width >= oneRow);
    fitAlertRegion();
}

void ImportReviewStatusStrip::arrangeGrid(bool oneRow)
{
    if (m_grid->count() > 0 && oneRow == m_isOneRow)
        return;
    m_isOneRow = oneRow;
    // The one-row arrangement is the short one: it also takes less room above and below.
    layout()->setContentsMargins(16, oneRow ? 10 : 16, 16, oneRow ? 10 : 16);
    layout()->setSpacing(oneRow ? 8 : 10);
    m_grid->removeWidget(m_title);
    for (const Cell &parts : m_cells)
        m_grid->removeWidget(parts.cell);
    // One row: the title, then the four cells. Else the title above two rows of two.
    for (int column = 0; column <= int(m_cells.size()); ++column) {
        const bool isCell = oneRow ? column >= 1 : column <= 1;
        m_grid->setColumnMinimumWidth(column, isCell ? cellMinimumWidth : 0);
        m_grid->setColumnStretch(column, isCell ? 1 : 0);
    }
    m_grid->addWidget(m_title, 0, 0, 1, oneRow ? 1 : 2, Qt::AlignLeft | Qt::AlignTop);
    for (std::size_t index = 0; index < m_cells.size(); ++index) {
        const int row = oneRow ? 0 : 1 + int(index / 2);
        const int column = oneRow ? 1 + int(index) : int(index % 2);
        m_grid->addWidget(m_cells[index].cell, row, column, Qt::AlignTop);
    }
}

void ImportReviewStatusStrip::fitAlertRegion()
{
    QWidget *alerts = m_alertRegion->widget();
    // Measured as if the scroll bar were there, so a region at its maximum needs no second pass.
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const QMargins margins = layout()->contentsMargins();
    const int width
        = std::max(0, contentsRect().width() - margins.left() - margins.right() - scrollBar);
    const int wanted = alerts->layout()->hasHeightForWidth()
                           ? alerts->layout()->totalHeightForWidth(width)
                           : alerts->sizeHint().height();
    m_alertRegion->setFixedHeight(std::min(wanted, alertRegionMaximumHeight));
    m_alertRegion->setVisible(!shownAlerts().isEmpty());
}

void ImportReviewStatusStrip::paintEvent(QPaintEvent * /*event*/)
{
    QPainter(this).fillRect(rect(), Theme::controlBackground());
}

} // namespace Pellwick
