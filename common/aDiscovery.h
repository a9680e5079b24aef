/*
 * aDiscovery.h - finding devices and describing each by a linkSpec.
 *
 * Every enumeration calls the caller's function once per device found, with
 * a specifier that is valid only during the call, an "accepted" flag that
 * starts false, and the caller's context; a false answer stops the search.
 * The result is the number of calls that set "accepted", in 8 bits.
 *
 * USB devices of the family are listed through the library's libusb
 * context. TCP/IP devices and device servers are found by the network
 * discovery, which this build does not have yet: those types find nothing.
 */
#pragma once

#include <cstdint>

#include "common/aLinkSpec.h"

typedef bool (*aDiscoveryModuleFoundProc)(const linkSpec* specifier, bool* accepted, void* context);

/* interfaceAddress: IPv4, network byte order; used by the network kinds only. */
uint8_t aDiscovery_EnumerateModules(uint32_t type, aDiscoveryModuleFoundProc found, void* context,
                                    uint32_t interfaceAddress);

/* A new specifier the caller destroys, or none. */
linkSpec* aDiscovery_FindModule(uint32_t type, uint32_t serialNumber, uint32_t interfaceAddress);
/* The first device with a non-zero serial number. */
linkSpec* aDiscovery_FindFirstModule(uint32_t type, uint32_t interfaceAddress);
