/*
 * aPacket.h - one device packet: a module address, a length and up to 28
 * data bytes. On a link it travels as address, length, data (2 to 30 bytes).
 *
 * Records are made here and checked by their check word on every call, so a
 * freed or foreign pointer is refused instead of read.
 */
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/aDefs.h"

constexpr uint16_t aPACKET_CHECK = 0xBEEF;
constexpr uint8_t aPACKET_MAXDATA = 28;
constexpr uint8_t aPACKET_MAXBYTES = aPACKET_MAXDATA + 2;

/* Link-control addresses (odd, so never a module address). */
constexpr uint8_t aPACKET_ADDR_SYNC = 0xAD;
constexpr uint8_t aPACKET_ADDR_FORCEROUTE = 0xAF;

/* Command bytes (data byte 0 of a packet to a module). */
enum : uint8_t {
    cmdHEARTBEAT = 0,
    cmdSYSTEM = 3,
    cmdSLOT = 4,
    cmdI2C = 8,
    cmdDEBUG = 0x17,
    cmdMODULE = 0x49,
    cmdSTORE = 0x5C,
    cmdSTREAM = 0x5D,
    cmdFACTORY = 0x5E,
    cmdUPGRADE = 0x5F,
    cmdFORCEROUTE = aPACKET_ADDR_FORCEROUTE,
};

struct aPacket {
    uint16_t check;
    uint8_t fill;  // bytes added while assembling, address and length included
    uint8_t address;
    uint8_t length;
    uint8_t data[aPACKET_MAXDATA];
};

/* A packet filter: non-zero takes the packet. */
typedef uint8_t (*aPacketFilter)(const aPacket* packet, void* ref);

bool aPacket_IsValid(const aPacket* packet);
aPacket* aPacket_Create();
aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data);
aPacket* aPacket_Copy(const aPacket* packet);
aErr aPacket_Destroy(aPacket*& packet);
aErr aPacket_Reset(aPacket* packet);
aErr aPacket_AddByte(aPacket* packet, uint8_t byte);
bool aPacket_IsComplete(const aPacket* packet);
aErr aPacket_GetBytes(const aPacket* packet, uint8_t* buffer, size_t capacity, size_t* count);
aErr aPacket_GetCmd(const aPacket* packet, uint8_t* cmd);
aErr aPacket_GetOption(const aPacket* packet, uint8_t* option);
aErr aPacket_GetIndex(const aPacket* packet, uint8_t* index);

/* Releases packets held by standard containers and smart pointers. */
struct aPacketDeleter {
    void operator()(aPacket* packet) const { aPacket_Destroy(packet); }
};
