#include <cstdio>
#include <new>

#include "common/aDebug.h"
#include "common/aLinkPrivate.h"
#include "common/aTime.h"

namespace {

constexpr uint8_t kSyncPackets = 6;
constexpr int kStartPolls = 200;
constexpr int kPollMs = 10;
constexpr int kIOErrorPauseMs = 100;
constexpr int kSyncDrainPauseMs = 100;
/* One more packet of up to 30 bytes always fits behind this fill. */
constexpr size_t kPoolFill = aLINK_POOL_SIZE - aPACKET_MAXBYTES;

enum : uint8_t {
    kSyncInStep = 0,
    kSyncStateStart,
    kSyncStateByte1,
    kSyncStateByte2,
    kSyncStateByte3,
    kSyncStateByte4
};

const char* sSyncStateName(uint8_t state) {
    switch (state) {
        case kSyncStateStart: return "kSyncStateStart";
        case kSyncStateByte1: return "kSyncStateByte1";
        case kSyncStateByte2: return "kSyncStateByte2";
        case kSyncStateByte3: return "kSyncStateByte3";
        case kSyncStateByte4: return "kSyncStateByte4";
        default: return "kSyncStateDefault";
    }
}

bool sUsable(aLinkRef link) { return link && link->check == aLINK_CHECK; }

aLinkRef sLink(uint32_t id) {
    aLinkRef link = _aLink_Record(id);
    return sUsable(link) ? link : nullptr;
}

void sDebugPacket(const char* format, uint32_t id, const aPacket* p) {
    aDEBUG_PRINTF(aDEBUG_PACKET, format, id, p->address, p->length, p->data[0], p->data[1], p->data[2]);
}

/* Sleeps in short slices so that a stop is not kept waiting. */
void sPause(aLinkRef link, int ms) {
    for (int slept = 0; slept < ms && link->running; slept += kPollMs) aTime_MSSleep(kPollMs);
}

void sStartSync(aLinkRef link) {
    aDEBUG_PRINTF(aDEBUG_LINK, "syncStart\n");
    link->status = aLINK_SYNCING;
    link->syncState = kSyncStateStart;
    aPacket_Reset(link->assembly);
    const aPacket sync = {aPACKET_CHECK, 2, aPACKET_ADDR_SYNC, 0, {}};
    aErr err = aErrNone;
    for (uint8_t i = 0; i < kSyncPackets; i++) err = aPacketFifo_Put(link->outFifo, &sync);
    if (err == aErrNone) link->syncState = kSyncStateByte1;
}

void sSyncByte(aLinkRef link, uint8_t b) {
    uint8_t state = link->syncState;
    aDEBUG_PRINTF(aDEBUG_LINK, "sByte %d\n%s\n", b, sSyncStateName(state));
    switch (state) {
        case kSyncStateStart: sStartSync(link); return;
        case kSyncStateByte1:
            if (b != 0 && (b & 1) == 0) {
                link->syncByte = b;
                aDEBUG_PRINTF(aDEBUG_LINK, "sync2\n");
                link->syncState = kSyncStateByte2;
            } else {
                sStartSync(link);
            }
            return;
        case kSyncStateByte2:
            if (b == 0) aDEBUG_PRINTF(aDEBUG_LINK, "sync3\n");
            link->syncState = b == 0 ? kSyncStateByte3 : kSyncStateStart;
            return;
        case kSyncStateByte3:
            if (b == link->syncByte) aDEBUG_PRINTF(aDEBUG_LINK, "sync4\n");
            link->syncState = b == link->syncByte ? kSyncStateByte4 : kSyncStateStart;
            return;
        case kSyncStateByte4:
            if (b != 0) {
                link->syncState = kSyncStateStart;
                return;
            }
            link->syncState = kSyncInStep;
            link->status = aLINK_RUNNING;
            aDEBUG_PRINTF(aDEBUG_LINK, "synced\n");
            return;
        default:
            sStartSync(link);
            aDEBUG_PRINTF(aDEBUG_LINK, "sync default\n");
            return;
    }
}

bool sIsHeartbeat(const aPacket* p) { return p->length == 2 && p->data[0] == cmdHEARTBEAT; }

aErr sHandleHBBackChannel(aLinkRef link, const aPacket* p) {
    aDEBUG_PRINTF(aDEBUG_PACKET, " sHandleHBBackChannel(%d) ==> received HB packet [data size = %d][%d,%d]\n",
                  link->id, p->length, p->data[0], p->data[1]);
    if (p->data[1] == 0)
        aDEBUG_PRINTF(aDEBUG_PACKET, " sHandleHBBackChannel(%d) %s\n", link->id, "sending HB UP");
    if (p->data[1] == 1)
        aDEBUG_PRINTF(aDEBUG_PACKET, " sHandleHBBackChannel(%d) %s\n", link->id, "sending HB DOWN");
    const aPacket answer = {
        aPACKET_CHECK, 4, p->address, 2, {cmdHEARTBEAT, static_cast<uint8_t>(p->data[1] + 2)}};
    return aPacketFifo_Put(link->outFifo, &answer);
}

bool sOfferToUserFilter(aLinkRef link, const aPacket* p) {
    aMutex_Lock(link->filterMutex);
    bool taken = link->userFilter && link->userFilter(p, link->userFilterRef) == 1;
    aMutex_Unlock(link->filterMutex);
    return taken;
}

aErr sHandlePacket(aLinkRef link) {
    const aPacket* p = link->assembly;
    aErr err = aErrNone;
    if (!sOfferToUserFilter(link, p)) {
        if (sIsHeartbeat(p)) {
            err = sHandleHBBackChannel(link, p);
        } else {
            sDebugPacket(" sHandlePacket(%d) ADDR:%02X, LEN:%02X, [%02X %02X %02X ...]\n", link->id, p);
            err = aPacketFifo_Put(link->inFifo, p);
        }
    }
    aPacket_Reset(link->assembly);
    return err;
}

void* sInPipeProcess(void* arg) {
    auto link = static_cast<aLinkRef>(arg);
    _aLink_InputBegin(link);
    while (link->running) _aLink_InputStep(link);
    aDEBUG_PRINTF(aDEBUG_LINK, " sInPipeProcess(%d) terminating\n", link->id);
    return nullptr;
}

aErr sWritePacket(aLinkRef link, const aPacket* p) {
    uint8_t bytes[aPACKET_MAXBYTES];
    size_t count = 0;
    aErr err = aPacket_GetBytes(p, bytes, sizeof(bytes), &count);
    return err == aErrNone ? aStream_Write(link->stream, bytes, count) : err;
}

void sWritePooled(aLinkRef link, const aPacket* first) {
    uint8_t pool[aLINK_POOL_SIZE];
    size_t fill = 0, count = 0;
    aPacket_GetBytes(first, pool, sizeof(pool), &fill);
    while (fill <= kPoolFill) {
        aPacket* next = aPacketFifo_Get(link->outFifo);
        if (!next) break;
        aPacket_GetBytes(next, pool + fill, sizeof(pool) - fill, &count);
        fill += count;
        aPacket_Destroy(next);
    }
    aErr err = aStream_Write(link->stream, pool, fill);
    if (err != aErrNone) aDEBUG_PRINTF(aDEBUG_LINK, "sOutPipeProcess error writing pooled: %d\n", err);
}

void* sOutPipeProcess(void* arg) {
    auto link = static_cast<aLinkRef>(arg);
    link->outReady = true;
    while (link->running) _aLink_OutputStep(link, aLINK_AWAIT_OUTPUT_MS);
    // What is still queued (the force-route packet of the stop among it) goes out.
    while (aPacket* p = aPacketFifo_Get(link->outFifo)) {
        sWritePacket(link, p);
        aPacket_Destroy(p);
    }
    aDEBUG_PRINTF(aDEBUG_LINK, " sOutPipeProcess(%d) terminating\n", link->id);
    return nullptr;
}

void sDrainAll(aPacketFifoId fifo) {
    aPacketFifo_DrainPackets(
        fifo, [](const aPacket*, void*) -> uint8_t { return 1; }, nullptr);
}

/* Stops whichever threads exist and waits for them. */
aErr sJoinThreads(aLinkRef link) {
    link->running = false;
    aPacketFifo_Wake(link->outFifo);
    aStream_Interrupt(link->stream);
    int in = link->inThread ? aThread_Destroy(link->inThread) : 0;
    int out = link->outThread ? aThread_Destroy(link->outThread) : 0;
    return in == 0 && out == 0 ? aErrNone : aErrUnknown;
}

}  // namespace

void _aLink_InputBegin(aLinkRef link) {
    aDEBUG_PRINTF(aDEBUG_LINK, " sInPipeProcess(%d) -- syncing\n", link->id);
    link->syncByte = 1;
    link->inReady = true;
    link->status = aLINK_RUNNING;
    link->syncState = kSyncInStep;
}

void _aLink_InputStep(aLinkRef link) {
    uint8_t byte = 0;
    aErr err = aStream_Read(link->stream, &byte, 1);
    if (err == aErrNotReady) {
        uint8_t status = link->status;
        if (status == aLINK_SYNCING || status == aLINK_IOERROR) sStartSync(link);
        return;
    }
    if (err != aErrNone) {
        aDEBUG_PRINTF(aDEBUG_LINK, " sInPipeProcess(%d) IO_ERROR [aStream_Read()==>%d]\n", link->id, err);
        link->status = aLINK_IOERROR;
        sPause(link, kIOErrorPauseMs);
        return;
    }
    if (link->status == aLINK_SYNCING) {
        sSyncByte(link, byte);
        return;
    }
    if (aPacket_AddByte(link->assembly, byte) != aErrNone || (link->assembly->address & 1)) {
        aDEBUG_PRINTF(aDEBUG_LINK, "Out of sync\n");
        sStartSync(link);
        return;
    }
    if (aPacket_IsComplete(link->assembly) && sHandlePacket(link) != aErrNone) link->status = aLINK_FILEERROR;
}

bool _aLink_OutputStep(aLinkRef link, uint32_t timeoutMs) {
    aPacket* p = aPacketFifo_Await(link->outFifo, timeoutMs);
    if (!p) return false;
    sDebugPacket(" sOutPipeProcess(%d) ADDR:%02X, LEN:%02X, [%02X %02X %02X ...]\n", link->id, p);
    if (link->pooled) {
        sWritePooled(link, p);
    } else {
        aErr err = sWritePacket(link, p);
        if (err != aErrNone) aDEBUG_PRINTF(aDEBUG_LINK, "sOutPipeProcess error writing: %d\n", err);
    }
    aPacket_Destroy(p);
    return true;
}

aLinkRef _aLink_NewRecord() { return new (std::nothrow) aLinkRecord; }

aErr _aLink_DestroyFifos(aLinkRef link) {
    aPacketFifoId in = link->inFifo.exchange(0), out = link->outFifo.exchange(0);
    if (in) aPacketFifo_Destroy(in);
    return out ? aPacketFifo_Destroy(out) : aErrNone;
}

aErr _aLink_DestroyStream(aLinkRef link) {
    if (!link->stream) return aErrNone;
    aDEBUG_PRINTF(aDEBUG_LINK, " Destroy stream\n");
    return aStream_Destroy(link->stream);
}

aErr _aLink_DeleteRecord(aLinkRef& link) {
    aLinkRef l = link;
    link = nullptr;
    if (!l) return aErrParam;
    aErr err = _aLink_DestroyFifos(l);
    if (l->assembly) aPacket_Destroy(l->assembly);
    if (l->filterMutex) aMutex_Destroy(l->filterMutex);
    _aLink_DestroyStream(l);
    l->check = 0;
    delete l;
    return err;
}

uint32_t aLink_Init(uint32_t id, aStreamRef stream) {
    aLinkRef link = _aLink_Record(id);
    if (!link || link->running) return 0;
    if (!link->filterMutex) {
        char name[64];
        snprintf(name, sizeof(name), "aLink(%p)->userFilterSema", static_cast<void*>(link));
        link->filterMutex = aMutex_Create(name);
    }
    if (!link->assembly) link->assembly = aPacket_Create();
    if (!link->inFifo) link->inFifo = aPacketFifo_Create();
    if (!link->outFifo) link->outFifo = aPacketFifo_Create();
    if (!link->filterMutex || !link->assembly || !link->inFifo || !link->outFifo) return 0;
    if (link->stream != stream) _aLink_DestroyStream(link);
    aPacket_Reset(link->assembly);
    link->id = id;
    link->stream = stream;
    link->status = stream ? aLINK_STOPPED : aLINK_NOSTREAM;
    link->syncState = kSyncInStep;
    link->check = aLINK_CHECK;
    return id;
}

aErr aLink_Start(uint32_t id) {
    aDEBUG_PRINTF(aDEBUG_LINK, " aLink_Start(%d)\n", id);
    aLinkRef link = sLink(id);
    if (!link || !link->stream) return aErrParam;
    if (link->running) return aErrNone;
    link->running = true;
    link->status = aLINK_STARTING;
    link->inReady = link->outReady = false;
    link->inThread = aThread_Create(sInPipeProcess, link);
    link->outThread = link->inThread ? aThread_Create(sOutPipeProcess, link) : nullptr;
    aErr err = aErrNone;
    if (!link->outThread) {
        sJoinThreads(link);
        link->status = aLINK_STOPPED;
        err = aErrResource;
    } else {
        err = aErrIndexRange;
        for (int i = 0; i < kStartPolls && err != aErrNone; i++) {
            aTime_MSSleep(kPollMs);
            if (link->inReady && link->outReady && link->status == aLINK_RUNNING) err = aErrNone;
        }
        if (err == aErrNone) err = _aLink_ForceRoute(link, 1);
    }
    aDEBUG_PRINTF(aDEBUG_LINK, " leaving aLink_Start(%d)==> error: %d\n", id, err);
    return err;
}

aErr aLink_Stop(aLinkRef link) {
    if (!link) return aErrParam;
    aDEBUG_PRINTF(aDEBUG_LINK, " aLink_Stop(%d)\n", link->id);
    uint8_t status = link->status;
    if (status == aLINK_STOPPING || status == aLINK_STOPPED || (!link->inThread && !link->outThread)) {
        return aErrNone;
    }
    link->status = aLINK_STOPPING;
    aErr err = link->outThread ? _aLink_ForceRoute(link, 0) : aErrNone;
    if (sJoinThreads(link) != aErrNone) err = aErrUnknown;
    link->inReady = link->outReady = false;
    aPacket_Reset(link->assembly);
    link->status = link->stream ? aLINK_STOPPED : aLINK_NOSTREAM;
    aDEBUG_PRINTF(aDEBUG_LINK, " leaving aLink_Stop(%d)==>%d\n", link->id, err);
    return err;
}

aErr _aLink_ForceRoute(aLinkRef link, uint8_t value) {
    if (!link) return aErrParam;
    const aPacket route = {aPACKET_CHECK, 3, aPACKET_ADDR_FORCEROUTE, 1, {value}};
    return aPacketFifo_Put(link->outFifo, &route);
}

aErr aLink_ForceRoute(uint32_t id, uint8_t value) {
    aDEBUG_PRINTF(aDEBUG_LINK, " aLink_ForceRoute(%d)\n", id);
    aLinkRef link = _aLink_Record(id);
    return link ? _aLink_ForceRoute(link, value) : aErrNotFound;
}

uint8_t aLink_GetStatus(uint32_t id) {
    aLinkRef link = sLink(id);
    return link ? link->status.load() : static_cast<uint8_t>(aLINK_NOSTREAM);
}

aErr aLink_PutPacket(uint32_t id, const aPacket* packet) {
    aLinkRef link = sLink(id);
    return link ? aPacketFifo_Put(link->outFifo, packet) : aErrParam;
}

aPacket* aLink_GetPacket(uint32_t id) {
    aLinkRef link = sLink(id);
    return link ? aPacketFifo_Get(link->inFifo) : nullptr;
}

aPacket* aLink_AwaitPacket(uint32_t id, uint32_t timeoutMs) {
    aLinkRef link = sLink(id);
    return link ? aPacketFifo_Await(link->inFifo, timeoutMs) : nullptr;
}

aPacket* aLink_GetFirst(uint32_t id, aPacketFilter filter, void* ref) {
    aLinkRef link = sLink(id);
    return link ? aPacketFifo_GetFirst(link->inFifo, filter, ref) : nullptr;
}

aPacket* aLink_AwaitFirst(uint32_t id, aPacketFilter filter, void* ref, uint32_t timeoutMs) {
    aLinkRef link = sLink(id);
    if (!link) return nullptr;
    uint64_t start = aTime_GetMSTicks();
    aPacket* found = nullptr;
    while (!found && link->running && link->status == aLINK_RUNNING) {
        uint64_t elapsed = aTime_GetMSTicks() - start;
        if (elapsed > timeoutMs) break;
        uint32_t left = static_cast<uint32_t>(timeoutMs - elapsed);
        found = aPacketFifo_AwaitFirst(link->inFifo, filter, ref, left);
        if (left == 0) break;  // a zero time-out looks once
    }
    return found;
}

size_t aLink_DrainPackets(uint32_t id, aPacketFilter filter, void* ref) {
    aLinkRef link = sLink(id);
    return link ? aPacketFifo_DrainPackets(link->inFifo, filter, ref) : 0;
}

aErr aLink_InstallUserPacketFilter(uint32_t id, aPacketFilter filter, void* ref) {
    aLinkRef link = sLink(id);
    if (!link) return aErrParam;
    aMutex_Lock(link->filterMutex);
    link->userFilter = filter;
    link->userFilterRef = filter ? ref : nullptr;
    aMutex_Unlock(link->filterMutex);
    return aErrNone;
}

aErr aLink_EnablePooledPackets(uint32_t id, bool pooled) {
    aLinkRef link = sLink(id);
    if (!link) return aErrParam;
    link->pooled = pooled;
    return aErrNone;
}

aErr aLink_Sync(uint32_t id) {
    aLinkRef link = sLink(id);
    if (!link) return aErrParam;
    link->status = aLINK_SYNCING;
    // A stream that waits long for input (USB: 1000 ms) starts the handshake now.
    aStream_Interrupt(link->stream);
    aErr err = aErrNotReady;
    for (int i = 0; i < kStartPolls && err != aErrNone; i++) {
        aTime_MSSleep(kPollMs);
        if (link->status == aLINK_RUNNING) err = aErrNone;
    }
    // Neither the handshake's packets nor replies from before it may linger.
    sDrainAll(link->outFifo);
    aTime_MSSleep(kSyncDrainPauseMs);
    sDrainAll(link->inFifo);
    return err;
}
