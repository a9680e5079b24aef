/*
 * aStreamSerial.h - a stream over a serial port, raw, 8N1 or as chosen.
 * get waits at most aSERIAL_READ_WAIT_MS for input before it answers
 * aErrNotReady.
 */
#pragma once

#include "common/aStream.h"

constexpr int aSERIAL_READ_WAIT_MS = 50;

/* speedIndex 0..7: 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400 baud.
 * dataBits 0: 8 bits, 1: 7 bits; stopBits 0: one, 1: two; parity non-zero: even. */
aErr aStream_CreateSerial(const char* path, int speedIndex, int parity, int dataBits, int stopBits,
                          aStreamRef* stream);

/* The baud rate of a speed index, or 0 for none. */
unsigned aStream_SerialBaudRate(int speedIndex);
