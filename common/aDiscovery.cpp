#include "common/aDiscovery.h"

#include <libusb.h>

#include <cctype>
#include <cstdlib>

#include "common/aDebug.h"
#include "common/aUSB.h"

namespace {

constexpr size_t kSerialBuffer = 32;
constexpr int kSerialLength = 8;

/* Eight hexadecimal digits, or false. */
bool sParseSerial(const unsigned char* text, int length, uint32_t* serial) {
    if (length != kSerialLength) return false;
    for (int i = 0; i < length; i++) {
        if (!isxdigit(text[i])) return false;
    }
    *serial = static_cast<uint32_t>(strtoul(reinterpret_cast<const char*>(text), nullptr, 16));
    return true;
}

/* Offers one open device to the callback; false when the callback says stop. */
bool sOffer(libusb_device* device, libusb_device_handle* handle, aDiscoveryModuleFoundProc found,
            void* context, uint8_t* count) {
    libusb_device_descriptor desc;
    unsigned char text[kSerialBuffer];
    uint32_t serial = 0;
    if (libusb_get_device_descriptor(device, &desc) != 0) return true;
    int length = libusb_get_string_descriptor_ascii(handle, desc.iSerialNumber, text, sizeof(text));
    if (!sParseSerial(text, length, &serial)) return true;
    linkSpec* specifier = aLinkSpec_Create(LINKTYPE_USB);
    if (!specifier) return true;
    specifier->serialNumber = serial;
    specifier->model = desc.idProduct & 0xFF;
    specifier->usbId = serial;
    bool accepted = false;
    bool go = found(specifier, &accepted, context);
    if (accepted) (*count)++;
    aLinkSpec_Destroy(&specifier);
    return go;
}

uint8_t sEnumerateUSB(aDiscoveryModuleFoundProc found, void* context) {
    libusb_context* usb = Quillcore_libusb_context();
    libusb_device** list = nullptr;
    ssize_t n = usb ? libusb_get_device_list(usb, &list) : -1;
    if (n < 0) return 0;
    uint8_t count = 0;
    bool go = true;
    for (ssize_t i = 0; i < n && go; i++) {
        libusb_device_handle* handle = nullptr;
        if (!is_quillcore_device(list[i]) || libusb_open(list[i], &handle) != 0) continue;
        go = sOffer(list[i], handle, found, context, &count);
        libusb_close(handle);
    }
    libusb_free_device_list(list, 1);
    aDEBUG_PRINTF(aDEBUG_DISCOVERY, "aDiscovery USB: %d accepted\n", count);
    return count;
}

struct FindRequest {
    bool first;  // the first device with a serial number, whichever it is
    uint32_t serialNumber;
    linkSpec* result;
};

bool sTakeMatch(const linkSpec* specifier, bool* accepted, void* context) {
    auto* request = static_cast<FindRequest*>(context);
    bool match =
        request->first ? specifier->serialNumber != 0 : specifier->serialNumber == request->serialNumber;
    if (!match) return true;
    request->result = aLinkSpec_Copy(specifier);
    *accepted = request->result != nullptr;
    return false;
}

linkSpec* sFind(uint32_t type, bool first, uint32_t serialNumber, uint32_t interfaceAddress) {
    FindRequest request{first, serialNumber, nullptr};
    aDiscovery_EnumerateModules(type, sTakeMatch, &request, interfaceAddress);
    return request.result;
}

}  // namespace

uint8_t aDiscovery_EnumerateModules(uint32_t type, aDiscoveryModuleFoundProc found, void* context,
                                    uint32_t interfaceAddress) {
    (void)interfaceAddress;
    if (!found) return 0;
    switch (type) {
        case LINKTYPE_USB: return sEnumerateUSB(found, context);
        case LINKTYPE_TCPIP:
        case LINKTYPE_NEBRA:
        case LINKTYPE_NEBRA_USB:
        case LINKTYPE_NEBRA_TCPIP:
        case LINKTYPE_NEBRA_SERIAL:
            aDEBUG_PRINTF(aDEBUG_DISCOVERY, "aDiscovery: network discovery of type %u is not in this build\n",
                          type);
            return 0;
        default: return 0;  // serial ports are not discovered
    }
}

linkSpec* aDiscovery_FindModule(uint32_t type, uint32_t serialNumber, uint32_t interfaceAddress) {
    return sFind(type, false, serialNumber, interfaceAddress);
}

linkSpec* aDiscovery_FindFirstModule(uint32_t type, uint32_t interfaceAddress) {
    return sFind(type, true, 0, interfaceAddress);
}
