/*
 * usb_probe [SERIAL] - what a program sees of the family's USB devices:
 * one line "found SSSSSSSS model M" per device discovery lists; with a
 * serial number (hex), a USB link to it and "build N" from a module query.
 * Exit status 0 when everything asked for was reached. Run under the
 * emulator: quillcore-emulator -t usb -- usb_probe 1234ABCD
 */
#include <cstdio>
#include <cstdlib>

#include "common/aDiscovery.h"
#include "common/aUSB.h"
#include "tests/usb/UsbTestSupport.h"

namespace {

bool Print(const linkSpec* specifier, bool* accepted, void*) {
    printf("found %08X model %u\n", specifier->serialNumber, specifier->model);
    *accepted = true;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    aDiscovery_EnumerateModules(LINKTYPE_USB, Print, nullptr, 0);
    int status = 0;
    if (argc > 1) {
        uint32_t id = aLink_CreateUSB(static_cast<uint32_t>(strtoul(argv[1], nullptr, 16)));
        uint32_t build = id ? usbtest::QueryBuild(id) : 0;
        if (build) printf("build %u\n", build);
        status = build ? 0 : 1;
        aLink_Destroy(id);
    }
    Quillcore_libusb_exit();
    return status;
}
