#include "RestoreDialogs.h"

#include <PellwickApp/Feedback/RestoreFeedback.h>
#include <PellwickApp/Shell/State/RestoreState.h>
#include <PellwickApp/Views/Kit/PageControls.h>
#include <PellwickApp/Views/Kit/PellwickControlStyles.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>
#include <PellwickCore/Library/LibraryPresentation.h>

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace Pellwick {

namespace {

constexpr int dialogWidth = 440;
constexpr int dialogPadding = 20;
constexpr int dialogSpacing = 12;
/// Longer messages are not measured: they take the bounded height and scroll.
constexpr qsizetype measuredMessageLength = 4000;

QVBoxLayout *dialogColumn(QDialog &dialog, const QString &title)
{
    dialog.setWindowTitle(title);
    dialog.setFixedWidth(dialogWidth);
    auto *column = new QVBoxLayout(&dialog);
    column->setContentsMargins(dialogPadding, dialogPadding, dialogPadding, dialogPadding);
    column->setSpacing(dialogSpacing);
    // The title is part of the content too: window managers may not draw a dialog's title.
    QLabel *headline = PageControls::headline(title, &dialog);
    headline->setWordWrap(true);
    column->addWidget(headline);
    return column;
}

/// "Cancel" (rejects) and then `confirm`, aligned to the trailing edge.
QPushButton *addButtons(QDialog &dialog, QVBoxLayout &column, QPushButton *confirm)
{
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    PellwickControlStyles::setButtonRole(*cancel, PellwickButtonRole::Cancel);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    row->addStretch(1);
    row->addWidget(cancel);
    row->addWidget(confirm);
    column.addLayout(row);
    return cancel;
}

} // namespace

RestoreConfirmation RestoreConfirmation::restore(const RestoreSelectionSummary &summary)
{
    return {.title = RestoreFeedback::restoreConfirmationTitle(summary.itemCount),
            .message = LibraryPresentation::byteText(summary.byteCount) + QStringLiteral(". ")
                       + summary.filenames.join(QStringLiteral(", ")),
            .button = QStringLiteral("Start Restore Request")};
}

RestoreConfirmation RestoreConfirmation::rebuild()
{
    return {.title = QStringLiteral("Rebuild Local Library Cache?"),
            .message = QStringLiteral(
                "This replaces cached records linked to Backend API Library records. Unfinished "
                "local Imports stay. Cached Previews may need to regenerate."),
            .button = QStringLiteral("Rebuild Cache"),
            .isDestructive = true};
}

RestoreConfirmation RestoreConfirmation::stop()
{
    return {.title = QStringLiteral("Stop Restore in Pellwick?"),
            .message = QStringLiteral(
                "Pellwick will stop tracking this Restore Request and discard incomplete local "
                "Restore Transfer artifacts. Managed Archive Storage preparation may continue and "
                "may still incur provider charges. Files already verified on this computer will "
                "remain. Restore Allowance is not refunded after Ready."),
            .button = QStringLiteral("Stop Restore"),
            .isDestructive = true};
}

RestoreConfirmationDialog::RestoreConfirmationDialog(const RestoreConfirmation &confirmation,
                                                     QWidget *parent)
    : QDialog(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    QVBoxLayout *column = dialogColumn(*this, confirmation.title);

    m_message = new QPlainTextEdit(this);
    m_message->setObjectName(QStringLiteral("restore.confirmation.message"));
    m_message->setReadOnly(true);
    m_message->setTabChangesFocus(true);
    m_message->setFrameShape(QFrame::NoFrame);
    m_message->document()->setDocumentMargin(0);
    m_message->viewport()->setAutoFillBackground(false);
    m_message->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_message->setPlainText(confirmation.message);
    int height = maximumMessageHeight;
    if (confirmation.message.size() <= measuredMessageLength) {
        const int margins = 2 * int(m_message->document()->documentMargin()) + 2;
        const int textWidth = dialogWidth - 2 * dialogPadding - margins;
        height = QFontMetrics(m_message->font())
                     .boundingRect(QRect(0, 0, textWidth, std::numeric_limits<int>::max() / 2),
                                   Qt::TextWordWrap,
                                   confirmation.message)
                     .height()
                 + margins;
    }
    m_message->setFixedHeight(std::min(height, int(maximumMessageHeight)));
    column->addWidget(m_message);

    m_confirm = new QPushButton(confirmation.button, this);
    if (confirmation.isDestructive)
        PellwickControlStyles::setButtonRole(*m_confirm, PellwickButtonRole::Destructive);
    connect(m_confirm, &QPushButton::clicked, this, &QDialog::accept);
    m_cancel = addButtons(*this, *column, m_confirm);
    // Return confirms only what undoes nothing. The first focus is that button too: the message
    // stays reachable with Tab.
    QPushButton *defaultButton = confirmation.isDestructive ? m_cancel : m_confirm;
    defaultButton->setDefault(true);
    defaultButton->setFocus();
}

RestoreFilenamePrompt::RestoreFilenamePrompt(RestoreState &state, QWidget *parent)
    : QDialog(parent)
    , m_state(state)
{
    setObjectName(QStringLiteral("restore.filename-prompt"));
    setWindowModality(Qt::WindowModal);
    QVBoxLayout *column = dialogColumn(*this, QStringLiteral("Choose a different filename"));
    m_message = new QLabel(this);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    column->addWidget(m_message);
    m_field = new QLineEdit(this);
    PageControls::identify(*m_field, QStringLiteral("restore.conflict-filename"));
    m_field->setPlaceholderText(QStringLiteral("Filename"));
    m_field->setAccessibleName(QStringLiteral("Filename"));
    PageControls::bindText(*m_field,
                           state,
                           &RestoreState::restoreConflictFilename,
                           &RestoreState::setRestoreConflictFilename,
                           &RestoreState::restoreConflictFilenameChanged);
    column->addWidget(m_field);
    m_refusal = new QLabel(this);
    PageControls::identify(*m_refusal, QStringLiteral("restore.filename-refusal"));
    m_refusal->setTextFormat(Qt::PlainText);
    m_refusal->setWordWrap(true);
    QPalette palette = m_refusal->palette();
    palette.setColor(QPalette::WindowText, PellwickTheme::systemRed());
    m_refusal->setPalette(palette);
    m_refusal->hide();
    column->addWidget(m_refusal);
    auto *restore = new QPushButton(QStringLiteral("Restore"), this);
    restore->setDefault(true);
    connect(restore, &QPushButton::clicked, this, &RestoreFilenamePrompt::restorePressed);
    addButtons(*this, *column, restore);

    connect(&state,
            &RestoreState::restoreFilenameConflictChanged,
            this,
            &RestoreFilenamePrompt::showConflict);
    showConflict();
}

QString RestoreFilenamePrompt::message(const std::optional<RestoreFilenameConflict> &conflict)
{
    return (conflict ? conflict->existingFilename : QStringLiteral("This filename"))
           + QStringLiteral(" already exists at the destination.");
}

void RestoreFilenamePrompt::showConflict()
{
    m_message->setText(message(m_state.restoreFilenameConflict()));
    m_refusal->hide();
    fitHeight();
}

void RestoreFilenamePrompt::restorePressed()
{
    const std::optional<QString> refusal
        = RestoreFeedback::refusedRestoreFilenameMessage(m_field->text());
    m_refusal->setText(refusal.value_or(QString()));
    m_refusal->setVisible(refusal.has_value());
    fitHeight();
    if (!refusal)
        Q_EMIT restoreRequested();
}

void RestoreFilenamePrompt::fitHeight()
{
    // A window's layout asks no height of its wrapped lines: measure them at the fixed width.
    const int height = heightForWidth(width());
    if (height <= 0)
        return;
    setMinimumHeight(height);
    resize(width(), height);
}

} // namespace Pellwick
