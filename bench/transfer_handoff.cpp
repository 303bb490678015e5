// The cost of handing one call from a worker thread to the main thread and waiting for its return:
// TsuMainThreadChannel (what TsuCustomHTTP uses for every handler) against a plain blocking queued call.
// Prints microseconds per hand-off, back to back and with a little work between calls, as a transfer has.

#include "update/TsuThreadWindow.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
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

template <typename Call> double microsecondsPerCall(int calls, int workRounds, Call&& call) {
    const auto start = Clock::now();
    for (int i = 0; i < calls; ++i) {
        busyWork(workRounds);
        call();
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / calls;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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
        std::vector<double> channel, queued;
    };
    std::vector<Result> results{{"back to back", 0, {}, {}}, {"with ~1 us of work between calls", 1, {}, {}}};

    TsuThreadWindow* window = TsuThreadWindow::acquire();
    auto channel = std::make_shared<TsuMainThreadChannel>(window);
    std::thread worker([&] {
        auto increment = [&] { ++handled; };
        for (int round = 0; round < 5; ++round) {
            for (Result& r : results) {
                r.channel.push_back(microsecondsPerCall(calls, r.work, [&] { channel->call(increment); }));
                r.queued.push_back(microsecondsPerCall(calls, r.work, [&] {
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
        const double ours = median(r.channel);
        const double queued = median(r.queued);
        std::printf("  %-34s TsuMainThreadChannel %6.2f us   blocking queued call %6.2f us   (%.1fx)\n", r.name, ours,
                    queued, queued / ours);
    }
    std::printf("  calls handled: %lu\n", handled);
    return 0;
}
