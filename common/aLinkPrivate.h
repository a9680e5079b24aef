/*
 * aLinkPrivate.h - the link record shared by the engine (aLink.cpp) and the
 * table (aLinkTable.cpp), and the engine's single steps for tests and the
 * fuzz target. Not for callers of the library.
 */
#pragma once

#include <atomic>

#include "common/aLink.h"
#include "common/aMutex.h"
#include "common/aPacketFifo.h"
#include "common/aThread.h"

struct aLinkRecord {
    uint16_t check = 0;
    uint32_t id = 0;
    std::atomic<bool> running{false};
    std::atomic<uint8_t> status{aLINK_NOSTREAM};
    std::atomic<aPacketFifoId> inFifo{0};
    std::atomic<aPacketFifoId> outFifo{0};
    aPacket* assembly = nullptr;  // input thread only while running
    aThreadRef inThread = nullptr;
    aThreadRef outThread = nullptr;
    std::atomic<bool> inReady{false};
    std::atomic<bool> outReady{false};
    aStreamRef stream = nullptr;
    uint8_t syncState = 0;  // input thread only
    uint8_t syncByte = 0;
    aMutexRef filterMutex = nullptr;
    aPacketFilter userFilter = nullptr;  // under filterMutex
    void* userFilterRef = nullptr;
    std::atomic<bool> pooled{false};
};

/* Table (aLinkTable.cpp). */
aLinkRef _aLink_Record(uint32_t id);
/* Marks the device server running on a link (none: no server); a create for
 * the same device is then refused. The id, or 0 when it has no entry. */
uint32_t _aLink_SetServer(uint32_t id, void* server);
/* An entry over a caller's stream, initialised but not started. */
uint32_t _aLink_CreateStopped(aStreamRef stream);

/* Engine (aLink.cpp). */
aLinkRef _aLink_NewRecord();
/* Frees everything the record holds and the record; the output FIFO's destroy result. */
aErr _aLink_DeleteRecord(aLinkRef& link);
aErr _aLink_ForceRoute(aLinkRef link, uint8_t value);
aErr _aLink_DestroyFifos(aLinkRef link);
aErr _aLink_DestroyStream(aLinkRef link);

/* The threads' bodies, one step at a time. */
void _aLink_InputBegin(aLinkRef link);
void _aLink_InputStep(aLinkRef link);
bool _aLink_OutputStep(aLinkRef link, uint32_t timeoutMs);
