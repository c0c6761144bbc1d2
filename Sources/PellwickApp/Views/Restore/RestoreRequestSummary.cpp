#include "RestoreRequestSummary.h"

#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>
#include <utility>

namespace Pellwick {

namespace {

using Style = PellwickTheme::TextStyle;

/// The timeline's steps, in order; a step is current exactly when the request has its status.
const std::array<std::pair<RestoreRequestStatus, const char *>, 4> timelineSteps{{
    {RestoreRequestStatus::Preparing, "Preparing"},
    {RestoreRequestStatus::Ready, "Ready"},
    {RestoreRequestStatus::Downloaded, "Downloaded"},
    {RestoreRequestStatus::NeedsAttention, "Needs Attention"},
}};

constexpr int timelineSymbolSize = 14;

QLabel *plainLabel(QWidget *parent, const QFont &font, const QColor &colour, bool wraps)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setWordWrap(wraps);
    PellwickTheme::setTextColour(*label, colour);
    return label;
}

QFont weighted(Style style, QFont::Weight weight)
{
    QFont font = PellwickTheme::font(style);
    font.setWeight(weight);
    return font;
}

/// A strip whose text comes from the backend: however long an unbroken word in it is, the
/// strip never asks the card to be wider than the page offers.
AlertStrip *backendStrip(QWidget *parent, const QString &identifier)
{
    auto *strip = new AlertStrip(
        {}, QStringLiteral("exclamationmark.triangle"), LibraryPresentationTone::Secondary, parent);
    strip->setObjectName(identifier);
    strip->setMinimumWidth(1);
    return strip;
}

void showIf(QWidget *widget, const std::optional<QString> &text)
{
    widget->setVisible(text.has_value());
}

} // namespace

RestoreRequestSummary::RestoreRequestSummary(QWidget *parent)
    : QWidget(parent)
    , m_urlOpener([](const QUrl &url) { return QDesktopServices::openUrl(url); })
{
    setObjectName(QStringLiteral("restore.summary"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(16);

    auto *title
        = plainLabel(this, PellwickTheme::font(Style::Headline), PellwickTheme::label(), false);
    title->setText(QStringLiteral("Restore Request"));
    layout->addWidget(title);

    auto *facts = new QWidget(this);
    auto *factLayout = new QVBoxLayout(facts);
    factLayout->setContentsMargins(0, 0, 0, 0);
    factLayout->setSpacing(8);
    for (const char *identifier : {"restore.summary.item-count",
                                   "restore.summary.request-size",
                                   "restore.status",
                                   "restore.summary.allowance",
                                   "restore.summary.preparation-estimate"}) {
        m_facts.append(makeFact(facts, QString::fromLatin1(identifier)));
        factLayout->addWidget(m_facts.last().widget);
    }
    m_facts[1].title->setText(QStringLiteral("Restore Request size"));
    m_facts[2].title->setText(QStringLiteral("Status"));
    m_facts[3].title->setText(QStringLiteral("Restore Allowance"));
    m_facts[4].title->setText(QStringLiteral("Estimated ready time"));
    layout->addWidget(facts);
    layout->addWidget(makeTimeline());

    m_stop = makeButton(QStringLiteral("Stop Restore"), QStringLiteral("xmark.circle"));
    m_stop->setObjectName(QStringLiteral("restore.cancel-request"));
    connect(m_stop, &QPushButton::clicked, this, &RestoreRequestSummary::cancelRestoreRequested);
    m_retry = makeButton(QStringLiteral("Retry Restore Preparation"),
                         QStringLiteral("arrow.clockwise"));
    m_retry->setObjectName(QStringLiteral("restore.retry-preparation"));
    connect(
        m_retry, &QPushButton::clicked, this, &RestoreRequestSummary::retryPreparationRequested);
    m_rebuild = makeButton(QStringLiteral("Rebuild Local Library Cache"),
                           QStringLiteral("arrow.triangle.2.circlepath"));
    m_rebuild->setObjectName(QStringLiteral("restore.rebuild-local-library-cache"));
    connect(m_rebuild,
            &QPushButton::clicked,
            this,
            &RestoreRequestSummary::rebuildLocalLibraryCacheRequested);
    for (QPushButton *button : {m_stop, m_retry, m_rebuild})
        layout->addWidget(button, 0, Qt::AlignLeft);

    m_message = backendStrip(this, QStringLiteral("restore.completed"));
    m_error = backendStrip(this, {});
    m_attention = backendStrip(this, QStringLiteral("restore.attention-reason"));
    for (AlertStrip *strip : {m_message, m_error, m_attention})
        layout->addWidget(strip);

    m_savedTo = makeSavedTo();
    layout->addWidget(m_savedTo);

    m_help = plainLabel(
        this, PellwickTheme::font(Style::Caption), PellwickTheme::secondaryLabel(), true);
    m_help->setObjectName(QStringLiteral("restore.summary.help"));
    m_help->setMinimumWidth(1);
    layout->addWidget(m_help);
    layout->addStretch(1);

    apply({});
}

RestoreRequestSummary::Fact RestoreRequestSummary::makeFact(QWidget *parent,
                                                            const QString &identifier)
{
    Fact fact;
    fact.widget = new QWidget(parent);
    auto *layout = new QVBoxLayout(fact.widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    fact.title = plainLabel(
        fact.widget, PellwickTheme::font(Style::Caption), PellwickTheme::secondaryLabel(), true);
    fact.value = plainLabel(
        fact.widget, weighted(Style::Callout, QFont::Medium), PellwickTheme::label(), true);
    fact.value->setObjectName(identifier);
    fact.value->setMinimumWidth(1);
    layout->addWidget(fact.title);
    layout->addWidget(fact.value);
    return fact;
}

QWidget *RestoreRequestSummary::makeTimeline()
{
    auto *timeline = new QWidget(this);
    auto *layout = new QVBoxLayout(timeline);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto *heading = plainLabel(
        timeline, weighted(Style::Subheadline, QFont::DemiBold), PellwickTheme::label(), false);
    heading->setText(QStringLiteral("Restore Timeline"));
    layout->addWidget(heading);
    for (const auto &[status, title] : timelineSteps) {
        TimelineRow row;
        row.widget = new QWidget(timeline);
        row.widget->setObjectName(QStringLiteral("restore-timeline.row"));
        auto *rowLayout = new QHBoxLayout(row.widget);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(8);
        row.symbol = new QLabel(row.widget);
        row.title = plainLabel(
            row.widget, PellwickTheme::font(Style::Caption), PellwickTheme::label(), false);
        row.title->setText(QString::fromLatin1(title));
        row.widget->setAccessibleName(row.title->text());
        rowLayout->addWidget(row.symbol, 0, Qt::AlignVCenter);
        rowLayout->addWidget(row.title, 1, Qt::AlignVCenter);
        layout->addWidget(row.widget);
        m_timeline.append(row);
    }
    return timeline;
}

QPushButton *RestoreRequestSummary::makeButton(const QString &text, const QString &systemImage)
{
    auto *button = new QPushButton(text, this);
    button->setIcon(SymbolIcons::icon(systemImage, Qt::white));
    PellwickControlStyles::compactActionButton(*button);
    PellwickControlStyles::compactActionButtonLabel(*button);
    return button;
}

QWidget *RestoreRequestSummary::makeSavedTo()
{
    auto *block = new QWidget(this);
    auto *layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto *heading = plainLabel(
        block, weighted(Style::Caption, QFont::DemiBold), PellwickTheme::secondaryLabel(), false);
    heading->setText(QStringLiteral("Saved to"));
    layout->addWidget(heading);
    QFont monospaced = PellwickTheme::font(Style::Monospaced);
    monospaced.setPointSizeF(PellwickTheme::font(Style::Caption).pointSizeF());
    m_path = plainLabel(block, monospaced, PellwickTheme::label(), true);
    m_path->setObjectName(QStringLiteral("restore.summary.saved-to-path"));
    m_path->setMinimumWidth(1);
    m_path->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_path->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(m_path);
    // The folder opens in the file manager: Linux has no viewer that selects a file in it.
    auto *show = makeButton(QStringLiteral("Show in Folder"), QStringLiteral("folder"));
    connect(show, &QPushButton::clicked, this, &RestoreRequestSummary::showFolder);
    layout->addWidget(show, 0, Qt::AlignLeft);
    return block;
}

void RestoreRequestSummary::apply(const RestoreSummaryFields &fields)
{
    m_fields = fields;
    const auto setFact
        = [this](int index, const std::optional<QString> &value, LibraryPresentationTone tone) {
              const Fact &fact = m_facts.at(index);
              fact.widget->setVisible(value.has_value());
              fact.value->setText(value.value_or(QString()));
              PellwickTheme::setTextColour(*fact.value, PellwickTheme::toneColour(tone));
          };
    m_facts[0].title->setText(fields.itemTitle);
    setFact(0,
            QStringLiteral("%1 item(s)").arg(fields.itemCount),
            fields.itemCount == 0 ? LibraryPresentationTone::Secondary
                                  : LibraryPresentationTone::Primary);
    setFact(1,
            fields.requestByteCount
                ? std::optional(LibraryPresentation::byteText(*fields.requestByteCount))
                : std::nullopt,
            LibraryPresentationTone::Secondary);
    setFact(2, fields.statusText, fields.statusTone);
    setFact(3, fields.allowanceText, LibraryPresentationTone::Secondary);
    setFact(4, fields.preparationEstimate, LibraryPresentationTone::Secondary);

    for (qsizetype index = 0; index < m_timeline.size(); ++index) {
        const TimelineRow &row = m_timeline.at(index);
        const bool isActive = fields.timelineStatus == timelineSteps.at(index).first;
        row.widget->setProperty("active", isActive);
        const QColor colour
            = isActive ? PellwickTheme::systemBlue() : PellwickTheme::secondaryLabel();
        row.symbol->setPixmap(SymbolIcons::pixmap(
            isActive ? QStringLiteral("largecircle.fill.circle") : QStringLiteral("circle"),
            colour,
            timelineSymbolSize,
            devicePixelRatioF()));
        PellwickTheme::setTextColour(
            *row.title, isActive ? PellwickTheme::label() : PellwickTheme::secondaryLabel());
    }

    const bool isStoppable = fields.timelineStatus == RestoreRequestStatus::Preparing
                             || fields.timelineStatus == RestoreRequestStatus::Ready
                             || fields.timelineStatus == RestoreRequestStatus::NeedsAttention;
    m_stop->setVisible(isStoppable);
    m_stop->setText(fields.isCancellingRestore ? QStringLiteral("Stopping Restore…")
                                               : QStringLiteral("Stop Restore"));
    m_stop->setEnabled(!fields.isCancellingRestore);
    showIf(m_retry, fields.attentionReason);
    m_rebuild->setVisible(fields.canRebuildLocalLibraryCache);

    const QString warning = QStringLiteral("exclamationmark.triangle");
    m_message->setAlert(fields.message.value_or(QString()),
                        QStringLiteral("arrow.down.circle"),
                        fields.messageTone);
    showIf(m_message, fields.message);
    m_error->setAlert(
        fields.errorMessage.value_or(QString()), warning, LibraryPresentationTone::Danger);
    showIf(m_error, fields.errorMessage);
    m_attention->setAlert(
        fields.attentionReason.value_or(QString()), warning, LibraryPresentationTone::Attention);
    showIf(m_attention, fields.attentionReason);

    m_path->setText(fields.completedDestination.value_or(QString()));
    showIf(m_savedTo, fields.completedDestination);
    m_help->setText(fields.helpText);
}

void RestoreRequestSummary::setURLOpener(URLOpener opener)
{
    m_urlOpener = std::move(opener);
}

void RestoreRequestSummary::showFolder() const
{
    // Only ever a local folder: the path is the restore destination, never a link.
    if (m_fields.completedDestination && !m_fields.completedDestination->isEmpty())
        m_urlOpener(QUrl::fromLocalFile(*m_fields.completedDestination));
}

void RestoreRequestSummary::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(PellwickTheme::border(), 1));
    painter.setBrush(PellwickTheme::controlBackground());
    painter.drawRoundedRect(card, 12, 12);
}

} // namespace Pellwick
