/*
 * aDefs.h - error codes and basic definitions shared by the whole library.
 *
 * aErr values double as the error byte of device error replies, so their
 * numbering is part of the device protocol and must never change.
 */
#pragma once

#include <cstdint>

enum aErr : uint32_t {
    aErrNone = 0,
    aErrMemory = 1,
    aErrParam = 2,
    aErrNotFound = 3,
    aErrFileNameLength = 4,
    aErrBusy = 5,
    aErrIO = 6,
    aErrMode = 7,
    aErrWrite = 8,
    aErrRead = 9,
    aErrEOF = 10,
    aErrNotReady = 11,
    aErrPermission = 12,
    aErrRange = 13,
    aErrSize = 14,
    aErrOverrun = 15,
    aErrParse = 16,
    aErrConfiguration = 17,
    aErrTimeout = 18,
    aErrInitialization = 19,
    aErrVersion = 20,
    aErrUnimplemented = 21,
    aErrDuplicate = 22,
    aErrCancel = 23,
    aErrPacket = 24,
    aErrConnection = 25,
    aErrIndexRange = 26,
    aErrShortCommand = 27,
    aErrInvalidEntity = 28,
    aErrInvalidOption = 29,
    aErrResource = 30,
    aErrMedia = 31,
    aErrAsyncReturn = 32,
    aErrStreamStale = 33,
    aErrUnknown = 34,
};

/* Number of defined codes; anything at or above it reads as aErrUnknown. */
constexpr uint32_t aErrCount = 35;

/* Static short name of a device model number, "Unknown" when there is none. */
const char* aDefs_GetModelName(uint32_t model);
