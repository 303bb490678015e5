#pragma once

// Stands in for a window manager that draws its frame only after a window was shown, as a real one does:
// until decorate() every window reads as having no frame; decorate() sets the frame and tells the window the
// way the window system does, with an expose event.
//     qarvia::WindowManagerStandIn wm;          // installed until it goes out of scope
//     window.show();                            // placed as if it had no frame
//     wm.decorate(&window, {1, 20, 1, 1});

#include "ui/WindowFrame.h"

#include <QCoreApplication>
#include <QExposeEvent>
#include <QRegion>
#include <QWidget>
#include <QWindow>

namespace qarvia {

class WindowManagerStandIn {
public:
    WindowManagerStandIn() {
        setFrameMarginsSource([this](const QWidget*) { return frame_; });
    }
    ~WindowManagerStandIn() { setFrameMarginsSource({}); }
    WindowManagerStandIn(const WindowManagerStandIn&) = delete;
    WindowManagerStandIn& operator=(const WindowManagerStandIn&) = delete;

    // From now on every window has this frame; window is told about it.
    void decorate(QWidget* window, const QMargins& frame) {
        frame_ = frame;
        QExposeEvent exposed{QRegion(QRect(QPoint(), window->size()))};
        QCoreApplication::sendEvent(window->windowHandle(), &exposed);
    }

private:
    QMargins frame_;
};

} // namespace qarvia
