/*
 * The link over TCP loopback to the emulator (in this process):
 *   EchoRoundTrip   request/reply of the 0x17 echo through the link engine
 *                   (median and p99 in microseconds)
 *   OneWay          28-byte packets per second to the device, pooling off/on
 *   IdleCpu         CPU of this process over 5 s with one connected, idle link
 *                   (the emulator's thread included; heartbeats every second)
 *   DestroyTcpLink  time aLink_Destroy takes on a running TCP link
 */
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/LinkMeasures.h"
#include "common/aLink.h"
#include "tools/emulator/TcpTransport.h"

namespace {

using namespace emulator;
using linkbench::Clock;
using linkbench::Percentile;

struct Device {
    explicit Device(uint32_t heartbeatMs) {
        static uint32_t serial = 0x5000;
        identity.serialNumber = ++serial;
        identity.heartbeatMs = heartbeatMs;
        model = std::make_unique<DeviceModel>(identity);
        transport = std::make_unique<TcpTransport>(*model);
        std::string error;
        if (!transport->start(0, error)) abort();
    }
    uint32_t connect() const {
        return aLink_CreateTCPIP(identity.serialNumber, TcpTransport::loopbackAddress(), transport->port());
    }
    DeviceIdentity identity;
    std::unique_ptr<DeviceModel> model;
    std::unique_ptr<TcpTransport> transport;
};

uint8_t IsEcho(const aPacket* p, void*) { return p->length && p->data[0] == cmdDEBUG; }

void EchoRoundTrip(benchmark::State& state) {
    Device device(0);
    uint32_t id = device.connect();
    const uint8_t request[4] = {cmdDEBUG, 1, 2, 3};
    linkbench::RoundTrips(state, id, request, sizeof(request), IsEcho);
    aLink_Destroy(id);
}
BENCHMARK(EchoRoundTrip)->Iterations(20000)->Unit(benchmark::kMicrosecond);

void OneWay(benchmark::State& state) {
    Device device(0);
    uint32_t id = device.connect();
    aLink_EnablePooledPackets(id, state.range(0) != 0);
    uint8_t data[28] = {0x7E};  // a command the device does not answer
    aPacket* p = aPacket_CreateWithData(2, sizeof(data), data);
    const uint64_t count = 100000, window = 500;  // stays far below the FIFO's 1000
    for (auto _ : state) {
        uint64_t base = device.model->snapshot().packetsReceived, sent = 0, received = 0;
        auto start = Clock::now();
        while (received < count) {
            while (sent < count && sent - received < window) {
                aLink_PutPacket(id, p);
                sent++;
            }
            std::this_thread::yield();
            received = device.model->snapshot().packetsReceived - base;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        state.counters["packets_per_s"] =
            benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsRate);
    }
    aPacket_Destroy(p);
    aLink_Destroy(id);
}
BENCHMARK(OneWay)->ArgName("pooled")->Arg(0)->Arg(1)->Iterations(3)->UseManualTime()->Unit(
    benchmark::kMillisecond);

void IdleCpu(benchmark::State& state) {
    Device device(1000);
    uint32_t id = device.connect();
    linkbench::IdleCpu(state, [&] { return device.model->snapshot().heartbeatAnswers; });
    aLink_Destroy(id);
}
BENCHMARK(IdleCpu)->Iterations(1)->Unit(benchmark::kSecond);

void DestroyTcpLink(benchmark::State& state) {
    Device device(1000);
    linkbench::Destroys(state, [&] { return device.connect(); });
}
BENCHMARK(DestroyTcpLink)->Iterations(50)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
