/*
 * aLink.h - links: one byte stream joined to two packet FIFOs by an input
 * and an output thread, held in a process-wide table under small ids.
 *
 * Callers never touch the stream: they put packets on the output FIFO and
 * wait on the input FIFO. The input thread keeps in step with the packet
 * framing by a handshake (AD 00 answered by the device's address and 00),
 * answers the device's heartbeats and files everything else.
 *
 * A second create for the same device shares the existing link and raises
 * its use count; each aLink_Destroy lowers it, the last one tears down.
 * Ids start at 1 and are never reused; 0 means none.
 */
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/aDefs.h"
#include "common/aPacket.h"
#include "common/aStream.h"

enum aLinkStatus : uint8_t {
    aLINK_STOPPED = 0,
    aLINK_STARTING = 1,
    aLINK_RUNNING = 2,
    aLINK_STOPPING = 3,
    aLINK_SYNCING = 4,
    aLINK_NOSTREAM = 5,  // also the answer for an id not in the table
    aLINK_IOERROR = 6,
    aLINK_FILEERROR = 8,  // a received packet could not be filed
};

/* What a table entry was made over. */
enum aLinkType : uint8_t {
    aLINK_TYPE_STREAM = 0,
    aLINK_TYPE_USB = 1,
    aLINK_TYPE_TCPIP = 2,
    aLINK_TYPE_SERIAL = 3,
    aLINK_TYPE_CLIENT = 4,  // 4 to 7: through a device server
};

constexpr uint16_t aLINK_CHECK = 0xCEED;
constexpr uint32_t aLINK_AWAIT_OUTPUT_MS = 1000;
constexpr size_t aLINK_POOL_SIZE = 4096;

typedef struct aLinkRecord* aLinkRef;

/* Packet operations. Packets returned belong to the caller. */
uint8_t aLink_GetStatus(uint32_t id);
aErr aLink_PutPacket(uint32_t id, const aPacket* packet);
aPacket* aLink_GetPacket(uint32_t id);
aPacket* aLink_AwaitPacket(uint32_t id, uint32_t timeoutMs);
aPacket* aLink_GetFirst(uint32_t id, aPacketFilter filter, void* ref);
aPacket* aLink_AwaitFirst(uint32_t id, aPacketFilter filter, void* ref, uint32_t timeoutMs);
size_t aLink_DrainPackets(uint32_t id, aPacketFilter filter, void* ref);

/* A filter that returns exactly 1 takes a received packet before anything
 * else sees it, heartbeats included. None removes the filter. */
aErr aLink_InstallUserPacketFilter(uint32_t id, aPacketFilter filter, void* ref);
aErr aLink_EnablePooledPackets(uint32_t id, bool pooled);
aErr aLink_Sync(uint32_t id);

/* Creation: the id of a new or shared link, 0 on failure. A USB link is
 * started and synchronised with the device before it is returned. */
uint32_t aLink_CreateUSB(uint32_t serialNumber);
uint32_t aLink_CreateTCPIP(uint32_t serialNumber, uint32_t address, uint16_t port);
/* Never shared. The stream belongs to the link from here on, also when the
 * create fails. */
uint32_t aLink_Create(aStreamRef stream);

/* Lifecycle. aLink_Init returns the id, or 0 when it has no entry. */
uint32_t aLink_Init(uint32_t id, aStreamRef stream);
aErr aLink_Start(uint32_t id);
aErr aLink_Stop(aLinkRef link);
aErr aLink_ForceRoute(uint32_t id, uint8_t value);
aErr aLink_Reset(uint32_t id);
aErr aLink_Destroy(uint32_t& id);
