#pragma once

#include <QApplication>
#include <QTest>
#include <QWidget>

// Keys as a keyboard sends them: to the widget that has the focus in the active window (the
// window itself when none of its widgets has it), never straight to the window object. The
// window is shown and made active first, as the window manager does with a new window.
inline QWidget *keyboardFocus(QWidget &window)
{
    if (!window.isActiveWindow()) {
        window.show();
        window.activateWindow();
        if (!QTest::qWaitForWindowActive(&window))
            qWarning("the window did not become active: the key goes to the window");
    }
    QWidget *focus = QApplication::focusWidget();
    return focus && focus->window() == window.window() ? focus : &window;
}

inline void typeKey(QWidget &window, Qt::Key key)
{
    QTest::keyClick(keyboardFocus(window), key);
}

inline void pressKey(QWidget &window, Qt::Key key)
{
    QTest::keyPress(keyboardFocus(window), key);
}

inline void releaseKey(QWidget &window, Qt::Key key)
{
    QTest::keyRelease(keyboardFocus(window), key);
}
