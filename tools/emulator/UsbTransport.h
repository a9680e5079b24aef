/*
 * UsbTransport.h - serves a DeviceModel as a USB device of the family on a
 * UsbTestbed, so that the real libusb enumerates it, reads its descriptors
 * and serial string, claims its interface and moves bulk transfers through
 * it: vendor 0x24FF, product id = model, one interface 0xFF/0x88/0x10 with
 * bulk OUT 0x01 and bulk IN 0x81.
 *
 * The device node is a pty slave that only rings: the emulation switches its
 * output flow off and on so that libusb's poll() wakes exactly when a
 * transfer can be reaped; closing the master is the unplug that libusb sees.
 * The usbfs ioctls are answered on umockdev's worker thread.
 *
 * Faults for tests: a transfer that stalls or fails, an answer to the
 * interface claim, descriptors that are not the family's.
 */
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/emulator/DeviceModel.h"
#include "tools/emulator/UsbTestbed.h"

namespace emulator {

constexpr uint16_t kUsbVendorId = 0x24FF;
constexpr uint8_t kUsbOutEndpoint = 0x01;
constexpr uint8_t kUsbInEndpoint = 0x81;

/* How the device looks on the bus; the defaults are a device of the family. */
struct UsbDeviceOptions {
    uint16_t vendorId = kUsbVendorId;
    int32_t productId = -1;    // -1: the model number
    std::string serialString;  // empty: the serial number as eight hex digits
    uint16_t packetSize = 64;  // bulk endpoints' maximum packet size (512: high speed)
    uint8_t interfaceSubclass = 0x88;
    bool outEndpoint = true;
    bool inEndpoint = true;
};

enum class UsbFailure { Stall, IoError };

/* What the device saw, for tests. */
struct UsbCounters {
    std::vector<size_t> outTransfers;  // length of every bulk OUT transfer, failed ones included
    uint64_t inTransfers = 0;          // bulk IN transfers submitted
    uint64_t clearHalts = 0;
    uint64_t claims = 0;    // successful interface claims
    uint64_t opens = 0;     // clients that opened the node
    uint64_t discards = 0;  // transfers the host cancelled (time-outs among them)
};

class UsbTransport {
public:
    UsbTransport(UsbTestbed& testbed, DeviceModel& model, UsbDeviceOptions options = {});
    ~UsbTransport();
    UsbTransport(const UsbTransport&) = delete;
    UsbTransport& operator=(const UsbTransport&) = delete;

    /* Attaches the device with a new device number; false with a message. */
    bool plug(std::string& error);
    /* Detaches it as a pulled cable does: transfers in flight end, the node hangs up. */
    void unplug();
    bool plugged() const;
    uint8_t busNumber() const { return 1; }
    uint8_t deviceNumber() const;
    std::string serialString() const;

    /* The nth transfer from now on the endpoint (1 = the next) and the
     * count - 1 after it fail with the given kind. */
    void failTransfers(uint8_t endpoint, UsbFailure kind, unsigned nth = 1, unsigned count = 1);
    /* Every claim of the interface answers this errno (0: claims succeed). */
    void setClaimError(int error);
    /* The node's permissions allow nobody (a missing udev rule); root's
     * override still opens it unless the opening thread gave that up. */
    void denyAccess(bool denied);
    /* Bytes for the host, as if the device had sent them (bypassing the model). */
    void sendToHost(const std::vector<uint8_t>& bytes);

    UsbCounters counters() const;

    /* The descriptors the device reports (device, then configuration). */
    static std::vector<uint8_t> Descriptors(const UsbDeviceOptions& options, uint16_t productId);

    struct Core;

private:
    void tickLoop();

    UsbTestbed& testbed_;
    DeviceModel& model_;
    std::shared_ptr<Core> core_;
    std::thread ticker_;
};

}  // namespace emulator
