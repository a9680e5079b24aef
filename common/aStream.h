/*
 * aStream.h - a byte stream of four operations (get one byte, put one byte,
 * write a run, delete) over an implementation record, with a push-back ring
 * that lets a reader return bytes it could not use yet.
 *
 * Every transport (file, TCP socket, serial port, USB, ...) is one
 * implementation made with aStream_Create in its own source file.
 *
 * get answers aErrNone with a byte, aErrNotReady when no byte is there now,
 * aErrEOF when the source has ended; anything else is a failure.
 */
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/aDefs.h"

constexpr uint16_t aSTREAMCHECK = 0x4321;
constexpr size_t aSTREAMBUFCHUNK = 512;

typedef struct aStreamRecord* aStreamRef;

typedef aErr (*aStreamGetProc)(uint8_t* byte, void* ref);
typedef aErr (*aStreamPutProc)(uint8_t byte, void* ref);
typedef aErr (*aStreamWriteProc)(const uint8_t* bytes, size_t count, void* ref);
typedef aErr (*aStreamDeleteProc)(void* ref);

/* Optional: makes a get that is waiting for input (or the next one) return
 * aErrNotReady at once, so that the thread reading can see it must stop. */
typedef aErr (*aStreamInterruptProc)(void* ref);

aStreamRef aStream_Create(aStreamGetProc get, aStreamPutProc put, aStreamWriteProc write,
                          aStreamDeleteProc deleteProc, void* ref);
aErr aStream_Destroy(aStreamRef& stream);
bool aStream_IsValid(aStreamRef stream);

aErr aStream_SetInterrupt(aStreamRef stream, aStreamInterruptProc interrupt);
/* Without an interrupt operation the stream's own get paces its reader. */
aErr aStream_Interrupt(aStreamRef stream);

aErr aStream_Read(aStreamRef stream, uint8_t* buffer, size_t count);
aErr aStream_Write(aStreamRef stream, const uint8_t* bytes, size_t count);
aErr aStreamBufferChar(aStreamRef stream, uint8_t byte);

aErr aStream_ReadRecord(aStreamRef stream, uint8_t* buffer, size_t* length, size_t capacity,
                        const uint8_t* terminator, size_t terminatorLength);
aErr aStream_WriteRecord(aStreamRef stream, const uint8_t* bytes, size_t count, const uint8_t* terminator,
                         size_t terminatorLength);
aErr aStream_ReadCString(aStreamRef stream, char* buffer, size_t capacity);
aErr aStream_WriteCString(aStreamRef stream, const char* text);
aErr aStream_ReadCStringRecord(aStreamRef stream, char* buffer, size_t capacity, const char* terminator);
aErr aStream_WriteCStringRecord(aStreamRef stream, const char* text, const char* terminator);

aErr aStream_Flush(aStreamRef source, aStreamRef destination);

/* Capacity of the push-back ring (0 until first used); for tests. */
size_t aStream_BufferCapacity(aStreamRef stream);
