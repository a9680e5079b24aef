#include "common/aStreamUSB.h"

#include <cstdio>
#include <new>

#include "common/aUSB.h"

namespace {

struct UsbStreamRecord {
    uint32_t serialNumber;
    qcusbDevice* device;
    uint16_t check;
};

UsbStreamRecord* sRecord(void* ref) {
    auto* r = static_cast<UsbStreamRecord*>(ref);
    return r && r->check == aSTREAM_USB_CHECK ? r : nullptr;
}

aErr sUsbGet(uint8_t* byte, void* ref) {
    UsbStreamRecord* r = sRecord(ref);
    return r ? qcusb_get_from_device(r->device, byte) : aErrParam;
}

aErr sUsbWrite(const uint8_t* bytes, size_t count, void* ref) {
    UsbStreamRecord* r = sRecord(ref);
    return r ? qcusb_write_to_device(r->device, bytes, count) : aErrParam;
}

aErr sUsbPut(uint8_t byte, void* ref) { return sUsbWrite(&byte, 1, ref); }

aErr sUsbInterrupt(void* ref) {
    UsbStreamRecord* r = sRecord(ref);
    return r ? qcusb_interrupt(r->device) : aErrParam;
}

void sFree(UsbStreamRecord* r) {
    qcusb_destroy(r->device);
    r->check = 0;
    delete r;
}

/* A failing close is reported, but the records go all the same: nothing
 * could close them later, since the stream itself is gone. */
aErr sUsbDelete(void* ref) {
    UsbStreamRecord* r = sRecord(ref);
    if (!r) return aErrParam;
    aErr err = qcusb_close_quillcore_device(r->device);
    if (err == aErrMode) err = aErrNone;  // nothing was open
    sFree(r);
    return err;
}

}  // namespace

aErr aStream_CreateUSB(uint32_t serialNumber, aStreamRef* stream) {
    if (stream) *stream = nullptr;
    bool kernel = serialNumber && qcusb_is_kernel_driver_installed(serialNumber);
    if (!stream || serialNumber == 0) return aErrParam;
    auto* r = new (std::nothrow) UsbStreamRecord{serialNumber, nullptr, aSTREAM_USB_CHECK};
    if (!r) return aErrMemory;
    r->device = qcusb_create_usb(kernel ? qcusbMODE_KERNEL : qcusbMODE_LIBUSB);
    if (!r->device) {
        sFree(r);
        return aErrResource;
    }
    char serial[16];
    snprintf(serial, sizeof(serial), "%08X", serialNumber);
    aErr err = qcusb_open_quillcore_device(r->device, serial);
    if (err != aErrNone) {
        sFree(r);
        return err;
    }
    *stream = aStream_Create(sUsbGet, sUsbPut, sUsbWrite, sUsbDelete, r);
    if (!*stream) {
        sUsbDelete(r);
        return aErrMemory;
    }
    aStream_SetInterrupt(*stream, sUsbInterrupt);
    return aErrNone;
}
