#pragma once

// A raw-TCP loopback server for tests that need exact control over the bytes a peer sends.
//
//     using qarvia::test::ScriptedServer;
//     ScriptedServer server({ScriptedServer::Step::answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"),
//                            ScriptedServer::Step::closeEarly()});
//     ... connect to 127.0.0.1:server.port() ...
//     EXPECT_EQ(server.request(0), "POST / HTTP/1.0\r\n...");
//
// - It binds 127.0.0.1 port 0 (the kernel picks a free port) and serves on a thread of its own.
// - Connections are handled one after the other, in the order they are accepted: connection i is
//   served by step i of the script. Once the script is used up, its last step serves every further
//   connection (so a benchmark can give one step and connect as often as it likes); an empty script
//   closes every connection at once.
// - By default a step first reads the whole request (headers up to the blank line, then as many body
//   bytes as its Content-Length says), then acts. Set `readRequest = false` to act right after accept.
// - Every byte received on connection i, before and after the answer, is recorded and returned by
//   request(i). Recording stops when the client closes, or when the server closes the connection.
// - After an answer the server shuts down its sending side (the client sees end of stream) and keeps
//   reading until the client closes (at most `lingerLimit`), so nothing the client sends is lost and the
//   answer is never cut by a reset.
// - The destructor (or stop()) wakes the thread, closes every socket and joins it: a test can stop the
//   server at any point, even while a step stalls or drips.
//
// Thread safety: all public members may be called from any thread while the server runs.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qarvia::test {

class ScriptedServer {
public:
    struct Step {
        enum class Action {
            Answer,     // write `reply` (dripped if dripBytes > 0), then end the stream
            CloseEarly, // close without writing anything
            Reset,      // close with a TCP reset (the client sees "connection reset")
            Stall,      // write `reply` (may be empty), then hold the connection open, never ending it
        };
        Action action = Action::Answer;
        std::string reply;
        bool readRequest = true;
        std::size_t dripBytes = 0;              // > 0: write the reply this many bytes at a time ...
        std::chrono::milliseconds dripDelay{0}; // ... with this pause before each piece
        // Answer: further requests on the same connection, each read whole and answered with the next of
        // these, before the stream is ended (for clients that keep a connection alive).
        std::vector<std::string> followUps;

        static Step answer(std::string bytes);
        static Step answerEach(std::vector<std::string> replies);
        static Step closeEarly();
        static Step reset();
        static Step stall(std::string partialReply = {});
        static Step slowDrip(std::string bytes, std::size_t bytesPerWrite, std::chrono::milliseconds delay);
    };

    ScriptedServer();
    explicit ScriptedServer(std::vector<Step> script);
    ~ScriptedServer();

    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t port() const { return listenPort; }
    // "http://127.0.0.1:<port>" followed by `path` (which should start with "/").
    std::string url(const std::string& path = "/") const;

    // Appends a step; it serves the first connection not yet served by an earlier step.
    void addStep(Step step);

    // Connections accepted so far.
    std::size_t connectionCount() const;
    // Connections whose handling has finished (the socket is closed and its recording complete).
    std::size_t finishedCount() const;
    // Waits until `count` connections are finished; false on time-out.
    bool waitForFinished(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

    // The bytes received on connection `index` (empty if there is no such connection yet).
    std::string request(std::size_t index) const;
    std::vector<std::string> requests() const;
    // Turn off to keep a long benchmark from holding every request in memory.
    void setRecording(bool on);

    // The longest a finished answer waits for the client to close before the server closes.
    void setLingerLimit(std::chrono::milliseconds limit);

    // Stops serving and joins the thread; the destructor calls it. Safe to call twice.
    void stop();

private:
    void run();
    void serve(int fd, const Step& step, std::size_t index);
    bool readRequest(int fd, std::size_t index);
    bool writeAll(int fd, const char* data, std::size_t size);
    // Waits until `fd` is readable (or writable) or the server stops; false when stopping or on time-out.
    bool waitFor(int fd, bool forWrite, int timeoutMs) const;
    // Sleeps for `delay`; true as soon as stop() is called.
    bool stopSignalledWithin(std::chrono::milliseconds delay) const;
    void record(std::size_t index, const char* data, std::size_t size);
    Step stepFor(std::size_t index) const;

    int listenFd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::uint16_t listenPort = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable finishedChanged;
    std::vector<Step> script;
    std::vector<std::string> recorded;
    std::size_t accepted = 0;
    std::size_t finished = 0;
    bool recording = true;
    bool stopping = false;
    std::chrono::milliseconds lingerLimit{2000};

    std::thread thread;
};

} // namespace qarvia::test
