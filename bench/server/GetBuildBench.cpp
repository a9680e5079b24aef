// GetBuild plus Base64 decoding of one build from a running mirror, the
// in-process share of a firmware download: whole (the body kept, then
// decoded) and streamed (decoded while it arrives). The mirror and the build come from
// the environment (bench/server/download.sh sets them):
//   QC_BENCH_URL, QC_BENCH_SERIAL (hex), QC_BENCH_BUILD, QC_BENCH_FIRMWARE
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <string>

#include "server/UpdateServerRequest.h"

namespace {

std::string Env(const char* name, const char* fallback) {
    const char* value = getenv(name);
    return value ? value : fallback;
}

/* The build to fetch, as bench/server/download.sh names it. */
struct Request {
    std::string url = Env("QC_BENCH_URL", "");
    uint32_t serial = static_cast<uint32_t>(strtoul(Env("QC_BENCH_SERIAL", "0000ABCD").c_str(), nullptr, 16));
    std::string build = Env("QC_BENCH_BUILD", "1000");
    std::string firmware = Env("QC_BENCH_FIRMWARE", "quillcore");
};

void BM_GetBuildDecode(benchmark::State& state) {
    const Request r;
    if (r.url.empty()) {
        state.SkipWithError("QC_BENCH_URL is not set");
        return;
    }
    size_t textSize = 0;
    for (auto _ : state) {
        std::string text;
        if (!UpdateServerRequest::GetBuild(r.serial, r.firmware, r.build, text, r.url)) {
            state.SkipWithError("GetBuild failed");
            return;
        }
        size_t length = 0;
        auto bytes = UpdateServerRequest::base64_decode(text.data(), text.size(), length);
        if (!bytes) {
            state.SkipWithError("Base64 text did not decode");
            return;
        }
        textSize = text.size();
        benchmark::DoNotOptimize(bytes.get());
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["base64_MiB"] = static_cast<double>(textSize) / (1 << 20);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * textSize));
}

/* Counts the decoded bytes and keeps none, like a sink that writes them on. */
class CountedBuild : public UpdateServerRequest::BuildSink {
public:
    void Bytes(const uint8_t* data, size_t length) override {
        benchmark::DoNotOptimize(data);
        count += length;
    }
    size_t count = 0;
};

void BM_GetBuildStream(benchmark::State& state) {
    const Request r;
    if (r.url.empty()) {
        state.SkipWithError("QC_BENCH_URL is not set");
        return;
    }
    size_t textSize = 0;
    for (auto _ : state) {
        CountedBuild sink;
        UpdateServerRequest::BuildText text;
        if (!UpdateServerRequest::GetBuild(r.serial, r.firmware, r.build, sink, text, r.url) || !text.valid) {
            state.SkipWithError("GetBuild failed");
            return;
        }
        textSize = text.length;
    }
    state.counters["base64_MiB"] = static_cast<double>(textSize) / (1 << 20);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * textSize));
}

}  // namespace

BENCHMARK(BM_GetBuildDecode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GetBuildStream)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
