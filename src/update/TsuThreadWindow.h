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
// How each side waits depends on what the machine offers:
// - spinning: with a processor free for each side, both spin briefly (WorkerSpinNs, MainSpinNs) before they
//   sleep, so a block costs no thread wake-up at all; waking a thread on an idle processor costs more than a
//   block's whole work, on a virtual machine many times more.
// - sharing: nobody spins and the worker binds itself to the processor the main thread runs on, where the
//   main thread stays while it serves the worker's calls in a row. Only one of the two runs at a time anyway,
//   so they lose nothing by sharing one processor; each side waiting briefly yields the processor to the
//   other, so a hand-off is a plain switch between two threads there, with no wake-up at all (unless another
//   program turns out to want that processor: then they sleep and wake for a while). When the machine is busy,
//   spinning only takes processor time from the thread spun for.
// The worker judges the mode by what it costs (TsuHandOffJudge), over every ModeWindow calls: the time a call
// took beyond its handler's own time (the hand-off's delay), plus the processor time both sides spun in vain.

#include <QObject>

#include <sched.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace qarvia::update {

class TsuThreadWindow;

// Chooses between spinning and sharing from what each cost per call: it starts sharing (whose worst case
// costs least) and tries spinning for one window, keeps the cheaper mode, switches when the current one's
// recent windows cost more than twice what the other cost when last seen (and MarginNs more), or at once
// for one window more than OutlierFactor times that, and tries the other for
// one window after TryCalls calls in the same mode, or, spinning, sooner when those cost more than
// TryNsPerCall each (what sharing cost when last seen may no longer hold); a try that loses doubles that
// time, up to MaxTryCalls.
// A try is cut short as soon as it cost more than a window of the other mode would twice over: spinning on
// a busy machine can cost a hundred times what sharing does.
class TsuHandOffJudge {
public:
    enum Mode { Spinning, Sharing };
    static constexpr int Window = 64; // calls per judgement
    static constexpr int TryCalls = 4096;
    static constexpr int MaxTryCalls = 65536;
    static constexpr std::int64_t MarginNs = 1000;
    static constexpr std::int64_t TryNsPerCall = 4000;
    // The mode in force is judged by its recent windows, each weighing 1/RecentWeight against those before,
    // and left at once for a single window more than OutlierFactor times the other mode's cost.
    static constexpr std::int64_t RecentWeight = 4;
    static constexpr std::int64_t OutlierFactor = 4;

    Mode mode() const { return current; }
    // What one window in mode() cost per call (nanoseconds); answers the mode for the next window.
    Mode judge(std::int64_t costNs);
    // Whether the window under way tries a mode, and whether that try, having cost `spentNs` so far, is
    // lost already (judge it now).
    bool trying() const { return tryingMode; }
    bool hopeless(std::int64_t spentNs) const;
    // Keeps `mode` from now on, whatever the windows cost.
    void hold(Mode mode);

private:
    void switchMode();
    Mode current = Sharing;
    bool held = false;
    std::int64_t lastCost[2] = {-1, -1}; // by mode; -1 = not seen yet
    bool tryingMode = false;             // the window under way tries the mode switched to
    int callsInMode = 0;
    std::int64_t spentInMode = 0; // what those calls cost
    std::int64_t recentCost = -1; // their recent cost per call, weighted (-1: none judged yet)
    int tryCalls = TryCalls;      // calls in one mode before trying the other
};

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

    // Worker thread, before its first call: hand off in `mode` only, not the one the calls' cost favours.
    // For measuring one mode on a given machine, and for tests, where what is cheaper depends on the load.
    void holdMode(TsuHandOffJudge::Mode mode);

    // Longest spin of the worker waiting for a call to return, and of the main thread waiting for the next
    // call, in nanoseconds: the worker outlasts a wake-up of the main thread across processors (tens of
    // microseconds on a virtual machine), the main thread a transfer's write and receive of 256 KiB after a
    // run of blocks. The mode is judged every ModeWindow calls (see above).
    static constexpr std::int64_t WorkerSpinNs = 60000;
    static constexpr std::int64_t MainSpinNs = 100000;
    static constexpr int ModeWindow = TsuHandOffJudge::Window;
    // Calls for which neither side yields the processor after a yield found another program waiting for it.
    static constexpr int YieldPauseCalls = 4096;

private:
    friend class TsuThreadWindow;
    enum State : int { Idle, Pending, Taken, Done, Cancelled };
    enum Listen : int { NotListening, Listening, Sleeping, Delivered };

    std::atomic<int> state{Idle};
    std::atomic<int> listen{NotListening};
    std::atomic<bool> workerSleeping{false};
    // Written by the worker: nobody spins, the worker is bound (as the judge starts).
    std::atomic<bool> sharing{TsuHandOffJudge{}.mode() == TsuHandOffJudge::Sharing};
    std::atomic<int> mainProcessor{-1}; // where the main thread ran the last call
    std::atomic<int> yieldPause{0};     // calls left without yielding (see YieldPauseCalls)
    // Written by the main thread, taken by the worker when it judges: the time spent in handlers, and spun
    // in vain waiting for the next call (nanoseconds).
    std::atomic<std::int64_t> handlerNs{0};
    std::atomic<std::int64_t> mainSpunNs{0};
    // Waits at most budgetNs for ready() before a side sleeps: spinning, or, sharing a processor, yielding it to
    // the other side while yields are not paused (a crowded yield pauses them). Nothing when it did not wait
    // (paused), else whether ready() held in time.
    template <typename Ready> std::optional<bool> waitBriefly(bool shared, Ready ready, std::int64_t budgetNs);
    // The worker's own bookkeeping.
    void judgeMode(std::int64_t callNs);
    bool knowWorkerMask(); // reads the worker's own processors once; false when they cannot be read
    void bindWorker(int processor);
    void avoidProcessor(int processor); // spinning: off the main thread's processor
    void unbindWorker();
    TsuHandOffJudge judge;
    int windowCalls = 0;
    std::int64_t windowNs = 0; // the calls' time in this window, and the worker's vain spins
    int boundProcessor = -1;   // the processor a sharing worker is bound to; -2: kept off one; -1: free
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
