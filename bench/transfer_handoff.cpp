// The cost of handing one call from a worker thread to the main thread and waiting for its return:
// TsuMainThreadChannel (what TsuCustomHTTP uses for every handler) against a plain blocking queued call.
// Prints microseconds per hand-off, back to back and with a little work between calls, as a transfer has;
// and, since wall time on a busy machine is mostly waiting for a processor, the processor time and the
// thread switches (wake-ups) of the whole process per hand-off.

#include "update/TsuThreadWindow.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <sys/resource.h>
#include <thread>
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
    return 0;
}
