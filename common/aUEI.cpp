#include "common/aUEI.h"

namespace {

bool sHasData(const aPacket* packet) { return aPacket_IsValid(packet) && packet->length > 0; }

uint8_t sLastByte(const aPacket* packet) {
    return sHasData(packet) && packet->length <= aPACKET_MAXDATA ? packet->data[packet->length - 1] : 0;
}

}  // namespace

void aUEI_StoreShort(uint8_t* buffer, uint16_t value) {
    buffer[0] = static_cast<uint8_t>(value >> 8);
    buffer[1] = static_cast<uint8_t>(value);
}

void aUEI_StoreInt(uint8_t* buffer, uint32_t value) {
    buffer[0] = static_cast<uint8_t>(value >> 24);
    buffer[1] = static_cast<uint8_t>(value >> 16);
    buffer[2] = static_cast<uint8_t>(value >> 8);
    buffer[3] = static_cast<uint8_t>(value);
}

uint16_t aUEI_RetrieveShort(const uint8_t* buffer) {
    return static_cast<uint16_t>(buffer[0] << 8 | buffer[1]);
}

uint32_t aUEI_RetrieveInt(const uint8_t* buffer) {
    return static_cast<uint32_t>(buffer[0]) << 24 | static_cast<uint32_t>(buffer[1]) << 16 |
           static_cast<uint32_t>(buffer[2]) << 8 | buffer[3];
}

void aUEI_ModifyIntBuffer(uint32_t* words, size_t count) {
    for (size_t i = 0; words && i < count; i++) {
        words[i] = aUEI_RetrieveInt(reinterpret_cast<const uint8_t*>(&words[i]));
    }
}

uint8_t aUEI_getBytesSequence(const aPacket* packet) { return sLastByte(packet) & aUEI_BYTES_SEQUENCE_MASK; }

uint8_t aUEI_getBytesContinue(const aPacket* packet) { return sLastByte(packet) & aUEI_BYTES_CONTINUE; }

bool aUEI_getBytesFullPacket(const aPacket* packet) {
    return aPacket_IsValid(packet) && (packet->length == 27 || packet->length == 28);
}

bool aUEI_isNotUEIPayload(const aPacket* packet) {
    if (!sHasData(packet)) return false;
    switch (packet->data[0]) {
        case 0:
        case 1:
        case 2:
        case 4:
        case 8:
        case 9:
        case 23:
        case 24:
        case 73:
        case 94:
        case 95:
        case 173:
        case 175: return true;
        default: return false;
    }
}

bool aUEI_isUEIPayload(const aPacket* packet) { return !aUEI_isNotUEIPayload(packet); }

bool aUEI_isStreamPacket(const aPacket* packet) {
    return aPacket_IsValid(packet) && packet->length > 4 && aUEI_isUEIPayload(packet) &&
           packet->data[1] < aUEI_OP_GET && (packet->data[2] & aUEI_INDEX_STREAM);
}

size_t aUEI_BytesPacketCount(size_t length) {
    return length == 0 ? 1 : (length + aUEI_BYTES_CHUNK - 1) / aUEI_BYTES_CHUNK;
}

aPacket* aUEI_CreateBytesPacket(uint8_t address, uint8_t command, uint8_t option, uint8_t index,
                                const uint8_t* run, size_t length, size_t n) {
    size_t count = aUEI_BytesPacketCount(length);
    if (n >= count || (length && !run)) return nullptr;
    size_t offset = n * aUEI_BYTES_CHUNK;
    size_t chunk = length - offset < aUEI_BYTES_CHUNK ? length - offset : aUEI_BYTES_CHUNK;
    uint8_t data[aPACKET_MAXDATA] = {command, option, index};
    for (size_t i = 0; i < chunk; i++) data[3 + i] = run[offset + i];
    uint8_t more = n + 1 < count ? aUEI_BYTES_CONTINUE : 0;
    data[3 + chunk] = static_cast<uint8_t>(more | (n & aUEI_BYTES_SEQUENCE_MASK));
    return aPacket_CreateWithData(address, static_cast<uint8_t>(chunk + 4), data);
}
