#include "tools/emulator/TcpTransport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/aTime.h"

namespace emulator {

namespace {

/* Longest wait of the serving loop, so that changed heartbeat settings apply soon. */
constexpr int kMaxWaitMs = 200;

bool sSendAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        ssize_t n = send(fd, bytes, count, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

uint32_t TcpTransport::loopbackAddress() { return htonl(INADDR_LOOPBACK); }

bool TcpTransport::start(uint16_t port, std::string& error) {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    int on = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = loopbackAddress();
    address.sin_port = htons(port);
    socklen_t size = sizeof(address);
    if (listenFd_ < 0 || wakeFd_ < 0 ||
        setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
        bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listenFd_, 4) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        error = std::string("cannot listen on 127.0.0.1:") + std::to_string(port) + ": " + strerror(errno);
        stop();
        return false;
    }
    port_ = ntohs(address.sin_port);
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void TcpTransport::stop() {
    stopping_ = true;
    if (thread_.joinable()) {
        wake();
        thread_.join();
    }
    if (listenFd_ >= 0) close(listenFd_);
    if (wakeFd_ >= 0) close(wakeFd_);
    listenFd_ = wakeFd_ = -1;
}

void TcpTransport::wake() {
    uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof(one));
}

bool TcpTransport::woken(short revents) {
    if (!(revents & POLLIN)) return false;
    uint64_t count;
    (void)!read(wakeFd_, &count, sizeof(count));
    return true;
}

void TcpTransport::dropConnection() {
    drop_ = true;
    wake();
}

void TcpTransport::pauseAccepting(bool paused) {
    paused_ = paused;
    wake();
}

void TcpTransport::run() {
    while (!stopping_) {
        pollfd p[2] = {{paused_ ? -1 : listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(p, 2, -1) < 0 && errno != EINTR) break;
        woken(p[1].revents);
        if (stopping_ || paused_ || !(p[0].revents & POLLIN)) continue;
        int connection = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        int on = 1;
        setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        serve(connection);
        close(connection);
    }
}

void TcpTransport::serve(int connection) {
    drop_ = false;
    model_.setSink([connection](const uint8_t* bytes, size_t count) { sSendAll(connection, bytes, count); });
    model_.connectionOpened(aTime_GetMSTicks());
    uint8_t buffer[4096];
    while (!stopping_ && !drop_) {
        int due = model_.tick(aTime_GetMSTicks());
        int wait = due < 0 ? kMaxWaitMs : std::min(due, kMaxWaitMs);
        pollfd p[2] = {{connection, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(p, 2, wait) < 0 && errno != EINTR) break;
        if (woken(p[1].revents) || !p[0].revents) continue;
        ssize_t n = recv(connection, buffer, sizeof(buffer), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        model_.receive(buffer, static_cast<size_t>(n));
    }
    model_.connectionClosed();
}

}  // namespace emulator
