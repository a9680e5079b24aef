#include "tools/emulator/UsbTestbed.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace emulator {

void PtyPair::close() {
    if (slave >= 0) ::close(slave);
    if (master >= 0) ::close(master);
    master = slave = -1;
    slavePath.clear();
}

namespace {

bool sOpenPty(PtyPair& pty, std::string& error) {
    pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) {
        error = std::string("cannot make a pty: ") + strerror(errno);
        pty.close();
        return false;
    }
    pty.slave = ioctl(pty.master, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[64];
    if (pty.slave < 0 || ptsname_r(pty.master, name, sizeof(name)) != 0) {
        error = std::string("cannot open the pty slave: ") + strerror(errno);
        pty.close();
        return false;
    }
    pty.slavePath = name;
    // Raw both ways: bytes pass unchanged, nothing is echoed.
    termios t{};
    tcgetattr(pty.slave, &t);
    cfmakeraw(&t);
    tcsetattr(pty.slave, TCSANOW, &t);
    return true;
}

bool sMakeParents(const std::string& path) {
    for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
        if (mkdir(path.substr(0, at).c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

void UsbTestbed::ensureControllingTerminal() {
    if (getsid(0) != getpid()) return;
    int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty >= 0) {
        close(tty);
        return;
    }
    // Kept open for the life of the process: closing them would hang up the session.
    static PtyPair dummy;
    std::string error;
    if (dummy.master >= 0 || !sOpenPty(dummy, error)) return;
    ioctl(dummy.slave, TIOCSCTTY, 0);
}

UsbTestbed::UsbTestbed() {
    ensureControllingTerminal();
    // The preload sleeps briefly after every emulated call; with the default
    // 50 us timer slack that sleep costs more than the call. Threads made
    // from here on (umockdev's worker among them) inherit the setting.
    prctl(PR_SET_TIMERSLACK, 1);
    testbed_ = umockdev_testbed_new();
    if (!testbed_) {
        error_ = "cannot make a umockdev testbed";
        return;
    }
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    root_ = root;
    g_free(root);
}

UsbTestbed::~UsbTestbed() {
    if (testbed_) g_object_unref(testbed_);
}

uint8_t UsbTestbed::takeDeviceNumber() {
    uint8_t n = nextDevice_;
    nextDevice_ = nextDevice_ >= 127 ? 2 : nextDevice_ + 1;
    return n;
}

uint8_t UsbTestbed::takePort() { return nextPort_++; }

bool UsbTestbed::linkNode(const std::string& devPath, PtyPair& pty, std::string& error) {
    if (!sOpenPty(pty, error)) return false;
    std::string link = root_ + devPath;
    unlink(link.c_str());
    if (!sMakeParents(link) || symlink(pty.slavePath.c_str(), link.c_str()) != 0) {
        error = "cannot link " + link + ": " + strerror(errno);
        pty.close();
        return false;
    }
    return true;
}

void UsbTestbed::unlinkNode(const std::string& devPath) { unlink((root_ + devPath).c_str()); }

}  // namespace emulator
