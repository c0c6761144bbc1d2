#include "../Views/FinderTreeSamples.h"
#include "Gallery.h"

#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Views/Library/LocalLibraryFinderList.h>
#include <PellwickApp/Views/Library/LocalLibraryFinderModel.h>
#include <PellwickApp/Views/Library/LocalLibraryInspectorView.h>
#include <PellwickApp/Views/Library/LocalLibraryPreview.h>
#include <PellwickApp/Views/Overview/SystemStatusPanel.h>

#include <QEventLoop>
#include <QFile>
#include <QItemSelectionModel>
#include <QTemporaryDir>
#include <QTreeView>
#include <QVBoxLayout>

#include <Support/JpegFixtures.h>
#include <Support/LibraryFixtures.h>
#include <Support/RecordingOperations.h>

namespace Pellwick::Gallery {

using namespace Qt::StringLiterals;

namespace {

using Status = LibraryItemImportStatus;

std::unique_ptr<QWidget> inspector(std::optional<LocalLibraryItem> item,
                                   const QSet<QString> &unfinishedBatches = {})
{
    auto widget = std::make_unique<LocalLibraryInspector>();
    widget->setItem(item, unfinishedBatches);
    widget->setMinimumSize(300, 440);
    return widget;
}

LocalLibraryItem item(Status status, std::optional<RestoreRequestStatus> restore = {})
{
    LocalLibraryItem item = Test::filledLibraryItem(3);
    item.importStatus = status;
    item.restoreStatus = restore;
    return item;
}

/// A preview of `jpeg` (none: no preview), shown once its load has ended.
std::unique_ptr<QWidget> preview(const QByteArray &jpeg)
{
    static QTemporaryDir folder;
    static int count = 0;
    auto widget = std::make_unique<LocalLibraryPreview>();
    widget->resize(64, 64);
    if (jpeg.isEmpty())
        return widget;
    QFile file(folder.filePath(u"preview-%1.jpg"_s.arg(++count)));
    if (!file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size())
        return widget;
    file.close();
    QEventLoop loop;
    QObject::connect(widget.get(), &LocalLibraryPreview::loadFinished, &loop, &QEventLoop::quit);
    widget->setPreviewURL(file.fileName());
    loop.exec();
    return widget;
}

std::unique_ptr<QWidget> panel(const SystemStatusSnapshot &snapshot)
{
    auto widget = std::make_unique<SystemStatusPanel>();
    widget->setSnapshot(snapshot);
    widget->resize(420, widget->sizeHint().height());
    return widget;
}

/// The finder list over `tree`, with the state and the recorder it needs kept beside it.
class FinderListSample : public QWidget
{
public:
    FinderListSample(QList<LocalLibraryTreeNode> tree, bool hasRecords)
    {
        operations.tree = std::move(tree);
        state.setHasLocalLibraryRecords(hasRecords);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        list = new LocalLibraryFinderList(state, operations, &makeQtSingleShotTimer, {}, this);
        layout->addWidget(list);
        resize(820, 300);
    }

    ~FinderListSample() override { delete list; }

    FinderListSample(const FinderListSample &) = delete;
    FinderListSample &operator=(const FinderListSample &) = delete;

    LibraryState state;
    RecordingLibraryOperations operations;
    LocalLibraryFinderList *list = nullptr;
};

std::unique_ptr<QWidget>
finderList(QList<LocalLibraryTreeNode> tree, bool hasRecords, const QString &selected)
{
    auto sample = std::make_unique<FinderListSample>(std::move(tree), hasRecords);
    sample->list->outline()->expandAll();
    const QModelIndex row = sample->list->model()->indexOf(selected);
    if (row.isValid() && sample->list->currentPage() == sample->list->outline())
        sample->list->outline()->selectionModel()->select(row, QItemSelectionModel::Select);
    else if (row.isValid())
        sample->list->toggleSelection(*sample->list->model()->node(row));
    return sample;
}

PaidPlanState plan(qint64 used, qint64 limit)
{
    PaidPlanState plan;
    plan.storageEntitlement = {used, limit};
    return plan;
}

} // namespace

QList<Entry> libraryEntries()
{
    QList<Entry> entries{
        {u"library.inspector.no-item"_s, [] { return inspector(std::nullopt); }},
        {u"library.inspector.long-name"_s,
         [] {
             LocalLibraryItem long_ = item(Status::VerifiedBackup, RestoreRequestStatus::Cancelled);
             long_.originalFilename
                 = u"2026-06-01_Wedding_Ceremony_Second_Shooter_Card_B_IMG_0001_final.CR3"_s;
             return inspector(long_);
         }},
        {u"library.preview.placeholder"_s, [] { return preview({}); }},
        {u"library.preview.landscape"_s, [] { return preview(Test::twoColourJpeg(1600, 1067)); }},
        {u"library.preview.orientation-6"_s,
         [] { return preview(Test::withExifOrientation(Test::twoColourJpeg(1600, 1067), 6)); }},
        {u"library.finder-list.outline"_s,
         [] { return finderList(Test::finderSampleTree(), true, u"content:2"_s); }},
        {u"library.finder-list.flat"_s,
         [] { return finderList(Test::finderFlatTree(), true, u"content:1"_s); }},
        {u"library.finder-list.empty-filtered"_s, [] { return finderList({}, true, {}); }},
        {u"library.finder-list.empty-library"_s, [] { return finderList({}, false, {}); }},
        {u"library.system-status.empty"_s, [] { return panel({}); }},
        {u"library.system-status.full"_s, [] { return panel({.paidPlan = plan(2000, 2000)}); }},
        {u"library.system-status.nearly-full"_s,
         [] { return panel({.paidPlan = plan(1900, 2000)}); }},
        {u"library.system-status.every-row-kind"_s,
         [] {
             return panel({.paidPlan = plan(1900, 2000),
                           .isScanningImportSources = true,
                           .isImporting = true,
                           .isRecoveringInterruptedImports = true,
                           .importErrorMessage = u"Added 12 files to Ingest Cache"_s,
                           .isImportMessageSuccess = true,
                           .restoreMessage = u"Restore Request is preparing"_s,
                           .restoreErrorMessage = u"Restore Request could not be refreshed"_s,
                           .errorMessage = u"Refresh failed"_s});
         }},
        {u"library.system-status.restore-partly-saved"_s,
         [] {
             return panel({.restoreMessage = u"6 of 24 item(s) saved; 18 need attention"_s,
                           .restoreStatus = RestoreRequestStatus::Ready,
                           .hasRestoreTransferFailures = true,
                           .restoreAttentionReason
                           = u"No space left in /home/ada/Pictures/Restored. Free space or "
                             u"choose another folder, then retry."_s});
         }},
    };
    const QList<std::pair<QString, Status>> statuses{
        {u"ready"_s, Status::LocalCacheReady},
        {u"uploading"_s, Status::Uploading},
        {u"verifying"_s, Status::Verifying},
        {u"verified"_s, Status::VerifiedBackup},
        {u"cleanup-pending"_s, Status::CleanupPending},
        {u"needs-attention"_s, Status::NeedsAttention},
        {u"duplicate"_s, Status::Duplicate},
    };
    for (const auto &[statusName, status] : statuses)
        entries.append(
            {u"library.inspector."_s + statusName, [status] { return inspector(item(status)); }});
    entries.append({u"library.inspector.needs-attention.copy-interrupted"_s, [] {
                        const LocalLibraryItem copied = item(Status::NeedsAttention);
                        const QString path = copied.ingestCacheOriginalURL.value_or(QString());
                        return inspector(copied, {path.left(path.lastIndexOf(u'/'))});
                    }});
    return entries;
}

} // namespace Pellwick::Gallery
