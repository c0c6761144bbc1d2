#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QList>
#include <QTest>
#include <QWidget>

namespace Pellwick::Test {

/// Walks `window`'s focus chain with Tab (or Backtab) from the focus it has now until the
/// focus comes back to where it started, and returns the enabled visible controls reached, in
/// order (the starting one last). The window must be shown and active
/// (`QTest::qWaitForWindowActive`) first; the focus ends where it started.
inline QList<QWidget *> focusChain(QWidget &window, bool backwards = false)
{
    QList<QWidget *> reached;
    const Qt::Key key = backwards ? Qt::Key_Backtab : Qt::Key_Tab;
    QWidget *const start = QApplication::focusWidget();
    // A chain never holds more widgets than the window.
    const qsizetype bound = window.findChildren<QWidget *>().size() + 1;
    for (qsizetype step = 0; step < bound; ++step) {
        QWidget *focused = QApplication::focusWidget();
        QTest::keyClick(focused ? focused : &window, key);
        QWidget *next = QApplication::focusWidget();
        if (!next || reached.contains(next))
            break;
        if (next->isEnabled() && next->isVisible())
            reached.append(next);
        if (next == start)
            break;
    }
    return reached;
}

/// Presses `key` (Space or Return) on the focused widget.
inline void activateFocused(Qt::Key key)
{
    if (QWidget *focused = QApplication::focusWidget())
        QTest::keyClick(focused, key);
}

} // namespace Pellwick::Test
