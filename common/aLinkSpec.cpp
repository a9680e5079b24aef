#include "common/aLinkSpec.h"

#include <cstring>
#include <new>

namespace {

void sPut32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; i++) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t sGet32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

bool sHasAddress(uint32_t type) { return type == LINKTYPE_TCPIP || isNEBRA(type); }

}  // namespace

bool isNEBRA(uint32_t type) { return type >= LINKTYPE_NEBRA && type <= LINKTYPE_NEBRA_SERIAL; }

linkSpec* aLinkSpec_Create(uint32_t type) {
    auto* specifier = new (std::nothrow) linkSpec;
    if (!specifier) return nullptr;
    memset(specifier, 0, sizeof(*specifier));
    specifier->type = type;
    return specifier;
}

linkSpec* aLinkSpec_Copy(const linkSpec* specifier) {
    if (!specifier) return nullptr;
    auto* copy = new (std::nothrow) linkSpec;
    if (copy) memcpy(copy, specifier, sizeof(*copy));
    return copy;
}

aErr aLinkSpec_Destroy(linkSpec** specifier) {
    if (!specifier || !*specifier) return aErrParam;
    delete *specifier;
    *specifier = nullptr;
    return aErrNone;
}

void aLinkSpec_ToBytes(const linkSpec* specifier, uint8_t bytes[aLINKSPEC_SIZE]) {
    const uint32_t head[6] = {
        specifier->type,          specifier->serialNumber,       specifier->moduleAddress,
        specifier->routerAddress, specifier->routerSerialNumber, specifier->model};
    for (int i = 0; i < 6; i++) sPut32(bytes + 4 * i, head[i]);
    if (sHasAddress(specifier->type)) {
        memcpy(bytes + 24, &specifier->ipAddress, 4);  // already in network byte order
    } else {
        sPut32(bytes + 24, specifier->usbId);
    }
    if (specifier->type == LINKTYPE_SERIAL) {
        memcpy(bytes + 28, specifier->portName, aLINKSPEC_PORTNAME_SIZE);
    } else {
        sPut32(bytes + 28, specifier->ipPort);
        memcpy(bytes + 32, specifier->portName + 4, aLINKSPEC_PORTNAME_SIZE - 4);
    }
}

void aLinkSpec_FromBytes(const uint8_t bytes[aLINKSPEC_SIZE], linkSpec* specifier) {
    uint32_t* head[6] = {&specifier->type,          &specifier->serialNumber,       &specifier->moduleAddress,
                         &specifier->routerAddress, &specifier->routerSerialNumber, &specifier->model};
    for (int i = 0; i < 6; i++) *head[i] = sGet32(bytes + 4 * i);
    if (sHasAddress(specifier->type)) {
        memcpy(&specifier->ipAddress, bytes + 24, 4);
    } else {
        specifier->usbId = sGet32(bytes + 24);
    }
    if (specifier->type == LINKTYPE_SERIAL) {
        memcpy(specifier->portName, bytes + 28, aLINKSPEC_PORTNAME_SIZE);
        specifier->portName[aLINKSPEC_PORTNAME_SIZE - 1] = '\0';  // a path from the wire always ends
    } else {
        memcpy(specifier->portName, bytes + 28, aLINKSPEC_PORTNAME_SIZE);
        specifier->ipPort = sGet32(bytes + 28);
    }
}
