/*
 * The process-wide link table: entries newest first, each with the link's
 * identity, its use count and its link record. The table mutex is held only
 * while the list or a use count is touched.
 */
#include <cstdint>
#include <new>

#include "common/aDebug.h"
#include "common/aLinkPrivate.h"
#include "common/aStreamSocket.h"
#include "common/aStreamUSB.h"
#include "common/aTime.h"

namespace {

constexpr int kResetAttempts = 20;
constexpr int kResetRetryMs = 100;
constexpr uint32_t kNoIdentity = 0xFFFFFFFF;

struct LinkEntry {
    uint32_t id;
    uint32_t ident[3];
    uint8_t type;
    int16_t useCount;
    aLinkRef link;
    LinkEntry* next;
    void* server = nullptr;  // the device server running on this link
};

struct LinkTable {
    LinkEntry* head = nullptr;
    uint32_t nextId = 1;
    aMutexRef mutex = aMutex_Create("aLink_Managed");
};

LinkTable& sTable() {
    static LinkTable table;
    return table;
}

class TableLock {
public:
    TableLock() : table_(sTable()) { aMutex_Lock(table_.mutex); }
    ~TableLock() { aMutex_Unlock(table_.mutex); }
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;
    LinkTable* operator->() { return &table_; }

private:
    LinkTable& table_;
};

uint32_t sCreate2(uint32_t ident0, uint32_t ident1, uint32_t ident2, uint8_t type) {
    auto* entry =
        new (std::nothrow) LinkEntry{0, {ident0, ident1, ident2}, type, 0, _aLink_NewRecord(), nullptr};
    if (!entry || !entry->link) {
        delete entry;
        return 0;
    }
    uint32_t id;
    {
        TableLock table;
        id = entry->id = table->nextId++;
        entry->next = table->head;
        table->head = entry;
    }
    aDEBUG_PRINTF(aDEBUG_LINK, " sCreate2: ident0: %d, ident1: %d, ident2: %d, type: %d, new id: %d\n",
                  ident0, ident1, ident2, type, id);
    return id;
}

LinkEntry* sLookupEntryByID(uint32_t id) {
    TableLock table;
    for (LinkEntry* e = table->head; e; e = e->next) {
        if (e->id == id) return e;
    }
    return nullptr;
}

LinkEntry* sLookupEntryByIdentifier(uint32_t ident0, uint8_t type) {
    TableLock table;
    for (LinkEntry* e = table->head; e; e = e->next) {
        if (e->ident[0] == ident0 && e->type == type) return e;
    }
    return nullptr;
}

int16_t sChangeUseCount(LinkEntry* entry, int16_t delta) {
    int16_t count;
    {
        TableLock table;
        count = entry->useCount = static_cast<int16_t>(entry->useCount + delta);
    }
    aDEBUG_PRINTF(aDEBUG_LINK, " sChangeUseCount(%d, %+d) ==> %d\n", entry->id, delta, count);
    return count;
}

/* Drops one use; the entry, taken out of the table, when that was the last. */
LinkEntry* sReleaseUse(uint32_t id, bool* found, int16_t* remaining) {
    TableLock table;
    *found = false;
    for (LinkEntry** at = &table->head; *at; at = &(*at)->next) {
        LinkEntry* e = *at;
        if (e->id != id) continue;
        *found = true;
        *remaining = --e->useCount;
        if (*remaining > 0) return nullptr;
        *at = e->next;
        uint32_t left = 0;
        for (LinkEntry* r = table->head; r; r = r->next) left++;
        aDEBUG_PRINTF(aDEBUG_LINK, "sExtractEntry() Links: head=%p, nextID=%d",
                      static_cast<void*>(table->head), table->nextId);
        aDEBUG_PRINTF(aDEBUG_LINK, "  sExtractEntry(%d) -  %d remaining\n", id, left);
        if (!table->head) aDEBUG_PRINTF(aDEBUG_LINK, "NO MORE LINKS");
        return e;
    }
    return nullptr;
}

/* Another user of a device link already made; 0 when there is none. A link
 * that a device server runs on is refused: its users come in through the server. */
uint32_t sShare(uint32_t serialNumber, uint8_t type, const char* creator, bool* refused) {
    LinkEntry* entry = sLookupEntryByIdentifier(serialNumber, type);
    *refused = entry && entry->server;
    if (*refused) {
        aDEBUG_PRINTF(aDEBUG_LINK,
                      "This device is already being used as a \"SERVER\". \nYou must connect by \"CLIENT\" ");
        return 0;
    }
    if (!entry) return 0;
    aDEBUG_PRINTF(aDEBUG_LINK, "Using already created object:(0x%08X, running:%d, state=%d)", entry->id,
                  entry->link->running.load(), entry->link->status.load());
    sChangeUseCount(entry, 1);
    aDEBUG_PRINTF(aDEBUG_LINK, " leaving %s(bad)(%08X)\n", creator, serialNumber);
    return entry->id;
}

/* Attaches the stream, counts the first user and starts; 0 or the first failure. */
aErr sInitAndStart(uint32_t id, aStreamRef stream) {
    if (aLink_Init(id, stream) != id) {
        aStream_Destroy(stream);
        return aErrConnection;
    }
    LinkEntry* entry = sLookupEntryByID(id);
    if (entry) sChangeUseCount(entry, 1);
    return aLink_Start(id);
}

/*
 * The one place that makes a stream for a device entry by its type; a new
 * transport adds its case here and its stream in its own file. Without a
 * stream for the type the answer comes before anything is opened.
 */
aErr sOpenStream(const LinkEntry* entry, aStreamRef* stream) {
    switch (entry->type) {
        case aLINK_TYPE_USB:
            aDEBUG_PRINTF(aDEBUG_LINK, " recreate USB stream\n");
            return stream ? aStream_CreateUSB(entry->ident[0], stream) : aErrNone;
        case aLINK_TYPE_TCPIP:
            aDEBUG_PRINTF(aDEBUG_LINK, " recreate TCPIP stream\n");
            return stream
                       ? aStream_CreateSocket(entry->ident[1], static_cast<uint16_t>(entry->ident[2]), stream)
                       : aErrNone;
        case 4:
        case 5:
        case 6:
        case 7:
            aDEBUG_PRINTF(aDEBUG_LINK, " recreate Nebra stream\n");
            return aErrUnimplemented;  // device-server client streams are not part of this build yet
        default: aDEBUG_PRINTF(aDEBUG_LINK, " recreate invalid stream type\n"); return aErrParam;
    }
}

/* Rebuilds the stream and restarts. A link whose stream cannot be made
 * again (a caller's stream, a serial port) is refused and left running. */
aErr aLink_ResetLink(LinkEntry* entry) {
    aErr err = sOpenStream(entry, nullptr);
    if (err != aErrNone) return err;
    aLinkRef link = entry->link;
    aLink_Stop(link);
    _aLink_DestroyFifos(link);
    _aLink_DestroyStream(link);
    link->status = aLINK_NOSTREAM;
    aStreamRef stream = nullptr;
    for (int attempt = 0; attempt < kResetAttempts; attempt++) {
        if (attempt) aTime_MSSleep(kResetRetryMs);
        err = sOpenStream(entry, &stream);
        if (err == aErrNone) break;
    }
    if (err != aErrNone) {
        aDEBUG_PRINTF(aDEBUG_LINK, " ERROR - could not recreate stream: %d\n", err);
        return err;
    }
    if (aLink_Init(entry->id, stream) != entry->id) {
        aStream_Destroy(stream);
        return aErrConnection;
    }
    return aLink_Start(entry->id);
}

}  // namespace

aLinkRef _aLink_Record(uint32_t id) {
    LinkEntry* entry = id ? sLookupEntryByID(id) : nullptr;
    return entry ? entry->link : nullptr;
}

uint32_t _aLink_CreateStopped(aStreamRef stream) {
    uint32_t id = sCreate2(kNoIdentity, 0, 0, aLINK_TYPE_STREAM);
    if (!id) return 0;
    if (aLink_Init(id, stream) != id) {
        aLink_Destroy(id);
        aStream_Destroy(stream);
        return 0;
    }
    sChangeUseCount(sLookupEntryByID(id), 1);
    return id;
}

uint32_t aLink_Create(aStreamRef stream) {
    aDEBUG_PRINTF(aDEBUG_LINK, "aLink_Create(%08X) OLD VERSION",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(stream)));
    if (!aStream_IsValid(stream)) return 0;
    uint32_t id = sCreate2(kNoIdentity, 0, 0, aLINK_TYPE_STREAM);
    aDEBUG_PRINTF(aDEBUG_LINK, "\n sCreate(%08X)==>%d\n", kNoIdentity, id);
    if (!id) {
        aStream_Destroy(stream);
        return 0;
    }
    if (sInitAndStart(id, stream) != aErrNone) {
        aLink_Destroy(id);
        return 0;
    }
    return id;
}

uint32_t _aLink_SetServer(uint32_t id, void* server) {
    TableLock table;
    for (LinkEntry* e = table->head; e; e = e->next) {
        if (e->id != id) continue;
        e->server = server;
        return id;
    }
    return 0;
}

uint32_t aLink_CreateUSB(uint32_t serialNumber) {
    aDEBUG_PRINTF(aDEBUG_LINK, " aLink_CreateUSB(%08X)\n", serialNumber);
    bool refused = false;
    uint32_t id = sShare(serialNumber, aLINK_TYPE_USB, "aLink_CreateUSB", &refused);
    if (id || refused) return id;
    id = sCreate2(serialNumber, 0, 0, aLINK_TYPE_USB);
    aDEBUG_PRINTF(aDEBUG_LINK, "USB sCreate(%08X)==>%d\n", serialNumber, id);
    if (!id) return 0;
    aStreamRef stream = nullptr;
    aErr err = aStream_CreateUSB(serialNumber, &stream);
    if (err != aErrNone) aDEBUG_PRINTF(aDEBUG_LINK, " aLink_CreateUSB() error creating stream %d\n", err);
    if (err == aErrNone) err = sInitAndStart(id, stream);
    if (err == aErrNone) err = aLink_Sync(id);
    if (err != aErrNone) {
        aLink_Destroy(id);
        return 0;
    }
    return id;
}

uint32_t aLink_CreateTCPIP(uint32_t serialNumber, uint32_t address, uint16_t port) {
    aDEBUG_PRINTF(aDEBUG_LINK, "aLink_CreateTCPIP: SN: %d, address: %d, port: %d\n)", serialNumber, address,
                  port);
    bool refused = false;
    uint32_t id = sShare(serialNumber, aLINK_TYPE_TCPIP, "aLink_CreateTCPIP", &refused);
    if (id || refused) return id;
    id = sCreate2(serialNumber, address, port, aLINK_TYPE_TCPIP);
    aDEBUG_PRINTF(aDEBUG_LINK, "TCPIP sCreate2 SN: %d, address: %d, port: %d, type: %d, id: %d\n)",
                  serialNumber, address, port, aLINK_TYPE_TCPIP, id);
    if (!id) return 0;
    aStreamRef stream = nullptr;
    aErr err = aStream_CreateSocket(address, port, &stream);
    if (err != aErrNone) aDEBUG_PRINTF(aDEBUG_LINK, " aLink_CreateTCPIP() error creating stream %d\n", err);
    if (err == aErrNone) err = sInitAndStart(id, stream);
    if (err != aErrNone) {
        aDEBUG_PRINTF(aDEBUG_LINK, " aLink_CreateTCPIP() BAD BAD Error: %d\n", err);
        aLink_Destroy(id);
        return 0;
    }
    return id;
}

aErr aLink_Destroy(uint32_t& id) {
    uint32_t which = id;
    id = 0;
    aDEBUG_PRINTF(aDEBUG_LINK, "aLink_Destroy(%d)\n", which);
    bool found = false;
    int16_t remaining = 0;
    LinkEntry* entry = sReleaseUse(which, &found, &remaining);
    if (!found) return aErrParam;
    if (!entry) {
        aDEBUG_PRINTF(aDEBUG_LINK, "aLink_Destroy use_count: %d\n", remaining);
        return aErrNone;
    }
    aLinkRef link = entry->link;
    delete entry;
    if (!link) return aErrUnknown;
    if (link->filterMutex) {
        aMutex_Lock(link->filterMutex);
        link->userFilter = nullptr;
        link->userFilterRef = nullptr;
        aMutex_Unlock(link->filterMutex);
    }
    aLink_Stop(link);
    aDEBUG_PRINTF(aDEBUG_LINK, "aLink_Destroy(%d) destroy link item\n", which);
    return _aLink_DeleteRecord(link);
}

aErr aLink_Reset(uint32_t id) {
    aDEBUG_PRINTF(aDEBUG_LINK, "aLink_Reset(%d)\n", id);
    LinkEntry* entry = id ? sLookupEntryByID(id) : nullptr;
    if (!entry || !entry->link) return aErrParam;
    return aLink_ResetLink(entry);
}
