#pragma once

#include <PellwickApp/Shell/ShellNavigation.h>
#include <PellwickApp/Views/Kit/PellwickTheme.h>

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

namespace Pellwick::Gallery {

/// One component in one state: `make` builds it, parentless, for the picture "<name>.<appearance>".
struct Entry
{
    QString name;
    std::function<std::unique_ptr<QWidget>()> make;
};

/// Every component of the view kit in every state: buttons, selector, symbols, brand mark,
/// then `statusEntries()`, `importReviewEntries()`, `libraryEntries()`, `toolbarEntries()` and
/// `pageEntries()`.
QList<Entry> kitEntries();
/// The page header, status views, layout pieces and progress rows in every state.
QList<Entry> statusEntries();
/// The Restore Request card in every status and with its strips, and the selection panel.
QList<Entry> restoreEntries();

/// The Import Review header, table and status strip in their states.
QList<Entry> importReviewEntries();
/// The library inspector, previews and system status panel in every state.
QList<Entry> libraryEntries();
/// The library toolbar, filter popover, confirmations, conflict list and cache menu.
QList<Entry> toolbarEntries();
/// The Library page (empty, with items, with the move's message, with an inspected item, not
/// readable) and the Overview page (trial, paid and expired plans, narrow and wide).
QList<Entry> pageEntries();

/// `page` as the window shows it at its default (and minimum) size, 1120 × 720: the signed-in
/// toolbar above, the sidebar on `section` beside it, and the shared status region above the
/// page except on the Import Review page. The page is the window's last child.
std::unique_ptr<QWidget> inDefaultWindow(std::unique_ptr<QWidget> page, ShellSection section);

/// Sets the application palette to the one of `appearance`, so every colour that follows the
/// appearance follows it.
void applyAppearance(PellwickTheme::Appearance appearance);

QString name(PellwickTheme::Appearance appearance);

/// Renders every entry in `appearance` as "<entry>.<appearance>.png" in `folder`, each over the
/// page background with a margin, and returns the file names written.
QStringList
render(const QList<Entry> &entries, PellwickTheme::Appearance appearance, const QString &folder);

/// Draws the fallback brand mark `size` pixels square: the committed application picture.
bool writeApplicationIcon(const QString &path, int size = 512);

} // namespace Pellwick::Gallery
