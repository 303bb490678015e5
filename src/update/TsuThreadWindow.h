#pragma once

// Running a worker's calls on the main thread while the worker waits.
//
// Every worker of the process talks to the main thread through a TsuMainThreadChannel of its own. A call
// is handed to the main thread and the worker blocks until it returned, so a handler sees the worker's
// state exactly as it was when the call was made. The main thread receives the calls on one process-wide
// hidden object, TsuThreadWindow, created and destroyed under a lock with a use count.
//
// Cheap hand-off: a blocking queued call spends most of its time in the event loop's wake-up and dispatch,
// and a transfer hands over one call per block. So after running a call, the main thread keeps listening on
// the same channel for a short while, asleep on the channel itself (a futex, not the event loop). A worker
// that finds it listening hands its call over directly and wakes it; the worker sleeps on the channel until
// the call returned. During a transfer the calls then pass with two thread wake-ups and no event; a slow
// transfer falls back to posted events. Before either side goes to sleep it spins briefly: a futex wake-up
// across cores costs more than a block's whole work on an idle machine. The spin adapts: its budget halves
// each time the other side did not come in time and grows back while spinning pays off, so on a busy
// machine, where a spinning thread keeps the very thread it waits for from running, it soon costs next to
// nothing. The calls run in the same order, on the same thread, with the
// worker waiting, either way. The main thread listens at most ListenMicroseconds for the next call and
// serves one channel at most ChainMilliseconds in a row, so its other events are never held up noticeably.

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

    // Bounds of each side's spin before it sleeps, in nanoseconds.
    static constexpr std::int64_t MaxSpinNs = 40000;
    static constexpr std::int64_t MinSpinNs = 1000;

private:
    friend class TsuThreadWindow;
    enum State : int { Idle, Pending, Taken, Done, Cancelled };
    enum Listen : int { NotListening, Listening, Sleeping, Delivered };

    std::atomic<int> state{Idle};
    std::atomic<int> listen{NotListening};
    std::atomic<bool> workerSleeping{false};
    // Spin budgets in nanoseconds, each used by one thread only (see SpinBudget in the source).
    std::int64_t workerSpinNs = MaxSpinNs;
    std::int64_t mainSpinNs = MaxSpinNs;
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

    // How long the main thread listens for the next call, and how long it keeps serving one channel before
    // returning to its event loop.
    static constexpr std::int64_t ListenMicroseconds = 1000;
    static constexpr std::int64_t ChainMilliseconds = 5;

protected:
    bool event(QEvent* e) override;

private:
    friend class TsuMainThreadChannel;
    TsuThreadWindow() = default;
    // Runs calls of `channel` as long as they come quickly.
    static void serve(const std::shared_ptr<TsuMainThreadChannel>& channel);
};

} // namespace qarvia::update
