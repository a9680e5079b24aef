/*
 * UsbTestSupport.h - small helpers for the USB tests: module queries over a
 * link, waiting for a condition, and a thread that may not override file
 * permissions even when the tests run as root.
 */
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "common/aLink.h"
#include "common/aUEI.h"
#include "tests/support/Wait.h"

namespace usbtest {

using qctest::WaitFor;

constexpr uint8_t kModuleAddress = 2;
constexpr uint8_t kQueryBuild = 0xFF;

inline uint8_t IsBuildReply(const aPacket* p, void*) {
    return p->length == 6 && p->data[0] == cmdMODULE && p->data[1] == kQueryBuild;
}

/* Asks the module for its build number over the link; 0 when no answer came. */
inline uint32_t QueryBuild(uint32_t id, uint32_t timeoutMs = 2000) {
    const uint8_t request[2] = {cmdMODULE, kQueryBuild};
    aPacket* p = aPacket_CreateWithData(kModuleAddress, sizeof(request), request);
    aErr err = aLink_PutPacket(id, p);
    aPacket_Destroy(p);
    if (err != aErrNone) return 0;
    aPacket* reply = aLink_AwaitFirst(id, IsBuildReply, nullptr, timeoutMs);
    uint32_t build = reply ? aUEI_RetrieveInt(reply->data + 2) : 0;
    aPacket_Destroy(reply);
    return build;
}

/*
 * While it lives, the calling thread obeys file permissions: root's
 * override is dropped from this thread's effective capabilities (the other
 * threads keep theirs) and given back at the end.
 */
class NoPermissionOverride {
public:
    NoPermissionOverride() {
        if (syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        active_ = syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~NoPermissionOverride() {
        if (active_) syscall(SYS_capset, &header_, saved_);
    }
    NoPermissionOverride(const NoPermissionOverride&) = delete;
    NoPermissionOverride& operator=(const NoPermissionOverride&) = delete;

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
    bool active_ = false;
};

}  // namespace usbtest
