#pragma once

#include <PellwickApp/Shell/ShellTypes.h>
#include <PellwickCore/Library/LibraryItemImportStatus.h>
#include <PellwickCore/Library/LocalLibraryItem.h>
#include <PellwickCore/Library/LocalLibrarySearchQuery.h>
#include <PellwickCore/Support/Date.h>

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>

#include <optional>

namespace Pellwick {

/// The visible library items, the selection, the inspected item and the filters.
/// Service-free: every field has a getter, a setter that notifies on every assignment (also of
/// an equal value) and a change signal. Main thread only.
class LibraryState final : public QObject
{
    Q_OBJECT

public:
    explicit LibraryState(QObject *parent = nullptr);

    /// The Local Library Cache holds at least one record.
    const bool &hasLocalLibraryRecords() const { return m_hasLocalLibraryRecords; }

    /// The visible items under the current filters.
    const QList<LocalLibraryItem> &localLibraryItems() const { return m_localLibraryItems; }

    /// Advanced by every refresh of the visible items.
    const qint64 &localLibraryItemsRevision() const { return m_localLibraryItemsRevision; }

    /// The item shown in the inspector.
    const std::optional<QUuid> &inspectedLocalLibraryItemID() const
    {
        return m_inspectedLocalLibraryItemID;
    }

    /// The library selection.
    const QSet<QUuid> &selectedLibraryItemIDs() const { return m_selectedLibraryItemIDs; }

    /// Library search text.
    const QString &localLibrarySearchText() const { return m_localLibrarySearchText; }

    const LocalLibraryCaptureTimeFilter &localLibraryCaptureTimeFilter() const
    {
        return m_localLibraryCaptureTimeFilter;
    }

    /// Start of the capture-time window.
    const Date &localLibraryCaptureTimeStart() const { return m_localLibraryCaptureTimeStart; }

    /// End of the capture-time window.
    const Date &localLibraryCaptureTimeEnd() const { return m_localLibraryCaptureTimeEnd; }

    const LocalLibraryCaptureLocationFilter &localLibraryCaptureLocationFilter() const
    {
        return m_localLibraryCaptureLocationFilter;
    }

    const std::optional<LibraryItemImportStatus> &localLibraryImportStatusFilter() const
    {
        return m_localLibraryImportStatusFilter;
    }

    const std::optional<QString> &localLibraryIngestSourceFilter() const
    {
        return m_localLibraryIngestSourceFilter;
    }

    const LocalLibraryDuplicateVisibility &localLibraryDuplicateVisibility() const
    {
        return m_localLibraryDuplicateVisibility;
    }

    /// Why the library could not be read; empty while it reads.
    const QString &libraryReadErrorMessage() const { return m_libraryReadErrorMessage; }

    /// Why a folder Pellwick writes its own files into cannot take a file, as the latest check
    /// found; empty while every one can.
    const QString &dataFolderErrorMessage() const { return m_dataFolderErrorMessage; }

    void setHasLocalLibraryRecords(bool value);
    void setLocalLibraryItems(QList<LocalLibraryItem> value);
    void setLocalLibraryItemsRevision(qint64 value);
    void setInspectedLocalLibraryItemID(std::optional<QUuid> value);
    void setSelectedLibraryItemIDs(QSet<QUuid> value);
    void setLocalLibrarySearchText(QString value);
    void setLocalLibraryCaptureTimeFilter(LocalLibraryCaptureTimeFilter value);
    void setLocalLibraryCaptureTimeStart(Date value);
    void setLocalLibraryCaptureTimeEnd(Date value);
    void setLocalLibraryCaptureLocationFilter(LocalLibraryCaptureLocationFilter value);
    void setLocalLibraryImportStatusFilter(std::optional<LibraryItemImportStatus> value);
    void setLocalLibraryIngestSourceFilter(std::optional<QString> value);
    void setLocalLibraryDuplicateVisibility(LocalLibraryDuplicateVisibility value);
    void setLibraryReadErrorMessage(QString value);
    void setDataFolderErrorMessage(QString value);

Q_SIGNALS:
    void hasLocalLibraryRecordsChanged();
    void localLibraryItemsChanged();
    void localLibraryItemsRevisionChanged();
    void inspectedLocalLibraryItemIDChanged();
    void selectedLibraryItemIDsChanged();
    void localLibrarySearchTextChanged();
    void localLibraryCaptureTimeFilterChanged();
    void localLibraryCaptureTimeStartChanged();
    void localLibraryCaptureTimeEndChanged();
    void localLibraryCaptureLocationFilterChanged();
    void localLibraryImportStatusFilterChanged();
    void localLibraryIngestSourceFilterChanged();
    void localLibraryDuplicateVisibilityChanged();
    void libraryReadErrorMessageChanged();
    void dataFolderErrorMessageChanged();
    /// A folder tree built off the main thread was kept as the newest one (emitted by the view
    /// model; `LibraryOperations::localLibraryTree` returns it).
    void localLibraryTreeChanged();

private:
    bool m_hasLocalLibraryRecords = false;
    QList<LocalLibraryItem> m_localLibraryItems;
    qint64 m_localLibraryItemsRevision = 0;
    std::optional<QUuid> m_inspectedLocalLibraryItemID;
    QSet<QUuid> m_selectedLibraryItemIDs;
    QString m_localLibrarySearchText;
    LocalLibraryCaptureTimeFilter m_localLibraryCaptureTimeFilter
        = LocalLibraryCaptureTimeFilter::Any;
    Date m_localLibraryCaptureTimeStart;
    Date m_localLibraryCaptureTimeEnd;
    LocalLibraryCaptureLocationFilter m_localLibraryCaptureLocationFilter
        = LocalLibraryCaptureLocationFilter::Any;
    std::optional<LibraryItemImportStatus> m_localLibraryImportStatusFilter;
    std::optional<QString> m_localLibraryIngestSourceFilter;
    LocalLibraryDuplicateVisibility m_localLibraryDuplicateVisibility
        = LocalLibraryDuplicateVisibility::Hidden;
    QString m_libraryReadErrorMessage;
    QString m_dataFolderErrorMessage;
};

} // namespace Pellwick
