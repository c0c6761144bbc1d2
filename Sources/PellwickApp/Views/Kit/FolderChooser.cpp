#include <PellwickApp/Views/Kit/FolderChooser.h>

#include <QFileDialog>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <utility>

namespace Pellwick {

void DialogFolderChooser::chooseFolder(QWidget *window,
                                       const FolderQuestion &question,
                                       Answer answer)
{
    auto *dialog = new QFileDialog(window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setOption(QFileDialog::ReadOnly, !question.allowsNewFolders);
    if (!question.prompt.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, question.prompt);
    if (!question.message.isEmpty())
        dialog->setWindowTitle(question.message);
    if (!question.startFolder.isEmpty())
        dialog->setDirectory(question.startFolder);

    // One answer per question: accepted gives the path, any other ending gives nothing.
    auto pending = std::make_shared<Answer>(std::move(answer));
    const QPointer<QWidget> guard(window);
    const bool hadWindow = window != nullptr;
    QObject::connect(
        dialog, &QFileDialog::finished, dialog, [dialog, pending, guard, hadWindow](int result) {
            Answer reply = std::exchange(*pending, nullptr);
            if (!reply || (hadWindow && guard.isNull()))
                return;
            const QStringList chosen = dialog->selectedFiles();
            if (result == QDialog::Accepted && chosen.size() == 1)
                reply(chosen.constFirst());
            else
                reply(std::nullopt);
        });
    dialog->open();
}

} // namespace Pellwick
