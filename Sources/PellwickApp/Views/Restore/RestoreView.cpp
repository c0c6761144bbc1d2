#include "RestoreView.h"

#include <PellwickApp/Shell/Operations/RestoreOperations.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Shell/State/SessionState.h>
#include <PellwickApp/Stores/RestoreDestinationStore.h>
#include <PellwickApp/Views/Kit/FolderChooser.h>
#include <PellwickApp/Views/Kit/FoldingBox.h>
#include <PellwickApp/Views/Kit/PageControls.h>
#include <PellwickApp/Views/Kit/PageHeader.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>
#include <PellwickApp/Views/Restore/RestoreDialogs.h>
#include <PellwickApp/Views/Restore/RestoreRequestSummary.h>
#include <PellwickApp/Views/Restore/RestoreSelectedItemsPanel.h>

#include <QHBoxLayout>
#include <QHash>
#include <QList>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <utility>

namespace Pellwick {

namespace {

constexpr int pageMaximumWidth = 980;
constexpr int pageSpacing = 20;
constexpr int requestPanelMaximumWidth = 340;
constexpr std::chrono::milliseconds refreshDelay{1000};

QPushButton *actionButton(const QString &text, const QString &symbol, QWidget *parent)
{
    QPushButton *button = PageControls::compactButton(text, parent);
    // Kit buttons, primary and secondary, draw light labels.
    button->setIcon(SymbolIcons::icon(symbol, Qt::white));
    return button;
}

} // namespace

RestoreView::RestoreView(RestoreState &restore,
                         SessionState &session,
                         LibraryState &library,
                         RestoreOperations &operations,
                         FolderChooser &chooser,
                         std::unique_ptr<RestoreDestinationStore> destinations,
                         const SingleShotTimerFactory &timers,
                         QWidget *parent)
    : PageBackground(parent)
    , m_restore(restore)
    , m_session(session)
    , m_operations(operations)
    , m_chooser(chooser)
    , m_destinationStore(std::move(destinations))
{
    Q_ASSERT(m_destinationStore);
    setObjectName(QStringLiteral("page.restore"));
    m_refreshTimer = timers([this] { refresh(m_refreshGeneration); });

    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    auto *content = new QWidget(scroll);
    content->setAutoFillBackground(false);
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    auto *leading = new QHBoxLayout;
    auto *page = new QWidget(content);
    page->setMaximumWidth(pageMaximumWidth);
    // The page takes the width up to its maximum; the stretch only what is left beyond it.
    leading->addWidget(page, 1);
    leading->addStretch(0);
    contentLayout->addLayout(leading);
    contentLayout->addStretch(1);
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, pageSpacing);
    column->setSpacing(pageSpacing);

    auto *header = new PageHeader(QStringLiteral("Restore"),
                                  QStringLiteral("Request RAW Originals from Managed Archive "
                                                 "Storage, then save them when preparation is "
                                                 "ready."),
                                  true,
                                  false,
                                  page);
    header->actionBar()->addWidget(makeActions(header), 1);
    column->addWidget(header);

    auto *workflow = new FoldingBox({pageSpacing, Qt::AlignTop}, {pageSpacing, {}}, page);
    workflow->setContentsMargins(pageSpacing, 0, pageSpacing, 0);
    m_summary = new RestoreRequestSummary(workflow);
    m_panel = new RestoreSelectedItemsPanel(workflow);
    // Both grow with the width; the card stops at its maximum.
    workflow->add(m_summary, {.stretch = 1, .rowMaximumWidth = requestPanelMaximumWidth});
    workflow->add(m_panel, {.stretch = 1});
    column->addWidget(workflow);
    scroll->setWidget(content);

    m_prompt = new RestoreFilenamePrompt(restore, this);

    connect(m_summary, &RestoreRequestSummary::cancelRestoreRequested, this, [this] {
        present(Confirmation::Stop);
    });
    connect(m_summary, &RestoreRequestSummary::rebuildLocalLibraryCacheRequested, this, [this] {
        present(Confirmation::Rebuild);
    });
    connect(m_summary, &RestoreRequestSummary::retryPreparationRequested, this, [this] {
        m_operations.retryActiveRestorePreparation();
    });
    connect(m_panel,
            &RestoreSelectedItemsPanel::showLocalLibraryCacheRequested,
            this,
            &RestoreView::showLocalLibraryCacheRequested);
    connect(m_prompt, &RestoreFilenamePrompt::restoreRequested, this, [this] {
        // The name as typed at the press, which the prompt accepted; trimming is the
        // operation's. The prompt stays open until the conflict is cleared.
        const std::optional<RestoreFilenameConflict> conflict = m_restore.restoreFilenameConflict();
        const QString filename = m_restore.restoreConflictFilename();
        if (conflict)
            m_operations.resolveRestoreFilenameConflict(*conflict, filename);
    });
    connect(m_prompt, &QDialog::finished, this, [this] {
        // "Cancel", Escape and closing dismiss the conflict.
        if (m_restore.restoreFilenameConflict())
            m_restore.setRestoreFilenameConflict(std::nullopt);
    });

    for (void (RestoreState::*changed)() : {&RestoreState::activeRestoreRequestChanged,
                                            &RestoreState::restoreMessageChanged,
                                            &RestoreState::restoreErrorMessageChanged,
                                            &RestoreState::needsLocalLibraryCacheRebuildChanged,
                                            &RestoreState::lastCompletedRestoreDestinationChanged,
                                            &RestoreState::isRestoreTransferActiveChanged,
                                            &RestoreState::isCancellingRestoreChanged,
                                            &RestoreState::hasPausedRestoreTransferChanged})
        connect(&restore, changed, this, &RestoreView::update);
    connect(&session, &SessionState::sessionChanged, this, &RestoreView::update);
    connect(&library, &LibraryState::selectedLibraryItemIDsChanged, this, &RestoreView::update);
    connect(&library, &LibraryState::localLibraryItemsRevisionChanged, this, &RestoreView::update);
    connect(&restore,
            &RestoreState::restoreFilenameConflictChanged,
            this,
            &RestoreView::followConflict);
    // The next chooser starts where a restore saved, never in a folder the run refused.
    connect(&restore, &RestoreState::lastCompletedRestoreDestinationChanged, this, [this] {
        if (const std::optional<QString> &folder = m_restore.lastCompletedRestoreDestination())
            m_destinationStore->record(*folder);
    });
    update();
    followConflict();
}

RestoreView::~RestoreView()
{
    // The states may go first: a prompt closed by its destruction must not write to them.
    m_prompt->disconnect(this);
}

QWidget *RestoreView::makeActions(QWidget *parent)
{
    auto *actions
        = new FoldingBox({10, Qt::AlignLeft | Qt::AlignVCenter}, {8, Qt::AlignLeft}, parent);
    m_request = actionButton(
        QStringLiteral("Review Restore Request"), QStringLiteral("arrow.down.circle"), actions);
    PellwickControlStyles::pellwickPrimaryButton(*m_request);
    PageControls::identify(*m_request, QStringLiteral("restore.request-selected"));
    m_refresh = actionButton(
        QStringLiteral("Refresh Restore"), QStringLiteral("arrow.clockwise"), actions);
    PageControls::identify(*m_refresh, QStringLiteral("restore.refresh-request"));
    m_transfer = actionButton(QString(), QStringLiteral("square.and.arrow.down"), actions);
    PageControls::identify(*m_transfer, QStringLiteral("restore.start-transfer"));
    m_pause = actionButton(
        QStringLiteral("Pause Restore Transfer"), QStringLiteral("pause.circle"), actions);
    for (QPushButton *button : {m_request, m_refresh, m_transfer, m_pause})
        actions->add(button);

    connect(m_request, &QPushButton::clicked, this, [this] { present(Confirmation::Restore); });
    connect(m_refresh, &QPushButton::clicked, this, [this] {
        m_operations.refreshActiveRestoreRequest();
    });
    connect(m_transfer, &QPushButton::clicked, this, [this] { chooseDestination(); });
    connect(m_pause, &QPushButton::clicked, this, [this] {
        m_operations.pauseActiveRestoreTransfer();
    });
    return actions;
}

QString RestoreView::restoreTaskID(const std::optional<RestoreRequest> &request)
{
    return request ? QString::number(request->id) + QLatin1Char('-') + toRaw(request->status)
                   : QStringLiteral("0-none");
}

void RestoreView::update()
{
    const RestorePageState state = RestorePageState::read(m_restore, m_session, m_operations);
    const RestorePresentation presentation = RestorePresentation::derive(state);
    const RestoreActionAvailability &availability = presentation.actionAvailability;
    const QList<LocalLibraryItem> &selected = state.selectedRestoreItems;
    const bool sized
        = std::all_of(selected.cbegin(), selected.cend(), [](const LocalLibraryItem &item) {
              return item.archiveByteCount.has_value();
          });
    m_request->setEnabled(availability.canCreateRestoreRequest && !selected.isEmpty() && sized);
    m_refresh->setEnabled(availability.canRefreshRestoreRequest);
    m_transfer->setText(availability.transferTitle);
    m_transfer->setEnabled(availability.canStartRestoreTransfer);
    m_pause->setEnabled(state.isRestoreTransferActive);
    m_summary->apply(presentation.summary);
    // Listing thousands of items again only when they changed.
    if (state.restoreWorkflowItems != m_state.restoreWorkflowItems
        || state.activeRestoreRequest != m_state.activeRestoreRequest || !m_hasListed) {
        m_panel->setItems(state.restoreWorkflowItems, state.activeRestoreRequest);
        m_hasListed = true;
    }
    m_state = state;

    const QString taskID = restoreTaskID(state.activeRestoreRequest);
    if (taskID != m_taskID) {
        m_taskID = taskID;
        if (m_isShown)
            restartRefresh();
    }
}

void RestoreView::present(Confirmation which)
{
    if (m_confirmation)
        return;
    RestoreConfirmation confirmation;
    switch (which) {
    case Confirmation::Restore:
        confirmation = RestoreConfirmation::restore(m_operations.restoreSelectionSummary());
        break;
    case Confirmation::Rebuild:
        confirmation = RestoreConfirmation::rebuild();
        break;
    case Confirmation::Stop:
        confirmation = RestoreConfirmation::stop();
        break;
    }
    m_confirmation = new RestoreConfirmationDialog(confirmation, this);
    // The dialog is the page's child: one answered after the page is gone cannot arrive.
    connect(m_confirmation, &QDialog::accepted, this, [this, which] {
        switch (which) {
        case Confirmation::Restore:
            m_operations.requestRestoreForSelection();
            break;
        case Confirmation::Rebuild:
            m_operations.rebuildLocalLibraryCache();
            break;
        case Confirmation::Stop:
            m_operations.cancelActiveRestoreRequest();
            break;
        }
    });
    m_confirmation->open();
}

QCoro::Task<> RestoreView::chooseDestination()
{
    const QPointer<RestoreView> self(this);
    if (m_isPreparingChooser)
        co_return;
    // Where an unfinished transfer saves, else where the last one saved, else the default folder.
    std::optional<QString> start = m_restore.unfinishedRestoreDestination();
    if (!start)
        start = m_destinationStore->lastDestination();
    if (!start) {
        m_isPreparingChooser = true;
        start = co_await m_operations.defaultRestoreDestination();
        if (!self)
            co_return;
        m_isPreparingChooser = false;
    }
    const FolderQuestion question{
        .prompt = QStringLiteral("Choose Destination"),
        .message = QStringLiteral("Choose where to save the restored RAW Originals."),
        .startFolder = start.value_or(QString()),
        .allowsNewFolders = true,
    };
    m_chooser.chooseFolder(window(), question, [self](std::optional<QString> folder) {
        if (!self || !folder)
            return;
        const QHash<qint64, QString> canonicalFilenames;
        self->m_operations.restoreReadyItems(*folder, canonicalFilenames);
    });
}

void RestoreView::followConflict()
{
    const bool held = m_restore.restoreFilenameConflict().has_value();
    if (held && !m_prompt->isVisible())
        m_prompt->open();
    else if (!held && m_prompt->isVisible())
        m_prompt->reject();
}

void RestoreView::restartRefresh()
{
    ++m_refreshGeneration;
    m_refreshTimer->start(refreshDelay);
}

QCoro::Task<> RestoreView::refresh(quint64 generation)
{
    const QPointer<RestoreView> self(this);
    co_await m_operations.refreshLocalLibraryCacheForRestore();
    // A request held now stays current through the view model's polling.
    if (!self || generation != m_refreshGeneration || m_restore.activeRestoreRequest())
        co_return;
    co_await m_operations.refreshActiveRestoreRequest();
}

void RestoreView::showEvent(QShowEvent *event)
{
    PageBackground::showEvent(event);
    if (event->spontaneous() || m_isShown)
        return;
    m_isShown = true;
    restartRefresh();
}

void RestoreView::hideEvent(QHideEvent *event)
{
    PageBackground::hideEvent(event);
    if (event->spontaneous() || !m_isShown)
        return;
    m_isShown = false;
    ++m_refreshGeneration;
    m_refreshTimer->stop();
}

} // namespace Pellwick
