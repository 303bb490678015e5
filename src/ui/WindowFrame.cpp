#include "ui/WindowFrame.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <memory>
#include <utility>

namespace qarvia {
namespace {

FrameMarginsSource& source() {
    static FrameMarginsSource s;
    return s;
}

// Watches a window's frame. The events that can come with a newly learnt frame reach the widget (shown,
// moved, resized, activated) or only its platform window (exposed, once the window manager has mapped it).
class FrameWatch final : public QObject {
public:
    FrameWatch(QWidget* window, std::function<void()> firstShown, std::function<void(const QMargins&)> changed)
        : QObject(window), window_(window), firstShown_(std::move(firstShown)), changed_(std::move(changed)) {
        window_->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Show:
            if (watched == window_ && !shown_) {
                shown_ = true;
                if (QWindow* handle = window_->windowHandle())
                    handle->installEventFilter(this);
                if (firstShown_)
                    firstShown_();
            }
            look();
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Expose:
        case QEvent::WindowActivate:
            look();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void look() {
        const QMargins now = frameMargins(window_);
        if (now == seen_)
            return;
        seen_ = now;
        changed_(now);
    }

    QWidget* window_;
    std::function<void()> firstShown_;
    std::function<void(const QMargins&)> changed_;
    QMargins seen_;
    bool shown_ = false;
};

QMargins frameOfAnotherWindow(const QWidget* window) {
    for (const QWidget* other : QApplication::topLevelWidgets()) {
        if (other == window || !other->isVisible())
            continue;
        const QMargins m = frameMargins(other);
        if (!m.isNull())
            return m;
    }
    return {};
}

bool placedByWindowSystem(const QWidget* window) {
    return window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized);
}

} // namespace

QMargins frameMargins(const QWidget* window) {
    if (source())
        return source()(window);
    const QWindow* handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

QRect outerGeometry(const QWidget* window) {
    return window->geometry().marginsAdded(frameMargins(window));
}

void setFrameMarginsSource(FrameMarginsSource s) {
    source() = std::move(s);
}

QRect desktopArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

QRect centredClientRect(const QSize& client, const QMargins& frame, const QRect& area) {
    QRect outer(QPoint(), client.grownBy(frame));
    outer.moveCenter(area.center());
    return outer.marginsRemoved(frame);
}

void centreWhenShown(QWidget* window, std::function<QRect()> area) {
    // The client rectangle is placed, not the outer one: the window system then keeps the client where it was
    // put whatever frame it draws, and a frame learnt late moves the window once, by what it changed.
    auto place = [window, area](const QMargins& frame) {
        const QRect on = area();
        if (!on.isEmpty() && !placedByWindowSystem(window))
            window->setGeometry(centredClientRect(window->size(), frame, on));
    };
    struct State {
        bool shown = false;
        bool settled = false; // after the one correction the window is the user's to move
        QMargins used;
    };
    auto state = std::make_shared<State>();
    // The window is placed here; a dialog must not first place itself over its parent, by its outer corner.
    window->setAttribute(Qt::WA_Moved);
    auto firstShown = [=] {
        // Before the window system maps the window.
        state->shown = true;
        const QMargins own = frameMargins(window);
        state->used = own.isNull() ? frameOfAnotherWindow(window) : own;
        place(state->used);
    };
    auto changed = [=](const QMargins& frame) {
        if (!state->shown || state->settled || frame.isNull())
            return;
        state->settled = true;
        if (frame != state->used)
            place(frame);
    };
    new FrameWatch(window, firstShown, changed);
}

void watchFrame(QWidget* window, std::function<void(const QMargins&)> changed) {
    new FrameWatch(window, {}, std::move(changed));
}

} // namespace qarvia
