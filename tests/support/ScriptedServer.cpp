#include "ScriptedServer.h"

#include "text/Ascii.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qarvia::test {

namespace {

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Content-Length of a request head, 0 when absent or unreadable.
std::size_t contentLengthOf(const std::string& head) {
    std::string lower = text::asciiLowerCased(head);
    std::size_t pos = lower.find("\ncontent-length:");
    if (pos == std::string::npos)
        return 0;
    pos += 16;
    while (pos < lower.size() && (lower[pos] == ' ' || lower[pos] == '\t'))
        ++pos;
    std::size_t value = 0;
    while (pos < lower.size() && text::isAsciiDigit(lower[pos]) && value < (1u << 30))
        value = value * 10 + static_cast<std::size_t>(lower[pos++] - '0');
    return value;
}

} // namespace

ScriptedServer::Step ScriptedServer::Step::answer(std::string bytes) {
    Step step;
    step.reply = std::move(bytes);
    return step;
}

ScriptedServer::Step ScriptedServer::Step::answerEach(std::vector<std::string> replies) {
    Step step;
    if (!replies.empty()) {
        step.reply = std::move(replies.front());
        step.followUps.assign(std::make_move_iterator(replies.begin() + 1), std::make_move_iterator(replies.end()));
    }
    return step;
}

ScriptedServer::Step ScriptedServer::Step::closeEarly() {
    Step step;
    step.action = Action::CloseEarly;
    return step;
}

ScriptedServer::Step ScriptedServer::Step::reset() {
    Step step;
    step.action = Action::Reset;
    return step;
}

ScriptedServer::Step ScriptedServer::Step::stall(std::string partialReply) {
    Step step;
    step.action = Action::Stall;
    step.reply = std::move(partialReply);
    return step;
}

ScriptedServer::Step ScriptedServer::Step::slowDrip(std::string bytes, std::size_t bytesPerWrite,
                                                    std::chrono::milliseconds delay) {
    Step step;
    step.reply = std::move(bytes);
    step.dripBytes = std::max<std::size_t>(bytesPerWrite, 1);
    step.dripDelay = delay;
    return step;
}

ScriptedServer::ScriptedServer() : ScriptedServer(std::vector<Step>{}) {}

ScriptedServer::ScriptedServer(std::vector<Step> steps) : script(std::move(steps)) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("ScriptedServer: pipe failed");
    wakeRead = pipeFds[0];
    wakeWrite = pipeFds[1];

    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = 0;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listenFd < 0 || ::bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd, 64) != 0 || ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        closeFd(listenFd);
        closeFd(wakeRead);
        closeFd(wakeWrite);
        throw std::runtime_error("ScriptedServer: cannot listen on 127.0.0.1");
    }
    listenPort = ntohs(addr.sin_port);
    thread = std::thread([this] { run(); });
}

ScriptedServer::~ScriptedServer() {
    stop();
}

void ScriptedServer::stop() {
    {
        std::lock_guard lock(mutex);
        if (stopping && !thread.joinable())
            return;
        stopping = true;
    }
    char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wakeWrite, &byte, 1);
    if (thread.joinable())
        thread.join();
    closeFd(listenFd);
    closeFd(wakeRead);
    closeFd(wakeWrite);
    finishedChanged.notify_all();
}

std::string ScriptedServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(listenPort) + path;
}

void ScriptedServer::addStep(Step step) {
    std::lock_guard lock(mutex);
    script.push_back(std::move(step));
}

std::size_t ScriptedServer::connectionCount() const {
    std::lock_guard lock(mutex);
    return accepted;
}

std::size_t ScriptedServer::finishedCount() const {
    std::lock_guard lock(mutex);
    return finished;
}

bool ScriptedServer::waitForFinished(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex);
    return finishedChanged.wait_for(lock, timeout, [&] { return finished >= count; });
}

std::string ScriptedServer::request(std::size_t index) const {
    std::lock_guard lock(mutex);
    return index < recorded.size() ? recorded[index] : std::string();
}

std::vector<std::string> ScriptedServer::requests() const {
    std::lock_guard lock(mutex);
    return recorded;
}

void ScriptedServer::setRecording(bool on) {
    std::lock_guard lock(mutex);
    recording = on;
}

void ScriptedServer::setLingerLimit(std::chrono::milliseconds limit) {
    std::lock_guard lock(mutex);
    lingerLimit = limit;
}

ScriptedServer::Step ScriptedServer::stepFor(std::size_t index) const {
    std::lock_guard lock(mutex);
    if (script.empty())
        return Step::closeEarly();
    return script[std::min(index, script.size() - 1)];
}

void ScriptedServer::record(std::size_t index, const char* data, std::size_t size) {
    std::lock_guard lock(mutex);
    if (recording && index < recorded.size())
        recorded[index].append(data, size);
}

bool ScriptedServer::waitFor(int fd, bool forWrite, int timeoutMs) const {
    pollfd fds[2] = {{fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0}, {wakeRead, POLLIN, 0}};
    for (;;) {
        int n = ::poll(fds, 2, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || (fds[1].revents & POLLIN))
            return false;
        return fds[0].revents != 0;
    }
}

bool ScriptedServer::stopSignalledWithin(std::chrono::milliseconds delay) const {
    pollfd fd{wakeRead, POLLIN, 0};
    int n;
    do
        n = ::poll(&fd, 1, static_cast<int>(delay.count()));
    while (n < 0 && errno == EINTR);
    return n > 0;
}

void ScriptedServer::run() {
    for (;;) {
        if (!waitFor(listenFd, false, -1))
            return;
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::size_t index;
        {
            std::lock_guard lock(mutex);
            index = accepted++;
            recorded.emplace_back();
        }
        serve(fd, stepFor(index), index);
        {
            std::lock_guard lock(mutex);
            ++finished;
        }
        finishedChanged.notify_all();
    }
}

bool ScriptedServer::readRequest(int fd, std::size_t index) {
    // Read until the head is complete and then the body its Content-Length announces.
    std::string seen;
    std::size_t needed = std::string::npos;
    char buffer[16384];
    while (needed == std::string::npos || seen.size() < needed) {
        if (!waitFor(fd, false, -1))
            return false;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        record(index, buffer, static_cast<std::size_t>(n));
        if (needed == std::string::npos) {
            seen.append(buffer, static_cast<std::size_t>(n));
            std::size_t end = seen.find("\r\n\r\n");
            if (end != std::string::npos)
                needed = end + 4 + contentLengthOf(seen.substr(0, end + 2));
        } else {
            seen.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return true;
}

bool ScriptedServer::writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        if (!waitFor(fd, true, -1))
            return false;
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void ScriptedServer::serve(int fd, const Step& step, std::size_t index) {
    bool alive = !step.readRequest || readRequest(fd, index);

    if (alive && step.action == Step::Action::Reset) {
        linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        alive = false;
    }
    if (alive && step.action == Step::Action::CloseEarly)
        alive = false;

    if (alive && (step.action == Step::Action::Answer || step.action == Step::Action::Stall)) {
        const std::string& reply = step.reply;
        if (step.dripBytes == 0) {
            alive = writeAll(fd, reply.data(), reply.size());
        } else {
            for (std::size_t pos = 0; alive && pos < reply.size(); pos += step.dripBytes) {
                // The pause doubles as a stop check: a stopping server gives up the drip at once.
                if (step.dripDelay.count() > 0 && stopSignalledWithin(step.dripDelay))
                    alive = false;
                else
                    alive = writeAll(fd, reply.data() + pos, std::min(step.dripBytes, reply.size() - pos));
            }
        }
    }

    if (step.action == Step::Action::Answer) {
        for (const std::string& followUp : step.followUps) {
            alive = alive && readRequest(fd, index) && writeAll(fd, followUp.data(), followUp.size());
        }
    }

    if (alive) {
        int limitMs = -1;
        if (step.action == Step::Action::Answer) {
            ::shutdown(fd, SHUT_WR);
            std::lock_guard lock(mutex);
            limitMs = static_cast<int>(lingerLimit.count());
        }
        // Record whatever else the client sends until it closes (a stall waits for that alone).
        char buffer[4096];
        for (;;) {
            if (!waitFor(fd, false, limitMs))
                break;
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            record(index, buffer, static_cast<std::size_t>(n));
        }
    }
    closeFd(fd);
}

} // namespace qarvia::test
