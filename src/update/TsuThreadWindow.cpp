#include "update/TsuThreadWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <optional>
#include <sys/syscall.h>
#include <unistd.h>

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

// Sleeps while `word` holds `expected`, at most `timeout` (zero: no limit).
void futexWait(std::atomic<int>& word, int expected, std::chrono::nanoseconds timeout) {
    static_assert(sizeof(std::atomic<int>) == sizeof(int));
    timespec limit{};
    limit.tv_sec = static_cast<time_t>(timeout.count() / 1000000000);
    limit.tv_nsec = static_cast<long>(timeout.count() % 1000000000);
    syscall(SYS_futex, reinterpret_cast<int*>(&word), FUTEX_WAIT_PRIVATE, expected,
            timeout.count() > 0 ? &limit : nullptr, nullptr, 0);
}

// Spins until ready() holds, at most `budgetNs`. True when it held within the budget; a spin that ran over
// (the thread lost its processor meanwhile) counts as failed even when ready() holds by now.
template <typename Ready> bool spinFor(Ready ready, std::int64_t budgetNs) {
    const auto until = Clock::now() + std::chrono::nanoseconds(budgetNs);
    for (;;) {
        for (int i = 0; i < 8; ++i) {
            if (ready())
                return Clock::now() <= until;
            __builtin_ia32_pause();
        }
        if (Clock::now() > until)
            return false;
    }
}

// Gives the processor up until ready() holds, at most `budgetNs`: between two threads bound to one processor,
// a yield hands it straight to the other, with no wake-up to pay on either side. A yield that took longer
// than YieldNs (more than the other side's longest step, a 256 KiB write) gave the processor to some other
// program, whose turn the yielding thread then waits out: `crowded` is set, and the caller had better sleep
// until it is woken (which takes the processor back at once) and not yield for a while.
constexpr std::int64_t YieldNs = 500000;
template <typename Ready> bool yieldFor(Ready ready, std::int64_t budgetNs, bool& crowded) {
    const auto until = Clock::now() + std::chrono::nanoseconds(budgetNs);
    for (;;) {
        if (ready())
            return true;
        const auto before = Clock::now();
        sched_yield();
        const auto after = Clock::now();
        crowded = after - before > std::chrono::nanoseconds(YieldNs);
        if (ready())
            return true;
        if (crowded || after > until)
            return false;
    }
}

void futexWakeAll(std::atomic<int>& word) {
    syscall(SYS_futex, reinterpret_cast<int*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

} // namespace

TsuMainThreadChannel::TsuMainThreadChannel(TsuThreadWindow* window) : window(window) {}

template <typename Ready>
std::optional<bool> TsuMainThreadChannel::waitBriefly(bool shared, Ready ready, std::int64_t budgetNs) {
    if (!shared)
        return spinFor(ready, budgetNs);
    if (yieldPause.load(std::memory_order_relaxed) > 0)
        return std::nullopt;
    bool crowded = false;
    const bool held = yieldFor(ready, budgetNs, crowded);
    if (crowded)
        yieldPause.store(YieldPauseCalls, std::memory_order_relaxed);
    return held;
}

bool TsuMainThreadChannel::call(Function function, void* context) {
    const auto started = Clock::now();
    const bool shared = sharing.load(std::memory_order_relaxed);
    const int processor = mainProcessor.load(std::memory_order_relaxed);
    if (shared) {
        if (processor >= 0 && processor != boundProcessor)
            bindWorker(processor);
    } else if (processor >= 0 && processor == sched_getcpu()) {
        // Spinning on the main thread's processor, each side would wait out the other's turn there: move to
        // another at once rather than when the system gets round to it.
        avoidProcessor(processor);
    }
    pendingFunction = function;
    pendingContext = context;
    state.store(Pending, std::memory_order_release);
    // Hand it straight to a listening main thread (waking it if it sleeps), else post an event.
    bool delivered = false;
    int seen = listen.load(std::memory_order_acquire);
    while (seen == Listening || seen == Sleeping) {
        if (listen.compare_exchange_weak(seen, Delivered, std::memory_order_acq_rel)) {
            if (seen == Sleeping)
                futexWakeAll(listen);
            delivered = true;
            break;
        }
    }
    if (!delivered) {
        std::lock_guard lock(postMutex);
        if (closed) {
            int pending = Pending;
            state.compare_exchange_strong(pending, Cancelled, std::memory_order_acq_rel);
        } else {
            QCoreApplication::postEvent(window, new CallEvent(shared_from_this()));
        }
    }
    // Wait until the main thread marks the call done (or the channel is closed): briefly awake (waitBriefly),
    // then asleep on the channel.
    const auto returned = [this] {
        const int s = state.load(std::memory_order_acquire);
        return s != Pending && s != Taken;
    };
    const std::optional<bool> waited = waitBriefly(shared, returned, WorkerSpinNs);
    if (!waited)
        yieldPause.fetch_sub(1, std::memory_order_relaxed); // a call made while yields pause counts the pause down
    const bool spun = waited.value_or(false);
    int now = state.load(std::memory_order_seq_cst);
    while (now == Pending || now == Taken) {
        workerSleeping.store(true, std::memory_order_seq_cst);
        now = state.load(std::memory_order_seq_cst);
        if (now == Pending || now == Taken)
            futexWait(state, now, std::chrono::nanoseconds::zero());
        workerSleeping.store(false, std::memory_order_relaxed);
        now = state.load(std::memory_order_seq_cst);
    }
    state.store(Idle, std::memory_order_relaxed);
    const std::int64_t callNs = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - started).count();
    // A yield that ran out gave the processor to the main thread's handler: only a vain spin costs extra.
    judgeMode(callNs + (!shared && !spun ? WorkerSpinNs : 0));
    return now == Done;
}

TsuHandOffJudge::Mode TsuHandOffJudge::judge(std::int64_t costNs) {
    const std::int64_t other = lastCost[1 - current];
    lastCost[current] = costNs;
    if (held)
        return current;
    if (tryingMode) {
        tryingMode = false;
        if (other >= 0 && costNs > other) {
            // The try lost: back to the other mode, and the next try waits twice as long.
            tryCalls = std::min(tryCalls * 2, MaxTryCalls);
            switchMode();
        } else {
            tryCalls = TryCalls;
        }
        return current;
    }
    callsInMode += Window;
    spentInMode += costNs * Window;
    // The first window in a mode also pays for the switch (the threads move between processors): it counts
    // only when it is many times dearer.
    if (callsInMode > Window)
        recentCost = recentCost < 0 ? costNs : recentCost + (costNs - recentCost) / RecentWeight;
    // Spinning in vain takes processor time from everything else: a dear spell of it is ended sooner.
    const bool spunLong = current == Spinning && spentInMode >= tryCalls * TryNsPerCall;
    // One dear window (a thread lost its processor for a moment) does not condemn a mode that stays cheaper
    // over the last few; a mode dearer than twice the other over them, or one window many times dearer, does.
    const bool dearer = other >= 0 && ((recentCost >= 0 && recentCost > 2 * other + MarginNs) ||
                                       costNs > OutlierFactor * other + MarginNs);
    if (other < 0 || callsInMode >= tryCalls || spunLong || dearer) {
        switchMode();
        tryingMode = true;
    }
    return current;
}

bool TsuHandOffJudge::hopeless(std::int64_t spentNs) const {
    const std::int64_t other = lastCost[1 - current];
    return tryingMode && other >= 0 && spentNs > (2 * other + MarginNs) * Window;
}

void TsuHandOffJudge::hold(Mode mode) {
    if (mode != current)
        switchMode();
    held = true;
    tryingMode = false;
}

void TsuHandOffJudge::switchMode() {
    current = current == Spinning ? Sharing : Spinning;
    callsInMode = 0;
    spentInMode = 0;
    recentCost = -1;
}

void TsuMainThreadChannel::holdMode(TsuHandOffJudge::Mode mode) {
    judge.hold(mode);
    sharing.store(mode == TsuHandOffJudge::Sharing, std::memory_order_relaxed);
}

void TsuMainThreadChannel::judgeMode(std::int64_t callNs) {
    // The hand-offs' delay (the calls' time less the handlers') and the processor time spun in vain.
    windowNs += callNs;
    auto spent = [this] {
        return std::max<std::int64_t>(windowNs - handlerNs.load(std::memory_order_relaxed), 0) +
               mainSpunNs.load(std::memory_order_relaxed);
    };
    if (++windowCalls < ModeWindow && !(judge.trying() && judge.hopeless(spent())))
        return;
    const std::int64_t handlers = handlerNs.exchange(0, std::memory_order_relaxed);
    const std::int64_t spun = mainSpunNs.exchange(0, std::memory_order_relaxed);
    const std::int64_t cost = (std::max<std::int64_t>(windowNs - handlers, 0) + spun) / windowCalls;
    windowCalls = 0;
    windowNs = 0;
    const bool share = judge.judge(cost) == TsuHandOffJudge::Sharing;
    if (!share)
        unbindWorker(); // a sharing worker is bound at its next call
    sharing.store(share, std::memory_order_relaxed);
}

bool TsuMainThreadChannel::knowWorkerMask() {
    if (!haveWorkerMask)
        haveWorkerMask = sched_getaffinity(0, sizeof workerMask, &workerMask) == 0;
    return haveWorkerMask;
}

void TsuMainThreadChannel::bindWorker(int processor) {
    if (!knowWorkerMask() || !CPU_ISSET(processor, &workerMask))
        return; // not a processor this thread may use
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(processor, &one);
    if (sched_setaffinity(0, sizeof one, &one) == 0)
        boundProcessor = processor;
}

void TsuMainThreadChannel::avoidProcessor(int processor) {
    if (!knowWorkerMask() || CPU_COUNT(&workerMask) < 2)
        return;
    cpu_set_t others = workerMask;
    CPU_CLR(processor, &others);
    if (CPU_COUNT(&others) > 0 && sched_setaffinity(0, sizeof others, &others) == 0)
        boundProcessor = -2; // bound away from one processor; unbindWorker frees it again
}

void TsuMainThreadChannel::unbindWorker() {
    if (boundProcessor == -1)
        return;
    sched_setaffinity(0, sizeof workerMask, &workerMask);
    boundProcessor = -1;
}

void TsuMainThreadChannel::close() {
    {
        std::lock_guard lock(postMutex);
        closed = true;
    }
    int pending = Pending;
    if (state.compare_exchange_strong(pending, Cancelled, std::memory_order_seq_cst))
        futexWakeAll(state);
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

namespace {

// While the worker shares the main thread's processor, the main thread stays on that processor for the rest
// of the chain: left free, the system wakes it wherever a processor is idle, the worker follows it there,
// and every call pays a move. It is free again when the chain ends or the worker stops sharing.
class MainThreadPin {
public:
    MainThreadPin() = default;
    MainThreadPin(const MainThreadPin&) = delete;
    MainThreadPin& operator=(const MainThreadPin&) = delete;
    ~MainThreadPin() { follow(false); }

    void follow(bool sharing) {
        if (sharing == pinned_)
            return;
        if (sharing) {
            if (sched_getaffinity(0, sizeof own_, &own_) != 0)
                return;
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(sched_getcpu(), &one);
            pinned_ = sched_setaffinity(0, sizeof one, &one) == 0;
        } else {
            sched_setaffinity(0, sizeof own_, &own_);
            pinned_ = false;
        }
    }

private:
    bool pinned_ = false;
    cpu_set_t own_{};
};

} // namespace

void TsuThreadWindow::serve(const std::shared_ptr<TsuMainThreadChannel>& channel) {
    using Channel = TsuMainThreadChannel;
    const auto chainUntil = Clock::now() + std::chrono::milliseconds(ChainMilliseconds);
    MainThreadPin pin;
    for (;;) {
        pin.follow(channel->sharing.load(std::memory_order_relaxed));
        int pending = Channel::Pending;
        if (!channel->state.compare_exchange_strong(pending, Channel::Taken, std::memory_order_acq_rel)) {
            channel->listen.store(Channel::NotListening, std::memory_order_release);
            return; // cancelled
        }
        const auto handlerStart = Clock::now();
        channel->pendingFunction(channel->pendingContext);
        channel->handlerNs.fetch_add(
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - handlerStart).count(),
            std::memory_order_relaxed);
        channel->mainProcessor.store(sched_getcpu(), std::memory_order_relaxed);
        // Listen for the next call before the worker learns that this one returned, so it can hand the
        // next one over directly.
        const bool keepListening = !channel->isClosed() && Clock::now() < chainUntil;
        channel->listen.store(keepListening ? Channel::Listening : Channel::NotListening, std::memory_order_release);
        channel->state.store(Channel::Done, std::memory_order_seq_cst);
        if (channel->workerSleeping.load(std::memory_order_seq_cst))
            futexWakeAll(channel->state);
        if (!keepListening)
            return;

        // Spin briefly for the next call (sharing a processor with the worker: yield it to the worker), then
        // sleep on the channel until it is delivered or the listening time is over.
        const auto delivered = [&] { return channel->listen.load(std::memory_order_acquire) != Channel::Listening; };
        if (channel->waitBriefly(channel->sharing.load(std::memory_order_relaxed), delivered, Channel::MainSpinNs) ==
            false)
            channel->mainSpunNs.fetch_add(Channel::MainSpinNs, std::memory_order_relaxed);
        const auto listenUntil = Clock::now() + std::chrono::microseconds(ListenMicroseconds);
        for (;;) {
            int expected = Channel::Listening;
            if (!channel->listen.compare_exchange_strong(expected, Channel::Sleeping, std::memory_order_acq_rel))
                break; // delivered
            const auto left = listenUntil - Clock::now();
            if (left > std::chrono::nanoseconds::zero())
                futexWait(channel->listen, Channel::Sleeping, left);
            expected = Channel::Sleeping;
            if (!channel->listen.compare_exchange_strong(expected, Channel::Listening, std::memory_order_acq_rel))
                break; // delivered
            if (Clock::now() >= listenUntil) {
                expected = Channel::Listening;
                if (channel->listen.compare_exchange_strong(expected, Channel::NotListening, std::memory_order_acq_rel))
                    return; // nothing came: the next call arrives as an event
                break;      // delivered just now
            }
        }
        // Delivered: run it (the loop takes it from Pending).
    }
}

} // namespace qarvia::update
