#include "tools/birdtool/BirdWriter.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "firmware/AtomicFile.h"
#include "firmware/BirdFile.h"

namespace {

void _put_be32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void _put_field(std::vector<uint8_t>& out, const std::string& text) {
    std::string field = text.substr(0, BIRD_INFO_FIELD_SIZE);
    field.resize(BIRD_INFO_FIELD_SIZE, ' ');
    out.insert(out.end(), field.begin(), field.end());
}

}  // namespace

void BirdWriter::AddBlock(uint8_t type, uint8_t flags, std::vector<uint8_t> data) {
    blocks.push_back({type, flags, std::move(data)});
}

void BirdWriter::AddImage(uint8_t type, uint8_t flags, uint32_t loadAddress,
                          const std::vector<uint8_t>& image) {
    std::vector<uint8_t> data;
    data.reserve(image.size() + 4);
    _put_be32(data, loadAddress);
    data.insert(data.end(), image.begin(), image.end());
    AddBlock(type, flags, std::move(data));
}

void BirdWriter::AddLoader(uint32_t loadAddress, const std::vector<uint8_t>& image, uint8_t flags) {
    AddImage(BLOCK_TYPE_LOADER, flags, loadAddress, image);
}

void BirdWriter::AddFirmware(uint32_t loadAddress, const std::vector<uint8_t>& image, uint8_t flags) {
    AddImage(BLOCK_TYPE_FIRMWARE, flags, loadAddress, image);
}

void BirdWriter::AddInfoText(const std::string& build, const std::string& version, const std::string& serial,
                             const std::string& model) {
    std::vector<uint8_t> data;
    for (const std::string* text : {&build, &version, &serial, &model}) _put_field(data, *text);
    AddBlock(BLOCK_TYPE_INFO, 0, std::move(data));
}

void BirdWriter::AddInfo(uint32_t build, const std::string& version, uint32_t serialNumber,
                         const std::string& model) {
    char serial[9];
    snprintf(serial, sizeof(serial), "%08X", serialNumber);
    AddInfoText(std::to_string(build), version, serial, model);
}

void BirdWriter::AddSerialOffsets(uint32_t serialNumberAddress, uint32_t descriptorAddress) {
    std::vector<uint8_t> data;
    _put_be32(data, serialNumberAddress);
    _put_be32(data, descriptorAddress);
    AddBlock(BLOCK_TYPE_SERIAL_OFFSETS, 0, std::move(data));
}

void BirdWriter::AddLoaderStart(uint32_t address) {
    std::vector<uint8_t> data;
    _put_be32(data, address);
    AddBlock(BLOCK_TYPE_LOADER_START, 0, std::move(data));
}

void BirdWriter::ScrambleFirmware(const uint32_t key[4]) {
    for (BirdWriterBlock& block : blocks)
        if (block.type == BLOCK_TYPE_FIRMWARE && block.data.size() > 4)
            BirdWriter_Scramble(block.data.data() + 4, block.data.size() - 4, key);
}

std::vector<uint8_t> BirdWriter::Body() const {
    std::vector<uint8_t> body;
    size_t total = 8 + trailingBytes;
    for (const BirdWriterBlock& block : blocks) total += 5 + block.data.size();
    body.reserve(total);
    _put_be32(body, announcedCount.value_or(static_cast<uint32_t>(blocks.size())));
    for (size_t i = 0; i < blocks.size(); ++i) {
        const BirdWriterBlock& block = blocks[i];
        uint32_t length = static_cast<uint32_t>(block.data.size());
        if (i + 1 == blocks.size()) length += overlongLast;
        body.push_back(static_cast<uint8_t>((block.type & BIRD_FILE_TYPE_MASK) | (block.flags & 7) << 5));
        _put_be32(body, length);
        body.insert(body.end(), block.data.begin(), block.data.end());
    }
    uint32_t sum = checksum.value_or(
        static_cast<uint32_t>(crc32(crc32(0, nullptr, 0), body.data(), static_cast<uInt>(body.size()))));
    _put_be32(body, sum);
    body.resize(body.size() + trailingBytes, 0);
    return body;
}

std::vector<uint8_t> BirdWriter::File() const {
    std::vector<uint8_t> file(signature.begin(), signature.end());
    file.push_back(static_cast<uint8_t>(formatVersion >> 8));
    file.push_back(static_cast<uint8_t>(formatVersion));
    std::vector<uint8_t> compressed = BirdWriter_Compress(Body(), level);
    compressed.resize(compressed.size() - std::min(truncateBody, compressed.size()));
    file.insert(file.end(), compressed.begin(), compressed.end());
    return file;
}

bool BirdWriter::Write(const std::string& path) const {
    std::vector<uint8_t> file = File();
    return AtomicFile_Write(path, file.data(), file.size()) == aErrNone;
}

std::vector<uint8_t> BirdWriter_Compress(const std::vector<uint8_t>& data, int level) {
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(length);
    if (compress2(out.data(), &length, data.data(), static_cast<uLong>(data.size()), level) != Z_OK)
        throw std::runtime_error("compress2 failed");
    out.resize(length);
    return out;
}

std::vector<uint8_t> BirdWriter_SyntheticImage(size_t size, uint32_t seed) {
    // A small vocabulary of instruction-like words with literals between
    // them, so the image compresses about as well as real firmware.
    uint32_t state = seed * 2654435761u + 0x9E3779B9u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    uint32_t vocabulary[64];
    for (uint32_t& word : vocabulary) word = next();
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < size; i += 4) {
        uint32_t choice = next();
        uint32_t word = (choice & 3) == 0 ? next() : vocabulary[(choice >> 2) & 63];
        for (size_t b = 0; b < 4 && i + b < size; ++b) image[i + b] = static_cast<uint8_t>(word >> (8 * b));
    }
    return image;
}

std::vector<uint8_t> BirdWriter_NoiseImage(size_t size, uint32_t seed) {
    std::vector<uint8_t> image(size);
    uint64_t state = seed * 6364136223846793005ull + 1442695040888963407ull;
    for (uint8_t& byte : image) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        byte = static_cast<uint8_t>(state >> 56);
    }
    return image;
}

std::string BirdWriter_SimpleFile(uint32_t build, const std::string& version, uint32_t serialNumber,
                                  const std::string& model, size_t imageSize) {
    BirdWriter writer;
    writer.AddInfo(build, version, serialNumber, model);
    writer.AddFirmware(0x00010000, BirdWriter_NoiseImage(imageSize, build));
    std::vector<uint8_t> file = writer.File();
    return std::string(file.begin(), file.end());
}

void BirdWriter_Scramble(uint8_t* image, size_t length, const uint32_t key[4]) {
    uint8_t stream[16];
    for (int w = 0; w < 4; ++w)
        for (int b = 0; b < 4; ++b) stream[4 * w + b] = static_cast<uint8_t>(key[w] >> (24 - 8 * b));
    uint8_t previous = 0;
    for (size_t i = 0; i < length; ++i) {
        uint8_t plain = image[i];
        image[i] = plain ^ stream[i % 16] ^ previous;
        previous = plain;
    }
}
