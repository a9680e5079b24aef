/*
 * UsbTestbed.h - the emulated device tree of this process: a umockdev
 * testbed whose /sys and /dev the real libusb sees once the umockdev preload
 * is loaded (linked into the program or in LD_PRELOAD).
 *
 * One testbed at a time per process. Make it before libusb is initialised
 * or any thread starts; end libusb (Quillcore_libusb_exit) before it goes.
 * Device nodes are pty slaves linked into the testbed's /dev, so a test
 * process that leads a session gets a dummy controlling terminal first:
 * otherwise the first node libusb opens would become its terminal and an
 * unplug would hang the session up.
 */
#pragma once

#include <cstdint>
#include <string>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace emulator {

/* A pty pair: the emulation keeps the master and its own slave descriptor. */
struct PtyPair {
    int master = -1;
    int slave = -1;
    std::string slavePath;
    void close();
};

class UsbTestbed {
public:
    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    /* False (with the reason) when the testbed could not be made. */
    bool ok() const { return testbed_ != nullptr; }
    const std::string& error() const { return error_; }

    UMockdevTestbed* handle() const { return testbed_; }
    /* The directory that stands in for / (the value of $UMOCKDEV_DIR). */
    const std::string& root() const { return root_; }

    /* Bus numbers and device numbers as the kernel gives them: a device
     * number is never given twice on one bus while the testbed lives. */
    uint8_t takeDeviceNumber();
    uint8_t takePort();

    /* A raw pty whose slave appears at the path (absolute, under /dev) in
     * the testbed; false with a message. */
    bool linkNode(const std::string& devPath, PtyPair& pty, std::string& error);
    void unlinkNode(const std::string& devPath);

    /* Makes sure a session leader has a controlling terminal; see above. */
    static void ensureControllingTerminal();

private:
    UMockdevTestbed* testbed_ = nullptr;
    std::string root_;
    std::string error_;
    uint8_t nextDevice_ = 2;  // 1 is the root hub
    uint8_t nextPort_ = 1;
};

}  // namespace emulator
