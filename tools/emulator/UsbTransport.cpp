#include "tools/emulator/UsbTransport.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <mutex>

#include "common/aTime.h"

namespace emulator {

namespace {

constexpr int kMaxTickWaitMs = 100;
constexpr uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                   USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
constexpr uint8_t kManufacturerIndex = 1, kProductIndex = 2, kSerialIndex = 3;
constexpr size_t kSetupSize = 8;

void sPut16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

std::vector<uint8_t> sStringDescriptor(const std::string& text) {
    std::vector<uint8_t> d = {static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) sPut16(d, static_cast<uint8_t>(c));
    return d;
}

/* The usbfs URB as the host laid it out; read and written by copy, since
 * the bytes come from another process's memory. */
usbdevfs_urb sUrbOf(UMockdevIoctlData* data) {
    usbdevfs_urb urb{};
    memcpy(&urb, data->data, sizeof(urb));
    return urb;
}

void sSetUrbResult(UMockdevIoctlData* data, int status, int actualLength) {
    memcpy(data->data + offsetof(usbdevfs_urb, status), &status, sizeof(status));
    memcpy(data->data + offsetof(usbdevfs_urb, actual_length), &actualLength, sizeof(actualLength));
}

void sAnswer(UMockdevIoctlClient* client, long result, int error = 0) {
    umockdev_ioctl_client_complete(client, result, error);
}

UMockdevIoctlData* sResolve(UMockdevIoctlData* data, size_t offset, size_t length) {
    GError* error = nullptr;
    UMockdevIoctlData* child = umockdev_ioctl_data_resolve(data, offset, length, &error);
    if (error) g_error_free(error);
    return child;
}

/* A URB the device holds: pending IN, or completed and waiting to be reaped. */
struct Urb {
    const void* client;  // a key only, never dereferenced
    UMockdevIoctlData* urb;
    UMockdevIoctlData* buffer;  // none for a zero-length transfer
    uint8_t endpoint;
    void release() {
        if (buffer) g_object_unref(buffer);
        g_object_unref(urb);
    }
};

struct Fault {
    uint8_t endpoint;
    UsbFailure kind;
    uint64_t first, last;  // transfer numbers on the endpoint
};

}  // namespace

struct UsbTransport::Core {
    std::mutex lock;  // everything below but the model
    UsbDeviceOptions options;
    uint16_t productId = 0;
    std::string serial;
    std::vector<uint8_t> descriptors;
    uint8_t port = 0;

    unsigned generation = 0;  // of the current plug; handlers of earlier plugs answer ENODEV
    bool plugged = false;
    uint8_t devnum = 0;
    std::string syspath, devnode;
    PtyPair pty;
    UMockdevIoctlBase* handler = nullptr;
    bool ringing = false;

    std::deque<uint8_t> toHost;
    std::list<Urb> pending;                  // bulk IN waiting for bytes
    std::list<Urb> completed;                // waiting to be reaped
    std::map<const void*, uint32_t> claims;  // client -> claimed interfaces
    int claimError = 0;
    bool accessDenied = false;
    std::vector<Fault> faults;
    uint64_t outCount = 0, inCount = 0;
    UsbCounters counters;

    std::mutex modelLock;  // calls into the model; taken before the model's own lock
    DeviceModel* model = nullptr;
    std::condition_variable_any tickWake;
    bool stopping = false;

    /* The node can be polled writable exactly while something can be reaped. */
    void updateBell() {
        bool reapable = !completed.empty() || (!pending.empty() && !toHost.empty());
        if (reapable == ringing || pty.slave < 0) return;
        tcflow(pty.slave, reapable ? TCOON : TCOOFF);
        ringing = reapable;
    }

    void fromDevice(const uint8_t* bytes, size_t count) {
        std::lock_guard<std::mutex> g(lock);
        if (!plugged) return;
        toHost.insert(toHost.end(), bytes, bytes + count);
        updateBell();
    }

    const Fault* faultFor(uint8_t endpoint, uint64_t number) const {
        for (const Fault& f : faults) {
            if (f.endpoint == endpoint && number >= f.first && number <= f.last) return &f;
        }
        return nullptr;
    }

    void handle(UMockdevIoctlClient* client, unsigned gen);
    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::unique_lock<std::mutex>& g);
    void control(Urb& u, const usbdevfs_urb& urb);
    void reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool current);
    void discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void claim(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool take);
    void vanished(const void* client);
    std::vector<uint8_t> descriptor(uint8_t type, uint8_t index) const;
};

namespace {

struct HandlerRef {
    std::shared_ptr<UsbTransport::Core> core;
    unsigned generation;
};

gboolean sOnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* ref = static_cast<HandlerRef*>(data);
    ref->core->handle(client, ref->generation);
    return TRUE;
}

void sOnConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data) {
    auto* ref = static_cast<HandlerRef*>(data);
    std::lock_guard<std::mutex> g(ref->core->lock);
    ref->core->counters.opens++;
}

void sOnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    static_cast<HandlerRef*>(data)->core->vanished(client);
}

void sFreeRef(gpointer data, GClosure*) { delete static_cast<HandlerRef*>(data); }

void sConnect(UMockdevIoctlBase* handler, const char* signal, GCallback callback,
              const std::shared_ptr<UsbTransport::Core>& core, unsigned generation) {
    g_signal_connect_data(handler, signal, callback, new HandlerRef{core, generation}, sFreeRef,
                          static_cast<GConnectFlags>(0));
}

}  // namespace

void UsbTransport::Core::handle(UMockdevIoctlClient* client, unsigned gen) {
    gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::unique_lock<std::mutex> g(lock);
    bool current = plugged && gen == generation;
    if (request == USBDEVFS_REAPURBNDELAY) return reap(client, arg, current);
    if (!current) return sAnswer(client, -1, ENODEV);
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* caps = sResolve(arg, 0, sizeof(uint32_t));
            if (!caps) return sAnswer(client, -1, EFAULT);
            memcpy(caps->data, &kCapabilities, sizeof(kCapabilities));
            sAnswer(client, 0);
            g_object_unref(caps);
            return;
        }
        case USBDEVFS_CLAIMINTERFACE: return claim(client, arg, true);
        case USBDEVFS_RELEASEINTERFACE: return claim(client, arg, false);
        case USBDEVFS_CLEAR_HALT: counters.clearHalts++; return sAnswer(client, 0);
        case USBDEVFS_DISCONNECT_CLAIM:
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_RESETEP:
        case USBDEVFS_RESET: return sAnswer(client, 0);
        case USBDEVFS_GETDRIVER:
        case USBDEVFS_IOCTL: return sAnswer(client, -1, ENODATA);  // no kernel driver bound
        case USBDEVFS_SUBMITURB: return submit(client, arg, g);
        case USBDEVFS_DISCARDURB: return discard(client, arg);
        default: return sAnswer(client, -1, ENOTTY);
    }
}

void UsbTransport::Core::claim(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool take) {
    UMockdevIoctlData* data = sResolve(arg, 0, sizeof(uint32_t));
    if (!data) return sAnswer(client, -1, EFAULT);
    uint32_t interface = 0;
    memcpy(&interface, data->data, sizeof(interface));
    g_object_unref(data);
    if (interface > 0) return sAnswer(client, -1, ENOENT);
    if (!take) {
        claims.erase(client);
        return sAnswer(client, 0);
    }
    if (claimError) return sAnswer(client, -1, claimError);
    for (const auto& [holder, mask] : claims) {
        if (holder != client && (mask & 1)) return sAnswer(client, -1, EBUSY);
    }
    claims[client] |= 1;
    counters.claims++;
    sAnswer(client, 0);
}

std::vector<uint8_t> UsbTransport::Core::descriptor(uint8_t type, uint8_t index) const {
    const size_t kDeviceSize = 18;
    switch (type) {
        case 1: return {descriptors.begin(), descriptors.begin() + kDeviceSize};
        case 2: return {descriptors.begin() + kDeviceSize, descriptors.end()};
        case 3:
            if (index == 0) return {4, 3, 0x09, 0x04};  // US English only
            if (index == kManufacturerIndex) return sStringDescriptor("Quillcore");
            if (index == kProductIndex) return sStringDescriptor("Quillcore module");
            if (index == kSerialIndex) return sStringDescriptor(serial);
            return {};
        default: return {};
    }
}

/* A control transfer: the setup packet, then room for the answer. */
void UsbTransport::Core::control(Urb& u, const usbdevfs_urb& urb) {
    int status = -EPIPE, actual = 0;
    if (u.buffer && static_cast<size_t>(urb.buffer_length) >= kSetupSize) {
        const uint8_t* setup = u.buffer->data;
        uint16_t value = static_cast<uint16_t>(setup[2] | setup[3] << 8);
        uint16_t length = static_cast<uint16_t>(setup[6] | setup[7] << 8);
        bool getDescriptor = setup[0] == 0x80 && setup[1] == 6;
        std::vector<uint8_t> d =
            getDescriptor ? descriptor(value >> 8, value & 0xFF) : std::vector<uint8_t>{};
        if (!d.empty()) {
            size_t room = static_cast<size_t>(urb.buffer_length) - kSetupSize;
            size_t n = std::min({d.size(), static_cast<size_t>(length), room});
            memcpy(u.buffer->data + kSetupSize, d.data(), n);
            status = 0;
            actual = static_cast<int>(n);
        }
    }
    sSetUrbResult(u.urb, status, actual);
}

void UsbTransport::Core::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg,
                                std::unique_lock<std::mutex>& g) {
    UMockdevIoctlData* data = sResolve(arg, 0, sizeof(usbdevfs_urb));
    if (!data) return sAnswer(client, -1, EFAULT);
    usbdevfs_urb urb = sUrbOf(data);
    Urb u{client, data, nullptr, urb.endpoint};
    if (urb.buffer_length > 0) {
        u.buffer = sResolve(data, offsetof(usbdevfs_urb, buffer), static_cast<size_t>(urb.buffer_length));
        if (!u.buffer) {
            u.release();
            return sAnswer(client, -1, EFAULT);
        }
    }
    if (urb.type == USBDEVFS_URB_TYPE_CONTROL) {
        control(u, urb);
        completed.push_back(u);
        updateBell();
        return sAnswer(client, 0);
    }
    bool in = urb.endpoint & 0x80;
    bool known =
        urb.type == USBDEVFS_URB_TYPE_BULK && (in ? options.inEndpoint && urb.endpoint == kUsbInEndpoint
                                                  : options.outEndpoint && urb.endpoint == kUsbOutEndpoint);
    if (!known) {
        u.release();
        return sAnswer(client, -1, ENOENT);
    }
    uint64_t number = in ? ++inCount : ++outCount;
    if (in) counters.inTransfers++;
    if (!in) counters.outTransfers.push_back(static_cast<size_t>(urb.buffer_length));
    if (const Fault* f = faultFor(urb.endpoint, number)) {
        sSetUrbResult(u.urb, f->kind == UsbFailure::Stall ? -EPIPE : -EPROTO, 0);
        completed.push_back(u);
    } else if (in) {
        pending.push_back(u);
    } else {
        std::vector<uint8_t> bytes(u.buffer ? u.buffer->data : nullptr,
                                   u.buffer ? u.buffer->data + urb.buffer_length : nullptr);
        // The model answers through fromDevice, which takes the lock again.
        g.unlock();
        {
            std::lock_guard<std::mutex> m(modelLock);
            if (model && !bytes.empty()) model->receive(bytes.data(), bytes.size());
        }
        g.lock();
        sSetUrbResult(u.urb, 0, urb.buffer_length);
        completed.push_back(u);
    }
    updateBell();
    sAnswer(client, 0);
}

void UsbTransport::Core::reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool current) {
    auto mine = [client](const Urb& u) { return u.client == client; };
    auto done = std::find_if(completed.begin(), completed.end(), mine);
    auto waiting = std::find_if(pending.begin(), pending.end(), mine);
    if (done == completed.end() && waiting != pending.end() && !toHost.empty()) {
        usbdevfs_urb urb = sUrbOf(waiting->urb);
        size_t n = std::min(static_cast<size_t>(urb.buffer_length), toHost.size());
        std::copy_n(toHost.begin(), n, waiting->buffer->data);
        toHost.erase(toHost.begin(), toHost.begin() + static_cast<std::ptrdiff_t>(n));
        sSetUrbResult(waiting->urb, 0, static_cast<int>(n));
        done = completed.insert(completed.end(), *waiting);
        pending.erase(waiting);
    }
    if (done == completed.end()) {
        updateBell();
        return sAnswer(client, -1, current ? EAGAIN : ENODEV);
    }
    Urb u = *done;
    completed.erase(done);
    UMockdevIoctlData* slot = sResolve(arg, 0, sizeof(void*));
    if (!slot) {
        u.release();
        return sAnswer(client, -1, EFAULT);
    }
    umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
    sAnswer(client, 0);
    g_object_unref(slot);
    u.release();
    updateBell();
}

void UsbTransport::Core::discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    unsigned long address = 0;
    memcpy(&address, arg->data, std::min(sizeof(address), static_cast<size_t>(arg->data_len)));
    auto it = std::find_if(pending.begin(), pending.end(),
                           [&](const Urb& u) { return u.client == client && u.urb->client_addr == address; });
    if (it == pending.end()) return sAnswer(client, -1, EINVAL);
    sSetUrbResult(it->urb, -ENOENT, 0);
    completed.push_back(*it);
    pending.erase(it);
    counters.discards++;
    updateBell();
    sAnswer(client, 0);
}

void UsbTransport::Core::vanished(const void* client) {
    std::lock_guard<std::mutex> g(lock);
    claims.erase(client);
    for (auto* list : {&pending, &completed}) {
        for (auto it = list->begin(); it != list->end();) {
            if (it->client != client) {
                ++it;
                continue;
            }
            it->release();
            it = list->erase(it);
        }
    }
    updateBell();
}

std::vector<uint8_t> UsbTransport::Descriptors(const UsbDeviceOptions& o, uint16_t productId) {
    std::vector<uint8_t> d = {18, 1, 0x00, 0x02, 0, 0, 0, 64};
    sPut16(d, o.vendorId);
    sPut16(d, productId);
    sPut16(d, 0x0100);
    d.insert(d.end(), {kManufacturerIndex, kProductIndex, kSerialIndex, 1});
    uint8_t endpoints = static_cast<uint8_t>(o.outEndpoint + o.inEndpoint);
    uint16_t total = static_cast<uint16_t>(9 + 9 + 7 * endpoints);
    d.insert(d.end(), {9, 2});
    sPut16(d, total);
    d.insert(d.end(), {1, 1, 0, 0x80, 50});
    d.insert(d.end(), {9, 4, 0, 0, endpoints, 0xFF, o.interfaceSubclass, 0x10, 0});
    for (uint8_t address : {kUsbOutEndpoint, kUsbInEndpoint}) {
        if (!(address & 0x80 ? o.inEndpoint : o.outEndpoint)) continue;
        d.insert(d.end(), {7, 5, address, 2});
        sPut16(d, o.packetSize);
        d.push_back(0);
    }
    return d;
}

UsbTransport::UsbTransport(UsbTestbed& testbed, DeviceModel& model, UsbDeviceOptions options)
    : testbed_(testbed), model_(model), core_(std::make_shared<Core>()) {
    const DeviceIdentity& id = model.identity();
    core_->options = options;
    core_->productId = static_cast<uint16_t>(options.productId >= 0 ? options.productId : id.model);
    char serial[16];
    snprintf(serial, sizeof(serial), "%08X", id.serialNumber);
    core_->serial = options.serialString.empty() ? serial : options.serialString;
    core_->descriptors = Descriptors(options, core_->productId);
    core_->port = testbed.takePort();
    core_->model = &model;
    ticker_ = std::thread([this] { tickLoop(); });
}

UsbTransport::~UsbTransport() {
    unplug();
    {
        std::lock_guard<std::mutex> g(core_->modelLock);
        core_->stopping = true;
        core_->model = nullptr;
    }
    core_->tickWake.notify_all();
    ticker_.join();
}

void UsbTransport::tickLoop() {
    std::unique_lock<std::mutex> m(core_->modelLock);
    while (!core_->stopping) {
        int due = core_->model ? core_->model->tick(aTime_GetMSTicks()) : -1;
        int wait = due < 0 ? kMaxTickWaitMs : std::min(due, kMaxTickWaitMs);
        core_->tickWake.wait_for(m, std::chrono::milliseconds(std::max(wait, 1)));
    }
}

bool UsbTransport::plug(std::string& error) {
    if (plugged()) return true;
    uint8_t devnum = testbed_.takeDeviceNumber();
    char devnode[64], syspath[128];
    snprintf(devnode, sizeof(devnode), "/dev/bus/usb/001/%03u", devnum);
    snprintf(syspath, sizeof(syspath), "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-%u", core_->port);
    PtyPair pty;
    if (!testbed_.linkNode(devnode, pty, error)) return false;
    tcflow(pty.slave, TCOOFF);

    unsigned generation;
    {
        std::lock_guard<std::mutex> g(core_->lock);
        generation = ++core_->generation;
    }
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    sConnect(handler, "handle-ioctl", G_CALLBACK(sOnIoctl), core_, generation);
    sConnect(handler, "client-connected", G_CALLBACK(sOnConnected), core_, generation);
    sConnect(handler, "client-vanished", G_CALLBACK(sOnVanished), core_, generation);
    GError* gerror = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_.handle(), devnode, handler, &gerror)) {
        error = std::string("cannot attach the usbfs handler: ") + (gerror ? gerror->message : "?");
        if (gerror) g_error_free(gerror);
        g_object_unref(handler);
        testbed_.unlinkNode(devnode);
        pty.close();
        return false;
    }

    const UsbDeviceOptions& o = core_->options;
    unsigned minor = devnum - 1;  // bus 1
    std::string hex;
    for (uint8_t b : core_->descriptors) {
        char two[3];
        snprintf(two, sizeof(two), "%02x", b);
        hex += two;
    }
    char record[2048];
    snprintf(record, sizeof(record),
             "P: %s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: BUSNUM=001\nE: DEVNUM=%03u\n"
             "E: DEVNAME=%s\nE: MAJOR=189\nE: MINOR=%u\nE: PRODUCT=%x/%x/100\n"
             "A: busnum=1\nA: devnum=%u\nA: speed=%s\nA: bConfigurationValue=1\nA: bNumConfigurations=1\n"
             "A: idVendor=%04x\nA: idProduct=%04x\nA: serial=%s\nA: manufacturer=Quillcore\n"
             "A: product=Quillcore module\nA: dev=189:%u\nH: descriptors=%s\n",
             syspath + 4, devnum, devnode, minor, o.vendorId, core_->productId, devnum,
             o.packetSize >= 512 ? "480" : "12", o.vendorId, core_->productId, core_->serial.c_str(), minor,
             hex.c_str());
    if (!umockdev_testbed_add_from_string(testbed_.handle(), record, &gerror)) {
        error = std::string("cannot add the device: ") + (gerror ? gerror->message : "?");
        if (gerror) g_error_free(gerror);
        umockdev_testbed_detach_ioctl(testbed_.handle(), devnode, nullptr);
        g_object_unref(handler);
        testbed_.unlinkNode(devnode);
        pty.close();
        return false;
    }
    {
        std::lock_guard<std::mutex> g(core_->lock);
        core_->plugged = true;
        core_->devnum = devnum;
        core_->devnode = devnode;
        core_->syspath = syspath;
        core_->pty = pty;
        core_->handler = handler;
        core_->ringing = false;
        core_->toHost.clear();
        core_->claims.clear();
        if (core_->accessDenied) chmod(pty.slavePath.c_str(), 0);
    }
    {
        std::lock_guard<std::mutex> m(core_->modelLock);
        std::weak_ptr<Core> weak = core_;
        model_.setSink([weak](const uint8_t* bytes, size_t count) {
            if (auto core = weak.lock()) core->fromDevice(bytes, count);
        });
        model_.connectionOpened(aTime_GetMSTicks());
    }
    core_->tickWake.notify_all();
    return true;
}

void UsbTransport::unplug() {
    PtyPair pty;
    std::string devnode, syspath;
    UMockdevIoctlBase* handler = nullptr;
    {
        std::lock_guard<std::mutex> g(core_->lock);
        if (!core_->plugged) return;
        core_->plugged = false;
        for (Urb& u : core_->pending) sSetUrbResult(u.urb, -ESHUTDOWN, 0);
        core_->completed.splice(core_->completed.end(), core_->pending);
        core_->toHost.clear();
        core_->updateBell();
        pty = core_->pty;
        core_->pty = PtyPair{};
        devnode = core_->devnode;
        syspath = core_->syspath;
        handler = core_->handler;
        core_->handler = nullptr;
    }
    {
        std::lock_guard<std::mutex> m(core_->modelLock);
        model_.connectionClosed();
    }
    // umockdev sends no uevent of its own when a device is removed.
    umockdev_testbed_uevent(testbed_.handle(), syspath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_.handle(), syspath.c_str());
    umockdev_testbed_detach_ioctl(testbed_.handle(), devnode.c_str(), nullptr);
    testbed_.unlinkNode(devnode);
    pty.close();  // the host's poll() sees the hang-up
    g_object_unref(handler);
}

bool UsbTransport::plugged() const {
    std::lock_guard<std::mutex> g(core_->lock);
    return core_->plugged;
}

uint8_t UsbTransport::deviceNumber() const {
    std::lock_guard<std::mutex> g(core_->lock);
    return core_->devnum;
}

std::string UsbTransport::serialString() const { return core_->serial; }

void UsbTransport::failTransfers(uint8_t endpoint, UsbFailure kind, unsigned nth, unsigned count) {
    std::lock_guard<std::mutex> g(core_->lock);
    uint64_t done = endpoint & 0x80 ? core_->inCount : core_->outCount;
    if (nth == 0 || count == 0) return;
    core_->faults.push_back({endpoint, kind, done + nth, done + nth + count - 1});
}

void UsbTransport::setClaimError(int error) {
    std::lock_guard<std::mutex> g(core_->lock);
    core_->claimError = error;
}

void UsbTransport::denyAccess(bool denied) {
    std::lock_guard<std::mutex> g(core_->lock);
    core_->accessDenied = denied;
    if (core_->pty.slave >= 0) chmod(core_->pty.slavePath.c_str(), denied ? 0 : 0620);
}

void UsbTransport::sendToHost(const std::vector<uint8_t>& bytes) {
    core_->fromDevice(bytes.data(), bytes.size());
}

UsbCounters UsbTransport::counters() const {
    std::lock_guard<std::mutex> g(core_->lock);
    return core_->counters;
}

}  // namespace emulator
