#include "firmware/BirdFile.h"

#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "common/Log.h"
#include "common/aFile.h"

#if defined(__SANITIZE_ADDRESS__)
#define QC_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QC_ASAN 1
#endif
#endif
#ifdef QC_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

constexpr size_t kMinInflateCapacity = 64 * 1024;
constexpr size_t kReadChunk = 1024 * 1024;

/* Reads a file in pieces and remembers how far it got and why it stopped. */
struct FileReader {
    aFileRef file;
    size_t size;
    std::unique_ptr<uint8_t[]> chunk;
    size_t done = 0;
    aErr err = aErrNone;
    bool shortRead = false;

    bool Read(uint8_t* into, size_t want) {
        size_t got = 0;
        if (err == aErrNone) err = aFile_Read(file, into, want, &got);
        done += got;
        shortRead = err == aErrNone && got < want;
        return err == aErrNone && !shortRead;
    }
};

uint32_t _be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

size_t _page_round(size_t n) {
    static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return (n + page - 1) / page * page;
}

// The inflated buffer lives in its own mapping: growing it with mremap moves
// pages instead of copying them, and pages reserved but never written are not
// resident, so a load costs the inflated size, not the 8x bound.
uint8_t* _map(size_t capacity) {
    void* p = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    madvise(p, capacity, MADV_HUGEPAGE);  // fewer faults while a large body is written
    return static_cast<uint8_t*>(p);
}

uint8_t* _remap(uint8_t* buffer, size_t from, size_t to) {
    void* p = mremap(buffer, from, to, MREMAP_MAYMOVE);
    return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
}

// Under AddressSanitizer the spare tail of the mapping is poisoned, so a read
// past the inflated data is reported as it would be for a heap buffer.
void _poison(uint8_t* buffer, size_t used, size_t capacity) {
#ifdef QC_ASAN
    if (buffer && capacity > used) ASAN_POISON_MEMORY_REGION(buffer + used, capacity - used);
#else
    (void)buffer, (void)used, (void)capacity;
#endif
}

void _unpoison(uint8_t* buffer, size_t capacity) {
#ifdef QC_ASAN
    if (buffer) ASAN_UNPOISON_MEMORY_REGION(buffer, capacity);
#else
    (void)buffer, (void)capacity;
#endif
}

bool _is_image(uint8_t type) { return type == BLOCK_TYPE_LOADER || type == BLOCK_TYPE_FIRMWARE; }

}  // namespace

void BirdFile::BufferRelease::operator()(uint8_t* buffer) const {
    if (!buffer) return;
    _unpoison(buffer, capacity);
    munmap(buffer, capacity);
}

BirdFile::BirdFile() = default;

BirdFile::BirdFile(const std::string& path) {
    if (!Load(path)) throw std::runtime_error("Failed to load bird data");
}

BirdFile::~BirdFile() = default;

BirdFile::BirdFile(BirdFile&& other) noexcept { Swap(other); }

BirdFile& BirdFile::operator=(BirdFile&& other) noexcept {
    if (this != &other) {
        Reset();
        Swap(other);
    }
    return *this;
}

void BirdFile::Swap(BirdFile& other) noexcept {
    std::swap(path_, other.path_);
    std::swap(signature_, other.signature_);
    std::swap(version_, other.version_);
    std::swap(checksum_, other.checksum_);
    std::swap(blockCount_, other.blockCount_);
    std::swap(blocks_, other.blocks_);
    std::swap(hasSerialOffsets_, other.hasSerialOffsets_);
    std::swap(serialNumberAddress_, other.serialNumberAddress_);
    std::swap(descriptorAddress_, other.descriptorAddress_);
    std::swap(data_, other.data_);
    std::swap(dataLength_, other.dataLength_);
    std::swap(loadError_, other.loadError_);
    std::swap(scanError_, other.scanError_);
}

void BirdFile::Reset() {
    BirdFile empty;
    Swap(empty);
}

bool BirdFile::Fail(const std::string& why) {
    loadError_ = why;
    return false;
}

bool BirdFile::VerifyFile(const std::string& path) {
    aFileRef file = aFile_Open(path.c_str(), aFileModeReadOnly);
    if (!file) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n", path.c_str());
        return false;
    }
    uint8_t header[BIRD_FILE_HEADER_SIZE];
    size_t count = 0;
    aErr err = aFile_Read(file, header, sizeof(header), &count);
    aFile_Close(file);
    return err == aErrNone && VerifyData(header, count);
}

bool BirdFile::Load(const std::string& path) {
    Reset();
    path_ = path;
    Log::log(DEBUG_BirdFile, "BIRDFILE: Loading File [%s]\n", path.c_str());
    if (!aFile_Exists(path.c_str())) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: BIRD file not found [%s]\n", path.c_str());
        return Fail("file not found");
    }
    aFileRef file = aFile_Open(path.c_str(), aFileModeReadOnly);
    if (!file) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error - cannot open bird file: '%s'\n", path.c_str());
        return Fail("cannot open the file for reading");
    }

    size_t size = 0;
    aErr err = aFile_GetSize(file, &size);
    if (err != aErrNone) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) getting bird file size from %s\n", err, path.c_str());
        aFile_Close(file);
        return Fail("cannot get the file size");
    }
    // The body goes through inflate a chunk at a time: a load holds the
    // inflated data and one chunk, never the whole compressed file.
    FileReader reader{file, size, std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[kReadChunk])};
    if (!reader.chunk) reader.err = aErrMemory;
    uint8_t header[BIRD_FILE_HEADER_SIZE];
    const bool whole = size > BIRD_FILE_HEADER_SIZE;
    const size_t bodyLength = whole ? size - BIRD_FILE_HEADER_SIZE : 0;
    bool ok = !whole || reader.Read(header, sizeof(header));
    if (ok) {
        ok = LoadParts(whole ? header : nullptr, bodyLength, [&](const uint8_t*& chunk, size_t& length) {
            length = std::min(kReadChunk, size - reader.done);
            chunk = reader.chunk.get();
            return reader.Read(reader.chunk.get(), length);
        });
    }
    aFile_Close(file);
    if (reader.err != aErrNone && reader.err != aErrEOF) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) reading %s\n", reader.err, path.c_str());
        return Fail("error reading the file");
    }
    if (reader.done != size && (reader.err == aErrEOF || reader.shortRead)) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error reading %s read %zu bytes of %zu byte file\n", path.c_str(),
                 reader.done, size);
        return Fail("short read");
    }
    return ok;
}

bool BirdFile::VerifyData(const uint8_t* bytes, size_t size) {
    return bytes && size >= BIRD_FILE_HEADER_SIZE && _be32(bytes) == BIRD_FILE_SIGNATURE && bytes[4] != 0 &&
           bytes[5] != 0;
}

bool BirdFile::LoadFromMemory(const uint8_t* bytes, size_t size, const std::string& name) {
    Reset();
    path_ = name;
    Log::log(DEBUG_BirdFile, "BIRDFILE: Loading [%s] from memory\n", name.c_str());
    const bool whole = bytes && size > BIRD_FILE_HEADER_SIZE;
    const size_t bodyLength = whole ? size - BIRD_FILE_HEADER_SIZE : 0;
    return LoadParts(whole ? bytes : nullptr, bodyLength, [&](const uint8_t*& chunk, size_t& length) {
        chunk = bytes + BIRD_FILE_HEADER_SIZE;
        length = bodyLength;
        return true;
    });
}

bool BirdFile::LoadParts(const uint8_t* header, size_t bodyLength, const BodySource& source) {
    if (header) {
        signature_ = _be32(header);
        version_ = static_cast<uint16_t>(header[4] << 8 | header[5]);
    }
    if (!DecompressData(bodyLength, source)) return false;

    ScanBlocks(data_.get(), dataLength_);
    FindSerialNumberOffsets();
    if (FirstBlock(BLOCK_TYPE_SERIAL_OFFSETS)) {
        hasSerialOffsets_ = true;
        FindSerialNumberOffsets();
    }
    return true;
}

// Streams the body through inflate into a growing buffer, with the result
// codes that a one-shot uncompress into an 8x buffer would give.
bool BirdFile::DecompressData(size_t bodyLength, const BodySource& source) {
    dataLength_ = 0;
    const size_t bound = BIRD_INFLATE_RATIO * bodyLength;
    int result = Z_DATA_ERROR;  // what uncompress answers for an empty body
    bool sourceFailed = false;
    if (bodyLength > 0) {
        z_stream stream{};
        result = inflateInit(&stream);
        size_t capacity = 0;
        uint8_t* buffer = nullptr;
        size_t inLeft = bodyLength;
        const uint8_t* chunk = nullptr;
        size_t chunkLeft = 0;
        while (result == Z_OK) {
            size_t produced = stream.total_out;
            if (stream.avail_out == 0 && produced < bound) {
                if (produced == capacity) {
                    size_t want = _page_round(std::min(
                        bound, std::max(kMinInflateCapacity, std::max(capacity * 2, bodyLength * 4))));
                    uint8_t* grown = buffer ? _remap(buffer, capacity, want) : _map(want);
                    if (!grown) {
                        result = Z_MEM_ERROR;
                        break;
                    }
                    buffer = grown;
                    capacity = want;
                }
                const size_t room = std::min(capacity, bound) - produced;
                stream.next_out = buffer + produced;
                stream.avail_out = static_cast<uInt>(std::min<size_t>(room, UINT_MAX));
            }
            if (stream.avail_in == 0 && inLeft > 0) {
                if (chunkLeft == 0) {
                    sourceFailed = !source(chunk, chunkLeft) || chunkLeft == 0;
                    if (sourceFailed) break;
                    chunkLeft = std::min(chunkLeft, inLeft);
                }
                stream.next_in = const_cast<Bytef*>(chunk);
                stream.avail_in = static_cast<uInt>(std::min<size_t>(chunkLeft, UINT_MAX));
                chunk += stream.avail_in;
                chunkLeft -= stream.avail_in;
                inLeft -= stream.avail_in;
            }
            result = inflate(&stream, Z_NO_FLUSH);
        }
        const size_t produced = stream.total_out;
        const bool roomLeft = produced < bound;
        inflateEnd(&stream);
        if (result == Z_STREAM_END) {
            result = Z_OK;
        } else if (result == Z_NEED_DICT || (result == Z_BUF_ERROR && roomLeft)) {
            result = Z_DATA_ERROR;
        }
        if (sourceFailed) {
            result = Z_ERRNO;
        } else if (result == Z_OK) {
            size_t fitted = _page_round(std::max<size_t>(produced, 1));
            if (fitted < capacity && _remap(buffer, capacity, fitted)) capacity = fitted;
            _poison(buffer, produced, capacity);
            data_ = Buffer(buffer, BufferRelease{capacity});
            dataLength_ = produced;
        } else if (buffer) {
            munmap(buffer, capacity);
        }
    }
    if (sourceFailed) return false;  // the source says why
    if (result != Z_OK) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Error (%d) decompressing bird file.\n", result);
        return Fail("error " + std::to_string(result) + " decompressing the body (" + zError(result) + ")");
    }
    return true;
}

bool BirdFile::ScanBlocks(const uint8_t* data, size_t length) {
    blockCount_ = 0;
    blocks_.clear();
    scanError_.clear();
    const uint32_t announced = length >= 4 ? _be32(data) : 0;
    Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File reports %d blocks\n", static_cast<int>(announced));
    Log::log(DEBUG_BirdFile, "BIRDFILE: Bird file objects:\n");
    Log::log(DEBUG_BirdFile, "BIRDFILE: \t\tType Flags Length\n");

    // A block is taken only when its data ends at least four bytes before the
    // end, leaving room for the checksum; so no block and no checksum is ever
    // read past the data, and bytes after the checksum show as a mismatch.
    size_t cursor = std::min<size_t>(4, length);
    while (length - cursor > 4) {
        const size_t left = length - cursor - 5;  // after the header
        const uint32_t declared = _be32(data + cursor + 1);
        if (left < 4 || declared > left - 4) {
            if (length - cursor >= 9) {
                Log::log(DEBUG_BirdFile,
                         "BIRDFILE: Block %u of %d bytes does not fit in the data (%zu left).\n", blockCount_,
                         static_cast<int>(declared), left);
                scanError_ = "block " + std::to_string(blockCount_) + " declares " +
                             std::to_string(declared) + " data bytes but only " +
                             std::to_string(left >= 4 ? left - 4 : 0) + " remain before the checksum";
            }
            break;
        }
        BirdBlock block;
        block.type = data[cursor] & BIRD_FILE_TYPE_MASK;
        block.flags = static_cast<uint8_t>((data[cursor] & BIRD_FILE_FLAG_MASK) >> 5);
        block.length = declared;
        block.data = data_.get() + cursor + 5;
        Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t %02X   %02X   %d\n", block.type, block.flags,
                 static_cast<int>(block.length));
        if (_is_image(block.type) && block.length >= 4) block.loadAddress = _be32(block.data);
        if (block.type == BLOCK_TYPE_INFO) LogInfoFields(block);
        cursor += 5 + block.length;
        ++blockCount_;
        blocks_.push_back(block);
    }

    const long remaining = static_cast<long>(length - cursor) - 4;
    if (remaining >= 0) {
        checksum_ = _be32(data + cursor);
        Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t File checksum %08X\n", checksum_);
    }
    if (remaining != 0) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Block parsing mismatch in data size. (%d bytes remaining)\n",
                 static_cast<int>(remaining));
        if (scanError_.empty())
            scanError_ = remaining > 0
                             ? std::to_string(remaining) + " bytes remain after the checksum"
                             : "the data ends " + std::to_string(-remaining) + " bytes short of the checksum";
    }
    if (blockCount_ != announced) {
        Log::log(DEBUG_BirdFile, "BIRDFILE: Block parsing mismatch in number of blocks. (%d != %d)\n",
                 static_cast<int>(blockCount_), static_cast<int>(announced));
        std::string count = "the file announces " + std::to_string(announced) + " blocks but holds " +
                            std::to_string(blockCount_);
        scanError_ = scanError_.empty() ? count : scanError_ + "; " + count;
    }
    return scanError_.empty();
}

void BirdFile::LogInfoFields(const BirdBlock& block) const {
    for (size_t from = 0; from < BIRD_INFO_BLOCK_SIZE; from += BIRD_INFO_FIELD_SIZE) {
        char field[BIRD_INFO_FIELD_SIZE + 1] = {};
        if (from < block.length)
            memcpy(field, block.data + from, std::min(BIRD_INFO_FIELD_SIZE, block.length - from));
        Log::log(DEBUG_BirdFile, "BIRDFILE:\t\t \t[%16.16s]\n", field);
    }
}

const BirdBlock* BirdFile::FirstBlock(uint8_t type) const {
    for (const BirdBlock& block : blocks_)
        if (block.type == type) return &block;
    return nullptr;
}

void BirdFile::FindSerialNumberOffsets() {
    const BirdBlock* offsets = FirstBlock(BLOCK_TYPE_SERIAL_OFFSETS);
    if (!offsets) return;
    serialNumberAddress_ = offsets->length >= 4 ? _be32(offsets->data) : 0;
    descriptorAddress_ = offsets->length >= 8 ? _be32(offsets->data + 4) : 0;
    Log::log(DEBUG_BirdFile, "BIRDFILE: Offsets: Serial number: %d, Descriptor: %d\n",
             static_cast<int>(serialNumberAddress_), static_cast<int>(descriptorAddress_));
}

std::vector<BirdBlock> BirdFile::FindBlocks(uint8_t type) const {
    std::vector<BirdBlock> found;
    for (const BirdBlock& block : blocks_)
        if (block.type == type) found.push_back(block);
    return found;
}

// One text field of the first information block, ended by a NUL or by the
// end of a block shorter than the usual 64 bytes.
std::string BirdFile::InfoField(size_t offset, size_t width) const {
    const BirdBlock* info = FirstBlock(BLOCK_TYPE_INFO);
    if (!info || offset >= info->length) return {};
    const char* text = reinterpret_cast<const char*>(info->data + offset);
    return std::string(text, strnlen(text, std::min<size_t>(width, info->length - offset)));
}

uint32_t BirdFile::GetBuild() const {
    std::string text = InfoField(0, 15);
    size_t i = 0;
    while (i < text.size() && isspace(static_cast<unsigned char>(text[i]))) ++i;
    uint64_t build = 0;
    for (; i < text.size() && isdigit(static_cast<unsigned char>(text[i])); ++i)
        build = build * 10 + static_cast<uint64_t>(text[i] - '0');
    return static_cast<uint32_t>(build);
}

std::string BirdFile::GetVersion() const {
    std::string text = InfoField(BIRD_INFO_FIELD_SIZE, 15);
    return text.substr(0, text.find(' '));
}

uint32_t BirdFile::GetSerialNumber() const {
    std::string text = InfoField(2 * BIRD_INFO_FIELD_SIZE, 8);
    return static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 16));
}

std::string BirdFile::GetModel() const {
    std::string text = InfoField(3 * BIRD_INFO_FIELD_SIZE, BIRD_INFO_FIELD_SIZE);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

bool BirdFile::ValidateSerialNumber(uint32_t serialNumber) const { return serialNumber == GetSerialNumber(); }

bool BirdFile::ValidateModel(const std::string& model) const {
    if (!HasInfoBlock()) return false;
    std::string ours = GetModel();
    if (ours.compare(0, model.size(), model) != 0 || ours.size() < model.size()) return false;
    Log::log(DEBUG_BirdFile, "Model matches model number ([%s] == [%s])\n", ours.c_str(), model.c_str());
    return true;
}

bool BirdFile::ReplaceSerialNumber(uint32_t serialNumber) {
    char digits[9];
    snprintf(digits, sizeof(digits), "%08X", serialNumber);
    const uint64_t s = serialNumberAddress_;
    const uint64_t d = descriptorAddress_;
    bool patched = s != 0;
    for (const BirdBlock& block : blocks_) {
        if (block.type != BLOCK_TYPE_FIRMWARE || block.length < 4) continue;
        uint8_t* image = block.data + 4;
        const uint64_t a = block.loadAddress;
        const uint64_t e = a + block.length - 4;
        if (s != 0 && s >= a && s + 4 <= e) {
            uint8_t* word = image + (s - a);
            uint32_t old = static_cast<uint32_t>(word[0]) | static_cast<uint32_t>(word[1]) << 8 |
                           static_cast<uint32_t>(word[2]) << 16 | static_cast<uint32_t>(word[3]) << 24;
            Log::log(DEBUG_BirdFile, "BIRDFILE: updating serial number from %08X ==> %08X\n", old,
                     serialNumber);
            for (int i = 0; i < 4; ++i) word[i] = static_cast<uint8_t>(serialNumber >> (8 * i));
        }
        if (d != 0 && d >= a && d + 16 <= e) {
            uint8_t* text = image + (d - a);
            for (int k = 0; k < 8; ++k) text[2 * k] = static_cast<uint8_t>(digits[k]);
            patched = true;
        }
    }
    return patched;
}

bool BirdFile::DecodeFirmwareBlocks(const uint32_t key[4]) {
    uint8_t stream[16];
    for (int w = 0; w < 4; ++w)
        for (int b = 0; b < 4; ++b) stream[4 * w + b] = static_cast<uint8_t>(key[w] >> (24 - 8 * b));
    for (const BirdBlock& block : blocks_) {
        if (block.type != BLOCK_TYPE_FIRMWARE || block.length < 4) continue;
        uint8_t* image = block.data + 4;
        uint8_t previous = 0;
        for (size_t i = 0; i < block.length - 4u; ++i) {
            uint8_t plain = image[i] ^ stream[i % 16] ^ previous;
            image[i] = plain;
            previous = plain;
        }
    }
    return true;
}

void BirdFile::DumpBlocks(uint8_t type) const {
    printf("BIRDFILE: BLOCK DUMP [%s]\n", path_.c_str());
    for (const BirdBlock& block : blocks_) {
        if (block.type != type) continue;
        char line[51];
        size_t used = 0;
        for (size_t i = 0; i < block.length; ++i) {
            if (i > 0 && i % 50 == 0) {
                line[used] = '\0';
                printf(" %s\r\n%06d: ", line, static_cast<int>(i));
                used = 0;
            }
            const uint8_t byte = block.data[i];
            printf("%02X ", byte);
            line[used++] = isprint(byte) ? static_cast<char>(byte) : ' ';
        }
        line[used] = '\0';
        printf(" %s\n", line);
    }
    printf("\n");
}

bool BirdFile::ValidateData(const uint8_t* pattern, size_t length) const {
    Log::log(DEBUG_BirdFile, "BIRDFILE: looking for data pattern in [%s]\n", path_.c_str());
    if (!pattern || length == 0) return false;
    bool found = false;
    for (const BirdBlock& block : blocks_) {
        if (block.type != BLOCK_TYPE_FIRMWARE || block.length < length) continue;
        for (size_t i = 0; i + length <= block.length; ++i) {
            if (memcmp(block.data + i, pattern, length) == 0) {
                Log::log(DEBUG_BirdFile, "Found data at %d\n", static_cast<int>(i));
                found = true;
            }
        }
    }
    return found;
}
