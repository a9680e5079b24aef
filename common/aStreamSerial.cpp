#include "common/aStreamSerial.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace {

constexpr uint16_t kSerialCheck = 0xBEEF;
constexpr size_t kReadAhead = 256;

struct SerialRecord {
    int speedIndex;
    char path[PATH_MAX];
    int fd;
    termios saved;
    termios applied;
    uint16_t check;
    int wakeFd;  // eventfd: interrupts a waiting get
    size_t readPos;
    size_t readCount;
    uint8_t readAhead[kReadAhead];
};

constexpr speed_t kSpeeds[] = {B2400, B4800, B9600, B19200, B38400, B57600, B115200, B230400};
constexpr unsigned kRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
constexpr int kSpeedCount = sizeof(kSpeeds) / sizeof(kSpeeds[0]);

SerialRecord* sRecord(void* ref) {
    auto* r = static_cast<SerialRecord*>(ref);
    return r && r->check == kSerialCheck ? r : nullptr;
}

aErr sOpenError(int error) {
    switch (error) {
        case ENOENT: return aErrNotFound;
        case EACCES: return aErrPermission;
        default: return aErrIO;
    }
}

aErr sConfigure(SerialRecord* r, int parity, int dataBits, int stopBits) {
    int flags = fcntl(r->fd, F_GETFL);
    if (flags < 0 || fcntl(r->fd, F_SETFL, 0) != 0) return aErrIO;
    if (tcgetattr(r->fd, &r->saved) != 0) return aErrIO;
    termios t = r->saved;
    t.c_iflag = IGNBRK | (parity ? IGNPAR : 0);
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag =
        CREAD | CLOCAL | (dataBits == 0 ? CS8 : CS7) | (stopBits == 1 ? CSTOPB : 0) | (parity ? PARENB : 0);
    speed_t speed = r->speedIndex >= 0 && r->speedIndex < kSpeedCount ? kSpeeds[r->speedIndex] : B0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(r->fd, TCSANOW, &t) != 0) return aErrIO;
    r->applied = t;
    return tcflush(r->fd, TCIOFLUSH) == 0 ? aErrNone : aErrIO;
}

aErr sSerialGet(uint8_t* byte, void* ref) {
    SerialRecord* r = sRecord(ref);
    if (!r || !byte) return aErrParam;
    if (r->readPos == r->readCount) {
        pollfd p[2] = {{r->fd, POLLIN, 0}, {r->wakeFd, POLLIN, 0}};
        if (poll(p, 2, aSERIAL_READ_WAIT_MS) <= 0) return aErrNotReady;
        if (p[1].revents & POLLIN) {
            uint64_t count;
            (void)!read(r->wakeFd, &count, sizeof(count));
            return aErrNotReady;
        }
        ssize_t n = read(r->fd, r->readAhead, sizeof(r->readAhead));
        if (n == 0 || (n < 0 && (errno == EAGAIN || errno == EINTR))) return aErrNotReady;
        if (n < 0) return aErrIO;
        r->readPos = 0;
        r->readCount = static_cast<size_t>(n);
    }
    *byte = r->readAhead[r->readPos++];
    return aErrNone;
}

aErr sSerialWrite(const uint8_t* bytes, size_t count, void* ref) {
    SerialRecord* r = sRecord(ref);
    if (!r || (!bytes && count)) return aErrParam;
    ssize_t n = write(r->fd, bytes, count);
    if (n < 0 || static_cast<size_t>(n) != count) return aErrIO;
    return tcdrain(r->fd) == 0 ? aErrNone : aErrIO;
}

aErr sSerialPut(uint8_t byte, void* ref) { return sSerialWrite(&byte, 1, ref); }

aErr sSerialInterrupt(void* ref) {
    SerialRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    uint64_t one = 1;
    return write(r->wakeFd, &one, sizeof(one)) == sizeof(one) ? aErrNone : aErrIO;
}

void sRelease(SerialRecord* r, bool restore) {
    if (r->fd >= 0) {
        if (restore) tcsetattr(r->fd, TCSANOW, &r->saved);
        close(r->fd);
    }
    if (r->wakeFd >= 0) close(r->wakeFd);
    r->check = 0;
    delete r;
}

aErr sSerialDelete(void* ref) {
    SerialRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    sRelease(r, true);
    return aErrNone;
}

}  // namespace

unsigned aStream_SerialBaudRate(int speedIndex) {
    return speedIndex >= 0 && speedIndex < kSpeedCount ? kRates[speedIndex] : 0;
}

aErr aStream_CreateSerial(const char* path, int speedIndex, int parity, int dataBits, int stopBits,
                          aStreamRef* stream) {
    if (stream) *stream = nullptr;
    if (!path || !stream || dataBits < 0 || dataBits > 1 || stopBits < 0 || stopBits > 1) return aErrResource;
    if (strlen(path) >= PATH_MAX) return aErrResource;
    auto* r = new (std::nothrow) SerialRecord{};
    if (!r) return aErrResource;
    r->check = kSerialCheck;
    r->speedIndex = speedIndex;
    strcpy(r->path, path);
    r->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    r->fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (r->fd < 0 || r->wakeFd < 0) {
        aErr err = r->fd < 0 ? sOpenError(errno) : aErrResource;
        sRelease(r, false);
        return err;
    }
    aErr err = sConfigure(r, parity, dataBits, stopBits);
    if (err != aErrNone) {
        sRelease(r, false);
        return err;
    }
    *stream = aStream_Create(sSerialGet, sSerialPut, sSerialWrite, sSerialDelete, r);
    if (!*stream) {
        sRelease(r, true);
        return aErrResource;
    }
    aStream_SetInterrupt(*stream, sSerialInterrupt);
    return aErrNone;
}
