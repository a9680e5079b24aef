/*
 * aMemory.h - hints about large buffers.
 */
#pragma once

#include <cstddef>

/* Asks for huge pages for the whole 2 MiB pages inside the buffer: filling a
 * buffer of tens of megabytes then takes a few page faults instead of
 * thousands. Only a hint; nothing changes when it is refused. */
void aMemory_AdviseHugePages(void* buffer, size_t length);
