#include "tools/emulator/EmulatedUsb.h"

#include <atomic>

#include "common/aUSB.h"

namespace emulator {

namespace {

std::atomic<bool> sInUse{false};

EmulatedDevice sDevice(uint32_t serialNumber, uint8_t model, uint32_t heartbeatMs, bool kernelNode) {
    EmulatedDevice d;
    d.identity.serialNumber = serialNumber;
    d.identity.model = model;
    d.identity.heartbeatMs = heartbeatMs;
    d.kernelNode = kernelNode;
    return d;
}

}  // namespace

EmulatedDevice UsbDevice(uint32_t serialNumber, uint8_t model, uint32_t heartbeatMs) {
    return sDevice(serialNumber, model, heartbeatMs, false);
}

EmulatedDevice KernelNodeDevice(uint32_t serialNumber, uint8_t model, uint32_t heartbeatMs) {
    return sDevice(serialNumber, model, heartbeatMs, true);
}

EmulatedUsb::EmulatedUsb(std::vector<EmulatedDevice> devices) {
    if (sInUse.exchange(true)) {
        error_ = "another EmulatedUsb is alive in this process";
        return;
    }
    owner_ = true;
    // A context made before this testbed would not see its devices.
    Quillcore_libusb_exit();
    testbed_ = std::make_unique<UsbTestbed>();
    if (!testbed_->ok()) {
        error_ = testbed_->error();
        return;
    }
    for (const EmulatedDevice& d : devices) {
        if (attach(d) < 0) return;
    }
}

EmulatedUsb::~EmulatedUsb() {
    if (!owner_) return;
    Quillcore_libusb_exit();
    devices_.clear();  // transports before their models, all before the testbed
    testbed_.reset();
    sInUse = false;
}

int EmulatedUsb::attach(const EmulatedDevice& device) {
    if (!testbed_ || !testbed_->ok()) return -1;
    auto d = std::make_unique<Device>();
    d->model = std::make_unique<DeviceModel>(device.identity);
    std::string error;
    bool plugged = true;
    if (device.kernelNode) {
        d->node = std::make_unique<KernelNodeTransport>(*testbed_, *d->model);
        if (device.plugged) plugged = d->node->plug(error);
    } else {
        d->usb = std::make_unique<UsbTransport>(*testbed_, *d->model, device.usb);
        if (device.plugged) plugged = d->usb->plug(error);
    }
    if (!plugged) {
        error_ = error;
        return -1;
    }
    devices_.push_back(std::move(d));
    return static_cast<int>(devices_.size() - 1);
}

bool EmulatedUsb::replug(size_t i) {
    Device& d = *devices_.at(i);
    std::string error;
    if (d.usb) {
        d.usb->unplug();
        if (d.usb->plug(error)) return true;
    } else {
        d.node->unplug();
        if (d.node->plug(error)) return true;
    }
    error_ = error;
    return false;
}

}  // namespace emulator
