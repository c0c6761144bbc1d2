#include "ImportReviewPanelView.h"

#include <PellwickApp/Shell/Operations/ImportOperations.h>
#include <PellwickApp/Shell/RunningWork.h>
#include <PellwickApp/Shell/State/ImportState.h>
#include <PellwickApp/Shell/State/IngestCacheState.h>
#include <PellwickApp/Shell/State/ShellState.h>
#include <PellwickApp/Views/ImportReview/ImportReviewFooter.h>
#include <PellwickApp/Views/ImportReview/ImportReviewHeader.h>
#include <PellwickApp/Views/ImportReview/ImportReviewInspector.h>
#include <PellwickApp/Views/ImportReview/ImportReviewStatusStrip.h>
#include <PellwickApp/Views/ImportReview/ImportReviewTable.h>
#include <PellwickApp/Views/Kit/AlertStrip.h>
#include <PellwickApp/Views/Kit/FolderChooser.h>

#include <QAbstractButton>
#include <QBoxLayout>
#include <QFrame>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>

#include <optional>
#include <utility>

namespace Pellwick {

using namespace Qt::StringLiterals;

namespace {

QFrame *divider(QFrame::Shape shape, QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(shape);
    line->setFrameShadow(QFrame::Plain);
    line->setStyleSheet(u"color: palette(mid);"_s);
    return line;
}

} // namespace

ImportReviewPanelView::ImportReviewPanelView(ImportState &importState,
                                             IngestCacheState &ingestCacheState,
                                             ShellState &shellState,
                                             ImportOperations &operations,
                                             FolderChooser &chooser,
                                             QWidget *parent)
    : PageBackground(parent)
    , m_importState(importState)
    , m_ingestCacheState(ingestCacheState)
    , m_shellState(shellState)
    , m_operations(operations)
    , m_chooser(chooser)
{
    setObjectName(u"page.importReview"_s);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_header = new ImportReviewHeader(this);
    m_header->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    column->addWidget(m_header);

    m_migrationAlert = new QWidget(this);
    auto *alertPadding = new QVBoxLayout(m_migrationAlert);
    alertPadding->setContentsMargins(20, 0, 20, 12);
    m_migrationStrip = new AlertStrip(
        {}, u"exclamationmark.triangle"_s, LibraryPresentationTone::Attention, m_migrationAlert);
    m_migrationStrip->setObjectName(u"importReview.migrationAlert"_s);
    alertPadding->addWidget(m_migrationStrip);
    column->addWidget(m_migrationAlert);

    // One table in one box whose direction follows the width: the switch neither rebuilds the
    // rows nor moves the keyboard focus. The content asks for no minimum of its own, so the
    // page can always shrink below the wide layout.
    auto *content = new QWidget(this);
    content->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    m_content = new QBoxLayout(QBoxLayout::TopToBottom, content);
    m_content->setSizeConstraint(QLayout::SetNoConstraint);
    m_content->setContentsMargins(0, 0, 0, 0);
    m_content->setSpacing(0);
    m_strip = new ImportReviewStatusStrip(content);
    m_stripDivider = divider(QFrame::HLine, content);
    m_stripDivider->setFixedHeight(1); // the compact layout is short of height
    m_table = new ImportReviewTable(content);
    m_inspectorDivider = divider(QFrame::VLine, content);
    m_inspector = new ImportReviewInspector(content);
    m_inspector->setFixedWidth(inspectorWidth);
    m_content->addWidget(m_strip);
    m_content->addWidget(m_stripDivider);
    m_content->addWidget(m_table, 1);
    m_content->addWidget(m_inspectorDivider);
    m_content->addWidget(m_inspector);
    column->addWidget(content, 1);

    column->addWidget(divider(QFrame::HLine, this));
    m_footer = new ImportReviewFooter(this);
    m_footer->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    column->addWidget(m_footer);
    makeCreationPrompt();

    connect(m_header, &ImportReviewHeader::chooseFolderRequested, this, [this] { chooseFolder(); });
    connect(m_header, &ImportReviewHeader::rescanRequested, this, [this] {
        m_operations.scanAllRemovableVolumes();
    });
    connect(m_footer, &ImportReviewFooter::confirmRequested, this, [this] { confirmImport(); });

    connect(&importState,
            &ImportState::importReviewStateChanged,
            this,
            &ImportReviewPanelView::updateReview);
    for (auto changed : {&ImportState::isScanningImportSourcesChanged,
                         &ImportState::isImportingChanged,
                         &ImportState::isRecoveringInterruptedImportsChanged,
                         &ImportState::isStartingImportChanged,
                         &ImportState::importErrorMessageChanged,
                         &ImportState::isImportMessageSuccessChanged,
                         &ImportState::importRecoveryMessageChanged})
        connect(&importState, changed, this, &ImportReviewPanelView::updateStatus);
    connect(&shellState,
            &ShellState::transferProgressesChanged,
            this,
            &ImportReviewPanelView::updateStatus);
    connect(&importState,
            &ImportState::initialIngestCacheCreationChanged,
            this,
            &ImportReviewPanelView::updateCreationPrompt);
    for (auto changed : {&IngestCacheState::isMigratingIngestCacheChanged,
                         &IngestCacheState::pendingIngestCacheMigrationChanged,
                         &IngestCacheState::ingestCacheMigrationMessageChanged})
        connect(&ingestCacheState, changed, this, &ImportReviewPanelView::updateMigrationAlert);

    m_isWide = true; // so that the compact layout is applied now
    setWide(false);
    updateReview();
    updateMigrationAlert();
    updateCreationPrompt();
}

bool ImportReviewPanelView::canConfirm(const std::optional<ImportReview> &review,
                                       const RunningWork &running)
{
    return review && review->candidateCount() >= 1 && !running.excludes(Work::AddToIngestCache);
}

QString ImportReviewPanelView::confirmHelpText(const std::optional<ImportReview> &review)
{
    return review ? u"Add to Ingest Cache copies every supported RAW Original and paired Sidecar. "
                    u"It does not use Archive Storage."_s
                  : u"Choose a folder or insert removable media to copy files into Ingest Cache."_s;
}

bool ImportReviewPanelView::showsInlineImportProgress(bool isImporting,
                                                      const QList<TransferProgress> &progresses)
{
    return isImporting && progresses.isEmpty();
}

void ImportReviewPanelView::resizeEvent(QResizeEvent *event)
{
    PageBackground::resizeEvent(event);
    setWide(event->size().width() >= wideLayoutMinimumWidth);
}

void ImportReviewPanelView::setWide(bool wide)
{
    if (wide == m_isWide)
        return;
    m_isWide = wide;
    m_content->setDirection(wide ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
    m_header->setCompact(!wide);
    m_strip->setVisible(!wide);
    m_stripDivider->setVisible(!wide);
    m_inspectorDivider->setVisible(wide);
    m_inspector->setVisible(wide);
    m_table->setMinimumWidth(wide ? wideTableMinimumWidth : 0);
}

void ImportReviewPanelView::makeCreationPrompt()
{
    m_prompt = new QMessageBox(this);
    m_prompt->setObjectName(u"importReview.createIngestCache"_s);
    m_prompt->setIcon(QMessageBox::Question);
    m_prompt->setWindowTitle(u"Create Ingest Cache?"_s);
    m_prompt->setText(u"Create Ingest Cache?"_s);
    m_prompt->setInformativeText(u"Ingest Cache has not been created. Choose where to keep local "
                                 u"copies before importing."_s);
    m_prompt->setTextFormat(Qt::PlainText);
    m_createHere = m_prompt->addButton(u"Create Here"_s, QMessageBox::ActionRole);
    m_createHere->setObjectName(u"importReview.createIngestCache.createHere"_s);
    m_chooseExisting = m_prompt->addButton(u"Choose Existing Folder"_s, QMessageBox::ActionRole);
    m_chooseExisting->setObjectName(u"importReview.createIngestCache.chooseExistingFolder"_s);
    QPushButton *cancel = m_prompt->addButton(u"Cancel"_s, QMessageBox::RejectRole);
    cancel->setObjectName(u"importReview.createIngestCache.cancel"_s);
    m_prompt->setEscapeButton(cancel);
    m_prompt->setDefaultButton(qobject_cast<QPushButton *>(m_createHere));
    connect(m_prompt, &QMessageBox::buttonClicked, this, [this](QAbstractButton *button) {
        m_pressed = button;
    });
    connect(m_prompt, &QDialog::finished, this, &ImportReviewPanelView::creationPromptFinished);
}

void ImportReviewPanelView::chooseFolder()
{
    const QPointer<ImportReviewPanelView> self(this);
    m_chooser.chooseFolder(window(), {}, [self](std::optional<QString> path) {
        if (self && path)
            self->m_operations.scanFolder(*path);
    });
}

void ImportReviewPanelView::chooseInitialIngestCacheFolder()
{
    const QPointer<ImportReviewPanelView> self(this);
    FolderQuestion question;
    question.prompt = u"Use Folder"_s;
    m_chooser.chooseFolder(window(), question, [self](std::optional<QString> path) {
        if (self && path)
            self->m_operations.chooseInitialIngestCache(*path);
    });
}

void ImportReviewPanelView::confirmImport()
{
    m_operations.addReviewToIngestCache();
}

void ImportReviewPanelView::updateReview()
{
    const std::optional<ImportReview> &review = m_importState.importReviewState().review;
    m_header->setReview(review);
    m_table->setReview(review);
    updateStatus();
}

void ImportReviewPanelView::updateStatus()
{
    const ImportState &state = m_importState;
    const QList<TransferProgress> &progresses = m_shellState.transferProgresses();
    m_header->setScanning(state.isScanningImportSources());
    m_header->setProgresses(progresses);
    const ImportReviewStatusInputs inputs{
        .review = state.importReviewState().review,
        .isScanning = false,
        .isImporting = showsInlineImportProgress(state.isImporting(), progresses),
        .isRecovering = state.isRecoveringInterruptedImports(),
        .recoveryMessage = state.importRecoveryMessage(),
        .importErrorMessage = state.importErrorMessage(),
        .isImportMessageSuccess = state.isImportMessageSuccess(),
    };
    m_inspector->setInputs(inputs);
    m_strip->setInputs(inputs);
    updateConfirm();
}

void ImportReviewPanelView::updateConfirm()
{
    const std::optional<ImportReview> &review = m_importState.importReviewState().review;
    m_footer->setState(m_importState.isRecoveringInterruptedImports(),
                       confirmHelpText(review),
                       canConfirm(review, RunningWork::of(m_importState, m_ingestCacheState)));
}

void ImportReviewPanelView::updateMigrationAlert()
{
    const std::optional<QString> &message = m_ingestCacheState.ingestCacheMigrationMessage();
    const bool shown = m_ingestCacheState.isIngestCacheMigrationPending() && message.has_value();
    if (shown)
        m_migrationStrip->setAlert(
            *message, u"exclamationmark.triangle"_s, LibraryPresentationTone::Attention);
    m_migrationAlert->setVisible(shown);
    updateConfirm();
}

void ImportReviewPanelView::updateCreationPrompt()
{
    const bool asked = m_importState.initialIngestCacheCreation().has_value();
    if (asked && !m_prompt->isVisible()) {
        m_pressed = nullptr;
        m_prompt->open();
    } else if (!asked && m_prompt->isVisible()) {
        m_prompt->done(QDialog::Rejected);
    }
}

void ImportReviewPanelView::creationPromptFinished()
{
    // The location as it is at the press, not as it was when the box opened.
    const std::optional<InitialIngestCacheCreation> creation
        = m_importState.initialIngestCacheCreation();
    QAbstractButton *const pressed = std::exchange(m_pressed, nullptr);
    if (creation)
        m_importState.setInitialIngestCacheCreation(std::nullopt);
    if (!creation)
        return;
    if (pressed == m_createHere)
        m_operations.createInitialIngestCache(creation->locationURL);
    else if (pressed == m_chooseExisting)
        chooseInitialIngestCacheFolder();
}

} // namespace Pellwick
