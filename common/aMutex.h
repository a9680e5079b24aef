/*
 * aMutex.h - a named, process-local, non-recursive mutex.
 */
#pragma once

#include <cstddef>

#include "common/aDefs.h"

typedef struct aMutexRecord* aMutexRef;

/* Longest name a mutex keeps. */
constexpr size_t aMUTEX_MAXNAME = 255;

aMutexRef aMutex_Create(const char* name);
const char* aMutex_Identifier(aMutexRef mutex);
aErr aMutex_Destroy(aMutexRef& mutex);
aErr aMutex_Lock(aMutexRef mutex);
aErr aMutex_TryLock(aMutexRef mutex);
aErr aMutex_Unlock(aMutexRef mutex);
