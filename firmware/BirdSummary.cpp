#include "firmware/BirdSummary.h"

#include "common/aFile.h"
#include "firmware/BirdFile.h"

namespace {

constexpr int INFO = UpdaterDisplayInterface::INFO;

bool _fail(UpdaterDisplayInterface& display, const std::string& why) {
    display.message(UpdaterDisplayInterface::ERROR, "Check failed: %s", why.c_str());
    return false;
}

std::string _hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

void _print_info(const BirdFile& bird, UpdaterDisplayInterface& display) {
    if (!bird.HasInfoBlock()) {
        display.message(INFO, "Build: (no information block)");
        display.message(INFO, "Version: (no information block)");
        display.message(INFO, "Serial number: (no information block)");
        display.message(INFO, "Model: (no information block)");
        return;
    }
    display.message(INFO, "Build: %u", bird.GetBuild());
    display.message(INFO, "Version: %s", bird.GetVersion().c_str());
    display.message(INFO, "Serial number: %08X", bird.GetSerialNumber());
    display.message(INFO, "Model: %s", bird.GetModel().c_str());
}

void _print_blocks(const BirdFile& bird, UpdaterDisplayInterface& display) {
    display.message(INFO, "Blocks: %u", bird.GetBlockCount());
    display.message(INFO, "%-6s %-15s %-6s %-11s %s", "Index", "Type", "Flags", "Length", "Load address");
    unsigned index = 0;
    for (const BirdBlock& block : bird.GetBlocks()) {
        bool image = block.type == BLOCK_TYPE_LOADER || block.type == BLOCK_TYPE_FIRMWARE;
        display.message(INFO, "%-6u %-15s %-6u %-11u %s", index++, BirdBlockTypeName(block.type), block.flags,
                        block.length, image ? _hex(block.loadAddress).c_str() : "-");
    }
}

}  // namespace

const char* BirdBlockTypeName(uint8_t type) {
    switch (type) {
        case BLOCK_TYPE_LOADER: return "LOADER";
        case BLOCK_TYPE_FIRMWARE: return "FIRMWARE";
        case BLOCK_TYPE_SERIAL_OFFSETS: return "SERIAL_OFFSETS";
        case BLOCK_TYPE_INFO: return "INFO";
        case BLOCK_TYPE_LOADER_START: return "LOADER_START";
        default: return "UNKNOWN";
    }
}

bool PrintBirdSummary(const std::string& path, UpdaterDisplayInterface& display) {
    display.message(INFO, "File: %s", path.c_str());
    if (!aFile_Exists(path.c_str())) return _fail(display, "file not found");
    if (!BirdFile::VerifyFile(path))
        return _fail(display, "not a BIRD file (it must begin with \"bird\" and two non-zero version bytes)");

    BirdFile bird;
    bool loaded = bird.Load(path);
    const uint16_t version = bird.GetFormatVersion();
    display.message(INFO, "Format version: %u.%u (0x%04X)", version >> 8, version & 0xFFu, version);
    if (!loaded) return _fail(display, "cannot load the file: " + bird.GetLoadError());

    _print_info(bird, display);
    const char* none = "(no serial-offsets block)";
    display.message(INFO, "Serial number address: %s",
                    bird.HasSerialOffsets() ? _hex(bird.GetSerialNumberAddress()).c_str() : none);
    display.message(INFO, "Descriptor address: %s",
                    bird.HasSerialOffsets() ? _hex(bird.GetDescriptorAddress()).c_str() : none);
    _print_blocks(bird, display);
    if (!bird.GetScanError().empty()) return _fail(display, "block scan mismatch: " + bird.GetScanError());
    display.message(INFO, "Check passed");
    return true;
}
