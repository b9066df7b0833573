#pragma once

#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <utility>

// Calls `then` once, as soon as `window` has been painted for the first time and that paint has
// been shown; owned by the window, so never after it is gone.
class AfterFirstPaint : public QObject
{
public:
    AfterFirstPaint(QWidget *window, std::function<void()> then)
        : QObject(window)
        , then(std::move(then))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                then();
                deleteLater();
            });
        }
        return false;
    }

private:
    std::function<void()> then;
};
