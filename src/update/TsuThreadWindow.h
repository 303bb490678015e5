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
// the same channel for a short while (a futex, not the event loop). A worker that finds it listening hands
// its call over directly; a slow transfer falls back to posted events. The calls run in the same order, on
// the same thread, with the worker waiting, either way. The main thread listens at most ListenMicroseconds
// for the next call and serves one channel at most ChainMilliseconds in a row, so its other events are never
// held up noticeably.
//
// How each side waits depends on what the machine offers, and the worker judges it every ModeWindow calls:
// - spinning: with a processor free for each side, both spin briefly (WorkerSpinNs, MainSpinNs) before they
//   sleep, so a block costs no thread wake-up at all; waking a thread on an idle processor costs more than a
//   block's whole work, on a virtual machine many times more.
// - sharing: when spins keep failing (more than ModeMissLimit misses in a window: the machine is busy, or the
//   calls come too slowly), nobody spins and the worker binds itself to the processor the main thread runs
//   on. Only one of the two runs at a time anyway, so they lose nothing by sharing one processor, and each
//   hand-off is a plain switch between two threads there instead of a wake-up across processors. After
//   ShareCalls calls the worker unbinds and tries spinning again; while that keeps failing, it waits twice
//   as long each time before the next try, up to MaxShareCalls.

#include <QObject>

#include <sched.h>

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

    // Longest spin of the worker waiting for a call to return, and of the main thread waiting for the next
    // call, in nanoseconds; and the judgement of the two modes (see above).
    static constexpr std::int64_t WorkerSpinNs = 20000;
    static constexpr std::int64_t MainSpinNs = 20000;
    static constexpr int ModeWindow = 64;
    static constexpr int ModeMissLimit = 16;
    static constexpr int ShareCalls = 4096;
    static constexpr int MaxShareCalls = 65536;

private:
    friend class TsuThreadWindow;
    enum State : int { Idle, Pending, Taken, Done, Cancelled };
    enum Listen : int { NotListening, Listening, Sleeping, Delivered };

    std::atomic<int> state{Idle};
    std::atomic<int> listen{NotListening};
    std::atomic<bool> workerSleeping{false};
    std::atomic<bool> sharing{false};   // written by the worker: nobody spins, the worker is bound
    std::atomic<int> mainProcessor{-1}; // where the main thread ran the last call
    std::atomic<int> mainMisses{0};     // the main thread's failed spins since the worker last judged
    // The worker's own bookkeeping.
    void judgeMode(bool workerMissed);
    void bindWorker(int processor);
    void unbindWorker();
    int windowCalls = 0;
    int windowMisses = 0;
    int shareCallsLeft = 0;
    int shareCalls = ShareCalls; // the next sharing time
    int boundProcessor = -1;
    bool haveWorkerMask = false;
    cpu_set_t workerMask{}; // the worker's own processors, restored when it unbinds
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
