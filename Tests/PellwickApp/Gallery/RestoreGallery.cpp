#include "Gallery.h"

#include <PellwickApp/Shell/SingleShotTimer.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Stores/RestoreDestinationStore.h>
#include <PellwickApp/Views/Kit/FolderChooser.h>
#include <PellwickApp/Views/Restore/RestoreDialogs.h>
#include <PellwickApp/Views/Restore/RestorePresentation.h>
#include <PellwickApp/Views/Restore/RestoreRequestSummary.h>
#include <PellwickApp/Views/Restore/RestoreSelectedItemsPanel.h>
#include <PellwickApp/Views/Restore/RestoreView.h>

#include <QVBoxLayout>

#include <Support/RecordingOperations.h>

namespace Pellwick::Gallery {

using namespace Qt::StringLiterals;

namespace {

using Status = RestoreRequestStatus;

/// A request of three items in `status`; the second needs attention when asked.
RestoreRequest request(Status status, bool withAttention = false)
{
    RestoreRequest request;
    request.id = 42;
    request.status = status;
    request.byteCount = 3 * 26'214'400;
    for (qint64 id = 1; id <= 3; ++id) {
        RestoreRequestItem entry;
        entry.libraryItemID = id;
        entry.status = status;
        if (withAttention && id == 2) {
            entry.status = Status::NeedsAttention;
            entry.attentionReason
                = u"The archived copy could not be read back. Retry preparation."_s;
        }
        request.items.append(entry);
    }
    return request;
}

QList<LocalLibraryItem> items(int count, bool longNames = false)
{
    QList<LocalLibraryItem> list;
    for (int n = 1; n <= count; ++n) {
        LocalLibraryItem item;
        item.id = QUuid(uint(n), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
        item.originalFilename
            = longNames
                  ? u"Wedding_Ceremony_Second_Shooter_Card_B_Afternoon_Session_%1.CR3"_s.arg(n)
                  : u"IMG_%1.CR3"_s.arg(4820 + n);
        item.canonicalFilename = u"2026-05-01_143%1_IMG_%2.CR3"_s.arg(n).arg(4820 + n);
        item.backendLibraryItemID = n;
        list.append(item);
    }
    return list;
}

RestorePageState page(std::optional<RestoreRequest> active)
{
    PaidPlanState plan;
    plan.restoreAllowance = {.usedBytes = 5'368'709'120, .limitBytes = 21'474'836'480};
    return {.activeRestoreRequest = std::move(active),
            .paidPlan = plan,
            .restoreWorkflowItems = items(3)};
}

Entry summary(const QString &name, RestorePageState state)
{
    return {u"restore.summary."_s + name, [state] {
                auto card = std::make_unique<RestoreRequestSummary>();
                card->apply(RestorePresentation::derive(state).summary);
                card->setFixedWidth(340);
                return card;
            }};
}

Entry panel(const QString &name, QList<LocalLibraryItem> list, std::optional<RestoreRequest> active)
{
    return {u"restore.panel."_s + name, [list, active] {
                auto panel = std::make_unique<RestoreSelectedItemsPanel>();
                panel->setItems(list, active);
                panel->resize(460, 360);
                panel->setFixedSize(460, 360);
                return panel;
            }};
}

/// The Restore page over states of its own, set up by `setUp`, which it keeps.
class PageHolder final : public QWidget
{
public:
    using SetUp = std::function<void(RestoreState &, RecordingRestoreOperations &)>;

    explicit PageHolder(const SetUp &setUp)
    {
        setUp(m_restore, m_operations);
        m_view = new RestoreView(m_restore,
                                 m_session,
                                 m_library,
                                 m_operations,
                                 m_chooser,
                                 RestoreDestinationStore::nonPersistent(),
                                 &makeQtSingleShotTimer,
                                 this);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_view);
        setFixedSize(1000, 600);
    }

    ~PageHolder() override { delete m_view; }

    PageHolder(const PageHolder &) = delete;
    PageHolder &operator=(const PageHolder &) = delete;

private:
    RestoreState m_restore;
    SessionState m_session;
    LibraryState m_library;
    RecordingRestoreOperations m_operations;
    DialogFolderChooser m_chooser;
    RestoreView *m_view = nullptr;
};

Entry restorePage(const QString &name, std::optional<Status> status, bool transferring = false)
{
    return {u"restore.page."_s + name, [status, transferring] {
                return std::make_unique<PageHolder>(
                    [&](RestoreState &restore, RecordingRestoreOperations &operations) {
                        operations.selected = items(3);
                        operations.workflowItems = items(3);
                        if (status)
                            restore.setActiveRestoreRequest(request(*status));
                        restore.setIsRestoreTransferActive(transferring);
                    });
            }};
}

Entry dialog(const QString &name, const RestoreConfirmation &confirmation)
{
    return {u"restore.dialog."_s + name,
            [confirmation] { return std::make_unique<RestoreConfirmationDialog>(confirmation); }};
}

} // namespace

QList<Entry> restoreEntries()
{
    QList<Entry> entries{summary(u"none"_s, {})};
    for (const auto &[status, name] : {std::pair{Status::Preparing, "preparing"},
                                       {Status::Ready, "ready"},
                                       {Status::Downloaded, "downloaded"},
                                       {Status::NeedsAttention, "needs-attention"},
                                       {Status::Cancelled, "cancelled"}})
        entries.append(summary(QString::fromLatin1(name), page(request(status))));

    RestorePageState cancelling = page(request(Status::Preparing));
    cancelling.isCancellingRestore = true;
    entries.append(summary(u"cancelling"_s, cancelling));
    RestoreRequest attention = request(Status::NeedsAttention);
    attention.attentionReason = u"Managed Archive Storage could not prepare 1 RAW Original."_s;
    entries.append(summary(u"attention-retry"_s, page(attention)));
    RestorePageState strips = page(request(Status::Ready, true));
    strips.needsLocalLibraryCacheRebuild = true;
    strips.restoreMessage = u"Restored 2 RAW Originals."_s;
    strips.restoreErrorMessage = u"1 RAW Original could not be saved."_s;
    entries.append(summary(u"strips"_s, strips));
    RestorePageState saved = page(request(Status::Downloaded));
    saved.restoreMessage = u"Restored 3 RAW Originals."_s;
    saved.lastCompletedRestoreDestination = u"/home/photographer/Pictures/Pellwick Restores"_s;
    entries.append(summary(u"saved-to"_s, saved));

    entries.append(panel(u"empty"_s, {}, std::nullopt));
    entries.append(panel(u"rows"_s, items(3), std::nullopt));
    entries.append(panel(u"attention"_s, items(3), request(Status::Ready, true)));
    entries.append(panel(u"long-names"_s, items(3, true), request(Status::Preparing)));

    entries.append(restorePage(u"none"_s, std::nullopt));
    entries.append(restorePage(u"preparing"_s, Status::Preparing));
    entries.append(restorePage(u"ready"_s, Status::Ready));
    entries.append(restorePage(u"transferring"_s, Status::Ready, true));
    QStringList names;
    for (const LocalLibraryItem &item : items(400))
        names.append(item.originalFilename);
    entries.append(
        dialog(u"restore"_s, RestoreConfirmation::restore({2, 52'428'800, names.mid(0, 2)})));
    entries.append(
        dialog(u"restore-long"_s, RestoreConfirmation::restore({400, 10'485'760'000, names})));
    entries.append(dialog(u"rebuild"_s, RestoreConfirmation::rebuild()));
    entries.append(dialog(u"stop"_s, RestoreConfirmation::stop()));
    entries.append({u"restore.prompt"_s, [] {
                        auto state = std::make_shared<RestoreState>();
                        state->setRestoreFilenameConflict(RestoreFilenameConflict{
                            1, u"/home/photographer/Restores"_s, u"IMG_4821.CR3"_s});
                        state->setRestoreConflictFilename(u"IMG_4821 (2).CR3"_s);
                        auto prompt = std::make_unique<RestoreFilenamePrompt>(*state);
                        // The prompt's state lives as long as the prompt.
                        QObject::connect(prompt.get(), &QObject::destroyed, [state] {});
                        return prompt;
                    }});
    return entries;
}

} // namespace Pellwick::Gallery
