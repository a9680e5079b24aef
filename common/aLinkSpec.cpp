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
    auto* spec = new (std::nothrow) linkSpec;
    if (!spec) return nullptr;
    memset(spec, 0, sizeof(*spec));
    spec->type = type;
    return spec;
}

linkSpec* aLinkSpec_Copy(const linkSpec* spec) {
    if (!spec) return nullptr;
    auto* copy = new (std::nothrow) linkSpec;
    if (copy) memcpy(copy, spec, sizeof(*copy));
    return copy;
}

aErr aLinkSpec_Destroy(linkSpec** spec) {
    if (!spec || !*spec) return aErrParam;
    delete *spec;
    *spec = nullptr;
    return aErrNone;
}

void aLinkSpec_ToBytes(const linkSpec* spec, uint8_t bytes[aLINKSPEC_SIZE]) {
    const uint32_t head[6] = {spec->type,          spec->serialNumber,       spec->moduleAddress,
                              spec->routerAddress, spec->routerSerialNumber, spec->model};
    for (int i = 0; i < 6; i++) sPut32(bytes + 4 * i, head[i]);
    if (sHasAddress(spec->type)) {
        memcpy(bytes + 24, &spec->ipAddress, 4);  // already in network byte order
    } else {
        sPut32(bytes + 24, spec->usbId);
    }
    if (spec->type == LINKTYPE_SERIAL) {
        memcpy(bytes + 28, spec->portName, aLINKSPEC_PORTNAME_SIZE);
    } else {
        sPut32(bytes + 28, spec->ipPort);
        memcpy(bytes + 32, spec->portName + 4, aLINKSPEC_PORTNAME_SIZE - 4);
    }
}

void aLinkSpec_FromBytes(const uint8_t bytes[aLINKSPEC_SIZE], linkSpec* spec) {
    uint32_t* head[6] = {&spec->type,          &spec->serialNumber,       &spec->moduleAddress,
                         &spec->routerAddress, &spec->routerSerialNumber, &spec->model};
    for (int i = 0; i < 6; i++) *head[i] = sGet32(bytes + 4 * i);
    if (sHasAddress(spec->type)) {
        memcpy(&spec->ipAddress, bytes + 24, 4);
    } else {
        spec->usbId = sGet32(bytes + 24);
    }
    if (spec->type == LINKTYPE_SERIAL) {
        memcpy(spec->portName, bytes + 28, aLINKSPEC_PORTNAME_SIZE);
        spec->portName[aLINKSPEC_PORTNAME_SIZE - 1] = '\0';  // a path from the wire always ends
    } else {
        memcpy(spec->portName, bytes + 28, aLINKSPEC_PORTNAME_SIZE);
        spec->ipPort = sGet32(bytes + 28);
    }
}
