/*
 * aStreamSocket.h - a TCP client stream to an IPv4 address and port.
 *
 * A broken connection is repaired by reconnecting to the same address inside
 * get and write, so the link above sees only a pause. get waits at most
 * aSOCKET_READ_WAIT_MS for input before it answers aErrNotReady, and hands
 * out bytes from one recv at a time.
 */
#pragma once

#include <cstdint>

#include "common/aStream.h"

constexpr int aSOCKET_MAX_SEND_RETRY = 10;
constexpr int aSOCKET_RETRY_DELAY_MS = 60;
constexpr int aSOCKET_READ_WAIT_MS = 50;
constexpr int aSOCKET_CONNECT_TIMEOUT_MS = 5000;

/* address: IPv4 address in network byte order; port in host order. */
aErr aStream_CreateSocket(uint32_t address, uint16_t port, aStreamRef* stream);
