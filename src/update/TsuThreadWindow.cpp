#include "update/TsuThreadWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <chrono>
#include <thread>

namespace qarvia::update {

namespace {

using Clock = std::chrono::steady_clock;

std::mutex windowMutex;
int windowUses = 0;
TsuThreadWindow* windowInstance = nullptr;

QEvent::Type callEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class CallEvent : public QEvent {
public:
    explicit CallEvent(std::shared_ptr<TsuMainThreadChannel> channel)
        : QEvent(callEventType()), channel(std::move(channel)) {}
    std::shared_ptr<TsuMainThreadChannel> channel;
};

inline void relax(unsigned& spins) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
    // Let another thread of this machine run when there is one waiting for the processor.
    if ((++spins & 63) == 0)
        std::this_thread::yield();
}

} // namespace

TsuMainThreadChannel::TsuMainThreadChannel(TsuThreadWindow* window) : window(window) {}

bool TsuMainThreadChannel::call(Function function, void* context) {
    pendingFunction = function;
    pendingContext = context;
    state.store(Pending, std::memory_order_release);
    int expected = Listening;
    if (!listen.compare_exchange_strong(expected, Delivered, std::memory_order_acq_rel)) {
        std::lock_guard lock(postMutex);
        if (closed) {
            int pending = Pending;
            state.compare_exchange_strong(pending, Cancelled, std::memory_order_acq_rel);
        } else {
            QCoreApplication::postEvent(window, new CallEvent(shared_from_this()));
        }
    }
    // Watch for the return for a moment before sleeping: most calls are short.
    const auto watchUntil = Clock::now() + std::chrono::microseconds(TsuThreadWindow::WatchMicroseconds);
    unsigned spins = 0;
    int now = state.load(std::memory_order_acquire);
    while (now == Pending || now == Taken) {
        if (Clock::now() < watchUntil)
            relax(spins);
        else
            state.wait(now, std::memory_order_acquire);
        now = state.load(std::memory_order_acquire);
    }
    state.store(Idle, std::memory_order_relaxed);
    return now == Done;
}

void TsuMainThreadChannel::close() {
    {
        std::lock_guard lock(postMutex);
        closed = true;
    }
    int pending = Pending;
    if (state.compare_exchange_strong(pending, Cancelled, std::memory_order_acq_rel))
        state.notify_all();
}

bool TsuMainThreadChannel::isClosed() const {
    std::lock_guard lock(postMutex);
    return closed;
}

TsuThreadWindow* TsuThreadWindow::acquire() {
    std::lock_guard lock(windowMutex);
    if (windowInstance == nullptr) {
        windowInstance = new TsuThreadWindow;
        if (QCoreApplication* app = QCoreApplication::instance(); app && windowInstance->thread() != app->thread())
            windowInstance->moveToThread(app->thread());
    }
    ++windowUses;
    return windowInstance;
}

void TsuThreadWindow::release() {
    std::lock_guard lock(windowMutex);
    if (--windowUses == 0) {
        // Calls still queued for it are dropped with it; their channels were closed before.
        delete windowInstance;
        windowInstance = nullptr;
    }
}

bool TsuThreadWindow::event(QEvent* e) {
    if (e->type() != callEventType())
        return QObject::event(e);
    // Keep the channel alive while its calls run, whatever the handlers do.
    const std::shared_ptr<TsuMainThreadChannel> channel = static_cast<CallEvent*>(e)->channel;
    serve(channel);
    return true;
}

void TsuThreadWindow::serve(const std::shared_ptr<TsuMainThreadChannel>& channel) {
    using Channel = TsuMainThreadChannel;
    const auto chainUntil = Clock::now() + std::chrono::milliseconds(ChainMilliseconds);
    for (;;) {
        int pending = Channel::Pending;
        if (!channel->state.compare_exchange_strong(pending, Channel::Taken, std::memory_order_acq_rel)) {
            channel->listen.store(Channel::NotListening, std::memory_order_release);
            return; // cancelled
        }
        channel->pendingFunction(channel->pendingContext);
        // Listen for the next call before the worker learns that this one returned, so it can hand the
        // next one over directly.
        const bool keepListening = !channel->isClosed() && Clock::now() < chainUntil;
        channel->listen.store(keepListening ? Channel::Listening : Channel::NotListening, std::memory_order_release);
        channel->state.store(Channel::Done, std::memory_order_release);
        channel->state.notify_all();
        if (!keepListening)
            return;

        const auto listenUntil = Clock::now() + std::chrono::microseconds(ListenMicroseconds);
        unsigned spins = 0;
        while (channel->listen.load(std::memory_order_acquire) != Channel::Delivered && Clock::now() < listenUntil)
            relax(spins);
        int listening = Channel::Listening;
        if (channel->listen.compare_exchange_strong(listening, Channel::NotListening, std::memory_order_acq_rel))
            return; // nothing came: the next call arrives as an event
        // Delivered: run it (the loop takes it from Pending).
    }
}

} // namespace qarvia::update
