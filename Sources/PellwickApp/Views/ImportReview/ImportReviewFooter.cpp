#include "ImportReviewFooter.h"

#include <PellwickApp/Views/Kit/BusySpinner.h>
#include <PellwickApp/Views/Kit/FoldingBox.h>
#include <PellwickApp/Views/Kit/PageControls.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>

namespace Pellwick {

using namespace Qt::StringLiterals;
using Theme = PellwickTheme;

ImportReviewFooter::ImportReviewFooter(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 20);
    QWidget *full = makeArrangement(false);
    QWidget *folded = makeArrangement(true);
    m_bar = FoldingBox::alternating(full, folded, this);
    layout->addWidget(m_bar);
    setState(false, {}, false);
}

QWidget *ImportReviewFooter::makeArrangement(bool folded)
{
    auto *arrangement = new QWidget;
    Parts parts;
    auto *message = new QWidget(arrangement);
    auto *messageRow = new QHBoxLayout(message);
    messageRow->setContentsMargins(0, 0, 0, 0);
    messageRow->setSpacing(8);
    parts.spinner = new BusySpinner(message);
    parts.message = new QLabel(message);
    parts.message->setTextFormat(Qt::PlainText);
    // In the row the message asks for its full width, so a long one folds the footer instead of
    // being cut; folded, it wraps.
    parts.message->setWordWrap(folded);
    Theme::setTextColour(*parts.message, Theme::secondaryLabel());
    messageRow->addWidget(parts.spinner, 0, Qt::AlignVCenter);
    messageRow->addWidget(parts.message, 1);

    parts.button = PageControls::compactButton(u"Add to Ingest Cache"_s, arrangement);
    parts.button->setIcon(SymbolIcons::icon(u"externaldrive.badge.plus"_s));
    PageControls::identify(*parts.button, u"importReview.confirm"_s);
    PellwickControlStyles::pellwickPrimaryButton(*parts.button);
    connect(parts.button, &QPushButton::clicked, this, &ImportReviewFooter::confirmRequested);

    if (folded) {
        auto *column = new QVBoxLayout(arrangement);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(12);
        column->addWidget(message);
        column->addWidget(parts.button, 0, Qt::AlignRight);
    } else {
        auto *row = new QHBoxLayout(arrangement);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(12);
        row->addWidget(message, 1);
        row->addWidget(parts.button);
    }
    m_parts.append(parts);
    return arrangement;
}

void ImportReviewFooter::setState(bool isRecovering,
                                  const QString &confirmHelpText,
                                  bool canConfirm)
{
    for (const Parts &parts : std::as_const(m_parts)) {
        parts.spinner->setVisible(isRecovering);
        parts.message->setText(isRecovering ? u"Recovering interrupted Import"_s : confirmHelpText);
        parts.button->setEnabled(canConfirm);
    }
    // The row's width follows the message: choose the arrangement again at the same width.
    m_bar->updateGeometry();
    QResizeEvent resize(m_bar->size(), m_bar->size());
    QCoreApplication::sendEvent(m_bar, &resize);
}

void ImportReviewFooter::paintEvent(QPaintEvent * /*event*/)
{
    QPainter(this).fillRect(rect(), Theme::windowBackground());
}

} // namespace Pellwick
