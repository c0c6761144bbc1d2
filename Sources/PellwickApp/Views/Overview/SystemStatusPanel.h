#pragma once

#include <PellwickApp/Views/Kit/UtilityPanel.h>
#include <PellwickCore/Backend/EntitlementState.h>
#include <PellwickCore/Library/LibraryPresentation.h>

#include <QList>
#include <QString>

#include <optional>

namespace Pellwick {

class ImportState;
class LibraryState;
class RestoreState;
class SessionState;
class ShellState;
class SystemStatusRowView;

/// One line of the system status panel.
struct SystemStatusRow
{
    QString title;
    QString message;
    QString systemImage;
    LibraryPresentationTone tone = LibraryPresentationTone::Secondary;
    /// A line under the message saying why, e.g. what stopped restored items being saved.
    std::optional<QString> detail = {};
    /// The message is shown whole, however many lines it takes (it may name several folders);
    /// any other stops after two lines.
    bool showsWholeMessage = false;

    bool operator==(const SystemStatusRow &) const = default;

    /// title + "-" + message + "-" + systemImage.
    QString identity() const;
};

/// What the panel reports, filled by its page from the shell's state.
struct SystemStatusSnapshot
{
    PaidPlanState paidPlan = {};
    bool isScanningImportSources = false;
    bool isImporting = false;
    /// Transfer progress rows are already on screen: the import and restore rows stay out.
    bool hasSharedTransferProgress = false;
    bool isRecoveringInterruptedImports = false;
    std::optional<QString> importErrorMessage = {};
    /// `importErrorMessage` reports a success ("Added 3 files to Ingest Cache").
    bool isImportMessageSuccess = false;
    std::optional<QString> importRecoveryMessage = {};
    std::optional<QString> restoreMessage = {};
    /// The status of the Restore Request held; none once it finished (its message stays).
    std::optional<RestoreRequestStatus> restoreStatus = {};
    /// The held request has items that were not saved.
    bool hasRestoreTransferFailures = false;
    /// Why the held request needs attention, as the Restore page says it.
    std::optional<QString> restoreAttentionReason = {};
    std::optional<QString> restoreErrorMessage = {};
    std::optional<QString> errorMessage = {};
    /// A folder Pellwick writes its own files into cannot take a file.
    std::optional<QString> dataFolderMessage = {};

    /// The current values of the shell's published state.
    static SystemStatusSnapshot read(const SessionState &session,
                                     const ImportState &imports,
                                     const RestoreState &restore,
                                     const ShellState &shell,
                                     const LibraryState &library);

    bool operator==(const SystemStatusSnapshot &) const = default;
};

/// The "System Status" panel of the Overview page: the storage warning, the work in progress,
/// the restart reconciliation, the restore message, every error held and a data folder that
/// cannot take a file, one row each, or one
/// quiet row when there is nothing to report. Has no actions.
class SystemStatusPanel : public UtilityPanel
{
    Q_OBJECT

public:
    explicit SystemStatusPanel(QWidget *parent = nullptr);

    /// The rows of `snapshot` in display order.
    static QList<SystemStatusRow> rows(const SystemStatusSnapshot &snapshot);

    /// Shows `snapshot`'s rows, reusing the row widgets already there.
    void setSnapshot(const SystemStatusSnapshot &snapshot);

    const QList<SystemStatusRow> &shownRows() const { return m_rows; }

private:
    QList<SystemStatusRow> m_rows;
    QList<SystemStatusRowView *> m_rowViews;
    QWidget *m_emptyRow = nullptr;
};

} // namespace Pellwick
