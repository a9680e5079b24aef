/*
 * KernelNodeTransport.h - serves a DeviceModel on the node the family's
 * kernel driver makes, "/dev/quillcore.SSSSSSSS", inside a UsbTestbed: a raw
 * pty whose slave is the node and whose master this transport reads and
 * writes. One thread of its own, joined by unplug() or the destructor.
 */
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "tools/emulator/DeviceModel.h"
#include "tools/emulator/UsbTestbed.h"

namespace emulator {

class KernelNodeTransport {
public:
    KernelNodeTransport(UsbTestbed& testbed, DeviceModel& model) : testbed_(testbed), model_(model) {}
    ~KernelNodeTransport() { unplug(); }
    KernelNodeTransport(const KernelNodeTransport&) = delete;
    KernelNodeTransport& operator=(const KernelNodeTransport&) = delete;

    /* Makes the node and serves it; false with a message. */
    bool plug(std::string& error);
    /* Removes the node; a host that has it open reads an error from then on. */
    void unplug();
    bool plugged() const { return thread_.joinable(); }
    /* "/dev/quillcore.SSSSSSSS" */
    std::string path() const;
    uint64_t bytesFromHost() const { return bytesFromHost_; }

private:
    void run();

    UsbTestbed& testbed_;
    DeviceModel& model_;
    PtyPair pty_;
    int wakeFd_ = -1;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> bytesFromHost_{0};
};

}  // namespace emulator
