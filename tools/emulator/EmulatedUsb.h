/*
 * EmulatedUsb.h - "these emulated devices are attached", in one line:
 *
 *     emulator::EmulatedUsb usb({emulator::UsbDevice(0x1234ABCD), emulator::KernelNodeDevice(0x0001ABCD)});
 *     ASSERT_TRUE(usb.ok()) << usb.error();
 *
 * Makes this process's testbed, a DeviceModel per device and serves each on
 * USB or on its kernel node until the object goes. The library's libusb
 * context is ended on the way in and on the way out, so that libusb always
 * enumerates the devices of this testbed. Make it before any link to the
 * devices and let it go after them. One at a time per process; the program
 * must load the umockdev preload (link qc_umockdev_preload).
 */
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/emulator/DeviceModel.h"
#include "tools/emulator/KernelNodeTransport.h"
#include "tools/emulator/UsbTestbed.h"
#include "tools/emulator/UsbTransport.h"

namespace emulator {

struct EmulatedDevice {
    DeviceIdentity identity;
    UsbDeviceOptions usb;
    bool kernelNode = false;  // on /dev/quillcore.SSSSSSSS instead of USB
    bool plugged = true;      // attached from the start
};

/* A device of the family with this serial number; no heartbeats unless asked. */
EmulatedDevice UsbDevice(uint32_t serialNumber, uint8_t model = 19, uint32_t heartbeatMs = 0);
EmulatedDevice KernelNodeDevice(uint32_t serialNumber, uint8_t model = 19, uint32_t heartbeatMs = 0);

class EmulatedUsb {
public:
    explicit EmulatedUsb(std::vector<EmulatedDevice> devices = {});
    ~EmulatedUsb();
    EmulatedUsb(const EmulatedUsb&) = delete;
    EmulatedUsb& operator=(const EmulatedUsb&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    /* Adds a device (plugged in when it says so); its index, or -1 with error() set. */
    int attach(const EmulatedDevice& device);

    size_t size() const { return devices_.size(); }
    DeviceModel& model(size_t i) { return *devices_.at(i)->model; }
    /* Only for a device on USB / on its kernel node. */
    UsbTransport& usb(size_t i) { return *devices_.at(i)->usb; }
    KernelNodeTransport& node(size_t i) { return *devices_.at(i)->node; }
    UsbTestbed& testbed() { return *testbed_; }

    /* Unplugs the device and plugs it in again: same serial number, new device number. */
    bool replug(size_t i);

private:
    struct Device {
        std::unique_ptr<DeviceModel> model;
        std::unique_ptr<UsbTransport> usb;
        std::unique_ptr<KernelNodeTransport> node;
    };

    std::unique_ptr<UsbTestbed> testbed_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::string error_;
    bool owner_ = false;
};

}  // namespace emulator
