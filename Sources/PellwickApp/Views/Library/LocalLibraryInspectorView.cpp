#include "LocalLibraryInspectorView.h"

#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/ElidedLabel.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/StatusLine.h>

#include <QLabel>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace Pellwick {

namespace {

using Tone = LibraryPresentationTone;
using TextStyle = PellwickTheme::TextStyle;

/// A caption label above a monospaced value of at most two lines, cut in its middle.
ElidedLabel *addFieldBlock(QVBoxLayout &stack, const QString &label, const QString &objectName)
{
    auto *block = new QWidget;
    auto *column = new QVBoxLayout(block);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    auto *title = new QLabel(label);
    QFont titleFont = PellwickTheme::font(TextStyle::Caption);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    PellwickTheme::setTextColour(*title, PellwickTheme::secondaryLabel());
    auto *value = new ElidedLabel({}, 2);
    QFont valueFont = PellwickTheme::font(TextStyle::Monospaced);
    valueFont.setPointSizeF(PellwickTheme::font(TextStyle::Caption).pointSizeF());
    value->setFont(valueFont);
    value->setObjectName(objectName);
    column->addWidget(title);
    column->addWidget(value);
    stack.addWidget(block);
    return value;
}

/// The date part of the locale's long format without its weekday and with the month
/// abbreviated ("MMM d, yyyy" in American English).
QString abbreviatedDateFormat(const QLocale &locale)
{
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{3,4}[,.]?\\s*|\\s*,?\\s*d{3,4}"));
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}

} // namespace

LocalLibraryInspector::LocalLibraryInspector(QWidget *parent)
    : QScrollArea(parent)
{
    setObjectName(QStringLiteral("library-inspector"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto *content = new QWidget;
    PellwickTheme::fillBackground(*content, PellwickTheme::controlBackground());
    auto *stack = new QVBoxLayout(content);
    stack->setContentsMargins(16, 16, 16, 16);
    stack->setSpacing(14);

    auto *title = new QLabel(QStringLiteral("Library Item"));
    title->setObjectName(QStringLiteral("library-inspector.title"));
    title->setFont(PellwickTheme::font(TextStyle::Headline));
    stack->addWidget(title);

    m_hint = new QLabel(
        QStringLiteral("Select a Library Item to inspect metadata and safety status."));
    m_hint->setObjectName(QStringLiteral("library-inspector.hint"));
    m_hint->setFont(PellwickTheme::font(TextStyle::Caption));
    m_hint->setWordWrap(true);
    PellwickTheme::setTextColour(*m_hint, PellwickTheme::secondaryLabel());
    stack->addWidget(m_hint);

    m_details = new QWidget;
    auto *details = new QVBoxLayout(m_details);
    details->setContentsMargins(0, 0, 0, 0);
    details->setSpacing(14);
    m_originalFilename = addFieldBlock(*details,
                                       QStringLiteral("Original Filename"),
                                       QStringLiteral("library-inspector.original-filename"));
    m_safety = new AlertStrip({}, QStringLiteral("exclamationmark.triangle"), Tone::Attention);
    m_safety->setObjectName(QStringLiteral("library-inspector.safety"));
    details->addWidget(m_safety);
    const auto addLine = [&](const QString &lineTitle, const char *name) {
        auto *line = new StatusLine(lineTitle, {}, Tone::Secondary);
        line->setObjectName(QLatin1String(name));
        details->addWidget(line);
        return line;
    };
    m_importStatus = addLine(QStringLiteral("Import Status"), "library-inspector.import-status");
    m_attentionReason = new QLabel;
    m_attentionReason->setObjectName(QStringLiteral("library-inspector.attention-reason"));
    m_attentionReason->setFont(PellwickTheme::font(TextStyle::Caption));
    m_attentionReason->setWordWrap(true);
    PellwickTheme::setTextColour(*m_attentionReason, PellwickTheme::secondaryLabel());
    details->addWidget(m_attentionReason);
    m_restore = addLine(QStringLiteral("Restore"), "library-inspector.restore");
    m_captureTime = addLine(QStringLiteral("Capture Time"), "library-inspector.capture-time");
    m_captureLocation
        = addLine(QStringLiteral("Capture Location"), "library-inspector.capture-location");
    m_canonicalFilename = addFieldBlock(*details,
                                        QStringLiteral("Canonical Filename"),
                                        QStringLiteral("library-inspector.canonical-filename"));
    stack->addWidget(m_details);
    stack->addStretch(1);
    setWidget(content);
    setItem(std::nullopt);
}

void LocalLibraryInspector::setItem(const std::optional<LocalLibraryItem> &item,
                                    const QSet<QString> &unfinishedBatches)
{
    m_item = item;
    m_hint->setVisible(!item);
    m_details->setVisible(item.has_value());
    if (!item)
        return;
    m_originalFilename->setText(item->originalFilename);
    const SafetyAlert safety = safetyAlert(*item);
    m_safety->setAlert(safety.text, safety.systemImage, safety.tone);
    m_importStatus->setLine(QStringLiteral("Import Status"), statusTitle(*item), statusTone(item));
    const std::optional<QString> reason
        = LibraryPresentation::importAttentionReason(*item, unfinishedBatches);
    m_attentionReason->setText(reason.value_or(QString()));
    m_attentionReason->setVisible(reason.has_value());
    m_restore->setLine(QStringLiteral("Restore"), restoreStatusText(item), restoreTone(item));
    m_captureTime->setLine(QStringLiteral("Capture Time"), captureTimeText(item), Tone::Secondary);
    m_captureLocation->setLine(
        QStringLiteral("Capture Location"), locationText(*item), Tone::Secondary);
    m_canonicalFilename->setText(item->canonicalFilename);
}

QString LocalLibraryInspector::statusTitle(const LocalLibraryItem &item)
{
    return LibraryPresentation::importStatusTitle(item.importStatus);
}

LibraryPresentationTone
LocalLibraryInspector::statusTone(const std::optional<LocalLibraryItem> &item)
{
    return item ? LibraryPresentation::importStatusTone(item->importStatus) : Tone::Secondary;
}

QString LocalLibraryInspector::restoreStatusText(const std::optional<LocalLibraryItem> &item)
{
    return LibraryPresentation::restoreStatusTitle(item ? item->restoreStatus : std::nullopt)
        .value_or(QStringLiteral("None"));
}

LibraryPresentationTone
LocalLibraryInspector::restoreTone(const std::optional<LocalLibraryItem> &item)
{
    return LibraryPresentation::restoreStatusTone(item ? item->restoreStatus : std::nullopt);
}

LocalLibraryInspector::SafetyAlert LocalLibraryInspector::safetyAlert(const LocalLibraryItem &item)
{
    if (item.isSafeToEraseSourceMedia())
        return {LibraryPresentation::safetyTitle(item),
                QStringLiteral("checkmark.shield"),
                Tone::Positive};
    return {LibraryPresentation::safetyTitle(item),
            QStringLiteral("exclamationmark.triangle"),
            Tone::Attention};
}

QString LocalLibraryInspector::captureTimeText(const std::optional<LocalLibraryItem> &item,
                                               const QLocale &locale,
                                               const QTimeZone &zone)
{
    const std::optional<Date> date = item ? item->metadata.captureTime.knownDate() : std::nullopt;
    if (!date)
        return QStringLiteral("Unknown Capture Time");
    const QDateTime local = date->toDateTime().toTimeZone(zone);
    return locale.toString(local.date(), abbreviatedDateFormat(locale)) + QStringLiteral(", ")
           + locale.toString(local.time(), QLocale::ShortFormat);
}

QString LocalLibraryInspector::locationText(const LocalLibraryItem &item)
{
    return item.metadata.captureLocation.knownLocation() ? QStringLiteral("GPS Known")
                                                         : QStringLiteral("Unknown Location");
}

} // namespace Pellwick
