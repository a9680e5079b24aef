/*
 * aUSB.h - USB devices of the family: the process-wide libusb context, the
 * family test, and the USB device record that opens a device by serial
 * number and moves bytes through its bulk endpoints.
 *
 * A device is reached through the kernel driver's node "/dev/quillcore.%08X"
 * when that node exists, else through libusb: the interface of class
 * 0xFF/0x88/0x10 is claimed and its bulk OUT and IN endpoints are used.
 * Reads fetch up to 1024 bytes per IN transfer and hand them out one at a
 * time; a read waits at most 1000 ms, and qcusb_interrupt ends that wait at
 * once, so that a link stops promptly. Four I/O errors in a row are hidden
 * (writes report success, reads no byte); the fifth fails the device.
 *
 * The link's input thread reads and its output thread writes one record at
 * the same time; the state and the error count are atomic for that.
 */
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "common/aDefs.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;
struct libusb_transfer;

constexpr uint16_t qcusbVENDOR_ID = 0x24FF;
constexpr uint8_t qcusbINTERFACE_CLASS = 0xFF;
constexpr uint8_t qcusbINTERFACE_SUBCLASS = 0x88;
constexpr uint8_t qcusbINTERFACE_PROTOCOL = 0x10;
constexpr size_t qcusbREAD_AHEAD = 1024;
constexpr unsigned int qcusbWRITE_TIMEOUT_MS = 50;
constexpr unsigned int qcusbREAD_TIMEOUT_MS = 1000;
constexpr int qcusbMAX_WRITE_FAILURES = 10;
constexpr int qcusbHIDDEN_ERRORS = 4;
constexpr int qcusbKERNEL_WRITE_CALLS = 1000;
constexpr size_t qcusbSERIAL_MAX = 256;
#define qcusbKERNEL_NODE_FORMAT "/dev/quillcore.%08X"

/* The process-wide context, made on first use under the context mutex;
 * none when libusb cannot be initialised. _init is the same call. */
libusb_context* Quillcore_libusb_context();
libusb_context* Quillcore_libusb_init();
/* Ends libusb; the next use makes a new context that enumerates afresh.
 * No device of the old context may still be open. */
void Quillcore_libusb_exit();

/* Vendor 0x24FF and a product id below 0x8000. */
bool is_quillcore_device(libusb_device* device);

enum qcusbMode : uint8_t { qcusbMODE_KERNEL = 0, qcusbMODE_LIBUSB = 1 };

enum qcusbState : uint8_t {
    qcusbSTATE_CREATED = 1,
    qcusbSTATE_CLOSED = 2,  // closed, or the open failed after finding the device
    qcusbSTATE_OPENED = 3,  // open, interface not claimed
    qcusbSTATE_READY = 4,
    qcusbSTATE_FAILED = 5,  // five I/O errors in a row
};

struct qcusbDevice {
    qcusbMode mode = qcusbMODE_LIBUSB;
    char serial[qcusbSERIAL_MAX] = {};
    libusb_context* context = nullptr;  // of the open handle
    libusb_device_handle* handle = nullptr;
    int fd = -1;  // kernel node
    std::atomic<uint8_t> state{qcusbSTATE_CREATED};
    int interfaceNumber = -1;
    uint8_t outEndpoint = 0;
    uint8_t inEndpoint = 0;
    uint16_t inPacketSize = 0;
    uint16_t outPacketSize = 0;
    uint8_t readAhead[qcusbREAD_AHEAD] = {};
    size_t readPos = 0;
    size_t readCount = 0;  // bytes not yet delivered
    std::atomic<int> errorCount{0};

    // Ending a read's wait: the IN transfer in flight, or the node's wake-up descriptor.
    libusb_transfer* inTransfer = nullptr;
    std::mutex inLock;  // inFlight and interrupted, with the submit and the cancel
    bool inFlight = false;
    bool interrupted = false;
    int wakeFd = -1;
};

bool qcusb_is_kernel_driver_installed(uint32_t serialNumber);

qcusbDevice* qcusb_create_usb(qcusbMode mode);
/* Closes what is still open, frees the record and sets the reference to none. */
aErr qcusb_destroy(qcusbDevice*& device);

aErr qcusb_open_quillcore_device(qcusbDevice* device, const char* serial);
aErr qcusb_open_quillcore_kernel_device(qcusbDevice* device, const char* serial);
aErr qcusb_open_quillcore_USBlib_device(qcusbDevice* device, const char* serial);
aErr find_usb_endpoints(qcusbDevice* device);

aErr qcusb_write_to_device(qcusbDevice* device, const uint8_t* bytes, size_t count);
aErr qcusb_write_to_kernel_device(qcusbDevice* device, const uint8_t* bytes, size_t count);
aErr qcusb_write_to_USBlib_device(qcusbDevice* device, const uint8_t* bytes, size_t count);

aErr qcusb_get_from_device(qcusbDevice* device, uint8_t* byte);
aErr qcusb_get_from_kernel_device(qcusbDevice* device, uint8_t* byte);
aErr qcusb_get_from_USBlib_device(qcusbDevice* device, uint8_t* byte);

aErr qcusb_close_quillcore_device(qcusbDevice* device);
aErr qcusb_close_quillcore_kernel_device(qcusbDevice* device);
aErr qcusb_close_quillcore_USBlib_device(qcusbDevice* device);

/* Makes a read that waits (or the next one) return aErrNotReady at once. */
aErr qcusb_interrupt(qcusbDevice* device);

/* Hides the first four I/O errors in a row; see above. */
aErr _handleErrorTolerance(qcusbDevice* device, aErr err, bool read);
