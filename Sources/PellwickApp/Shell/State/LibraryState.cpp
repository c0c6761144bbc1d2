#include "LibraryState.h"

namespace Pellwick {

LibraryState::LibraryState(QObject *parent)
    : QObject(parent)
{}

void LibraryState::setHasLocalLibraryRecords(bool value)
{
    m_hasLocalLibraryRecords = value;
    Q_EMIT hasLocalLibraryRecordsChanged();
}

void LibraryState::setLocalLibraryItems(QList<LocalLibraryItem> value)
{
    m_localLibraryItems = std::move(value);
    Q_EMIT localLibraryItemsChanged();
}

void LibraryState::setLocalLibraryItemsRevision(qint64 value)
{
    m_localLibraryItemsRevision = value;
    Q_EMIT localLibraryItemsRevisionChanged();
}

void LibraryState::setInspectedLocalLibraryItemID(std::optional<QUuid> value)
{
    m_inspectedLocalLibraryItemID = value;
    Q_EMIT inspectedLocalLibraryItemIDChanged();
}

void LibraryState::setSelectedLibraryItemIDs(QSet<QUuid> value)
{
    m_selectedLibraryItemIDs = std::move(value);
    Q_EMIT selectedLibraryItemIDsChanged();
}

void LibraryState::setLocalLibrarySearchText(QString value)
{
    m_localLibrarySearchText = std::move(value);
    Q_EMIT localLibrarySearchTextChanged();
}

void LibraryState::setLocalLibraryCaptureTimeFilter(LocalLibraryCaptureTimeFilter value)
{
    m_localLibraryCaptureTimeFilter = value;
    Q_EMIT localLibraryCaptureTimeFilterChanged();
}

void LibraryState::setLocalLibraryCaptureTimeStart(Date value)
{
    m_localLibraryCaptureTimeStart = value;
    Q_EMIT localLibraryCaptureTimeStartChanged();
}

void LibraryState::setLocalLibraryCaptureTimeEnd(Date value)
{
    m_localLibraryCaptureTimeEnd = value;
    Q_EMIT localLibraryCaptureTimeEndChanged();
}

void LibraryState::setLocalLibraryCaptureLocationFilter(LocalLibraryCaptureLocationFilter value)
{
    m_localLibraryCaptureLocationFilter = value;
    Q_EMIT localLibraryCaptureLocationFilterChanged();
}

void LibraryState::setLocalLibraryImportStatusFilter(std::optional<LibraryItemImportStatus> value)
{
    m_localLibraryImportStatusFilter = value;
    Q_EMIT localLibraryImportStatusFilterChanged();
}

void LibraryState::setLocalLibraryIngestSourceFilter(std::optional<QString> value)
{
    m_localLibraryIngestSourceFilter = std::move(value);
    Q_EMIT localLibraryIngestSourceFilterChanged();
}

void LibraryState::setLocalLibraryDuplicateVisibility(LocalLibraryDuplicateVisibility value)
{
    m_localLibraryDuplicateVisibility = value;
    Q_EMIT localLibraryDuplicateVisibilityChanged();
}

void LibraryState::setLibraryReadErrorMessage(QString value)
{
    m_libraryReadErrorMessage = std::move(value);
    Q_EMIT libraryReadErrorMessageChanged();
}

void LibraryState::setDataFolderErrorMessage(QString value)
{
    m_dataFolderErrorMessage = std::move(value);
    Q_EMIT dataFolderErrorMessageChanged();
}

} // namespace Pellwick
