/*
 * BirdWriter.h - writes BIRD files: the peer of the firmware loader, used by
 * birdtool, the tests, the fuzz seeds and the benchmarks. Besides well-formed
 * files it can make the malformed ones a loader must survive (a wrong block
 * count, bytes after the checksum, a cut body, a block longer than the data).
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct BirdWriterBlock {
    uint8_t type = 0;
    uint8_t flags = 0;
    std::vector<uint8_t> data;  // as stored: images begin with their load address
};

class BirdWriter {
public:
    void AddBlock(uint8_t type, uint8_t flags, std::vector<uint8_t> data);
    /* A loader or firmware block: big-endian load address, then the image. */
    void AddImage(uint8_t type, uint8_t flags, uint32_t loadAddress, const std::vector<uint8_t>& image);
    void AddLoader(uint32_t loadAddress, const std::vector<uint8_t>& image, uint8_t flags = 0);
    void AddFirmware(uint32_t loadAddress, const std::vector<uint8_t>& image, uint8_t flags = 0);
    /* The 64-byte information block; each text is cut or space-padded to
     * its 16-byte field. */
    void AddInfoText(const std::string& build, const std::string& version, const std::string& serial,
                     const std::string& model);
    void AddInfo(uint32_t build, const std::string& version, uint32_t serialNumber, const std::string& model);
    void AddSerialOffsets(uint32_t serialNumberAddress, uint32_t descriptorAddress);
    void AddLoaderStart(uint32_t address);

    /* Scrambles every firmware image for one chip, as the update server does
     * for recovery images; the loader's descrambling undoes it. */
    void ScrambleFirmware(const uint32_t key[4]);

    /* The inflated body: count, blocks, checksum, trailing bytes. */
    std::vector<uint8_t> Body() const;
    /* The whole file: signature, format version, compressed body. */
    std::vector<uint8_t> File() const;
    /* Writes File() to path; false on failure. */
    bool Write(const std::string& path) const;

    std::vector<BirdWriterBlock> blocks;

    // Header and compression.
    std::string signature = "bird";
    uint16_t formatVersion = 0x0101;
    int level = -1;  // zlib's default

    // Deliberate faults for tests.
    std::optional<uint32_t> announcedCount;  // instead of the real count
    std::optional<uint32_t> checksum;        // instead of the CRC-32 of the body
    size_t trailingBytes = 0;                // zero bytes after the checksum
    size_t truncateBody = 0;                 // bytes cut from the end of the compressed body
    uint32_t overlongLast = 0;               // added to the last block's declared length
};

/* Deterministic firmware-like bytes (compresses roughly three to one). */
std::vector<uint8_t> BirdWriter_SyntheticImage(size_t size, uint32_t seed = 1);

/* Bytes that do not compress, so a file holding them is about as long as they are. */
std::vector<uint8_t> BirdWriter_NoiseImage(size_t size, uint32_t seed = 1);

/* A complete small file: the information block and one noise image at 0x10000. */
std::string BirdWriter_SimpleFile(uint32_t build, const std::string& version, uint32_t serialNumber,
                                  const std::string& model, size_t imageSize);

/* zlib stream of data at a level (-1 default, 0 to 9). */
std::vector<uint8_t> BirdWriter_Compress(const std::vector<uint8_t>& data, int level = -1);

/* stored = plain ^ key[k] ^ previous plain, k running over the 16 key bytes
 * (each word most significant byte first) and starting afresh per image. */
void BirdWriter_Scramble(uint8_t* image, size_t length, const uint32_t key[4]);
