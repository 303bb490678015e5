#pragma once

// Running a worker's calls on the main thread while the worker waits.
//
// Every worker of the process talks to the main thread through a TsuMainThreadChannel of its own. A call
// is handed to the main thread and the worker blocks until it returned, so a handler sees the worker's
// state exactly as it was when the call was made. The main thread receives the calls on one process-wide
// hidden object, TsuThreadWindow, created and destroyed under a lock with a use count.
//
// Cheap hand-off: waking a sleeping thread is what a blocking queued call spends most of its time on, and
// a transfer hands over one call per block. So after running a call, the main thread keeps listening on
// the same channel for a short while (and the worker, after handing a call over, watches for its return
// for a short while) before either goes to sleep. During a fast transfer the calls then pass without any
// event or wake-up; a slow one falls back to posted events and sleeping waits. The calls run in the same
// order, on the same thread, with the worker waiting, either way. The main thread never listens for more
// than a few milliseconds in a row, so its other events are not held up noticeably.

#include <QObject>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace qarvia::update {

class TsuThreadWindow;

class TsuMainThreadChannel : public std::enable_shared_from_this<TsuMainThreadChannel> {
public:
    // A call as the worker hands it over: the function and its context. It must not throw.
    using Function = void (*)(void* context);

    // `window` must stay acquired (TsuThreadWindow::acquire) until the channel is closed.
    explicit TsuMainThreadChannel(TsuThreadWindow* window);
    TsuMainThreadChannel(const TsuMainThreadChannel&) = delete;
    TsuMainThreadChannel& operator=(const TsuMainThreadChannel&) = delete;

    // Worker thread: runs function(context) on the main thread and waits until it returned. False (without
    // running it) when the channel is or gets closed before the main thread took the call.
    bool call(Function function, void* context);

    template <typename F> bool call(F& callable) {
        return call([](void* c) { (*static_cast<F*>(c))(); }, &callable);
    }

    // Main thread: no call is run any more; a worker waiting for a call not yet taken returns false at once.
    // A call already running finishes, and its worker waits for it as usual.
    void close();
    bool isClosed() const;

private:
    friend class TsuThreadWindow;
    enum State : int { Idle, Pending, Taken, Done, Cancelled };
    enum Listen : int { NotListening, Listening, Delivered };

    std::atomic<int> state{Idle};
    std::atomic<int> listen{NotListening};
    Function pendingFunction = nullptr;
    void* pendingContext = nullptr;
    mutable std::mutex postMutex; // orders close() against posting events to the window
    bool closed = false;
    TsuThreadWindow* window = nullptr; // not used after close()
};

// The process-wide receiver on the main thread. Use acquire()/release() (counted, under a lock) on the main
// thread; close every channel made with it before releasing it.
class TsuThreadWindow : public QObject {
    Q_OBJECT
public:
    static TsuThreadWindow* acquire();
    static void release();

    // Times the main thread keeps listening for the next call, and the worker watches for the return.
    static constexpr std::int64_t ListenMicroseconds = 200;
    static constexpr std::int64_t ChainMilliseconds = 4;
    static constexpr std::int64_t WatchMicroseconds = 200;

protected:
    bool event(QEvent* e) override;

private:
    friend class TsuMainThreadChannel;
    TsuThreadWindow() = default;
    // Runs calls of `channel` as long as they come quickly.
    static void serve(const std::shared_ptr<TsuMainThreadChannel>& channel);
};

} // namespace qarvia::update
