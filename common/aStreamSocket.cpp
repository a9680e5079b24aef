#include "common/aStreamSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>

#include "common/aTime.h"

namespace {

constexpr uint16_t kSocketCheck = 0xDEAD;
constexpr uint32_t kConnected = 0x1;
constexpr size_t kReadAhead = 4096;

/* The reading and the writing thread share the connection: both use it
 * under the shared lock, and either may reconnect under the exclusive one,
 * only the connection that failed. */
struct SocketRecord {
    uint16_t port;
    sockaddr_in address;
    std::atomic<int> fd;
    std::atomic<uint32_t> flags;
    uint16_t check;
    int wakeFd;                    // eventfd: interrupts a waiting get
    std::atomic<bool> peerClosed;  // the device closed its end; the next write reconnects
    std::shared_mutex connectionLock;
    size_t readPos;  // read-ahead: used by the reading side only
    size_t readCount;
    uint8_t readAhead[kReadAhead];
};

SocketRecord* sRecord(void* ref) {
    auto* r = static_cast<SocketRecord*>(ref);
    return r && r->check == kSocketCheck ? r : nullptr;
}

bool sConnectionLost(int error) { return error == ECONNRESET || error == ENOTCONN || error == ETIMEDOUT; }

void sClose(SocketRecord* r) {
    if (r->fd < 0) return;
    r->flags &= ~kConnected;
    close(r->fd.exchange(-1));
    aTime_MSSleep(10);
}

int sConnectError(int fd, const sockaddr_in& address) {
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) return 0;
    if (errno != EINPROGRESS) return errno;
    pollfd p{fd, POLLOUT, 0};
    int n;
    while ((n = poll(&p, 1, aSOCKET_CONNECT_TIMEOUT_MS)) < 0 && errno == EINTR) {
    }
    if (n == 0) return ETIMEDOUT;
    int error = 0;
    socklen_t size = sizeof(error);
    if (n < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
    return error;
}

bool sSetOptions(int fd) {
    int on = 1;
    timeval none{0, 0};
    linger drop{1, 0};  // closing resets the connection at once
    int flags = fcntl(fd, F_GETFL);
    return setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof(none)) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_LINGER, &drop, sizeof(drop)) == 0 && flags >= 0 &&
           fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

aErr sConnectLocked(SocketRecord* r) {
    sClose(r);
    r->peerClosed = false;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return aErrIO;
    r->fd = fd;
    // Connecting without blocking, so that an unreachable address is given up on in time.
    int error = sConnectError(fd, r->address);
    if (error != 0) {
        sClose(r);
        bool refused = error == EWOULDBLOCK || error == EAGAIN || error == ECONNRESET || error == ETIMEDOUT ||
                       error == ECONNREFUSED;
        return refused ? aErrConnection : aErrIO;
    }
    r->flags |= kConnected;
    return sSetOptions(fd) ? aErrNone : aErrIO;
}

aErr sSocketInterrupt(void* ref);

/* Reconnects unless the other side already replaced the failed connection. */
aErr sConnect(SocketRecord* r, int failedFd, bool fromWriter) {
    if (!sRecord(r)) return aErrInitialization;
    if (fromWriter) sSocketInterrupt(r);  // the reader leaves its wait and the lock
    std::unique_lock<std::shared_mutex> exclusive(r->connectionLock);
    if (r->fd != failedFd) return r->flags & kConnected ? aErrNone : aErrConnection;
    return sConnectLocked(r);
}

/* Waits for input or an interrupt; true when the socket is readable. */
bool sWaitReadable(SocketRecord* r, int fd) {
    pollfd p[2] = {{r->peerClosed ? -1 : fd, POLLIN, 0}, {r->wakeFd, POLLIN, 0}};
    if (poll(p, 2, aSOCKET_READ_WAIT_MS) <= 0) return false;
    if (p[1].revents & POLLIN) {
        uint64_t count;
        (void)!read(r->wakeFd, &count, sizeof(count));
        return false;
    }
    return p[0].revents != 0;
}

/* One recv into the read-ahead buffer: its count, or 0 with the result to give. */
ssize_t sFill(SocketRecord* r, int* fd, aErr* err) {
    std::shared_lock<std::shared_mutex> shared(r->connectionLock);
    *fd = r->fd;
    // Checked under the lock: a reconnect by the writer is finished, not half done.
    *err = r->flags & kConnected ? aErrNotReady : aErrConnection;
    if (*err != aErrNotReady || !sWaitReadable(r, *fd)) return 0;
    ssize_t n = recv(*fd, r->readAhead, sizeof(r->readAhead), 0);
    if (n == 0) {
        // An orderly close is not an error: the link stays and the next write reconnects.
        r->peerClosed = true;
    } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        *err = sConnectionLost(errno) ? aErrIO : aErrConnection;  // aErrIO: reconnect
    }
    return n < 0 ? 0 : n;
}

aErr sSocketGet(uint8_t* byte, void* ref) {
    SocketRecord* r = sRecord(ref);
    if (!r || !byte) return aErrParam;
    if (r->readPos == r->readCount) {
        int fd = -1;
        aErr err = aErrNone;
        ssize_t n = sFill(r, &fd, &err);
        if (n == 0 && err == aErrIO) {
            err = sConnect(r, fd, false);
            return err == aErrNone ? aErrNotReady : err;
        }
        if (n == 0) return err;
        r->readPos = 0;
        r->readCount = static_cast<size_t>(n);
    }
    *byte = r->readAhead[r->readPos++];
    return aErrNone;
}

/* One send attempt: bytes sent, or -1 with errno. */
ssize_t sSendOnce(SocketRecord* r, const uint8_t* bytes, size_t count, int* fd) {
    std::shared_lock<std::shared_mutex> shared(r->connectionLock);
    *fd = r->fd;
    return send(*fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
}

bool sConnected(SocketRecord* r) {
    std::shared_lock<std::shared_mutex> shared(r->connectionLock);
    return r->flags & kConnected;
}

/* Waits up to the retry delay for room to send; a sleep when nothing can tell. */
void sWaitWritable(SocketRecord* r) {
    std::shared_lock<std::shared_mutex> shared(r->connectionLock);
    pollfd p{r->fd, POLLOUT, 0};
    if (p.fd < 0 || poll(&p, 1, aSOCKET_RETRY_DELAY_MS) < 0) aTime_MSSleep(aSOCKET_RETRY_DELAY_MS);
}

aErr sSocketWrite(const uint8_t* bytes, size_t count, void* ref) {
    SocketRecord* r = sRecord(ref);
    if (!r || (!bytes && count)) return aErrParam;
    if (!sConnected(r)) return aErrConnection;
    if (r->peerClosed) {
        aErr err = sConnect(r, r->fd, true);
        if (err != aErrNone) return err;
    }
    int attempts = 0;
    while (count > 0) {
        if (attempts >= aSOCKET_MAX_SEND_RETRY) return aErrBusy;
        int fd = -1;
        ssize_t n = sSendOnce(r, bytes, count, &fd);
        if (n > 0) {
            bytes += n;
            count -= static_cast<size_t>(n);
            if (count == 0) break;
            attempts = 1;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            attempts++;
        } else if (n < 0 && (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN)) {
            aErr err = sConnect(r, fd, true);
            if (err != aErrNone) return err;
            attempts++;
        } else {
            return aErrIO;
        }
        sWaitWritable(r);
    }
    return aErrNone;
}

aErr sSocketPut(uint8_t byte, void* ref) { return sSocketWrite(&byte, 1, ref); }

aErr sSocketInterrupt(void* ref) {
    SocketRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    uint64_t one = 1;
    return write(r->wakeFd, &one, sizeof(one)) == sizeof(one) ? aErrNone : aErrIO;
}

aErr sSocketDelete(void* ref) {
    SocketRecord* r = sRecord(ref);
    if (!r) return aErrIO;
    sClose(r);
    close(r->wakeFd);
    r->check = 0;
    delete r;
    return aErrNone;
}

}  // namespace

aErr aStream_CreateSocket(uint32_t address, uint16_t port, aStreamRef* stream) {
    if (!stream) return aErrResource;
    *stream = nullptr;
    auto* r = new (std::nothrow) SocketRecord{};
    if (!r) return aErrResource;
    r->check = kSocketCheck;
    r->port = port;
    r->address.sin_family = AF_INET;
    r->address.sin_addr.s_addr = address;
    r->address.sin_port = htons(port);
    r->fd = -1;
    r->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (r->wakeFd < 0 || sConnect(r, -1, false) != aErrNone) {
        sSocketDelete(r);
        return aErrResource;
    }
    *stream = aStream_Create(sSocketGet, sSocketPut, sSocketWrite, sSocketDelete, r);
    if (!*stream) {
        sSocketDelete(r);
        return aErrResource;
    }
    aStream_SetInterrupt(*stream, sSocketInterrupt);
    return aErrNone;
}
