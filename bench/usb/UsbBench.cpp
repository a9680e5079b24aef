/*
 * USB links to an emulated device in this process (umockdev testbed, the
 * real libusb):
 *   ModuleQueryRoundTrip  a module query (build number) and its reply through
 *                         the link engine; median and p99 in microseconds.
 *                         Arg 0: USB through libusb, 1: the kernel node.
 *                         The emulation dominates this figure: every usbfs
 *                         ioctl is a message to umockdev's worker thread.
 *   DestroyUsbLink        time aLink_Destroy takes on a running link whose
 *                         input thread waits for a quiet device (goal: at
 *                         most 100 ms although a read may wait 1000 ms)
 *   IdleCpu               CPU of this process over 5 s with one idle USB link
 *                         (the emulation's threads included; heartbeats every second)
 */
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "bench/support/LinkMeasures.h"
#include "common/aLink.h"
#include "common/aUEI.h"
#include "tools/emulator/EmulatedUsb.h"

namespace {

using namespace emulator;
using linkbench::Clock;
using linkbench::Percentile;

constexpr uint32_t kSerial = 0x40F5849A;

uint8_t IsBuildReply(const aPacket* p, void*) {
    return p->length == 6 && p->data[0] == cmdMODULE && p->data[1] == 0xFF;
}

EmulatedDevice Device(bool kernelNode, uint32_t heartbeatMs = 0) {
    return kernelNode ? KernelNodeDevice(kSerial, 19, heartbeatMs) : UsbDevice(kSerial, 19, heartbeatMs);
}

void ModuleQueryRoundTrip(benchmark::State& state) {
    EmulatedUsb usb({Device(state.range(0) != 0)});
    uint32_t id = usb.ok() ? aLink_CreateUSB(kSerial) : 0;
    if (!id) {
        state.SkipWithError("no link");
        return;
    }
    const uint8_t request[2] = {cmdMODULE, 0xFF};
    linkbench::RoundTrips(state, id, request, sizeof(request), IsBuildReply);
    aLink_Destroy(id);
}
BENCHMARK(ModuleQueryRoundTrip)
    ->ArgName("node")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);

void DestroyUsbLink(benchmark::State& state) {
    EmulatedUsb usb({Device(state.range(0) != 0, 1000)});
    linkbench::Destroys(state, [&] { return usb.ok() ? aLink_CreateUSB(kSerial) : 0u; });
}
BENCHMARK(DestroyUsbLink)
    ->ArgName("node")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(50)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void IdleCpu(benchmark::State& state) {
    EmulatedUsb usb({Device(false, 1000)});
    uint32_t id = usb.ok() ? aLink_CreateUSB(kSerial) : 0;
    if (!id) {
        state.SkipWithError("no link");
        return;
    }
    linkbench::IdleCpu(state, [&] { return usb.model(0).snapshot().heartbeatAnswers; });
    aLink_Destroy(id);
}
BENCHMARK(IdleCpu)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
