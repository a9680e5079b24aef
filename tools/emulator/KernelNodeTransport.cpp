#include "tools/emulator/KernelNodeTransport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "common/aTime.h"

namespace emulator {

namespace {

constexpr int kMaxWaitMs = 100;

}  // namespace

std::string KernelNodeTransport::path() const {
    char path[64];
    snprintf(path, sizeof(path), "/dev/quillcore.%08X", model_.identity().serialNumber);
    return path;
}

bool KernelNodeTransport::plug(std::string& error) {
    if (plugged()) return true;
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0 || !testbed_.linkNode(path(), pty_, error)) {
        if (wakeFd_ >= 0) close(wakeFd_);
        wakeFd_ = -1;
        if (error.empty()) error = "cannot make an eventfd";
        return false;
    }
    // A host that stops reading loses bytes rather than stalling the device.
    fcntl(pty_.master, F_SETFL, fcntl(pty_.master, F_GETFL) | O_NONBLOCK);
    int master = pty_.master;
    model_.setSink([master](const uint8_t* bytes, size_t count) { (void)!write(master, bytes, count); });
    model_.connectionOpened(aTime_GetMSTicks());
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void KernelNodeTransport::unplug() {
    if (!plugged()) return;
    stopping_ = true;
    uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof(one));
    thread_.join();
    model_.connectionClosed();
    testbed_.unlinkNode(path());
    pty_.close();
    close(wakeFd_);
    wakeFd_ = -1;
}

void KernelNodeTransport::run() {
    uint8_t buffer[4096];
    while (!stopping_) {
        int due = model_.tick(aTime_GetMSTicks());
        int wait = due < 0 ? kMaxWaitMs : std::min(due, kMaxWaitMs);
        pollfd p[2] = {{pty_.master, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(p, 2, wait) < 0 && errno != EINTR) break;
        if (p[1].revents || !(p[0].revents & POLLIN)) continue;
        ssize_t n = read(pty_.master, buffer, sizeof(buffer));
        if (n <= 0) continue;
        bytesFromHost_ += static_cast<uint64_t>(n);
        model_.receive(buffer, static_cast<size_t>(n));
    }
}

}  // namespace emulator
