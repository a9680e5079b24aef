/*
 * aLinkSpec.h - the link specifier: how to reach one device (USB, TCP/IP,
 * serial port, or through a device server), as discovery finds it and link
 * creation takes it.
 *
 * 128 bytes. Servers send it as its raw bytes in their discovery answers:
 * every field little-endian except the IPv4 address, which keeps network
 * byte order; aLinkSpec_ToBytes / aLinkSpec_FromBytes make and read that
 * form on any host.
 */
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/aDefs.h"

enum linkType : uint32_t {
    LINKTYPE_INVALID = 0,
    LINKTYPE_USB = 1,
    LINKTYPE_TCPIP = 2,
    LINKTYPE_SERIAL = 3,
    LINKTYPE_NEBRA = 4,  // through a device server, the server's address only
    LINKTYPE_NEBRA_USB = 5,
    LINKTYPE_NEBRA_TCPIP = 6,
    LINKTYPE_NEBRA_SERIAL = 7,
};

constexpr size_t aLINKSPEC_SIZE = 128;
constexpr size_t aLINKSPEC_PORTNAME_SIZE = 100;

struct linkSpec {
    uint32_t type;
    uint32_t serialNumber;
    uint32_t moduleAddress;  // low byte used; 0 when unknown
    uint32_t routerAddress;
    uint32_t routerSerialNumber;
    uint32_t model;  // low byte used
    union {
        uint32_t usbId;      // USB: the serial number
        uint32_t ipAddress;  // TCP/IP and device servers: network byte order
        uint32_t baudRate;   // serial
    };
    union {
        uint32_t ipPort;                         // TCP/IP and device servers
        char portName[aLINKSPEC_PORTNAME_SIZE];  // serial: NUL-terminated device path
    };
};
static_assert(sizeof(linkSpec) == aLINKSPEC_SIZE, "a linkSpec is 128 bytes");
static_assert(offsetof(linkSpec, usbId) == 24 && offsetof(linkSpec, ipPort) == 28, "linkSpec layout");

bool isNEBRA(uint32_t type);

/* A zero-filled specifier of the type; none when memory runs out. */
linkSpec* aLinkSpec_Create(uint32_t type);
linkSpec* aLinkSpec_Copy(const linkSpec* specifier);
/* aErrParam when the specifier is already none. */
aErr aLinkSpec_Destroy(linkSpec** specifier);

void aLinkSpec_ToBytes(const linkSpec* specifier, uint8_t bytes[aLINKSPEC_SIZE]);
void aLinkSpec_FromBytes(const uint8_t bytes[aLINKSPEC_SIZE], linkSpec* specifier);
