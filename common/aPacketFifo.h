/*
 * aPacketFifo.h - process-wide packet queues addressed by number.
 *
 * A link files received packets in one FIFO and takes packets to send from
 * another; callers on any thread wait for the first packet their own filter
 * accepts, so several requests can be outstanding on one link. The FIFO keeps
 * copies: callers keep the packets they put and own the packets they take.
 * More than aPACKETFIFO_CAPACITY queued packets empty the queue.
 */
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/aDefs.h"
#include "common/aPacket.h"

constexpr size_t aPACKETFIFO_CAPACITY = 1000;

/* FIFO number; 0 names no FIFO, numbers are never reused. */
typedef uint64_t aPacketFifoId;

aPacketFifoId aPacketFifo_Create();
aErr aPacketFifo_Destroy(aPacketFifoId& fifo);
size_t aPacketFifo_GetLength(aPacketFifoId fifo);
aErr aPacketFifo_Put(aPacketFifoId fifo, const aPacket* packet);
aPacket* aPacketFifo_Get(aPacketFifoId fifo);
aPacket* aPacketFifo_Await(aPacketFifoId fifo, uint32_t timeoutMs);
aPacket* aPacketFifo_GetFirst(aPacketFifoId fifo, aPacketFilter filter, void* ref);
aPacket* aPacketFifo_AwaitFirst(aPacketFifoId fifo, aPacketFilter filter, void* ref, uint32_t timeoutMs);
size_t aPacketFifo_DrainPackets(aPacketFifoId fifo, aPacketFilter filter, void* ref);

/* Makes the current or else the next aPacketFifo_Await on this FIFO return
 * none at once. For a FIFO's one consumer (a link's output thread) that must
 * notice a stop without waiting out its time-out. */
aErr aPacketFifo_Wake(aPacketFifoId fifo);
