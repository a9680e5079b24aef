/*
 * Link specifiers, and discovery of emulated USB devices through the real
 * libusb: which devices are the family's, what their specifiers say, the
 * callback contract, the find functions and a fresh libusb context.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/aDiscovery.h"
#include "common/aUSB.h"
#include "tools/emulator/EmulatedUsb.h"

namespace {

using namespace emulator;

TEST(LinkSpec, CreateCopyDestroy) {
    linkSpec* specifier = aLinkSpec_Create(LINKTYPE_USB);
    ASSERT_NE(specifier, nullptr);
    EXPECT_EQ(specifier->type, LINKTYPE_USB);
    EXPECT_EQ(specifier->serialNumber, 0u);
    EXPECT_EQ(specifier->portName[99], 0);
    specifier->serialNumber = 0x1ABCD;
    linkSpec* copy = aLinkSpec_Copy(specifier);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, specifier);
    EXPECT_EQ(memcmp(copy, specifier, sizeof(linkSpec)), 0);
    EXPECT_EQ(aLinkSpec_Destroy(&specifier), aErrNone);
    EXPECT_EQ(specifier, nullptr);
    EXPECT_EQ(aLinkSpec_Destroy(&specifier), aErrParam);
    EXPECT_EQ(aLinkSpec_Destroy(nullptr), aErrParam);
    EXPECT_EQ(aLinkSpec_Copy(nullptr), nullptr);
    aLinkSpec_Destroy(&copy);
}

TEST(LinkSpec, WireFormIsLittleEndianWithTheAddressInNetworkOrder) {
    linkSpec tcp{};
    tcp.type = LINKTYPE_NEBRA_USB;
    tcp.serialNumber = 0x12345678;
    tcp.moduleAddress = 4;
    tcp.model = 19;
    const uint8_t address[4] = {192, 168, 1, 20};
    memcpy(&tcp.ipAddress, address, 4);
    tcp.ipPort = 9850;
    uint8_t bytes[aLINKSPEC_SIZE];
    aLinkSpec_ToBytes(&tcp, bytes);
    const uint8_t head[] = {5, 0, 0, 0, 0x78, 0x56, 0x34, 0x12, 4, 0, 0, 0};
    EXPECT_EQ(memcmp(bytes, head, sizeof(head)), 0);
    EXPECT_EQ(bytes[20], 19);
    EXPECT_EQ(memcmp(bytes + 24, address, 4), 0);
    EXPECT_EQ(bytes[28], 0x7A);  // 9850 = 0x267A
    EXPECT_EQ(bytes[29], 0x26);
    linkSpec back{};
    aLinkSpec_FromBytes(bytes, &back);
    EXPECT_EQ(memcmp(&back, &tcp, sizeof(linkSpec)), 0);

    linkSpec serial{};
    serial.type = LINKTYPE_SERIAL;
    serial.baudRate = 115200;
    memset(serial.portName, 'x', sizeof(serial.portName));  // no terminator on the wire
    aLinkSpec_ToBytes(&serial, bytes);
    EXPECT_EQ(bytes[24], 0x00);  // 115200 = 0x1C200
    EXPECT_EQ(bytes[25], 0xC2);
    EXPECT_EQ(bytes[26], 0x01);
    aLinkSpec_FromBytes(bytes, &back);
    EXPECT_EQ(back.baudRate, 115200u);
    EXPECT_EQ(strlen(back.portName), sizeof(back.portName) - 1);
}

struct Found {
    std::vector<linkSpec> specs;
    int calls = 0;
    int acceptEvery = 1;  // accept every nth call
    int stopAfter = 0;    // 0: never stop
};

bool Collect(const linkSpec* specifier, bool* accepted, void* context) {
    auto* found = static_cast<Found*>(context);
    EXPECT_FALSE(*accepted);
    found->calls++;
    found->specs.push_back(*specifier);
    *accepted = found->calls % found->acceptEvery == 0;
    return found->stopAfter == 0 || found->calls < found->stopAfter;
}

EmulatedDevice Shaped(uint32_t serial, uint16_t vendor, int32_t product, const std::string& serialText = "") {
    EmulatedDevice d = UsbDevice(serial);
    d.usb.vendorId = vendor;
    d.usb.productId = product;
    d.usb.serialString = serialText;
    return d;
}

TEST(UsbDiscovery, ListsOnlyFamilyDevicesWithEightCharacterSerials) {
    EmulatedUsb usb({
        Shaped(0x1234ABCD, 0x24FF, 0x0013),             // listed, model 0x13
        Shaped(0x0001ABCD, 0x24FF, 0x7F0D),             // listed: model is the low byte
        Shaped(0x11111111, 0x24FF, 0x8001),             // product id bit 15: not the family's
        Shaped(0x22222222, 0x1D6B, 0x0013),             // another vendor
        Shaped(0x33333333, 0x24FF, 0x0013, "3333333"),  // seven characters
        Shaped(0x44444444, 0x24FF, 0x0013, "444444444"),
        Shaped(0x55555555, 0x24FF, 0x0013, "5555555G"),  // not hexadecimal
    });
    ASSERT_TRUE(usb.ok()) << usb.error();
    Found found;
    EXPECT_EQ(aDiscovery_EnumerateModules(LINKTYPE_USB, Collect, &found, 0), 2);
    ASSERT_EQ(found.specs.size(), 2u);
    std::sort(found.specs.begin(), found.specs.end(),
              [](const linkSpec& a, const linkSpec& b) { return a.serialNumber < b.serialNumber; });
    const linkSpec& low = found.specs[0];
    EXPECT_EQ(low.type, LINKTYPE_USB);
    EXPECT_EQ(low.serialNumber, 0x1ABCDu);
    EXPECT_EQ(low.usbId, 0x1ABCDu);
    EXPECT_EQ(low.model, 0x0Du);
    EXPECT_EQ(low.moduleAddress, 0u);
    EXPECT_EQ(low.routerAddress, 0u);
    EXPECT_EQ(low.routerSerialNumber, 0u);
    EXPECT_EQ(found.specs[1].serialNumber, 0x1234ABCDu);
    EXPECT_EQ(found.specs[1].model, 0x13u);
}

TEST(UsbDiscovery, CountsAcceptedCallsAndStopsWhenAsked) {
    EmulatedUsb usb(
        {UsbDevice(0x10000001), UsbDevice(0x10000002), UsbDevice(0x10000003), UsbDevice(0x10000004)});
    ASSERT_TRUE(usb.ok()) << usb.error();
    Found everyOther;
    everyOther.acceptEvery = 2;
    EXPECT_EQ(aDiscovery_EnumerateModules(LINKTYPE_USB, Collect, &everyOther, 0), 2);
    EXPECT_EQ(everyOther.calls, 4);

    Found stopping;
    stopping.stopAfter = 3;
    EXPECT_EQ(aDiscovery_EnumerateModules(LINKTYPE_USB, Collect, &stopping, 0), 3);
    EXPECT_EQ(stopping.calls, 3);

    EXPECT_EQ(aDiscovery_EnumerateModules(LINKTYPE_USB, nullptr, nullptr, 0), 0);
    // Serial ports are never discovered; network kinds are not in this build.
    for (uint32_t type : {0u, 2u, 3u, 4u, 5u, 6u, 7u, 8u}) {
        Found none;
        EXPECT_EQ(aDiscovery_EnumerateModules(type, Collect, &none, 0), 0) << type;
        EXPECT_EQ(none.calls, 0) << type;
    }
}

TEST(UsbDiscovery, FindsAModuleBySerialNumberOrTheFirstOne) {
    EmulatedUsb usb({Shaped(0x10000001, 0x24FF, 0x0013, "00000000"), UsbDevice(0x10000002, 5)});
    ASSERT_TRUE(usb.ok()) << usb.error();
    linkSpec* specifier = aDiscovery_FindModule(LINKTYPE_USB, 0x10000002, 0);
    ASSERT_NE(specifier, nullptr);
    EXPECT_EQ(specifier->serialNumber, 0x10000002u);
    EXPECT_EQ(specifier->model, 5u);
    aLinkSpec_Destroy(&specifier);
    EXPECT_EQ(aDiscovery_FindModule(LINKTYPE_USB, 0x10000003, 0), nullptr);
    EXPECT_EQ(aDiscovery_FindModule(LINKTYPE_TCPIP, 0x10000002, 0), nullptr);
    // The device whose serial string reads zero is passed over.
    specifier = aDiscovery_FindFirstModule(LINKTYPE_USB, 0);
    ASSERT_NE(specifier, nullptr);
    EXPECT_EQ(specifier->serialNumber, 0x10000002u);
    aLinkSpec_Destroy(&specifier);
}

TEST(UsbDiscovery, FindsADeviceAgainAfterTheContextEnds) {
    EmulatedUsb usb({UsbDevice(0x10000001)});
    ASSERT_TRUE(usb.ok()) << usb.error();
    linkSpec* specifier = aDiscovery_FindModule(LINKTYPE_USB, 0x10000001, 0);
    ASSERT_NE(specifier, nullptr);
    aLinkSpec_Destroy(&specifier);

    // The device restarts while no context is alive: a new context sees it anew.
    Quillcore_libusb_exit();
    uint8_t before = usb.usb(0).deviceNumber();
    ASSERT_TRUE(usb.replug(0)) << usb.error();
    EXPECT_NE(usb.usb(0).deviceNumber(), before);
    Quillcore_libusb_exit();
    specifier = aDiscovery_FindModule(LINKTYPE_USB, 0x10000001, 0);
    ASSERT_NE(specifier, nullptr);
    aLinkSpec_Destroy(&specifier);

    // Gone while the context lives: the hot-plug removal takes it off the list.
    usb.usb(0).unplug();
    EXPECT_EQ(aDiscovery_FindModule(LINKTYPE_USB, 0x10000001, 0), nullptr);
}

}  // namespace
