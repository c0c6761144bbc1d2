#pragma once

#include <QWidget>

class QDateEdit;
class QModelIndex;
class QListView;
class QPushButton;
class QStringListModel;

namespace Pellwick {

class FoldingBox;
class LibraryOperations;
class LibraryState;
class PellwickMenuSelectorLabel;
class PellwickSelect;

/// The filter controls of the library: five selectors (Capture Time, Capture Location, Import
/// Status, Import Source, Duplicates), Reset Filters and the From/To dates of the capture-time
/// window, on one row or two, whichever fits. Every control edits its field of `LibraryState`
/// directly and follows it; the bar keeps no state of its own. Main thread only.
class LocalLibraryFilterBar final : public QWidget
{
    Q_OBJECT

public:
    LocalLibraryFilterBar(LibraryState &state,
                          LibraryOperations &operations,
                          QWidget *parent = nullptr);

    /// The text of the third Duplicates option, which lists duplicates alone.
    static QString onlyDuplicatesText();

    FoldingBox *rows() const { return m_rows; }

    /// The Import Source menu's list, filled when the menu opens.
    QListView *importSourceList() const { return m_importSourceList; }

private:
    void addImportSourceList();
    void fillImportSources();
    void chooseImportSource(const QModelIndex &index);
    void showValues();
    void showDates();

    LibraryState &m_state;
    LibraryOperations &m_operations;
    PellwickSelect *m_captureTime = nullptr;
    PellwickSelect *m_captureLocation = nullptr;
    PellwickSelect *m_importStatus = nullptr;
    PellwickMenuSelectorLabel *m_importSource = nullptr;
    QStringListModel *m_importSources = nullptr;
    QListView *m_importSourceList = nullptr;
    PellwickSelect *m_duplicates = nullptr;
    QPushButton *m_reset = nullptr;
    QDateEdit *m_from = nullptr;
    QDateEdit *m_to = nullptr;
    FoldingBox *m_rows = nullptr;
};

} // namespace Pellwick
