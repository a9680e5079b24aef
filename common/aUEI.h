/*
 * aUEI.h - the UEI message carried in a packet's data bytes: command,
 * option (with operation bits), index (with request, stream and error bits),
 * an optional subindex and a big-endian value, or a byte run cut into
 * sequenced chunks.
 */
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/aPacket.h"

/* Option byte: bits 0-5 option code, bits 6-7 operation. */
constexpr uint8_t aUEI_OPTION_MASK = 0x3F;
constexpr uint8_t aUEI_OP_GET = 0x40;
constexpr uint8_t aUEI_OP_SET = 0x80;
constexpr uint8_t aUEI_OP_ACK = 0xC0;

/* Index byte: bits 0-4 entity index, then the flags. */
constexpr uint8_t aUEI_INDEX_MASK = 0x1F;
constexpr uint8_t aUEI_INDEX_REQUEST = 0x20;
constexpr uint8_t aUEI_INDEX_STREAM = 0x40;
constexpr uint8_t aUEI_INDEX_ERROR = 0x80;

/* Byte runs: chunks of at most 24 bytes, then a sequence byte. */
constexpr uint8_t aUEI_BYTES_CHUNK = 24;
constexpr uint8_t aUEI_BYTES_CONTINUE = 0x80;
constexpr uint8_t aUEI_BYTES_SEQUENCE_MASK = 0x7F;

void aUEI_StoreShort(uint8_t* buffer, uint16_t value);
void aUEI_StoreInt(uint8_t* buffer, uint32_t value);
uint16_t aUEI_RetrieveShort(const uint8_t* buffer);
uint32_t aUEI_RetrieveInt(const uint8_t* buffer);

/* Converts each word in place from most-significant-byte-first to host order. */
void aUEI_ModifyIntBuffer(uint32_t* words, size_t count);

uint8_t aUEI_getBytesSequence(const aPacket* packet);
uint8_t aUEI_getBytesContinue(const aPacket* packet);
bool aUEI_getBytesFullPacket(const aPacket* packet);
bool aUEI_isNotUEIPayload(const aPacket* packet);
bool aUEI_isUEIPayload(const aPacket* packet);
bool aUEI_isStreamPacket(const aPacket* packet);

/* Number of packets a byte run of this length travels in (at least one). */
size_t aUEI_BytesPacketCount(size_t length);

/* Packet number n (from 0) of a byte run: command, option, index, its chunk
 * and the sequence byte. None when n is past the run's last packet. */
aPacket* aUEI_CreateBytesPacket(uint8_t address, uint8_t command, uint8_t option, uint8_t index,
                                const uint8_t* run, size_t length, size_t n);
