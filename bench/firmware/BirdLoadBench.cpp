// Loading a BIRD file whose firmware inflates to 32 MiB, against zlib's own
// one-shot uncompress of the same body in the same run. The goal is a load
// within 1.25 times zlib's time; the ratio is printed at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
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

BENCHMARK(BM_ZlibUncompress)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BirdFileLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints the load's time over zlib's at the end (means when repeated).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            std::string name = run.run_name.function_name;
            if (run.run_type == Run::RT_Iteration && !means_.count(name))
                times_[name] = run.GetAdjustedRealTime();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean") {
                times_[name] = run.GetAdjustedRealTime();
                means_[name] = true;
            }
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        auto load = times_.find("BM_BirdFileLoad"), zlib = times_.find("BM_ZlibUncompress");
        if (load == times_.end() || zlib == times_.end() || zlib->second <= 0) return;
        printf("BirdFile::Load / zlib uncompress = %.3f (goal <= 1.25)\n", load->second / zlib->second);
    }

private:
    std::map<std::string, double> times_;
    std::map<std::string, bool> means_;
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
