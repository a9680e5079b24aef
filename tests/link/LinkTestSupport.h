/*
 * LinkTestSupport.h - streams and peers for the link-core tests: a scripted
 * source, a recording sink, and a TCP peer on 127.0.0.1 that plays the
 * device's end of a socket stream.
 */
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "common/aLink.h"
#include "common/aStream.h"
#include "common/aStreamSocket.h"

namespace linktest {

/* A source that answers get from a script: a byte, or an error code. */
struct Script {
    struct Step {
        aErr err;
        uint8_t byte;
    };
    std::mutex lock;
    std::deque<Step> steps;
    aErr whenEmpty = aErrNotReady;
    std::vector<std::vector<uint8_t>> writes;  // one entry per write or put
    int puts = 0;

    void bytes(const std::vector<uint8_t>& b) {
        std::lock_guard<std::mutex> g(lock);
        for (uint8_t x : b) steps.push_back({aErrNone, x});
    }
    void error(aErr err) {
        std::lock_guard<std::mutex> g(lock);
        steps.push_back({err, 0});
    }
    std::vector<std::vector<uint8_t>> written() {
        std::lock_guard<std::mutex> g(lock);
        return writes;
    }
};

inline aErr ScriptGet(uint8_t* byte, void* ref) {
    auto* s = static_cast<Script*>(ref);
    std::unique_lock<std::mutex> g(s->lock);
    if (s->steps.empty()) {
        g.unlock();
        // Paces a link thread that reads an empty script, as a real stream's wait would.
        if (s->whenEmpty == aErrNotReady) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return s->whenEmpty;
    }
    Script::Step step = s->steps.front();
    s->steps.pop_front();
    *byte = step.byte;
    return step.err;
}

inline aErr ScriptPut(uint8_t byte, void* ref) {
    auto* s = static_cast<Script*>(ref);
    std::lock_guard<std::mutex> g(s->lock);
    s->puts++;
    s->writes.push_back({byte});
    return aErrNone;
}

inline aErr ScriptWrite(const uint8_t* bytes, size_t count, void* ref) {
    auto* s = static_cast<Script*>(ref);
    std::lock_guard<std::mutex> g(s->lock);
    s->writes.emplace_back(bytes, bytes + count);
    return aErrNone;
}

/* A stream over a script the test keeps; deleting it leaves the script. */
inline aStreamRef ScriptStream(Script& script, bool withPut = true, bool withWrite = true) {
    return aStream_Create(ScriptGet, withPut ? ScriptPut : nullptr, withWrite ? ScriptWrite : nullptr,
                          nullptr, &script);
}

inline uint32_t Loopback() { return htonl(INADDR_LOOPBACK); }

/* A listening socket on 127.0.0.1 and the device's end of the connections made to it. */
class Peer {
public:
    Peer() {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = Loopback();
        socklen_t size = sizeof(a);
        int on = 1;
        setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        listen(listen_, 4);
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &size);
        port_ = ntohs(a.sin_port);
    }
    ~Peer() {
        closeConnection();
        close(listen_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    uint16_t port() const { return port_; }

    /* Accepts the next connection (waiting up to the time-out); false if none came. */
    bool accept(int timeoutMs = 5000) {
        pollfd p{listen_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1) return false;
        closeConnection();
        fd_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        return fd_ >= 0;
    }
    int fd() const { return fd_; }

    /* A socket stream connected to this peer, and the peer's end accepted. */
    aStreamRef connectStream() {
        aStreamRef stream = nullptr;
        if (aStream_CreateSocket(Loopback(), port_, &stream) != aErrNone) return nullptr;
        if (!accept()) aStream_Destroy(stream);
        return stream;
    }

    void send(const std::vector<uint8_t>& bytes) const {
        ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }

    /* Reads exactly n bytes, or fewer when nothing more comes within the time-out. */
    std::vector<uint8_t> read(size_t n, int timeoutMs = 3000) const {
        std::vector<uint8_t> got;
        while (got.size() < n) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) != 1) break;
            uint8_t buffer[4096];
            ssize_t r = recv(fd_, buffer, std::min(sizeof(buffer), n - got.size()), 0);
            if (r <= 0) break;
            got.insert(got.end(), buffer, buffer + r);
        }
        return got;
    }

    /* Reset the connection (RST) rather than closing it in order. */
    void resetConnection() {
        linger drop{1, 0};
        setsockopt(fd_, SOL_SOCKET, SO_LINGER, &drop, sizeof(drop));
        closeConnection();
    }

    void closeConnection() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int listen_ = -1;
    int fd_ = -1;
    uint16_t port_ = 0;
};

inline std::vector<uint8_t> Repeat(const std::vector<uint8_t>& unit, int times) {
    std::vector<uint8_t> all;
    for (int i = 0; i < times; i++) all.insert(all.end(), unit.begin(), unit.end());
    return all;
}

inline uint8_t AcceptAll(const aPacket*, void*) { return 1; }

}  // namespace linktest
