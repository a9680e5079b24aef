/*
 * Fingerprint.h - four words that identify a chip in its boot ROM, word 0 first.
 */
#pragma once

#include <cstdint>

struct Fingerprint {
    uint32_t words[4] = {0, 0, 0, 0};
};

/* Stands in for the serial number where none is known (the default recovery image). */
constexpr uint32_t kPlaceholderSerial = 0xDEADDEAD;
