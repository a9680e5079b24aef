/*
 * LinkMeasures.h - what the link benchmarks measure alike, whatever the
 * transport: request/reply round trips and the time to destroy a running link.
 */
#pragma once

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "common/aLink.h"
#include "common/aPacket.h"

namespace linkbench {

using Clock = std::chrono::steady_clock;

inline double Percentile(std::vector<double>& v, double q) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

/* Sends the request to module 2 once per iteration and waits for the reply
 * the filter accepts; reports median and p99 in microseconds. */
inline void RoundTrips(benchmark::State& state, uint32_t id, const uint8_t* request, uint8_t length,
                       aPacketFilter filter) {
    aPacket* p = aPacket_CreateWithData(2, length, request);
    std::vector<double> us;
    for (auto _ : state) {
        auto start = Clock::now();
        aLink_PutPacket(id, p);
        aPacket* reply = aLink_AwaitFirst(id, filter, nullptr, 1000);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        if (!reply) state.SkipWithError("no reply");
        aPacket_Destroy(reply);
    }
    state.counters["median_us"] = Percentile(us, 0.5);
    state.counters["p99_us"] = Percentile(us, 0.99);
    aPacket_Destroy(p);
}

/* Times aLink_Destroy of a link that connect() made and that has settled
 * into its waits; connect() returns 0 when it cannot. */
inline void Destroys(benchmark::State& state, const std::function<uint32_t()>& connect) {
    std::vector<double> ms;
    for (auto _ : state) {
        uint32_t id = connect();
        if (!id) {
            state.SkipWithError("no link");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // both threads settled in their waits
        auto start = Clock::now();
        aLink_Destroy(id);
        double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(elapsed);
        ms.push_back(elapsed * 1000);
    }
    state.counters["median_ms"] = Percentile(ms, 0.5);
    state.counters["max_ms"] = ms.back();
}

inline double CpuSeconds() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

/* CPU this process spends over 5 s while its link idles; heartbeats() tells
 * how many heartbeats the device saw answered meanwhile. */
inline void IdleCpu(benchmark::State& state, const std::function<uint64_t()>& heartbeats) {
    for (auto _ : state) {
        double cpu = CpuSeconds();
        auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        double wall = std::chrono::duration<double>(Clock::now() - start).count();
        state.counters["cpu_percent_of_core"] = 100.0 * (CpuSeconds() - cpu) / wall;
        state.counters["heartbeats_answered"] = static_cast<double>(heartbeats());
    }
}

}  // namespace linkbench
