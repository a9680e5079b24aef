/*
 * aDebug.h - the library's debugging switches. Off unless an embedding
 * program turns them on; the updater never does.
 */
#pragma once

#include <cstdint>
#include <cstdio>

extern uint8_t aQuillcoreDebuggingEnable;
extern uint32_t aQuillcoreDebuggingLevel;

enum : uint32_t {
    aDEBUG_LINK = 0x1,
    aDEBUG_PACKET = 0x2,
    aDEBUG_SERVER = 0x4,
    aDEBUG_MULTICAST = 0x8,
    aDEBUG_DISCOVERY = 0x10,
    aDEBUG_CLIENT = 0x20,
    aDEBUG_MODULE = 0x40,
    aDEBUG_BEACON = 0x200,
    aDEBUG_USB = 0x400,
};

inline bool aDebug_On(uint32_t bit) { return aQuillcoreDebuggingEnable && (aQuillcoreDebuggingLevel & bit); }

/* Prints a library debug line to standard output when its bit is switched on. */
#define aDEBUG_PRINTF(bit, ...)  \
    do {                         \
        if (aDebug_On(bit)) {    \
            printf(__VA_ARGS__); \
            fflush(stdout);      \
        }                        \
    } while (0)
