#pragma once

#include <PellwickApp/Shell/ShellTypes.h>
#include <PellwickCore/Ingest/ImportReview.h>

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace Pellwick {

/// The Import Review, the running import work and its prompts and texts.
/// Service-free: every field has a getter, a setter that notifies on every assignment (also of
/// an equal value) and a change signal. Main thread only.
class ImportState final : public QObject
{
    Q_OBJECT

public:
    explicit ImportState(QObject *parent = nullptr);

    /// The current Import Review.
    const ImportReviewState &importReviewState() const { return m_importReviewState; }

    /// A scan runs.
    const bool &isScanningImportSources() const { return m_isScanningImportSources; }

    /// Import work runs.
    const bool &isImporting() const { return m_isImporting; }

    /// Interrupted imports are being resumed.
    const bool &isRecoveringInterruptedImports() const { return m_isRecoveringInterruptedImports; }

    /// A confirmed import runs, from its start (its preparation included, before `isImporting`
    /// is set) to its end.
    const bool &isStartingImport() const { return m_isStartingImport; }

    /// Import, removal and first-run texts, success texts included.
    const std::optional<QString> &importErrorMessage() const { return m_importErrorMessage; }

    /// True when `importErrorMessage` reports a success ("Added n files to Ingest Cache").
    const bool &isImportMessageSuccess() const { return m_isImportMessageSuccess; }

    /// Recovery, refresh and source-media safety texts.
    const std::optional<QString> &importRecoveryMessage() const { return m_importRecoveryMessage; }

    /// The pending Import confirmation prompt.
    const std::optional<ImportSelectionConfirmation> &importSelectionConfirmation() const
    {
        return m_importSelectionConfirmation;
    }

    /// The first-run prompt that proposes a folder for a new Ingest Cache.
    const std::optional<InitialIngestCacheCreation> &initialIngestCacheCreation() const
    {
        return m_initialIngestCacheCreation;
    }

    void setImportReviewState(ImportReviewState value);
    void setIsScanningImportSources(bool value);
    void setIsImporting(bool value);
    void setIsRecoveringInterruptedImports(bool value);
    void setIsStartingImport(bool value);
    /// Stores a failure text (or clears the text): `isImportMessageSuccess` becomes false. Its
    /// signal is emitted before the text's.
    void setImportErrorMessage(std::optional<QString> value);
    /// Stores a success text: `isImportMessageSuccess` becomes true. Its signal is emitted before
    /// the text's.
    void setImportSuccessMessage(QString value);
    void setImportRecoveryMessage(std::optional<QString> value);
    void setImportSelectionConfirmation(std::optional<ImportSelectionConfirmation> value);
    void setInitialIngestCacheCreation(std::optional<InitialIngestCacheCreation> value);

Q_SIGNALS:
    void importReviewStateChanged();
    void isScanningImportSourcesChanged();
    void isImportingChanged();
    void isRecoveringInterruptedImportsChanged();
    void isStartingImportChanged();
    void importErrorMessageChanged();
    void isImportMessageSuccessChanged();
    void importRecoveryMessageChanged();
    void importSelectionConfirmationChanged();
    void initialIngestCacheCreationChanged();

private:
    ImportReviewState m_importReviewState;
    bool m_isScanningImportSources = false;
    bool m_isImporting = false;
    bool m_isRecoveringInterruptedImports = false;
    bool m_isStartingImport = false;
    std::optional<QString> m_importErrorMessage;
    bool m_isImportMessageSuccess = false;
    std::optional<QString> m_importRecoveryMessage;
    std::optional<ImportSelectionConfirmation> m_importSelectionConfirmation;
    std::optional<InitialIngestCacheCreation> m_initialIngestCacheCreation;
};

} // namespace Pellwick
