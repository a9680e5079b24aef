/*
 * BirdFile.h - a BIRD firmware file held in memory.
 *
 * A BIRD file is a six-byte header ("bird" and a format version) followed by
 * one zlib stream. The inflated body is a block count, the blocks (type and
 * flags byte, big-endian length, data) and a checksum. A BirdFile owns the one
 * inflated buffer; every block is a view into it, so the in-place edits
 * (personalisation, descrambling) are what gets sent to the device.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

constexpr uint32_t BIRD_FILE_SIGNATURE = 0x62697264;  // "bird"
constexpr uint16_t BIRD_FILE_VERSION = 0x0101;
constexpr uint8_t BIRD_FILE_TYPE_MASK = 0x1F;
constexpr uint8_t BIRD_FILE_FLAG_MASK = 0xE0;

/* Size of the outer header: signature and format version. */
constexpr size_t BIRD_FILE_HEADER_SIZE = 6;
/* Size of the information block and of each of its four text fields. */
constexpr size_t BIRD_INFO_BLOCK_SIZE = 64;
constexpr size_t BIRD_INFO_FIELD_SIZE = 16;
/* The inflated body may be at most this many times the compressed body. */
constexpr size_t BIRD_INFLATE_RATIO = 8;

enum BLOCK_TYPE : uint8_t {
    BLOCK_TYPE_LOADER = 0,
    BLOCK_TYPE_FIRMWARE = 1,
    BLOCK_TYPE_SERIAL_OFFSETS = 2,
    BLOCK_TYPE_INFO = 4,
    BLOCK_TYPE_LOADER_START = 5,
};

/* One block of the inflated body; data points into the owning BirdFile. */
struct BirdBlock {
    uint8_t type = 0;
    uint8_t flags = 0;
    uint32_t length = 0;
    uint32_t loadAddress = 0;
    uint8_t* data = nullptr;
};

class BirdFile {
public:
    BirdFile();
    /* Loads the file; throws std::runtime_error("Failed to load bird data"). */
    explicit BirdFile(const std::string& path);
    ~BirdFile();

    BirdFile(BirdFile&& other) noexcept;
    BirdFile& operator=(BirdFile&& other) noexcept;
    BirdFile(const BirdFile&) = delete;
    BirdFile& operator=(const BirdFile&) = delete;

    /* Cheap recognition test: "bird" and two non-zero version bytes. */
    static bool VerifyFile(const std::string& path);

    bool Load(const std::string& path);

    /* The same checks for bytes in memory (a download before it is stored);
     * name stands in for the path in log lines and GetPath. */
    static bool VerifyData(const uint8_t* bytes, size_t size);
    bool LoadFromMemory(const uint8_t* bytes, size_t size, const std::string& name);

    std::vector<BirdBlock> FindBlocks(uint8_t type) const;

    uint32_t GetBuild() const;
    std::string GetVersion() const;
    uint32_t GetSerialNumber() const;
    /* Model name of the information block with trailing spaces removed. */
    std::string GetModel() const;
    bool HasInfoBlock() const { return FirstBlock(BLOCK_TYPE_INFO) != nullptr; }

    bool ValidateSerialNumber(uint32_t serialNumber) const;
    bool ValidateModel(const std::string& model) const;
    bool ReplaceSerialNumber(uint32_t serialNumber);
    bool DecodeFirmwareBlocks(const uint32_t key[4]);
    void DumpBlocks(uint8_t type) const;
    bool ValidateData(const uint8_t* pattern, size_t length) const;

    const std::string& GetPath() const { return path_; }
    uint32_t GetSignature() const { return signature_; }
    uint16_t GetFormatVersion() const { return version_; }
    uint32_t GetChecksum() const { return checksum_; }
    uint32_t GetBlockCount() const { return blockCount_; }
    const std::vector<BirdBlock>& GetBlocks() const { return blocks_; }
    bool HasSerialOffsets() const { return hasSerialOffsets_; }
    uint32_t GetSerialNumberAddress() const { return serialNumberAddress_; }
    uint32_t GetDescriptorAddress() const { return descriptorAddress_; }
    const uint8_t* GetData() const { return data_.get(); }
    size_t GetDataLength() const { return dataLength_; }

    /* Why the last Load failed; empty after a successful one. */
    const std::string& GetLoadError() const { return loadError_; }
    /* The block scan's mismatch, empty when the body scanned cleanly. The
     * load still succeeds with a mismatch; the parsed blocks stay usable. */
    const std::string& GetScanError() const { return scanError_; }

private:
    struct BufferRelease {
        BufferRelease() noexcept {}
        explicit BufferRelease(size_t bytes) noexcept : capacity(bytes) {}
        size_t capacity = 0;
        void operator()(uint8_t* buffer) const;
    };
    using Buffer = std::unique_ptr<uint8_t, BufferRelease>;

    void Reset();
    bool Fail(const std::string& why);
    /* Hands out the next piece of the body; false when it cannot (it has
     * said why). */
    using BodySource = std::function<bool(const uint8_t*& chunk, size_t& length)>;
    bool LoadParts(const uint8_t* header, size_t bodyLength, const BodySource& source);
    bool DecompressData(size_t bodyLength, const BodySource& source);
    bool ScanBlocks(const uint8_t* data, size_t length);
    void FindSerialNumberOffsets();
    void LogInfoFields(const BirdBlock& block) const;
    const BirdBlock* FirstBlock(uint8_t type) const;
    std::string InfoField(size_t offset, size_t width) const;
    void Swap(BirdFile& other) noexcept;

    std::string path_;
    uint32_t signature_ = 0;
    uint16_t version_ = 0;
    uint32_t checksum_ = 0;
    uint32_t blockCount_ = 0;
    std::vector<BirdBlock> blocks_;
    bool hasSerialOffsets_ = false;
    uint32_t serialNumberAddress_ = 0;
    uint32_t descriptorAddress_ = 0;
    Buffer data_;
    size_t dataLength_ = 0;
    std::string loadError_;
    std::string scanError_;
};
