/*
 * FuzzTargets.h - the one harness shape of the firmware parsers' fuzz
 * targets. Both parsers read files by path, so every input is written to one
 * scratch file and the path handed to a target function; the regression test
 * runs the same functions over the inputs that once broke them.
 */
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/UpdaterDisplay.h"
#include "firmware/BirdFile.h"
#include "firmware/BirdSummary.h"
#include "firmware/KeyValueStore.h"

namespace fuzz {

/* A scratch file per process, in memory when /dev/shm is there. */
class ScratchFile {
public:
    explicit ScratchFile(const char* name) {
        const char* base =
            access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
        path_ = std::string(base) + "/qc-fuzz-" + std::to_string(getpid()) + "-" + name;
    }
    ~ScratchFile() { unlink(path_.c_str()); }
    const std::string& Write(const uint8_t* data, size_t size) {
        FILE* f = fopen(path_.c_str(), "wb");
        if (f) {
            if (size) fwrite(data, 1, size, f);
            fclose(f);
        }
        return path_;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class SilentDisplay : public UpdaterDisplayInterface {
public:
    void display_progress(bool) override {}
    void update_progress(double, char const*) override {}
    void update_spinner(bool, char const*) override {}
    void info_message(char const*) override {}
    void error_message(char const*) override {}
};

/* Reads every byte a block view claims, so a view past the data is caught. */
inline unsigned Touch(const BirdFile& bird) {
    unsigned sum = 0;
    for (const BirdBlock& block : bird.GetBlocks())
        for (uint32_t i = 0; i < block.length; ++i) sum += block.data[i];
    return sum;
}

/* The BIRD loader and every query and edit the update flows make. */
inline void BirdLoader(const std::string& path, const uint8_t* bytes, size_t size) {
    BirdFile::VerifyFile(path);
    BirdFile::VerifyData(bytes, size);
    BirdFile bird, fromMemory;
    const bool loaded = bird.Load(path);
    // The file streams through inflate in reads; memory in one piece: the same result.
    if (fromMemory.LoadFromMemory(bytes, size, path) != loaded) abort();
    if (!loaded) return;
    if (fromMemory.GetDataLength() != bird.GetDataLength() ||
        memcmp(fromMemory.GetData(), bird.GetData(), bird.GetDataLength()) != 0 ||
        fromMemory.GetBlockCount() != bird.GetBlockCount()) {
        abort();
    }
    volatile unsigned sink = Touch(bird);
    sink = sink + bird.GetBuild() + bird.GetSerialNumber() + static_cast<unsigned>(bird.GetVersion().size());
    bird.ValidateModel("QCHUB");
    bird.ValidateModel(bird.GetModel() + "X");
    bird.ValidateSerialNumber(0x40F5849A);
    for (uint8_t type = 0; type < 8; ++type)
        sink = sink + static_cast<unsigned>(bird.FindBlocks(type).size());
    bird.ReplaceSerialNumber(0x40F5849A);
    const uint32_t key[4] = {0x01234567, 0x89ABCDEF, 0xFEDCBA98, 0x76543210};
    bird.DecodeFirmwareBlocks(key);
    const uint8_t pattern[] = {0x9A, 0x84, 0xF5, 0x40};
    bird.ValidateData(pattern, sizeof(pattern));
    BirdFile moved(std::move(bird));
    sink = sink + Touch(moved);
    SilentDisplay display;
    PrintBirdSummary(path, display);
}

/* Inputs that do not start with "bird" are taken as an inflated body and
 * wrapped in a stored (uncompressed) zlib stream, so the fuzzer reaches the
 * block scan instead of spending itself on the deflate format. */
std::vector<uint8_t> WrapBody(const uint8_t* data, size_t size);

/* The attribute parser, the typed getters and a save. */
inline void Attributes(const std::string& path, const std::string& savePath) {
    KeyValueStore store(path);
    std::vector<std::string> keys;
    for (const auto& entry : store.Entries()) keys.push_back(entry.first);
    for (const std::string& key : keys) {
        store.GetInt(key, 1);
        store.GetHex(key, 2);
        store.GetBOOL(key, true);
        store.GetDouble(key, 0.5);
        store.GetString(key);
    }
    store.GetInt("LATEST_DOWNLOAD", 0);
    store.Add("LATEST_TRANSFER", "1234.bird");
    store.Save(savePath);
    KeyValueStore again(savePath);
}

}  // namespace fuzz
