#include "ImportState.h"

namespace Pellwick {

ImportState::ImportState(QObject *parent)
    : QObject(parent)
{}

void ImportState::setImportReviewState(ImportReviewState value)
{
    m_importReviewState = std::move(value);
    Q_EMIT importReviewStateChanged();
}

void ImportState::setIsScanningImportSources(bool value)
{
    m_isScanningImportSources = value;
    Q_EMIT isScanningImportSourcesChanged();
}

void ImportState::setIsImporting(bool value)
{
    m_isImporting = value;
    Q_EMIT isImportingChanged();
}

void ImportState::setIsRecoveringInterruptedImports(bool value)
{
    m_isRecoveringInterruptedImports = value;
    Q_EMIT isRecoveringInterruptedImportsChanged();
}

void ImportState::setIsStartingImport(bool value)
{
    m_isStartingImport = value;
    Q_EMIT isStartingImportChanged();
}

void ImportState::setImportErrorMessage(std::optional<QString> value)
{
    m_importErrorMessage = std::move(value);
    m_isImportMessageSuccess = false;
    Q_EMIT isImportMessageSuccessChanged();
    Q_EMIT importErrorMessageChanged();
}

void ImportState::setImportSuccessMessage(QString value)
{
    m_importErrorMessage = std::move(value);
    m_isImportMessageSuccess = true;
    Q_EMIT isImportMessageSuccessChanged();
    Q_EMIT importErrorMessageChanged();
}

void ImportState::setImportRecoveryMessage(std::optional<QString> value)
{
    m_importRecoveryMessage = std::move(value);
    Q_EMIT importRecoveryMessageChanged();
}

void ImportState::setImportSelectionConfirmation(std::optional<ImportSelectionConfirmation> value)
{
    m_importSelectionConfirmation = std::move(value);
    Q_EMIT importSelectionConfirmationChanged();
}

void ImportState::setInitialIngestCacheCreation(std::optional<InitialIngestCacheCreation> value)
{
    m_initialIngestCacheCreation = std::move(value);
    Q_EMIT initialIngestCacheCreationChanged();
}

} // namespace Pellwick
