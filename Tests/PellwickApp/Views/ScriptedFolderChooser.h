#pragma once

#include <PellwickApp/Views/Kit/FolderChooser.h>

#include <QList>
#include <QPointer>
#include <QWidget>

#include <optional>
#include <utility>

namespace Pellwick::Test {

/// A folder chooser whose answers the test gives: every question waits until `answer()` or
/// `cancel()`; like the dialog, an answer for a window that is gone is dropped.
class ScriptedFolderChooser final : public FolderChooser
{
public:
    struct Question
    {
        QPointer<QWidget> window;
        bool hadWindow = false;
        FolderQuestion question;
        Answer reply;
    };

    void chooseFolder(QWidget *window, const FolderQuestion &question, Answer answer) override
    {
        asked.append(question);
        m_pending.append({window, window != nullptr, question, std::move(answer)});
    }

    qsizetype pendingCount() const { return m_pending.size(); }

    /// Answers the oldest open question with `path`.
    void answer(const QString &path) { reply(path); }

    /// Cancels the oldest open question.
    void cancel() { reply(std::nullopt); }

    QList<FolderQuestion> asked;

private:
    void reply(std::optional<QString> path)
    {
        if (m_pending.isEmpty())
            return;
        Question open = m_pending.takeFirst();
        if (open.hadWindow && open.window.isNull())
            return;
        open.reply(std::move(path));
    }

    QList<Question> m_pending;
};

} // namespace Pellwick::Test
