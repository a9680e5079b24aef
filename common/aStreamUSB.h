/*
 * aStreamUSB.h - a byte stream to a USB device of the family, found by its
 * serial number: through the kernel driver's node when it exists, else
 * through libusb (common/aUSB.h). get waits at most 1000 ms for input; the
 * stream's interrupt ends that wait at once.
 */
#pragma once

#include <cstdint>

#include "common/aStream.h"

constexpr uint16_t aSTREAM_USB_CHECK = 0xDEAD;

/* aErrParam for serial number 0 or no out-parameter; the open's code otherwise. */
aErr aStream_CreateUSB(uint32_t serialNumber, aStreamRef* stream);
