/*
 * aTime.h - millisecond wall clock and sleep.
 */
#pragma once

#include <cstdint>

/* Milliseconds since the Unix epoch; 0 when the clock cannot be read. */
uint64_t aTime_GetMSTicks();

/* Sleeps at least the given milliseconds; returns 0. */
int aTime_MSSleep(uint64_t milliseconds);

/* The slices aTime_MSSleep sleeps in, for callers that want to see them. */
typedef void (*aTimeSliceProc)(uint32_t microseconds, void* ref);
int aTime_MSSleepSliced(uint64_t milliseconds, aTimeSliceProc slice, void* ref);
