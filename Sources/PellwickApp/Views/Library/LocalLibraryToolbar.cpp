#include "LocalLibraryToolbar.h"

#include <PellwickApp/Shell/Operations/ImportOperations.h>
#include <PellwickApp/Shell/Operations/IngestCacheOperations.h>
#include <PellwickApp/Shell/Operations/LibraryOperations.h>
#include <PellwickApp/Shell/Operations/RestoreOperations.h>
#include <PellwickApp/Shell/RunningWork.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Shell/State/LibraryState.h>
#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/FoldingBox.h>
#include <PellwickApp/Views/Kit/PageHeader.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickApp/Views/Kit/SymbolIcons.h>
#include <PellwickApp/Views/Library/ConfirmationDialog.h>
#include <PellwickApp/Views/Library/IngestCacheMenu.h>
#include <PellwickApp/Views/Library/LocalLibraryFilterBar.h>
#include <PellwickApp/Views/Library/OldCacheConflictList.h>
#include <PellwickCore/Library/LibraryPresentation.h>
#include <PellwickCore/Library/LocalLibraryItem.h>

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

namespace Pellwick {

using namespace Qt::StringLiterals;

namespace {

constexpr int horizontalPadding = 20;

/// The filename search: at least 180 wide, ideally 280, at most 360.
class SearchField final : public QLineEdit
{
public:
    explicit SearchField(QWidget *parent)
        : QLineEdit(parent)
    {
        setMinimumWidth(180);
        setMaximumWidth(360);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override { return {280, QLineEdit::sizeHint().height()}; }
};

QPushButton *actionButton(const QString &title,
                          const QString &symbol,
                          const QString &id,
                          PellwickButtonKind kind,
                          QWidget *parent)
{
    auto *button = new QPushButton(SymbolIcons::icon(symbol), title, parent);
    button->setObjectName(id);
    PellwickControlStyles::setButtonKind(*button, kind);
    PellwickControlStyles::compactActionButton(*button);
    return button;
}

QWidget *row(const QList<QWidget *> &widgets, QWidget *parent)
{
    auto *group = new QWidget(parent);
    auto *layout = new QHBoxLayout(group);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    for (QWidget *widget : widgets)
        layout->addWidget(widget, 0, Qt::AlignVCenter);
    return group;
}

/// "<count> <kind>packages", in the singular for one: "1 package", "2 cache packages".
QString packages(qint64 count, const QString &kind = {})
{
    return QString::number(count) + u' ' + kind + (count == 1 ? u"package"_s : u"packages"_s);
}

} // namespace

QString
LocalLibraryToolbar::importConfirmationMessage(const ImportSelectionConfirmation &confirmation)
{
    return packages(confirmation.packageCount) + u", "_s
           + LibraryPresentation::byteText(confirmation.byteCount) + u". "_s
           + LibraryPresentation::byteText(confirmation.remainingByteCount)
           + u" archive capacity remains."_s;
}

LocalLibraryToolbar::LocalLibraryToolbar(Seams seams, QWidget *parent)
    : QWidget(parent)
    , m_seams(seams)
{
    setObjectName(u"local-library-cache.toolbar"_s);
    m_cacheMenu = new IngestCacheMenu({m_seams.ingestCache,
                                       m_seams.imports,
                                       m_seams.ingestCacheOperations,
                                       m_seams.importOperations,
                                       m_seams.folderChooser},
                                      this);
    auto *header = new QHBoxLayout;
    header->setContentsMargins(horizontalPadding, 20, horizontalPadding, 0);
    header->addWidget(new PageHeaderTitle(u"Library"_s, this));
    header->addStretch(1);
    header->addWidget(m_cacheMenu);

    m_controls = new FoldingBox({.spacing = 10, .alignment = Qt::AlignLeft | Qt::AlignVCenter},
                                {.spacing = 8, .alignment = Qt::AlignLeft},
                                this);
    m_controls->setGroupGap(12);
    m_controls->add(searchGroup());
    m_controls->add(actionGroup());

    m_migrationMessage = new QLabel(this);
    m_migrationMessage->setObjectName(u"local-library-cache.migration-message"_s);
    m_migrationMessage->setTextFormat(Qt::PlainText);
    m_migrationMessage->setWordWrap(true);
    m_migrationMessage->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Subheadline));
    PellwickTheme::setTextColour(*m_migrationMessage, PellwickTheme::secondaryLabel());
    m_migrationAlert = new AlertStrip(
        {}, u"exclamationmark.triangle"_s, LibraryPresentationTone::Attention, this);
    m_migrationAlert->setObjectName(u"local-library-cache.migration-alert"_s);

    m_filtersStrip = new QWidget(this);
    m_filtersStrip->setObjectName(u"local-library-cache.filters-active"_s);
    auto *active = new QLabel(u"Filters active"_s, m_filtersStrip);
    active->setFont(PellwickTheme::font(PellwickTheme::TextStyle::Caption));
    PellwickTheme::setTextColour(*active, PellwickTheme::secondaryLabel());
    auto *clear = new QPushButton(u"Clear"_s, m_filtersStrip);
    clear->setObjectName(u"local-library-cache.clear-filters"_s);
    clear->setFlat(true);
    clear->setCursor(Qt::PointingHandCursor);
    PellwickControlStyles::setButtonKind(*clear, PellwickButtonKind::Plain);
    PellwickTheme::setTextColour(*clear, PellwickTheme::accent());
    connect(clear, &QPushButton::clicked, this, [this] {
        if (m_seams.libraryOperations.hasActiveLocalLibraryFilters())
            m_seams.libraryOperations.resetLocalLibraryFilters();
    });
    auto *strip = new QHBoxLayout(m_filtersStrip);
    strip->setContentsMargins(0, 0, 0, 0);
    strip->setSpacing(8);
    strip->addWidget(active);
    strip->addWidget(clear);
    strip->addStretch(1);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 20);
    column->setSpacing(10);
    column->addLayout(header);
    const QList<QWidget *> parts{m_controls, m_migrationMessage, m_migrationAlert, m_filtersStrip};
    for (QWidget *part : parts) {
        auto *padded = new QHBoxLayout;
        padded->setContentsMargins(horizontalPadding, 0, horizontalPadding, 0);
        padded->addWidget(part);
        column->addLayout(padded);
    }

    addDialogs();

    for (auto signal :
         {&LibraryState::selectedLibraryItemIDsChanged, &LibraryState::localLibraryItemsChanged})
        connect(&m_seams.library, signal, this, &LocalLibraryToolbar::updateActions);
    for (auto signal : {&ImportState::isImportingChanged,
                        &ImportState::isStartingImportChanged,
                        &ImportState::isRecoveringInterruptedImportsChanged})
        connect(&m_seams.imports, signal, this, &LocalLibraryToolbar::updateActions);
    for (auto signal : {&IngestCacheState::isMigratingIngestCacheChanged,
                        &IngestCacheState::pendingIngestCacheMigrationChanged})
        connect(&m_seams.ingestCache, signal, this, &LocalLibraryToolbar::updateActions);
    connect(&m_seams.ingestCache,
            &IngestCacheState::ingestCacheRootChanged,
            this,
            &LocalLibraryToolbar::updateActions);
    connect(&m_seams.ingestCache,
            &IngestCacheState::ingestCacheMigrationMessageChanged,
            this,
            &LocalLibraryToolbar::updateMigrationMessage);
    for (auto signal : {&LibraryState::localLibrarySearchTextChanged,
                        &LibraryState::localLibraryCaptureTimeFilterChanged,
                        &LibraryState::localLibraryCaptureLocationFilterChanged,
                        &LibraryState::localLibraryImportStatusFilterChanged,
                        &LibraryState::localLibraryIngestSourceFilterChanged,
                        &LibraryState::localLibraryDuplicateVisibilityChanged})
        connect(&m_seams.library, signal, this, &LocalLibraryToolbar::updateFilterState);
    updateActions();
    updateFilterState();
    updateMigrationMessage();
}

QWidget *LocalLibraryToolbar::searchGroup()
{
    m_search = new SearchField(this);
    m_search->setObjectName(u"local-library-cache.search"_s);
    m_search->setPlaceholderText(u"Search filenames"_s);
    m_search->setAccessibleName(u"Search filenames"_s);
    m_search->setClearButtonEnabled(true);
    connect(m_search, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_seams.library.setLocalLibrarySearchText(text);
    });

    m_filters = actionButton(u"Filters"_s,
                             u"line.3.horizontal.decrease.circle"_s,
                             u"local-library-cache.filters"_s,
                             PellwickButtonKind::Secondary,
                             this);
    connect(m_filters, &QPushButton::clicked, this, &LocalLibraryToolbar::showFilters);

    m_filterPopover = new QFrame(this, Qt::Popup);
    m_filterPopover->setObjectName(u"local-library-cache.filter-popover"_s);
    m_filterPopover->setFrameShape(QFrame::StyledPanel);
    m_filterPopover->setMinimumWidth(360);
    m_filterBar
        = new LocalLibraryFilterBar(m_seams.library, m_seams.libraryOperations, m_filterPopover);
    auto *popoverLayout = new QVBoxLayout(m_filterPopover);
    popoverLayout->addWidget(m_filterBar);
    return row({m_search, m_filters}, this);
}

QWidget *LocalLibraryToolbar::actionGroup()
{
    m_startImport = actionButton(u"Start Import"_s,
                                 u"arrow.up.circle"_s,
                                 u"local-library-cache.start-import"_s,
                                 PellwickButtonKind::Primary,
                                 this);
    connect(m_startImport, &QPushButton::clicked, this, [this] {
        if (canStartImport())
            m_seams.importOperations.requestSelectedImportConfirmation();
    });
    m_restoreSelected = actionButton(u"Restore Selected"_s,
                                     u"arrow.down.circle"_s,
                                     u"local-library-cache.restore-selected"_s,
                                     PellwickButtonKind::Primary,
                                     this);
    connect(m_restoreSelected, &QPushButton::clicked, this, [this] {
        if (canRestore())
            Q_EMIT restoreRequested();
    });
    m_removeSelected = actionButton(u"Remove from Cache"_s,
                                    u"trash"_s,
                                    u"local-library-cache.remove-selected"_s,
                                    PellwickButtonKind::Plain,
                                    this);
    connect(m_removeSelected, &QPushButton::clicked, this, [this] {
        if (canRemove())
            m_seams.ingestCacheOperations.requestSelectedIngestCacheRemovalConfirmation();
    });
    return row({m_startImport, m_restoreSelected, m_removeSelected}, this);
}

void LocalLibraryToolbar::addDialogs()
{
    m_importConfirmation = new ConfirmationDialog(
        u"Reserve Capacity and Start Import"_s, PellwickButtonRole::None, this);
    m_importConfirmation->setObjectName(u"local-library-cache.import-confirmation"_s);
    m_importConfirmation->setTitle(u"Start Import?"_s);
    connect(m_importConfirmation, &QDialog::rejected, this, [this] {
        m_seams.imports.setImportSelectionConfirmation(std::nullopt);
    });
    connect(m_importConfirmation, &ConfirmationDialog::confirmed, this, [this] {
        // Cleared first, so the dialog cannot be confirmed twice while the import prepares.
        m_seams.imports.setImportSelectionConfirmation(std::nullopt);
        m_seams.importOperations.startSelectedImports();
    });
    connect(&m_seams.imports,
            &ImportState::importSelectionConfirmationChanged,
            this,
            &LocalLibraryToolbar::showImportConfirmation);

    m_oldCacheDeletion
        = new ConfirmationDialog(u"Delete Old Cache"_s, PellwickButtonRole::Destructive, this);
    m_oldCacheDeletion->setObjectName(u"local-library-cache.old-cache-deletion"_s);
    m_oldCacheDeletion->setTitle(u"Delete old Ingest Cache?"_s);
    m_oldCacheDeletion->setMessage(u"Pellwick will delete the old cache only after verifying every "
                                   u"remaining file exists in the active cache."_s);
    connect(m_oldCacheDeletion, &QDialog::rejected, this, [this] {
        m_confirmsOldCacheDeletion = false;
    });
    connect(m_oldCacheDeletion, &ConfirmationDialog::confirmed, this, [this] {
        m_confirmsOldCacheDeletion = false;
        m_seams.ingestCacheOperations.deleteRetainedIngestCache();
    });
    connect(m_cacheMenu, &IngestCacheMenu::oldCacheDeletionRequested, this, [this] {
        m_confirmsOldCacheDeletion = true;
        m_oldCacheDeletion->present();
    });

    m_removalConfirmation = new ConfirmationDialog(
        u"Remove from Ingest Cache"_s, PellwickButtonRole::Destructive, this);
    m_removalConfirmation->setObjectName(u"local-library-cache.removal-confirmation"_s);
    connect(m_removalConfirmation, &QDialog::rejected, this, [this] {
        m_seams.ingestCache.setIngestCacheRemovalConfirmation(std::nullopt);
    });
    connect(m_removalConfirmation, &ConfirmationDialog::confirmed, this, [this] {
        // The removal acts on what was confirmed, so the value is taken before it is cleared.
        const std::optional<IngestCacheRemovalConfirmation> confirmed
            = m_seams.ingestCache.ingestCacheRemovalConfirmation();
        m_seams.ingestCache.setIngestCacheRemovalConfirmation(std::nullopt);
        if (confirmed)
            m_seams.ingestCacheOperations.removeSelectedIngestCachePackages(*confirmed);
    });
    connect(&m_seams.ingestCache,
            &IngestCacheState::ingestCacheRemovalConfirmationChanged,
            this,
            &LocalLibraryToolbar::showRemovalConfirmation);

    m_conflictList
        = new OldCacheConflictList(m_seams.ingestCache, m_seams.ingestCacheOperations, this);
    connect(m_cacheMenu,
            &IngestCacheMenu::oldCacheConflictsFound,
            m_conflictList,
            &OldCacheConflictList::present);

    showImportConfirmation();
    showRemovalConfirmation();
}

void LocalLibraryToolbar::showImportConfirmation()
{
    const std::optional<ImportSelectionConfirmation> &confirmation
        = m_seams.imports.importSelectionConfirmation();
    m_importConfirmation->setMessage(confirmation ? importConfirmationMessage(*confirmation)
                                                  : QString());
    if (confirmation)
        m_importConfirmation->present();
    else
        m_importConfirmation->dismiss();
}

void LocalLibraryToolbar::showRemovalConfirmation()
{
    const std::optional<IngestCacheRemovalConfirmation> &confirmation
        = m_seams.ingestCache.ingestCacheRemovalConfirmation();
    m_removalConfirmation->setTitle(
        u"Remove "_s + packages(confirmation ? confirmation->packageCount : 0, u"cache "_s)
        + u"?"_s);
    m_removalConfirmation->setMessage(
        u"This permanently removes "_s
        + LibraryPresentation::byteText(confirmation ? confirmation->byteCount : 0)
        + u" from Ingest Cache. Online Archive files cannot be removed here."_s);
    if (confirmation)
        m_removalConfirmation->present();
    else
        m_removalConfirmation->dismiss();
}

void LocalLibraryToolbar::showFilters()
{
    if (m_filterPopover->isVisible())
        return;
    // As wide as one row of filters when the window allows, else the two-row arrangement.
    const int available = window() != this ? window()->width() - 2 * horizontalPadding
                                           : m_filterPopover->sizeHint().width();
    const int width = std::max({360,
                                m_filterPopover->minimumSizeHint().width(),
                                std::min(m_filterPopover->sizeHint().width(), available)});
    m_filterPopover->resize(width, m_filterPopover->heightForWidth(width));
    // Under the Filters button, moved left as far as it takes to end inside the window.
    QPoint at = m_filters->mapToGlobal(QPoint(0, m_filters->height()));
    if (window() != this) {
        const QRect inside(window()->mapToGlobal(QPoint(0, 0)), window()->size());
        at.setX(std::max(inside.left() + horizontalPadding,
                         std::min(at.x(), inside.right() + 1 - horizontalPadding - width)));
    }
    m_filterPopover->move(at);
    m_filterPopover->show();
}

bool LocalLibraryToolbar::showsFilters() const
{
    return m_filterPopover->isVisible();
}

bool LocalLibraryToolbar::canStartImport() const
{
    // The rule its confirmation and its action follow: a button enabled while they refuse
    // would do nothing, without a word.
    return !m_seams.importOperations.selectedImportItems().isEmpty()
           && !RunningWork::of(m_seams.imports, m_seams.ingestCache)
                   .excludes(Work::ConfirmedImport);
}

bool LocalLibraryToolbar::canRestore() const
{
    const QList<LocalLibraryItem> items = m_seams.restoreOperations.selectedRestoreItems();
    return !items.isEmpty() && std::all_of(items.cbegin(), items.cend(), [](const auto &item) {
        return item.archiveByteCount.has_value();
    });
}

bool LocalLibraryToolbar::canRemove() const
{
    return !m_seams.ingestCacheOperations.selectedRemovableIngestCacheItems().isEmpty()
           && !RunningWork::of(m_seams.imports, m_seams.ingestCache).excludes(Work::PackageRemoval);
}

void LocalLibraryToolbar::updateActions()
{
    m_startImport->setEnabled(canStartImport());
    m_restoreSelected->setEnabled(canRestore());
    m_removeSelected->setEnabled(canRemove());
}

void LocalLibraryToolbar::updateFilterState()
{
    if (m_search->text() != m_seams.library.localLibrarySearchText())
        m_search->setText(m_seams.library.localLibrarySearchText());
    m_filtersStrip->setVisible(m_seams.libraryOperations.hasActiveLocalLibraryFilters());
}

void LocalLibraryToolbar::updateMigrationMessage()
{
    const std::optional<QString> &message = m_seams.ingestCache.ingestCacheMigrationMessage();
    const bool failed = message && m_seams.ingestCache.isIngestCacheMigrationFailure();
    m_migrationMessage->setText(failed ? QString() : message.value_or(QString()));
    m_migrationMessage->setVisible(message && !failed);
    m_migrationAlert->setAlert(failed ? *message : QString(),
                               u"exclamationmark.triangle"_s,
                               LibraryPresentationTone::Attention);
    m_migrationAlert->setVisible(failed);
}

void LocalLibraryToolbar::paintEvent(QPaintEvent * /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), PellwickTheme::withOpacity(PellwickTheme::graphite(), 0.72));
}

} // namespace Pellwick
