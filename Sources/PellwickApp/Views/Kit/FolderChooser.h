#pragma once

#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace Pellwick {

/// What a folder question shows: every field is optional.
struct FolderQuestion
{
    QString prompt;      ///< The accept button's text ("Use Folder"); the dialog's own when empty.
    QString message;     ///< What is chosen; the dialog's title.
    QString startFolder; ///< The folder shown first.
    bool allowsNewFolders = false;
};

/// Asks the user for one folder, without blocking: directories only, single selection. The answer
/// arrives later on the main thread as a path or nothing (cancelled). An answer that arrives after
/// `window` is gone is dropped.
class FolderChooser
{
public:
    using Answer = std::function<void(std::optional<QString> path)>;

    virtual ~FolderChooser() = default;

    virtual void chooseFolder(QWidget *window, const FolderQuestion &question, Answer answer) = 0;
};

/// The production chooser: a window-modal file dialog opened with `open()`.
class DialogFolderChooser final : public FolderChooser
{
public:
    void chooseFolder(QWidget *window, const FolderQuestion &question, Answer answer) override;
};

} // namespace Pellwick
