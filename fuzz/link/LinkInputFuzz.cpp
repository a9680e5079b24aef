/*
 * Feeds arbitrary bytes through a link's input path, as a device or a
 * network peer could send them: assembly, the handshake, heartbeat answers,
 * the user filter, the FIFOs and the output side that writes the answers.
 *
 * The first byte chooses the set-up: bit 0 pooled writes, bit 1 a user
 * filter that takes packets for address 0x10, bit 2 turns 0xFE into a quiet
 * read, bit 3 turns 0xFD into a read failure.
 */
#include <cstdint>
#include <cstdlib>

#include "common/aLinkPrivate.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t pos;
    bool quietBytes;
    bool failingBytes;
};

void Check(bool condition) {
    if (!condition) abort();
}

aErr Get(uint8_t* byte, void* ref) {
    auto* in = static_cast<Input*>(ref);
    if (in->pos >= in->size) return aErrNotReady;
    uint8_t b = in->data[in->pos++];
    if (in->quietBytes && b == 0xFE) return aErrNotReady;
    if (in->failingBytes && b == 0xFD) return aErrIO;
    *byte = b;
    return aErrNone;
}

/* Everything the link writes must be whole packets. */
aErr Write(const uint8_t* bytes, size_t count, void*) {
    size_t at = 0;
    while (at < count) {
        Check(count - at >= 2);
        Check(bytes[at] != 0 && bytes[at + 1] <= aPACKET_MAXDATA);
        at += 2u + bytes[at + 1];
    }
    Check(at == count);
    return aErrNone;
}

uint8_t TakeAddress10(const aPacket* p, void*) { return p->address == 0x10 ? 1 : 0; }

void DrainOutput(aLinkRef link) {
    while (_aLink_OutputStep(link, 0)) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    uint8_t setup = data[0];
    Input in{data + 1, size - 1, 0, (setup & 4) != 0, (setup & 8) != 0};
    aStreamRef stream = aStream_Create(Get, nullptr, Write, nullptr, &in);
    uint32_t id = _aLink_CreateStopped(stream);
    Check(id != 0);
    aLinkRef link = _aLink_Record(id);
    aLink_EnablePooledPackets(id, setup & 1);
    if (setup & 2) aLink_InstallUserPacketFilter(id, TakeAddress10, nullptr);
    _aLink_InputBegin(link);
    for (size_t steps = 0; in.pos < in.size; steps++) {
        _aLink_InputStep(link);
        if (steps % 64 == 63) DrainOutput(link);
    }
    _aLink_InputStep(link);  // a quiet read after the input
    DrainOutput(link);
    uint8_t status = aLink_GetStatus(id);
    Check(status == aLINK_RUNNING || status == aLINK_SYNCING || status == aLINK_IOERROR ||
          status == aLINK_FILEERROR);
    while (aPacket* p = aLink_GetPacket(id)) {
        Check(p->address != 0 && (p->address & 1) == 0 && p->length <= aPACKET_MAXDATA);
        Check(!(p->length == 2 && p->data[0] == 0));  // heartbeats are answered, not filed
        Check(!(setup & 2) || p->address != 0x10);
        aPacket_Destroy(p);
    }
    Check(aLink_Destroy(id) == aErrNone);
    return 0;
}
