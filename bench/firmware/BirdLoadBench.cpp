// Loading a BIRD file whose firmware inflates to 32 MiB, against zlib's own
// one-shot uncompress of the same body in the same run. The goal is a load
// within 1.25 times zlib's time; the ratios are printed at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "firmware/BirdFile.h"
#include "tools/birdtool/BirdWriter.h"

namespace {

constexpr size_t kFirmwareSize = 32u << 20;

// The same file as
//   birdtool pack -o FILE --info 1234,2.12.2,40F5849A,QCHUB8 --firmware gen:32M@0x08004000
struct BenchFile {
    BenchFile() {
        const char* base = getenv("TMPDIR");
        path =
            std::string(base && base[0] ? base : "/tmp") + "/qc-bench-" + std::to_string(getpid()) + ".bird";
        BirdWriter writer;
        writer.AddInfoText("1234", "2.12.2", "40F5849A", "QCHUB8");
        writer.AddFirmware(0x08004000, BirdWriter_SyntheticImage(kFirmwareSize));
        inflatedSize = writer.Body().size();
        if (!writer.Write(path)) abort();
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ~BenchFile() { unlink(path.c_str()); }

    std::string path;
    std::vector<uint8_t> bytes;
    size_t inflatedSize = 0;
};

BenchFile& File() {
    static BenchFile file;
    return file;
}

void BM_BirdFileLoad(benchmark::State& state) {
    BenchFile& file = File();
    for (auto _ : state) {
        BirdFile bird;
        if (!bird.Load(file.path) || bird.GetDataLength() != file.inflatedSize)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(bird.GetData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.inflatedSize));
    state.counters["file_bytes"] = static_cast<double>(file.bytes.size());
    state.counters["inflated_bytes"] = static_cast<double>(file.inflatedSize);
}

// zlib alone: the body already in memory, a fresh output buffer of exactly
// the inflated size per run (as a load needs one), one uncompress call.
void BM_ZlibUncompress(benchmark::State& state) {
    BenchFile& file = File();
    const Bytef* body = file.bytes.data() + BIRD_FILE_HEADER_SIZE;
    const uLong bodySize = static_cast<uLong>(file.bytes.size() - BIRD_FILE_HEADER_SIZE);
    for (auto _ : state) {
        std::unique_ptr<uint8_t[]> out(new uint8_t[file.inflatedSize]);
        uLongf length = static_cast<uLongf>(file.inflatedSize);
        if (uncompress(out.get(), &length, body, bodySize) != Z_OK) state.SkipWithError("uncompress failed");
        benchmark::DoNotOptimize(out.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.inflatedSize));
}

double ThreadSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Both in turn, timed by this thread's CPU clock, so that a busy machine
// slows both alike; the ratio counter is the figure to read.
void BM_LoadOverZlib(benchmark::State& state) {
    BenchFile& file = File();
    const Bytef* body = file.bytes.data() + BIRD_FILE_HEADER_SIZE;
    const uLong bodySize = static_cast<uLong>(file.bytes.size() - BIRD_FILE_HEADER_SIZE);
    double loadSeconds = 0, zlibSeconds = 0;
    for (auto _ : state) {
        double start = ThreadSeconds();
        {
            std::unique_ptr<uint8_t[]> out(new uint8_t[file.inflatedSize]);
            uLongf length = static_cast<uLongf>(file.inflatedSize);
            if (uncompress(out.get(), &length, body, bodySize) != Z_OK)
                state.SkipWithError("uncompress failed");
            benchmark::DoNotOptimize(out.get());
        }
        double middle = ThreadSeconds();
        {
            BirdFile bird;
            if (!bird.Load(file.path)) state.SkipWithError("load failed");
            benchmark::DoNotOptimize(bird.GetData());
        }
        double end = ThreadSeconds();
        zlibSeconds += middle - start;
        loadSeconds += end - middle;
    }
    state.counters["zlib_ms"] =
        benchmark::Counter(zlibSeconds * 1e3 / static_cast<double>(state.iterations()));
    state.counters["load_ms"] =
        benchmark::Counter(loadSeconds * 1e3 / static_cast<double>(state.iterations()));
    state.counters["ratio"] = benchmark::Counter(zlibSeconds > 0 ? loadSeconds / zlibSeconds : 0);
}

BENCHMARK(BM_ZlibUncompress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BirdFileLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadOverZlib)->Unit(benchmark::kMillisecond);

// Prints the load's time over zlib's at the end (means when repeated).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            std::string name = run.run_name.function_name;
            auto ratio = run.counters.find("ratio");
            if (ratio != run.counters.end() &&
                (run.run_type == Run::RT_Iteration || run.aggregate_name == "mean"))
                ratio_ = ratio->second.value;
            if (run.run_type == Run::RT_Iteration && !means_.count(name))
                times_[name] = run.GetAdjustedCPUTime();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean") {
                times_[name] = run.GetAdjustedCPUTime();
                means_[name] = true;
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        auto load = times_.find("BM_BirdFileLoad"), zlib = times_.find("BM_ZlibUncompress");
        if (load != times_.end() && zlib != times_.end() && zlib->second > 0)
            printf("BirdFile::Load / zlib uncompress, CPU time of the separate runs = %.3f\n",
                   load->second / zlib->second);
        if (ratio_ > 0)
            printf("BirdFile::Load / zlib uncompress, interleaved = %.3f (goal <= 1.25)\n", ratio_);
    }

private:
    std::map<std::string, double> times_;
    std::map<std::string, bool> means_;
    double ratio_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
