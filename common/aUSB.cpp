#include "common/aUSB.h"

#include <fcntl.h>
#include <libusb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/aDebug.h"

namespace {

std::mutex sContextLock;
libusb_context* sContext = nullptr;

bool sIsKernel(const qcusbDevice* d) { return d && d->mode == qcusbMODE_KERNEL; }
bool sIsLibusb(const qcusbDevice* d) { return d && d->mode == qcusbMODE_LIBUSB; }

bool sMatchesInterface(const libusb_interface_descriptor& alt) {
    return alt.bInterfaceClass == qcusbINTERFACE_CLASS && alt.bInterfaceSubClass == qcusbINTERFACE_SUBCLASS &&
           alt.bInterfaceProtocol == qcusbINTERFACE_PROTOCOL;
}

aErr sClaimMapping(int r) {
    switch (r) {
        case LIBUSB_ERROR_BUSY:
        case LIBUSB_ERROR_NO_DEVICE: return aErrBusy;
        case LIBUSB_ERROR_ACCESS: return aErrPermission;
        default: return aErrUnknown;
    }
}

void sForgetEndpoints(qcusbDevice* d) {
    d->interfaceNumber = -1;
    d->outEndpoint = d->inEndpoint = 0;
    d->inPacketSize = d->outPacketSize = 0;
}

void sCloseHandle(qcusbDevice* d) {
    if (d->inTransfer) libusb_free_transfer(d->inTransfer);
    d->inTransfer = nullptr;
    if (d->handle) libusb_close(d->handle);
    d->handle = nullptr;
    d->context = nullptr;
    d->readPos = d->readCount = 0;
}

/* The matching device is open: endpoints, claim, and the IN transfer for reads. */
aErr sTakeDevice(qcusbDevice* d, libusb_context* context, libusb_device_handle* handle, const char* serial) {
    snprintf(d->serial, sizeof(d->serial), "%s", serial);
    d->context = context;
    d->handle = handle;
    d->state = qcusbSTATE_OPENED;
    if (find_usb_endpoints(d) != aErrNone) {
        sCloseHandle(d);
        d->state = qcusbSTATE_CLOSED;
        return aErrConfiguration;
    }
    int r = libusb_claim_interface(handle, d->interfaceNumber);
    d->inTransfer = r == 0 ? libusb_alloc_transfer(0) : nullptr;
    if (r != 0 || !d->inTransfer) {
        if (r == 0) libusb_release_interface(handle, d->interfaceNumber);
        sCloseHandle(d);
        d->state = qcusbSTATE_CLOSED;
        return r == 0 ? aErrMemory : sClaimMapping(r);
    }
    d->interrupted = false;
    d->errorCount = 0;
    d->state = qcusbSTATE_READY;
    return aErrNone;
}

/* The state check that opens every libusb read and write. */
aErr sReadyForTransfer(const qcusbDevice* d, const char* debugLine) {
    uint8_t state = d->state;
    switch (state) {
        case qcusbSTATE_READY: return aErrNone;
        case qcusbSTATE_CLOSED: return aErrConnection;
        case qcusbSTATE_CREATED:
        case qcusbSTATE_OPENED: return aErrNotReady;
        default: aDEBUG_PRINTF(aDEBUG_USB, debugLine, state); return aErrIO;
    }
}

void LIBUSB_CALL sInDone(libusb_transfer* transfer) { *static_cast<int*>(transfer->user_data) = 1; }

/* The libusb code a synchronous transfer would have returned for a status. */
int sStatusCode(int status) {
    switch (status) {
        case LIBUSB_TRANSFER_COMPLETED: return 0;
        case LIBUSB_TRANSFER_TIMED_OUT: return LIBUSB_ERROR_TIMEOUT;
        case LIBUSB_TRANSFER_STALL: return LIBUSB_ERROR_PIPE;
        case LIBUSB_TRANSFER_NO_DEVICE: return LIBUSB_ERROR_NO_DEVICE;
        case LIBUSB_TRANSFER_OVERFLOW: return LIBUSB_ERROR_OVERFLOW;
        case LIBUSB_TRANSFER_CANCELLED: return LIBUSB_ERROR_INTERRUPTED;
        default: return LIBUSB_ERROR_IO;
    }
}

/*
 * One IN transfer into the read-ahead buffer, waited for as a synchronous
 * transfer would be, but cancellable by qcusb_interrupt. Returns the libusb
 * code; an interrupted wait reports LIBUSB_ERROR_INTERRUPTED.
 */
int sBulkIn(qcusbDevice* d) {
    int completed = 0;
    libusb_transfer* t = d->inTransfer;
    {
        std::lock_guard<std::mutex> g(d->inLock);
        if (d->interrupted) {
            d->interrupted = false;
            return LIBUSB_ERROR_INTERRUPTED;
        }
        libusb_fill_bulk_transfer(t, d->handle, d->inEndpoint, d->readAhead, sizeof(d->readAhead), sInDone,
                                  &completed, qcusbREAD_TIMEOUT_MS);
        int r = libusb_submit_transfer(t);
        if (r != 0) return r;
        d->inFlight = true;
    }
    while (!completed) {
        int r = libusb_handle_events_completed(d->context, &completed);
        if (r < 0 && r != LIBUSB_ERROR_INTERRUPTED) libusb_cancel_transfer(t);
    }
    std::lock_guard<std::mutex> g(d->inLock);
    d->inFlight = false;
    d->readPos = 0;
    d->readCount = static_cast<size_t>(std::max(t->actual_length, 0));
    if (t->status == LIBUSB_TRANSFER_CANCELLED) d->interrupted = false;
    return sStatusCode(t->status);
}

bool sTakeByte(qcusbDevice* d, uint8_t* byte) {
    if (d->readPos >= d->readCount) return false;
    *byte = d->readAhead[d->readPos++];
    return true;
}

}  // namespace

libusb_context* Quillcore_libusb_context() {
    std::lock_guard<std::mutex> g(sContextLock);
    if (!sContext && libusb_init(&sContext) != 0) sContext = nullptr;
    return sContext;
}

libusb_context* Quillcore_libusb_init() { return Quillcore_libusb_context(); }

void Quillcore_libusb_exit() {
    std::lock_guard<std::mutex> g(sContextLock);
    if (sContext) libusb_exit(sContext);
    sContext = nullptr;
}

bool is_quillcore_device(libusb_device* device) {
    libusb_device_descriptor d;
    if (!device || libusb_get_device_descriptor(device, &d) != 0) return false;
    return d.idVendor == qcusbVENDOR_ID && !(d.idProduct & 0x8000);
}

bool qcusb_is_kernel_driver_installed(uint32_t serialNumber) {
    char path[64];
    snprintf(path, sizeof(path), qcusbKERNEL_NODE_FORMAT, serialNumber);
    struct stat s;
    return stat(path, &s) == 0;
}

qcusbDevice* qcusb_create_usb(qcusbMode mode) {
    if (mode == qcusbMODE_LIBUSB && !Quillcore_libusb_context()) return nullptr;
    auto* d = new (std::nothrow) qcusbDevice;
    if (d) d->mode = mode;
    return d;
}

aErr qcusb_destroy(qcusbDevice*& device) {
    qcusbDevice* d = device;
    device = nullptr;
    if (!d) return aErrParam;
    if (d->handle) qcusb_close_quillcore_USBlib_device(d);
    if (d->fd >= 0) close(d->fd);
    if (d->wakeFd >= 0) close(d->wakeFd);
    delete d;
    return aErrNone;
}

aErr qcusb_open_quillcore_device(qcusbDevice* device, const char* serial) {
    if (!device || !serial) return aErrParam;
    return sIsKernel(device) ? qcusb_open_quillcore_kernel_device(device, serial)
                             : qcusb_open_quillcore_USBlib_device(device, serial);
}

aErr qcusb_open_quillcore_USBlib_device(qcusbDevice* d, const char* serial) {
    if (!sIsLibusb(d) || !serial) return aErrMode;
    if (d->state == 0) return aErrResource;
    libusb_context* context = Quillcore_libusb_context();
    libusb_device** list = nullptr;
    ssize_t n = context ? libusb_get_device_list(context, &list) : -1;
    if (n < 0) return aErrResource;
    aErr err = aErrNotFound;
    bool denied = false;
    for (ssize_t i = 0; i < n && err == aErrNotFound; i++) {
        libusb_device_descriptor desc;
        libusb_device_handle* handle = nullptr;
        if (!is_quillcore_device(list[i])) continue;
        int r = libusb_open(list[i], &handle);
        if (r != 0) {
            denied = denied || r == LIBUSB_ERROR_ACCESS;
            continue;
        }
        unsigned char text[qcusbSERIAL_MAX];
        int length = libusb_get_device_descriptor(list[i], &desc) == 0
                         ? libusb_get_string_descriptor_ascii(handle, desc.iSerialNumber, text, sizeof(text))
                         : -1;
        if (length <= 0 || strcmp(reinterpret_cast<char*>(text), serial) != 0) {
            libusb_close(handle);
            continue;
        }
        err = sTakeDevice(d, context, handle, serial);
        if (err != aErrNone) break;
    }
    libusb_free_device_list(list, 1);
    // A device of the family that we may not open could be the one asked for.
    return err == aErrNotFound && denied ? aErrPermission : err;
}

aErr find_usb_endpoints(qcusbDevice* d) {
    if (!sIsLibusb(d) || !d->handle) return aErrMode;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_config_descriptor(libusb_get_device(d->handle), 0, &config) != 0) return aErrConfiguration;
    sForgetEndpoints(d);
    for (int i = 0; i < config->bNumInterfaces; i++) {
        const libusb_interface& interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting; a++) {
            const libusb_interface_descriptor& alt = interface.altsetting[a];
            if (!sMatchesInterface(alt)) continue;
            d->interfaceNumber = alt.bInterfaceNumber;
            for (int e = 0; e < alt.bNumEndpoints; e++) {
                const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                if (!(ep.bmAttributes & 0x02)) continue;  // bulk or interrupt
                uint16_t size = ep.wMaxPacketSize & 0x7FF;
                if (ep.bEndpointAddress & 0x80) {
                    d->inEndpoint = ep.bEndpointAddress;
                    d->inPacketSize = size;
                    aDEBUG_PRINTF(aDEBUG_USB, "In Endpoint Max packet: %d\n", size);
                } else {
                    d->outEndpoint = ep.bEndpointAddress;
                    d->outPacketSize = size;
                    aDEBUG_PRINTF(aDEBUG_USB, "Out Endpoint Max packet: %d\n", size);
                }
            }
        }
    }
    libusb_free_config_descriptor(config);
    // A packet size of 0 could never move a byte.
    bool found = d->inEndpoint && d->outEndpoint && d->inPacketSize && d->outPacketSize;
    return found ? aErrNone : aErrConfiguration;
}

aErr qcusb_open_quillcore_kernel_device(qcusbDevice* d, const char* serial) {
    if (!sIsKernel(d) || !serial) return aErrMode;
    snprintf(d->serial, sizeof(d->serial), "%s", serial);
    char path[qcusbSERIAL_MAX + 32];
    snprintf(path, sizeof(path), "/dev/quillcore.%s", serial);
    // Never the controlling terminal, whatever the node is.
    int fd = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == EBUSY ? aErrBusy : aErrIO;
    if (d->wakeFd < 0) d->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d->wakeFd < 0) {
        close(fd);
        return aErrIO;
    }
    d->fd = fd;
    d->state = qcusbSTATE_READY;
    return aErrNone;
}

aErr qcusb_write_to_device(qcusbDevice* device, const uint8_t* bytes, size_t count) {
    if (!device || (!bytes && count)) return aErrParam;
    return sIsKernel(device) ? qcusb_write_to_kernel_device(device, bytes, count)
                             : qcusb_write_to_USBlib_device(device, bytes, count);
}

aErr qcusb_write_to_USBlib_device(qcusbDevice* d, const uint8_t* bytes, size_t count) {
    if (!sIsLibusb(d)) return aErrMode;
    aErr err = sReadyForTransfer(d, "libusb WRITE error dev state: %d\n");
    size_t sent = 0;
    int failures = 0;
    while (err == aErrNone && sent < count && failures < qcusbMAX_WRITE_FAILURES) {
        size_t size = std::min<size_t>(d->outPacketSize, count - sent);
        if (size == 512) size = 511;  // a transfer of exactly 512 bytes is never sent
        int transferred = 0;
        int r = libusb_bulk_transfer(d->handle, d->outEndpoint, const_cast<uint8_t*>(bytes + sent),
                                     static_cast<int>(size), &transferred, qcusbWRITE_TIMEOUT_MS);
        sent += static_cast<size_t>(std::max(transferred, 0));
        aDEBUG_PRINTF(aDEBUG_USB, "libusb lenSent: %d - nSize: %d\n", transferred, static_cast<int>(size));
        if (r == 0) continue;
        failures++;
        aDEBUG_PRINTF(aDEBUG_USB, "libusb error: %d\n", r);
        if (r == LIBUSB_ERROR_PIPE) {
            int c = libusb_clear_halt(d->handle, d->outEndpoint);
            if (c != 0) {
                aDEBUG_PRINTF(aDEBUG_USB, "libusb WRITE error clearing halt: %d\n", c);
                err = aErrIO;
            }
        }
    }
    if (err == aErrNone && sent < count) err = aErrWrite;
    return _handleErrorTolerance(d, err, false);
}

aErr qcusb_write_to_kernel_device(qcusbDevice* d, const uint8_t* bytes, size_t count) {
    if (!sIsKernel(d) || d->fd < 0) return aErrMode;
    size_t sent = 0;
    for (int calls = 0; sent < count && calls < qcusbKERNEL_WRITE_CALLS; calls++) {
        ssize_t n = write(d->fd, bytes + sent, count - sent);
        if (n < 0) return aErrIO;
        sent += static_cast<size_t>(n);
    }
    return sent == count ? aErrNone : aErrIO;
}

aErr qcusb_get_from_device(qcusbDevice* device, uint8_t* byte) {
    if (!device || !byte) return aErrParam;
    return sIsKernel(device) ? qcusb_get_from_kernel_device(device, byte)
                             : qcusb_get_from_USBlib_device(device, byte);
}

aErr qcusb_get_from_USBlib_device(qcusbDevice* d, uint8_t* byte) {
    if (!sIsLibusb(d) || !byte) return aErrMode;
    if (sTakeByte(d, byte)) return _handleErrorTolerance(d, aErrNone, true);
    aErr err = sReadyForTransfer(d, "libusb READ error dev state: %d\n");
    if (err == aErrNone) {
        int r = sBulkIn(d);
        switch (r) {
            case 0:
            case LIBUSB_ERROR_TIMEOUT:      // the bytes received, if any, are kept
            case LIBUSB_ERROR_INTERRUPTED:  // a stop is waiting for this thread
                break;
            case LIBUSB_ERROR_PIPE:
                libusb_clear_halt(d->handle, d->inEndpoint);
                d->readCount = 0;
                break;
            default:
                aDEBUG_PRINTF(aDEBUG_USB, "libusb READ error bulk transfer: %d\n", r);
                d->readCount = 0;
                err = aErrIO;
        }
        if (err == aErrNone) err = sTakeByte(d, byte) ? aErrNone : aErrNotReady;
    }
    return _handleErrorTolerance(d, err, true);
}

aErr qcusb_get_from_kernel_device(qcusbDevice* d, uint8_t* byte) {
    if (!sIsKernel(d) || d->fd < 0 || !byte) return aErrMode;
    // The node answers a read when a byte is there; waiting here, bounded as a
    // USB read is, keeps a stop from waiting on a quiet device.
    pollfd p[2] = {{d->fd, POLLIN, 0}, {d->wakeFd, POLLIN, 0}};
    int ready = poll(p, 2, qcusbREAD_TIMEOUT_MS);
    if (ready <= 0) return ready < 0 && errno != EINTR ? aErrIO : aErrNotReady;
    if (p[1].revents & POLLIN) {
        uint64_t count;
        (void)!read(d->wakeFd, &count, sizeof(count));
        return aErrNotReady;
    }
    ssize_t n = read(d->fd, byte, 1);
    if (n == 1) return aErrNone;
    // A node that hung up (its device went away) reads nothing for ever.
    if (n == 0) return p[0].revents & POLLHUP ? aErrIO : aErrNotReady;
    return errno == EFAULT || errno == EINTR || errno == EAGAIN ? aErrNotReady : aErrIO;
}

aErr qcusb_close_quillcore_device(qcusbDevice* device) {
    if (!device) return aErrParam;
    return sIsKernel(device) ? qcusb_close_quillcore_kernel_device(device)
                             : qcusb_close_quillcore_USBlib_device(device);
}

aErr qcusb_close_quillcore_USBlib_device(qcusbDevice* d) {
    if (!sIsLibusb(d) || !d->handle) return aErrMode;
    libusb_release_interface(d->handle, d->interfaceNumber);
    sCloseHandle(d);
    d->state = qcusbSTATE_CLOSED;
    sForgetEndpoints(d);
    return aErrNone;
}

aErr qcusb_close_quillcore_kernel_device(qcusbDevice* d) {
    if (!sIsKernel(d)) return aErrMode;
    if (d->fd < 0) return aErrNone;
    int fd = d->fd;
    // The descriptor is gone after close() whatever it answers; never close it twice.
    d->fd = -1;
    d->state = qcusbSTATE_CLOSED;
    return close(fd) == 0 ? aErrNone : aErrCancel;
}

aErr qcusb_interrupt(qcusbDevice* d) {
    if (!d) return aErrParam;
    if (sIsKernel(d)) {
        uint64_t one = 1;
        return d->wakeFd >= 0 && write(d->wakeFd, &one, sizeof(one)) == sizeof(one) ? aErrNone : aErrIO;
    }
    std::lock_guard<std::mutex> g(d->inLock);
    d->interrupted = true;
    if (d->inFlight) libusb_cancel_transfer(d->inTransfer);
    return aErrNone;
}

aErr _handleErrorTolerance(qcusbDevice* d, aErr err, bool read) {
    if (err != aErrIO) {
        d->errorCount = 0;
        return err;
    }
    int before = d->errorCount.fetch_add(1);
    if (before < qcusbHIDDEN_ERRORS && d->state != qcusbSTATE_FAILED) return read ? aErrNotReady : aErrNone;
    d->state = qcusbSTATE_FAILED;
    return aErrIO;
}
