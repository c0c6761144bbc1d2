#pragma once

#include <PellwickApp/Views/Kit/PageBackground.h>
#include <PellwickCore/Ingest/ImportReview.h>
#include <PellwickCore/Ingest/TransferProgress.h>

#include <QList>
#include <QString>

#include <optional>

class QAbstractButton;
class QBoxLayout;
class QFrame;
class QMessageBox;

namespace Pellwick {

class AlertStrip;
class FolderChooser;
class ImportOperations;
class ImportReviewFooter;
class ImportReviewHeader;
class ImportReviewInspector;
class ImportReviewStatusStrip;
class ImportReviewTable;
class ImportState;
class IngestCacheState;
class RunningWork;
class ShellState;

/// The Import Review page ("page.importReview"): the header, the migration alert while a move
/// of the Ingest Cache is pending, the review content (from 1000 wide the table beside the
/// inspector, narrower the status strip above the table, under the header in its compact
/// arrangement), and the footer with "Add to Ingest Cache". While the first-run prompt is
/// published it shows the "Create Ingest Cache?" box.
/// Everything shown follows the state objects; every action starts one operation. Nothing is
/// disabled by a running scan or recovery. Main thread only.
class ImportReviewPanelView final : public PageBackground
{
    Q_OBJECT

public:
    static constexpr int wideLayoutMinimumWidth = 1000;
    static constexpr int wideTableMinimumWidth = 720;
    static constexpr int inspectorWidth = 280;

    /// `chooser` must outlive the page; its answers after the page is gone are dropped.
    ImportReviewPanelView(ImportState &importState,
                          IngestCacheState &ingestCacheState,
                          ShellState &shellState,
                          ImportOperations &operations,
                          FolderChooser &chooser,
                          QWidget *parent = nullptr);

    /// A review with at least one supported file, while no work runs that keeps an Add from
    /// starting (an import from its start, a removal, a move of the cache).
    static bool canConfirm(const std::optional<ImportReview> &review, const RunningWork &running);
    static QString confirmHelpText(const std::optional<ImportReview> &review);
    /// The panel reports the import itself only while no progress row shows it.
    static bool showsInlineImportProgress(bool isImporting,
                                          const QList<TransferProgress> &progresses);

    /// Whether the table stands beside the inspector (else under the status strip).
    bool isWide() const { return m_isWide; }

    ImportReviewHeader *header() const { return m_header; }

    ImportReviewTable *table() const { return m_table; }

    ImportReviewInspector *inspector() const { return m_inspector; }

    ImportReviewStatusStrip *statusStrip() const { return m_strip; }

    ImportReviewFooter *footer() const { return m_footer; }

    /// The "Create Ingest Cache?" box ("importReview.createIngestCache"), shown while the
    /// first-run prompt is published.
    QMessageBox *creationPrompt() const { return m_prompt; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void makeCreationPrompt();
    void chooseFolder();
    void chooseInitialIngestCacheFolder();
    void confirmImport();
    void updateReview();
    void updateStatus();
    void updateConfirm();
    void updateMigrationAlert();
    void updateCreationPrompt();
    void creationPromptFinished();
    void setWide(bool wide);

    ImportState &m_importState;
    IngestCacheState &m_ingestCacheState;
    ShellState &m_shellState;
    ImportOperations &m_operations;
    FolderChooser &m_chooser;

    bool m_isWide = false;
    ImportReviewHeader *m_header = nullptr;
    QWidget *m_migrationAlert = nullptr;
    AlertStrip *m_migrationStrip = nullptr;
    QBoxLayout *m_content = nullptr;
    ImportReviewStatusStrip *m_strip = nullptr;
    QFrame *m_stripDivider = nullptr;
    ImportReviewTable *m_table = nullptr;
    QFrame *m_inspectorDivider = nullptr;
    ImportReviewInspector *m_inspector = nullptr;
    ImportReviewFooter *m_footer = nullptr;
    QMessageBox *m_prompt = nullptr;
    QAbstractButton *m_createHere = nullptr;
    QAbstractButton *m_chooseExisting = nullptr;
    QAbstractButton *m_pressed = nullptr;
};

} // namespace Pellwick
