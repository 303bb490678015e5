// The cost of handing one call from a worker thread to the main thread and waiting for its return:
// TsuMainThreadChannel (what TsuCustomHTTP uses for every handler) against a plain blocking queued call.
// Prints microseconds per hand-off, back to back and with a little work between calls, as a transfer has;
// and, since wall time on a busy machine is mostly waiting for a processor, the processor time and the
// thread switches (wake-ups) of the whole process per hand-off. Then the parts a hand-off is made of, between
// two plain threads: a wake-up of a sleeping thread on another processor, a switch between two threads that
// share one processor, and a hand-over between two threads spinning on two processors.

#include "update/TsuThreadWindow.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <ctime>
#include <linux/futex.h>
#include <memory>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace qarvia::update;
using Clock = std::chrono::steady_clock;

namespace {

volatile unsigned long sink = 0;

// About a microsecond of work: a worker reads and writes a block between two hand-offs.
void busyWork(int rounds) {
    unsigned long x = sink;
    for (int i = 0; i < rounds * 300; ++i)
        x = x * 6364136223846793005UL + 1442695040888963407UL;
    sink = x;
}

struct Cost {
    double wallUs = 0; // per call
    double cpuUs = 0;
    double switches = 0;
};

double processCpuUs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

double processSwitches() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_nvcsw + u.ru_nivcsw);
}

template <typename Call> Cost costPerCall(int calls, int workRounds, Call&& call) {
    const auto start = Clock::now();
    const double cpu = processCpuUs();
    const double switches = processSwitches();
    for (int i = 0; i < calls; ++i) {
        busyWork(workRounds);
        call();
    }
    return {std::chrono::duration<double, std::micro>(Clock::now() - start).count() / calls,
            (processCpuUs() - cpu) / calls, (processSwitches() - switches) / calls};
}

Cost median(std::vector<Cost> values) {
    Cost m;
    for (double Cost::*part : {&Cost::wallUs, &Cost::cpuUs, &Cost::switches}) {
        std::sort(values.begin(), values.end(), [part](const Cost& a, const Cost& b) { return a.*part < b.*part; });
        m.*part = values[values.size() / 2].*part;
    }
    return m;
}

// One direction of a ping-pong between two threads bound to the given processors: the turn passes by a futex
// (the waiter sleeps) or by spinning. Median microseconds per hand-over of 5 runs.
double pingPongUs(int processorA, int processorB, bool spin, int rounds) {
    std::atomic<int> turn{0};
    auto bind = [](int processor) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(processor, &one);
        sched_setaffinity(0, sizeof one, &one);
    };
    auto waitFor = [&](int value) {
        int seen;
        long spins = 0;
        while ((seen = turn.load(std::memory_order_acquire)) != value) {
            if (!spin)
                syscall(SYS_futex, reinterpret_cast<int*>(&turn), FUTEX_WAIT_PRIVATE, seen, nullptr, nullptr, 0);
            else if (++spins % 100000 == 0)
                sched_yield(); // the other side lost its processor: let it have this one
            else
                __builtin_ia32_pause();
        }
    };
    auto pass = [&](int value) {
        turn.store(value, std::memory_order_release);
        if (!spin)
            syscall(SYS_futex, reinterpret_cast<int*>(&turn), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
    };
    std::vector<double> runs;
    for (int run = 0; run < 5; ++run) {
        std::thread other([&] {
            bind(processorB);
            for (int i = 0; i < rounds; ++i) {
                waitFor(1);
                pass(0);
            }
        });
        std::thread first([&] {
            bind(processorA);
            const auto start = Clock::now();
            for (int i = 0; i < rounds; ++i) {
                pass(1);
                waitFor(0);
            }
            runs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() / (2.0 * rounds));
        });
        first.join();
        other.join();
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

void printParts(int rounds) {
    cpu_set_t mask;
    std::vector<int> processors;
    if (sched_getaffinity(0, sizeof mask, &mask) == 0) {
        for (int p = 0; p < CPU_SETSIZE && processors.size() < 2; ++p) {
            if (CPU_ISSET(p, &mask))
                processors.push_back(p);
        }
    }
    if (processors.empty())
        return;
    std::printf("parts of a hand-off between two plain threads (median of 5 runs of %d round trips, per hand-over)\n",
                rounds);
    std::printf("  switch between two threads on one processor (futex)   %6.2f us\n",
                pingPongUs(processors[0], processors[0], false, rounds));
    if (processors.size() < 2)
        return;
    std::printf("  wake-up of a sleeping thread on another processor     %6.2f us\n",
                pingPongUs(processors[0], processors[1], false, rounds));
    std::printf("  hand-over between two spinning threads                %6.2f us\n",
                pingPongUs(processors[0], processors[1], true, rounds));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int calls = argc > 1 ? std::atoi(argv[1]) : 20000;
    QObject receiver;
    unsigned long handled = 0;
    struct Result {
        const char* name;
        int work;
        std::vector<Cost> channel, queued;
    };
    std::vector<Result> results{{"back to back", 0, {}, {}}, {"with ~1 us of work between calls", 1, {}, {}}};

    TsuThreadWindow* window = TsuThreadWindow::acquire();
    auto channel = std::make_shared<TsuMainThreadChannel>(window);
    std::thread worker([&] {
        auto increment = [&] { ++handled; };
        for (int round = 0; round < 5; ++round) {
            for (Result& r : results) {
                r.channel.push_back(costPerCall(calls, r.work, [&] { channel->call(increment); }));
                r.queued.push_back(costPerCall(calls, r.work, [&] {
                    QMetaObject::invokeMethod(&receiver, increment, Qt::BlockingQueuedConnection);
                }));
            }
        }
        QMetaObject::invokeMethod(
            &receiver,
            [&] {
                channel->close();
                QCoreApplication::quit();
            },
            Qt::QueuedConnection);
    });
    app.exec();
    worker.join();
    TsuThreadWindow::release();

    std::printf("hand-off of one call to the main thread and back (median of 5 runs of %d calls)\n", calls);
    for (const Result& r : results) {
        const Cost ours = median(r.channel);
        const Cost queued = median(r.queued);
        std::printf("  %-34s TsuMainThreadChannel %6.2f us   blocking queued call %6.2f us   (%.1fx)\n", r.name,
                    ours.wallUs, queued.wallUs, queued.wallUs / ours.wallUs);
        std::printf("  %-34s   processor time     %6.2f us                        %6.2f us\n", "", ours.cpuUs,
                    queued.cpuUs);
        std::printf("  %-34s   thread switches    %6.2f                           %6.2f\n", "", ours.switches,
                    queued.switches);
    }
    std::printf("  calls handled: %lu\n", handled);
    printParts(calls);
    return 0;
}
