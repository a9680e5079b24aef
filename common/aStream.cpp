#include "common/aStream.h"

#include <cstdlib>
#include <cstring>
#include <new>

struct aStreamRecord {
    uint16_t check;
    aStreamGetProc get;
    aStreamPutProc put;
    aStreamWriteProc write;
    aStreamDeleteProc deleteProc;
    aStreamInterruptProc interrupt;
    void* ref;
    // push-back ring
    uint8_t* ring;
    size_t held;
    size_t capacity;
    size_t readPos;
    size_t writePos;
};

namespace {

/* Reads of up to this many bytes need no heap buffer. */
constexpr size_t kStackRead = 64;

bool sRingGrow(aStreamRef s) {
    size_t capacity = s->capacity + aSTREAMBUFCHUNK;
    auto* ring = static_cast<uint8_t*>(malloc(capacity));
    if (!ring) return false;
    for (size_t i = 0; i < s->held; i++) ring[i] = s->ring[(s->readPos + i) % s->capacity];
    free(s->ring);
    s->ring = ring;
    s->capacity = capacity;
    s->readPos = 0;
    s->writePos = s->held;
    return true;
}

bool sRingTake(aStreamRef s, uint8_t* byte) {
    if (s->held == 0) return false;
    *byte = s->ring[s->readPos];
    s->readPos = (s->readPos + 1) % s->capacity;
    s->held--;
    return true;
}

aErr sNextByte(aStreamRef s, uint8_t* byte) {
    if (sRingTake(s, byte)) return aErrNone;
    return s->get(byte, s->ref);
}

aErr sPushBack(aStreamRef s, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; i++) {
        aErr err = aStreamBufferChar(s, bytes[i]);
        if (err != aErrNone) return err;
    }
    return aErrNone;
}

/* A scratch buffer on the stack for short reads, else on the heap. */
class Scratch {
public:
    explicit Scratch(size_t size)
        : heap_(size > kStackRead ? static_cast<uint8_t*>(malloc(size)) : nullptr),
          data_(size > kStackRead ? heap_ : local_) {}
    ~Scratch() { free(heap_); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    uint8_t* data() { return data_; }

private:
    uint8_t local_[kStackRead];
    uint8_t* heap_;
    uint8_t* data_;
};

/*
 * Matches a terminator across bytes. Bytes that began a match which then
 * failed are data after all: they come back out so that nothing is lost.
 */
class TerminatorMatch {
public:
    TerminatorMatch(const uint8_t* terminator, size_t length) : term_(terminator), length_(length) {}
    size_t matched() const { return matched_; }
    bool complete() const { return matched_ == length_; }

    // Feeds one byte; bytes that turn out to be data are appended to out.
    template <typename Out>
    void feed(uint8_t byte, Out&& out) {
        if (byte == term_[matched_]) {
            matched_++;
            return;
        }
        if (matched_ == 0) {
            out(byte);
            return;
        }
        // The failed prefix plus this byte: emit the first, rescan the rest.
        uint8_t pending[aSTREAMBUFCHUNK];
        size_t n = matched_ < sizeof(pending) - 1 ? matched_ : sizeof(pending) - 1;
        memcpy(pending, term_, n);
        pending[n++] = byte;
        matched_ = 0;
        out(pending[0]);
        for (size_t i = 1; i < n; i++) feed(pending[i], out);
    }

private:
    const uint8_t* term_;
    size_t length_;
    size_t matched_ = 0;
};

}  // namespace

aStreamRef aStream_Create(aStreamGetProc get, aStreamPutProc put, aStreamWriteProc write,
                          aStreamDeleteProc deleteProc, void* ref) {
    auto* s = new (std::nothrow) aStreamRecord{};
    if (!s) return nullptr;
    s->check = aSTREAMCHECK;
    s->get = get;
    s->put = put;
    s->write = write;
    s->deleteProc = deleteProc;
    s->ref = ref;
    return s;
}

bool aStream_IsValid(aStreamRef stream) { return stream && stream->check == aSTREAMCHECK; }

aErr aStream_Destroy(aStreamRef& stream) {
    aStreamRef s = stream;
    stream = nullptr;
    if (!aStream_IsValid(s)) return aErrParam;
    aErr err = s->deleteProc ? s->deleteProc(s->ref) : aErrNone;
    free(s->ring);
    s->check = 0;
    delete s;
    return err;
}

aErr aStream_SetInterrupt(aStreamRef stream, aStreamInterruptProc interrupt) {
    if (!aStream_IsValid(stream)) return aErrParam;
    stream->interrupt = interrupt;
    return aErrNone;
}

aErr aStream_Interrupt(aStreamRef stream) {
    if (!aStream_IsValid(stream)) return aErrParam;
    return stream->interrupt ? stream->interrupt(stream->ref) : aErrUnimplemented;
}

aErr aStreamBufferChar(aStreamRef stream, uint8_t byte) {
    if (!aStream_IsValid(stream)) return aErrParam;
    if (stream->held + 1 >= stream->capacity && !sRingGrow(stream)) return aErrMemory;
    stream->ring[stream->writePos] = byte;
    stream->writePos = (stream->writePos + 1) % stream->capacity;
    stream->held++;
    return aErrNone;
}

size_t aStream_BufferCapacity(aStreamRef stream) { return aStream_IsValid(stream) ? stream->capacity : 0; }

aErr aStream_Read(aStreamRef stream, uint8_t* buffer, size_t count) {
    if (!aStream_IsValid(stream) || !buffer) return aErrParam;
    if (!stream->get) return aErrMode;
    Scratch scratch(count);
    uint8_t* temp = scratch.data();
    if (!temp) return aErrResource;
    size_t got = 0;
    aErr err = aErrNone;
    while (got < count && (err = sNextByte(stream, &temp[got])) == aErrNone) got++;
    switch (err) {
        case aErrNone: memcpy(buffer, temp, count); return aErrNone;
        case aErrNotReady: {
            aErr pushed = sPushBack(stream, temp, got);
            return pushed == aErrNone ? aErrNotReady : pushed;
        }
        case aErrEOF: memcpy(buffer, temp, got); return aErrEOF;
        default: return err;
    }
}

aErr aStream_Write(aStreamRef stream, const uint8_t* bytes, size_t count) {
    if (!aStream_IsValid(stream) || !bytes) return aErrParam;
    if (!stream->write && !stream->put) return aErrMode;
    if (count == 0) return aErrNone;
    if (stream->write && (count > 1 || !stream->put)) return stream->write(bytes, count, stream->ref);
    for (size_t i = 0; i < count; i++) {
        aErr err = stream->put(bytes[i], stream->ref);
        if (err != aErrNone) return err;
    }
    return aErrNone;
}

aErr aStream_ReadRecord(aStreamRef stream, uint8_t* buffer, size_t* length, size_t capacity,
                        const uint8_t* terminator, size_t terminatorLength) {
    if (!aStream_IsValid(stream) || !buffer || !terminator || terminatorLength == 0) return aErrParam;
    if (!stream->get) return aErrMode;
    Scratch scratch(capacity);
    uint8_t* stored = scratch.data();
    if (!stored) return aErrResource;
    // Every byte taken, so that a read that has to wait can give all back.
    Scratch taken(capacity + terminatorLength);
    if (!taken.data()) return aErrResource;
    size_t count = 0, takenCount = 0;
    TerminatorMatch match(terminator, terminatorLength);
    aErr err = aErrNone;
    while (!match.complete() && count < capacity) {
        uint8_t byte;
        err = sNextByte(stream, &byte);
        if (err != aErrNone) break;
        taken.data()[takenCount++] = byte;
        match.feed(byte, [&](uint8_t b) {
            if (count < capacity) stored[count++] = b;
        });
        // A record that filled the buffer mid-terminator keeps the rest unread.
        if (count == capacity && match.matched() > 0 && !match.complete()) {
            aErr pushed = sPushBack(stream, terminator, match.matched());
            if (pushed != aErrNone) return pushed;
        }
    }
    if (err == aErrNotReady) {
        aErr pushed = sPushBack(stream, taken.data(), takenCount);
        return pushed == aErrNone ? aErrNotReady : pushed;
    }
    if (err == aErrEOF && count == 0) return aErrEOF;
    if (err != aErrNone && err != aErrEOF) return err;
    memcpy(buffer, stored, count);
    if (length) *length = count;
    return aErrNone;
}

aErr aStream_WriteRecord(aStreamRef stream, const uint8_t* bytes, size_t count, const uint8_t* terminator,
                         size_t terminatorLength) {
    if (!terminator || terminatorLength == 0) return aErrParam;
    aErr err = aStream_Write(stream, bytes, count);
    return err == aErrNone ? aStream_Write(stream, terminator, terminatorLength) : err;
}

aErr aStream_ReadCStringRecord(aStreamRef stream, char* buffer, size_t capacity, const char* terminator) {
    if (!buffer || capacity == 0 || !terminator) return aErrParam;
    size_t length = 0;
    size_t termLength = strlen(terminator);
    // The empty text ends at its zero byte.
    const auto* term = reinterpret_cast<const uint8_t*>(terminator);
    aErr err = aStream_ReadRecord(stream, reinterpret_cast<uint8_t*>(buffer), &length, capacity - 1, term,
                                  termLength ? termLength : 1);
    buffer[err == aErrNone ? length : 0] = '\0';
    return err;
}

aErr aStream_ReadCString(aStreamRef stream, char* buffer, size_t capacity) {
    return aStream_ReadCStringRecord(stream, buffer, capacity, "");
}

aErr aStream_WriteCString(aStreamRef stream, const char* text) {
    if (!text) return aErrParam;
    return aStream_Write(stream, reinterpret_cast<const uint8_t*>(text), strlen(text) + 1);
}

aErr aStream_WriteCStringRecord(aStreamRef stream, const char* text, const char* terminator) {
    if (!text || !terminator) return aErrParam;
    return aStream_WriteRecord(stream, reinterpret_cast<const uint8_t*>(text), strlen(text),
                               reinterpret_cast<const uint8_t*>(terminator), strlen(terminator) + 1);
}

aErr aStream_Flush(aStreamRef source, aStreamRef destination) {
    if (!aStream_IsValid(source) || !aStream_IsValid(destination)) return aErrParam;
    if (!source->get || !destination->put) return aErrMode;
    for (;;) {
        uint8_t byte;
        aErr err = source->get(&byte, source->ref);
        if (err == aErrEOF) return aErrNone;
        if (err != aErrNone) return err;
        err = destination->put(byte, destination->ref);
        if (err != aErrNone) return err;
    }
}
