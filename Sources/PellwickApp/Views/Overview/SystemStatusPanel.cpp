#include "SystemStatusPanel.h"

#include <PellwickApp/Feedback/RestoreFeedback.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Shell/State/ShellState.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace Pellwick {

namespace {

using Tone = LibraryPresentationTone;
using TextStyle = PellwickTheme::TextStyle;

std::optional<SystemStatusRow> capacityRow(const StorageEntitlementState &storage)
{
    if (storage.limitBytes <= 0)
        return std::nullopt;
    const QString message = LibraryPresentation::byteProgressText(
        storage.usedBytes, storage.limitBytes, QStringLiteral("Managed Archive Storage used"));
    if (storage.usedBytes >= storage.limitBytes)
        return SystemStatusRow{QStringLiteral("Storage Full"),
                               message,
                               QStringLiteral("exclamationmark.triangle"),
                               Tone::Danger};
    if (double(storage.usedBytes) / double(storage.limitBytes) >= 0.9)
        return SystemStatusRow{QStringLiteral("Storage Nearly Full"),
                               message,
                               QStringLiteral("externaldrive.badge.exclamationmark"),
                               Tone::Attention};
    return std::nullopt;
}

QList<SystemStatusRow>
activeRows(bool isScanningImportSources, bool isImporting, bool hasSharedTransferProgress)
{
    QList<SystemStatusRow> rows;
    if (isScanningImportSources)
        rows.append({QStringLiteral("Import Review"),
                     QStringLiteral("Scanning Import sources"),
                     QStringLiteral("magnifyingglass"),
                     Tone::Active});
    if (isImporting && !hasSharedTransferProgress)
        rows.append({QStringLiteral("Import"),
                     QStringLiteral("Import in progress"),
                     QStringLiteral("arrow.up.circle"),
                     Tone::Active});
    return rows;
}

QList<SystemStatusRow> restartRows(bool isRecovering, const std::optional<QString> &message)
{
    const QString title = QStringLiteral("Restart Reconciliation");
    if (isRecovering)
        return {{title,
                 message.value_or(QStringLiteral("Recovering interrupted Import")),
                 QStringLiteral("arrow.triangle.2.circlepath.circle"),
                 Tone::Active}};
    if (message)
        return {{title,
                 *message,
                 QStringLiteral("exclamationmark.arrow.triangle.2.circlepath"),
                 Tone::Attention}};
    return {};
}

QString generalErrorTitle(const QString &message)
{
    if (message == QLatin1String("Refresh failed"))
        return QStringLiteral("Refresh");
    if (message == QLatin1String("Checkout failed"))
        return QStringLiteral("Checkout");
    if (message == QLatin1String("Billing portal unavailable"))
        return QStringLiteral("Billing Portal");
    return QStringLiteral("Library");
}

/// The import message is shown as an error unless the workflow marked it a success: the same
/// field carries "Added n files to Ingest Cache".
QList<SystemStatusRow> errorRows(const std::optional<QString> &importMessage,
                                 bool isImportMessageSuccess,
                                 const std::optional<QString> &restoreMessage,
                                 const std::optional<QString> &generalMessage)
{
    const QString warning = QStringLiteral("exclamationmark.triangle");
    QList<SystemStatusRow> rows;
    if (importMessage && isImportMessageSuccess)
        rows.append({QStringLiteral("Import"),
                     *importMessage,
                     QStringLiteral("checkmark.circle"),
                     Tone::Positive});
    else if (importMessage)
        rows.append({QStringLiteral("Import"), *importMessage, warning, Tone::Danger});
    if (restoreMessage)
        rows.append({QStringLiteral("Restore"), *restoreMessage, warning, Tone::Danger});
    if (generalMessage)
        rows.append({generalErrorTitle(*generalMessage), *generalMessage, warning, Tone::Danger});
    return rows;
}

void fillRounded(QWidget &widget, const QColor &colour)
{
    QPainter painter(&widget);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(widget.rect()), 6, 6);
    painter.fillPath(shape, colour);
}

QLabel *label(const QString &text, TextStyle style, QFont::Weight weight, const QColor &colour)
{
    auto *label = new QLabel(text);
    QFont font = PellwickTheme::font(style);
    font.setWeight(weight);
    label->setFont(font);
    PellwickTheme::setTextColour(*label, colour);
    return label;
}

/// "No active work, warnings, or errors" on the secondary colour at 0.08.
class SystemStatusEmptyRow : public QWidget
{
public:
    SystemStatusEmptyRow()
    {
        setObjectName(QStringLiteral("system-status.empty"));
        const QString text = QStringLiteral("No active work, warnings, or errors");
        setAccessibleName(text);
        auto *row = new QHBoxLayout(this);
        row->setContentsMargins(10, 8, 10, 8);
        row->setSpacing(6);
        const QColor colour = PellwickTheme::secondaryLabel();
        auto *symbol = new QLabel;
        symbol->setPixmap(SymbolIcons::pixmap(QStringLiteral("checkmark.circle"), colour, 14));
        row->addWidget(symbol);
        row->addWidget(label(text, TextStyle::Callout, QFont::Normal, colour), 1);
    }

protected:
    void paintEvent(QPaintEvent * /*event*/) override
    {
        fillRounded(*this, PellwickTheme::withOpacity(PellwickTheme::secondaryLabel(), 0.08));
    }
};

} // namespace

QString SystemStatusRow::identity() const
{
    return title + QLatin1Char('-') + message + QLatin1Char('-') + systemImage;
}

/// One row: the symbol in the tone's colour, the title over the message, on the tone at 0.1;
/// one accessible element named by its title and message.
class SystemStatusRowView : public QWidget
{
public:
    SystemStatusRowView()
    {
        setObjectName(QStringLiteral("system-status.row"));
        auto *row = new QHBoxLayout(this);
        row->setContentsMargins(10, 8, 10, 8);
        row->setSpacing(10);
        m_symbol = new QLabel;
        m_symbol->setFixedWidth(22);
        m_symbol->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        row->addWidget(m_symbol, 0, Qt::AlignTop);
        auto *texts = new QVBoxLayout;
        texts->setSpacing(2);
        m_title = label({}, TextStyle::Subheadline, QFont::DemiBold, PellwickTheme::label());
        m_message = label({}, TextStyle::Caption, QFont::Normal, PellwickTheme::secondaryLabel());
        m_message->setObjectName(QStringLiteral("system-status.row.message"));
        m_message->setWordWrap(true);
        m_detail = label({}, TextStyle::Caption, QFont::Normal, PellwickTheme::secondaryLabel());
        m_detail->setObjectName(QStringLiteral("system-status.row.detail"));
        m_detail->setWordWrap(true);
        texts->addWidget(m_title);
        texts->addWidget(m_message);
        texts->addWidget(m_detail);
        row->addLayout(texts, 1);
    }

    void setRow(const SystemStatusRow &row)
    {
        m_tone = row.tone;
        const QColor colour = PellwickTheme::toneColour(row.tone);
        m_symbol->setPixmap(SymbolIcons::pixmap(row.systemImage, colour, 16, devicePixelRatioF()));
        m_title->setText(row.title);
        m_message->setText(row.message);
        m_message->setMaximumHeight(
            row.showsWholeMessage ? QWIDGETSIZE_MAX : 2 * m_message->fontMetrics().lineSpacing());
        m_detail->setText(row.detail.value_or(QString()));
        m_detail->setVisible(row.detail.has_value());
        setAccessibleName(row.title + QStringLiteral(", ") + row.message
                          + (row.detail ? QStringLiteral(", ") + *row.detail : QString()));
        update();
    }

protected:
    void paintEvent(QPaintEvent * /*event*/) override
    {
        fillRounded(*this, PellwickTheme::withOpacity(PellwickTheme::toneColour(m_tone), 0.1));
    }

private:
    QLabel *m_symbol = nullptr;
    QLabel *m_title = nullptr;
    QLabel *m_message = nullptr;
    QLabel *m_detail = nullptr;
    Tone m_tone = Tone::Secondary;
};

SystemStatusPanel::SystemStatusPanel(QWidget *parent)
    : UtilityPanel(QStringLiteral("System Status"), QStringLiteral("server.rack"), parent)
{
    setObjectName(QStringLiteral("system-status"));
    contentLayout()->setSpacing(6);
    m_emptyRow = new SystemStatusEmptyRow;
    contentLayout()->addWidget(m_emptyRow);
    setSnapshot({});
}

SystemStatusSnapshot SystemStatusSnapshot::read(const SessionState &session,
                                                const ImportState &imports,
                                                const RestoreState &restore,
                                                const ShellState &shell,
                                                const LibraryState &library)
{
    const std::optional<RestoreRequest> &request = restore.activeRestoreRequest();
    return {
        .paidPlan = session.session() ? session.session()->library.paidPlan : PaidPlanState(),
        .isScanningImportSources = imports.isScanningImportSources(),
        .isImporting = imports.isImporting(),
        .hasSharedTransferProgress = !shell.transferProgresses().isEmpty(),
        .isRecoveringInterruptedImports = imports.isRecoveringInterruptedImports(),
        .importErrorMessage = imports.importErrorMessage(),
        .isImportMessageSuccess = imports.isImportMessageSuccess(),
        .importRecoveryMessage = imports.importRecoveryMessage(),
        .restoreMessage = restore.restoreMessage(),
        .restoreStatus = request ? std::optional(request->status) : std::nullopt,
        .hasRestoreTransferFailures = request && failsTransfers(*request),
        .restoreAttentionReason
        = request ? RestoreFeedback::restoreAttentionReason(*request) : std::nullopt,
        .restoreErrorMessage = restore.restoreErrorMessage(),
        .errorMessage = session.errorMessage(),
        .dataFolderMessage = library.dataFolderErrorMessage().isEmpty()
                                 ? std::nullopt
                                 : std::optional(library.dataFolderErrorMessage()),
    };
}

QList<SystemStatusRow> SystemStatusPanel::rows(const SystemStatusSnapshot &snapshot)
{
    QList<SystemStatusRow> rows;
    if (const std::optional<SystemStatusRow> capacity
        = capacityRow(snapshot.paidPlan.storageEntitlement))
        rows.append(*capacity);
    rows += activeRows(
        snapshot.isScanningImportSources, snapshot.isImporting, snapshot.hasSharedTransferProgress);
    rows += restartRows(snapshot.isRecoveringInterruptedImports, snapshot.importRecoveryMessage);
    if (snapshot.restoreMessage && !snapshot.hasSharedTransferProgress)
        rows.append({QStringLiteral("Restore"),
                     *snapshot.restoreMessage,
                     QStringLiteral("arrow.down.circle"),
                     LibraryPresentation::restoreMessageTone(snapshot.restoreStatus,
                                                             snapshot.hasRestoreTransferFailures),
                     snapshot.restoreAttentionReason});
    rows += errorRows(snapshot.importErrorMessage,
                      snapshot.isImportMessageSuccess,
                      snapshot.restoreErrorMessage,
                      snapshot.errorMessage);
    if (snapshot.dataFolderMessage)
        rows.append({QStringLiteral("Local Folders"),
                     *snapshot.dataFolderMessage,
                     QStringLiteral("exclamationmark.triangle"),
                     Tone::Danger,
                     std::nullopt,
                     true});
    return rows;
}

void SystemStatusPanel::setSnapshot(const SystemStatusSnapshot &snapshot)
{
    m_rows = rows(snapshot);
    while (m_rowViews.size() < m_rows.size()) {
        auto *view = new SystemStatusRowView;
        contentLayout()->addWidget(view);
        m_rowViews.append(view);
    }
    while (m_rowViews.size() > m_rows.size())
        delete m_rowViews.takeLast();
    for (qsizetype index = 0; index < m_rows.size(); ++index)
        m_rowViews[index]->setRow(m_rows[index]);
    m_emptyRow->setVisible(m_rows.isEmpty());
}

} // namespace Pellwick
