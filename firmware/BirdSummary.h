/*
 * BirdSummary.h - the check of a BIRD file that "updater -C" and
 * "birdtool inspect" print: the file's header and information block, its
 * serial-number patch addresses and a table of its blocks, then the verdict.
 */
#pragma once

#include <cstdint>
#include <string>

#include "common/UpdaterDisplay.h"

/* Name of a block type as the summary prints it, "UNKNOWN" for others. */
const char* BirdBlockTypeName(uint8_t type);

/* Prints the summary as information messages. True when the file is a BIRD
 * file that loads and scans without a mismatch; otherwise false after one
 * error message saying why. */
bool PrintBirdSummary(const std::string& path, UpdaterDisplayInterface& display);
