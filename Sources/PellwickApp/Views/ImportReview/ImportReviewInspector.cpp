#include "ImportReviewInspector.h"

#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/PageControls.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/ProgressStatusLine.h>
#include <PellwickApp/Views/Kit/StatusLine.h>

#include <QLabel>
#include <QVBoxLayout>

namespace Pellwick {

using namespace Qt::StringLiterals;
using Theme = PellwickTheme;

ImportReviewInspector::ImportReviewInspector(QWidget *parent)
    : QScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Theme::fillBackground(*viewport(), Theme::controlBackground());

    auto *content = new QWidget;
    content->setAutoFillBackground(false);
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(14);

    QLabel *title = PageControls::headline(u"Status"_s, content);
    title->setObjectName(u"importReview.status"_s);
    column->addWidget(title);
    for (ProgressStatusLine *&line : m_runningLines) {
        line = new ProgressStatusLine({}, {}, LibraryPresentationTone::Secondary, false, content);
        column->addWidget(line);
    }
    m_attentionLine = new StatusLine({}, {}, LibraryPresentationTone::Secondary, content);
    column->addWidget(m_attentionLine);
    for (AlertStrip *&alert : m_alerts) {
        alert = new AlertStrip(
            {}, u"exclamationmark.triangle"_s, LibraryPresentationTone::Danger, content);
        column->addWidget(alert);
    }

    auto *guidance = new QLabel(u"Files stay in Ingest Cache until you select them in Library and "
                                u"start Import. Pellwick never deletes source media."_s,
                                content);
    guidance->setTextFormat(Qt::PlainText);
    guidance->setWordWrap(true);
    guidance->setFont(Theme::font(Theme::TextStyle::Caption));
    Theme::setTextColour(*guidance, Theme::secondaryLabel());
    column->addWidget(guidance);
    column->addStretch(1);
    setWidget(content);

    present(importReviewStatusPresentation({}));
}

void ImportReviewInspector::setInputs(const ImportReviewStatusInputs &inputs)
{
    ImportReviewStatusPresentation presentation = importReviewStatusPresentation(inputs);
    if (presentation != m_presentation)
        present(presentation);
}

QList<AlertStrip *> ImportReviewInspector::shownAlerts() const
{
    return shownStatusAlerts(m_alerts);
}

void ImportReviewInspector::present(const ImportReviewStatusPresentation &presentation)
{
    m_presentation = presentation;
    for (std::size_t index = 0; index < m_runningLines.size(); ++index) {
        const ImportReviewStatusItem &item = presentation.items[index];
        m_runningLines[index]->setLine(item.title, item.value, item.tone, item.isActive);
    }
    const ImportReviewStatusItem &attention = presentation.items.back();
    m_attentionLine->setLine(attention.title, attention.value, attention.tone);
    showStatusAlerts(m_alerts, presentation.alerts);
}

} // namespace Pellwick
