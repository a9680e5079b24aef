#include "common/aPacket.h"

#include <cstring>
#include <new>

namespace {

constexpr aPacket kTemplate = {aPACKET_CHECK, 0, 0, 0, {}};

aErr sDataByte(const aPacket* packet, uint8_t needed, uint8_t position, uint8_t mask, uint8_t* out) {
    if (!out) return aErrParam;
    if (!aPacket_IsValid(packet) || packet->length < needed) return aErrPacket;
    *out = packet->data[position] & mask;
    return aErrNone;
}

}  // namespace

bool aPacket_IsValid(const aPacket* packet) { return packet && packet->check == aPACKET_CHECK; }

aPacket* aPacket_Create() { return new (std::nothrow) aPacket(kTemplate); }

aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data) {
    if (!data || length > aPACKET_MAXDATA) return nullptr;
    aPacket* packet = aPacket_Create();
    if (!packet) return nullptr;
    packet->address = address;
    packet->length = length;
    packet->fill = static_cast<uint8_t>(length + 2);
    memcpy(packet->data, data, length);
    return packet;
}

aPacket* aPacket_Copy(const aPacket* packet) {
    if (!aPacket_IsValid(packet) || packet->length > aPACKET_MAXDATA) return nullptr;
    return aPacket_CreateWithData(packet->address, packet->length, packet->data);
}

aErr aPacket_Destroy(aPacket*& packet) {
    aPacket* p = packet;
    packet = nullptr;
    if (!aPacket_IsValid(p)) return aErrParam;
    p->check = 0;
    delete p;
    return aErrNone;
}

aErr aPacket_Reset(aPacket* packet) {
    if (!aPacket_IsValid(packet)) return aErrParam;
    *packet = kTemplate;
    return aErrNone;
}

aErr aPacket_AddByte(aPacket* packet, uint8_t byte) {
    if (!aPacket_IsValid(packet)) return aErrParam;
    if (packet->fill >= aPACKET_MAXBYTES) {
        packet->fill = aPACKET_MAXBYTES + 1;
        return aErrOverrun;
    }
    packet->fill++;
    if (packet->address == 0) {
        if (byte == 0) return aErrPacket;
        packet->address = byte;
        return aErrNone;
    }
    // A complete empty packet also has length 0: only the second byte is a length.
    if (packet->length == 0 && packet->fill == 2) {
        packet->length = byte;
        return byte > aPACKET_MAXDATA ? aErrPacket : aErrNone;
    }
    if (packet->fill > packet->length + 2) return aErrPacket;
    packet->data[packet->fill - 3] = byte;
    return aErrNone;
}

bool aPacket_IsComplete(const aPacket* packet) {
    return aPacket_IsValid(packet) && packet->address != 0 && packet->length <= aPACKET_MAXDATA &&
           packet->fill == packet->length + 2;
}

aErr aPacket_GetBytes(const aPacket* packet, uint8_t* buffer, size_t capacity, size_t* count) {
    if (!aPacket_IsValid(packet) || !buffer || packet->length > aPACKET_MAXDATA) return aErrParam;
    size_t size = packet->length + 2u;
    if (capacity < size) return aErrOverrun;
    buffer[0] = packet->address;
    buffer[1] = packet->length;
    memcpy(buffer + 2, packet->data, packet->length);
    if (count) *count = size;
    return aErrNone;
}

aErr aPacket_GetCmd(const aPacket* packet, uint8_t* cmd) { return sDataByte(packet, 1, 0, 0xFF, cmd); }
aErr aPacket_GetOption(const aPacket* packet, uint8_t* option) {
    return sDataByte(packet, 2, 1, 0x3F, option);
}
aErr aPacket_GetIndex(const aPacket* packet, uint8_t* index) { return sDataByte(packet, 3, 2, 0x1F, index); }
