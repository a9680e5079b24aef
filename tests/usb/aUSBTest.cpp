/*
 * The USB device record and the USB stream against emulated devices,
 * through the real libusb: opening by serial number and its failures, the
 * write split, the read-ahead, stalls, the error tolerance, the kernel node
 * and interrupting a waiting read.
 */
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "common/aStreamUSB.h"
#include "common/aUSB.h"
#include "tests/usb/UsbTestSupport.h"
#include "tools/emulator/EmulatedUsb.h"

namespace {

using namespace emulator;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSerial = 0x1234ABCD;
constexpr const char* kSerialText = "1234ABCD";

/* A libusb record opened on the first emulated device. */
class UsbRecord : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(usb.ok()) << usb.error(); }
    void TearDown() override {
        if (device) qcusb_destroy(device);
    }

    aErr open(const char* serial = kSerialText) {
        device = qcusb_create_usb(qcusbMODE_LIBUSB);
        return device ? qcusb_open_quillcore_device(device, serial) : aErrMemory;
    }
    aErr get(uint8_t* byte) { return qcusb_get_from_device(device, byte); }
    UsbTransport& transport() { return usb.usb(0); }

    EmulatedUsb usb{{UsbDevice(kSerial)}};
    qcusbDevice* device = nullptr;
};

TEST_F(UsbRecord, OpensByItsSerialStringAndFindsTheEndpoints) {
    ASSERT_EQ(open(), aErrNone);
    EXPECT_EQ(device->state, qcusbSTATE_READY);
    EXPECT_STREQ(device->serial, kSerialText);
    EXPECT_EQ(device->interfaceNumber, 0);
    EXPECT_EQ(device->outEndpoint, kUsbOutEndpoint);
    EXPECT_EQ(device->inEndpoint, kUsbInEndpoint);
    EXPECT_EQ(device->outPacketSize, 64);
    EXPECT_EQ(transport().counters().claims, 1u);
    ASSERT_EQ(qcusb_close_quillcore_device(device), aErrNone);
    EXPECT_EQ(device->state, qcusbSTATE_CLOSED);
    EXPECT_EQ(device->outEndpoint, 0);
    uint8_t byte;
    EXPECT_EQ(get(&byte), aErrConnection);
    EXPECT_EQ(qcusb_write_to_device(device, &byte, 1), aErrConnection);
    EXPECT_EQ(qcusb_close_quillcore_device(device), aErrMode);
}

TEST_F(UsbRecord, AnotherSerialOrACaseChangeIsNotFound) {
    EXPECT_EQ(open("1234ABCE"), aErrNotFound);
    qcusb_destroy(device);
    EXPECT_EQ(open("1234abcd"), aErrNotFound);
    EXPECT_EQ(device->state, qcusbSTATE_CREATED);
    EXPECT_EQ(transport().counters().claims, 0u);
}

TEST_F(UsbRecord, OperationsOfTheOtherModeAreRefused) {
    qcusbDevice* kernel = qcusb_create_usb(qcusbMODE_KERNEL);
    ASSERT_NE(kernel, nullptr);
    uint8_t byte = 0;
    EXPECT_EQ(qcusb_open_quillcore_USBlib_device(kernel, kSerialText), aErrMode);
    EXPECT_EQ(qcusb_get_from_USBlib_device(kernel, &byte), aErrMode);
    EXPECT_EQ(qcusb_write_to_USBlib_device(kernel, &byte, 1), aErrMode);
    EXPECT_EQ(qcusb_get_from_device(kernel, &byte), aErrMode);  // no node open
    EXPECT_EQ(qcusb_destroy(kernel), aErrNone);
    EXPECT_EQ(kernel, nullptr);
    EXPECT_EQ(qcusb_destroy(kernel), aErrParam);
    ASSERT_EQ(open(), aErrNone);
    EXPECT_EQ(qcusb_open_quillcore_kernel_device(device, kSerialText), aErrMode);
    EXPECT_EQ(qcusb_get_from_kernel_device(device, &byte), aErrMode);
}

TEST_F(UsbRecord, AnInterfaceClaimedElsewhereIsBusy) {
    ASSERT_EQ(open(), aErrNone);
    qcusbDevice* second = qcusb_create_usb(qcusbMODE_LIBUSB);
    EXPECT_EQ(qcusb_open_quillcore_device(second, kSerialText), aErrBusy);
    EXPECT_EQ(second->state, qcusbSTATE_CLOSED);
    EXPECT_EQ(second->handle, nullptr);
    qcusb_destroy(second);
}

struct ClaimCase {
    const char* name;
    int answer;
    aErr expected;
};

void PrintTo(const ClaimCase& c, std::ostream* out) { *out << c.name; }

class UsbClaim : public UsbRecord, public ::testing::WithParamInterface<ClaimCase> {};

TEST_P(UsbClaim, RefusalsMapToTheirCodes) {
    transport().setClaimError(GetParam().answer);
    EXPECT_EQ(open(), GetParam().expected);
    EXPECT_EQ(device->state, qcusbSTATE_CLOSED);
    EXPECT_EQ(device->handle, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Answers, UsbClaim,
                         ::testing::Values(ClaimCase{"busy", EBUSY, aErrBusy},
                                           ClaimCase{"gone", ENODEV, aErrBusy},
                                           ClaimCase{"other", EPROTO, aErrUnknown}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbRecord, ANodeWeMayNotOpenIsAPermissionFailure) {
    Quillcore_libusb_context();  // enumerated with full rights
    transport().denyAccess(true);
    {
        usbtest::NoPermissionOverride restricted;
        EXPECT_EQ(open(), aErrPermission);
    }
    qcusb_destroy(device);
    transport().denyAccess(false);
    EXPECT_EQ(open(), aErrNone);
}

TEST(UsbEndpoints, AnInterfaceWithoutBothEndpointsIsAConfigurationError) {
    for (int missing = 0; missing < 3; missing++) {
        SCOPED_TRACE(missing);
        EmulatedDevice d = UsbDevice(kSerial);
        d.usb.outEndpoint = missing != 0;
        d.usb.inEndpoint = missing != 1;
        if (missing == 2) d.usb.interfaceSubclass = 0x87;  // not the family's interface
        EmulatedUsb usb({d});
        ASSERT_TRUE(usb.ok()) << usb.error();
        qcusbDevice* device = qcusb_create_usb(qcusbMODE_LIBUSB);
        EXPECT_EQ(qcusb_open_quillcore_device(device, kSerialText), aErrConfiguration);
        EXPECT_EQ(device->state, qcusbSTATE_CLOSED);
        EXPECT_EQ(usb.usb(0).counters().claims, 0u);
        qcusb_destroy(device);
    }
}

struct SplitCase {
    uint16_t packetSize;
    size_t count;
    std::vector<size_t> transfers;
};

std::string SplitName(const SplitCase& c) {
    return std::to_string(c.count) + "BytesBy" + std::to_string(c.packetSize);
}
void PrintTo(const SplitCase& c, std::ostream* out) { *out << SplitName(c); }

class UsbWriteSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(UsbWriteSplit, FollowsThePacketSizeAndNeverSends512) {
    EmulatedDevice d = UsbDevice(kSerial);
    d.usb.packetSize = GetParam().packetSize;
    EmulatedUsb usb({d});
    ASSERT_TRUE(usb.ok()) << usb.error();
    qcusbDevice* device = qcusb_create_usb(qcusbMODE_LIBUSB);
    ASSERT_EQ(qcusb_open_quillcore_device(device, kSerialText), aErrNone);
    Bytes bytes(GetParam().count, 0x5A);
    EXPECT_EQ(qcusb_write_to_device(device, bytes.data(), bytes.size()), aErrNone);
    EXPECT_EQ(usb.usb(0).counters().outTransfers, GetParam().transfers);
    EXPECT_EQ(usb.model(0).snapshot().bytesReceived, GetParam().count);
    qcusb_destroy(device);
}

INSTANTIATE_TEST_SUITE_P(Sizes, UsbWriteSplit,
                         ::testing::Values(SplitCase{512, 700, {511, 189}},
                                           SplitCase{512, 1024, {511, 511, 2}},
                                           SplitCase{64, 700, {64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 60}},
                                           SplitCase{64, 3, {3}}));

TEST_F(UsbRecord, AStalledWriteIsClearedAndSentAgain) {
    ASSERT_EQ(open(), aErrNone);
    transport().failTransfers(kUsbOutEndpoint, UsbFailure::Stall);
    const Bytes bytes = {0x17, 1, 2, 3};
    EXPECT_EQ(qcusb_write_to_device(device, bytes.data(), bytes.size()), aErrNone);
    EXPECT_EQ(transport().counters().outTransfers, (std::vector<size_t>{4, 4}));
    EXPECT_EQ(transport().counters().clearHalts, 1u);
    EXPECT_EQ(usb.model(0).snapshot().bytesReceived, 4u);
}

TEST_F(UsbRecord, TenFailedTransfersLeaveAWriteUnsent) {
    ASSERT_EQ(open(), aErrNone);
    transport().failTransfers(kUsbOutEndpoint, UsbFailure::IoError, 1, 10);
    const Bytes bytes(100, 0x17);
    EXPECT_EQ(qcusb_write_to_device(device, bytes.data(), bytes.size()), aErrWrite);
    EXPECT_EQ(transport().counters().outTransfers.size(), 10u);
    EXPECT_EQ(device->state, qcusbSTATE_READY);
    EXPECT_EQ(qcusb_write_to_device(device, bytes.data(), bytes.size()), aErrNone);
}

TEST_F(UsbRecord, OneInTransferFillsTheReadAhead) {
    ASSERT_EQ(open(), aErrNone);
    Bytes sent(1500);
    for (size_t i = 0; i < sent.size(); i++) sent[i] = static_cast<uint8_t>(i * 7);
    transport().sendToHost(sent);
    Bytes got;
    uint8_t byte = 0;
    for (size_t i = 0; i < qcusbREAD_AHEAD; i++) {
        ASSERT_EQ(get(&byte), aErrNone);
        got.push_back(byte);
    }
    EXPECT_EQ(transport().counters().inTransfers, 1u);
    while (got.size() < sent.size() && get(&byte) == aErrNone) got.push_back(byte);
    EXPECT_EQ(got, sent);
    EXPECT_EQ(transport().counters().inTransfers, 2u);
}

TEST_F(UsbRecord, AStalledReadIsClearedAndReportsNoByte) {
    ASSERT_EQ(open(), aErrNone);
    transport().failTransfers(kUsbInEndpoint, UsbFailure::Stall);
    uint8_t byte;
    EXPECT_EQ(get(&byte), aErrNotReady);
    EXPECT_EQ(transport().counters().clearHalts, 1u);
    transport().sendToHost({0x42});
    ASSERT_EQ(get(&byte), aErrNone);
    EXPECT_EQ(byte, 0x42);
}

TEST_F(UsbRecord, FourFailuresAreHiddenAndTheFifthFailsTheDevice) {
    ASSERT_EQ(open(), aErrNone);
    uint8_t byte = 0;
    auto hiddenFailures = [&](unsigned n) {
        transport().failTransfers(kUsbInEndpoint, UsbFailure::IoError, 1, n);
        for (unsigned i = 0; i < n; i++) ASSERT_EQ(get(&byte), aErrNotReady) << "failure " << i + 1;
        EXPECT_EQ(device->errorCount, static_cast<int>(n));
        EXPECT_EQ(device->state, qcusbSTATE_READY);
    };

    hiddenFailures(4);
    transport().sendToHost({0x42});  // a success resets the count
    ASSERT_EQ(get(&byte), aErrNone);
    EXPECT_EQ(device->errorCount, 0);

    hiddenFailures(4);
    EXPECT_EQ(get(&byte), aErrNotReady);  // a read that times out resets it too
    EXPECT_EQ(transport().counters().discards, 1u);
    EXPECT_EQ(device->errorCount, 0);

    hiddenFailures(4);
    transport().failTransfers(kUsbInEndpoint, UsbFailure::IoError);
    EXPECT_EQ(get(&byte), aErrIO);
    EXPECT_EQ(device->state, qcusbSTATE_FAILED);

    // From now on everything fails without touching the device.
    UsbCounters before = transport().counters();
    EXPECT_EQ(get(&byte), aErrIO);
    EXPECT_EQ(qcusb_write_to_device(device, &byte, 1), aErrIO);
    transport().sendToHost({0x42});
    EXPECT_EQ(get(&byte), aErrIO);
    EXPECT_EQ(transport().counters().inTransfers, before.inTransfers);
    EXPECT_EQ(transport().counters().outTransfers.size(), before.outTransfers.size());
}

TEST_F(UsbRecord, AnUnpluggedDeviceFailsAfterTheHiddenErrors) {
    ASSERT_EQ(open(), aErrNone);
    transport().unplug();
    uint8_t byte;
    int hidden = 0;
    aErr err;
    while ((err = get(&byte)) == aErrNotReady && hidden < 10) hidden++;
    EXPECT_EQ(err, aErrIO);
    EXPECT_EQ(hidden, qcusbHIDDEN_ERRORS);
    EXPECT_EQ(device->state, qcusbSTATE_FAILED);
}

TEST_F(UsbRecord, InterruptEndsAWaitingReadAtOnce) {
    ASSERT_EQ(open(), aErrNone);
    uint8_t byte;
    EXPECT_EQ(qcusb_interrupt(device), aErrNone);  // before the read: the next one returns
    EXPECT_EQ(get(&byte), aErrNotReady);
    EXPECT_EQ(transport().counters().inTransfers, 0u);

    aErr err = aErrNone;
    std::thread reader([&] { err = get(&byte); });
    ASSERT_TRUE(usbtest::WaitFor([&] { return transport().counters().inTransfers == 1; }));
    EXPECT_EQ(qcusb_interrupt(device), aErrNone);
    reader.join();
    EXPECT_EQ(err, aErrNotReady);
    EXPECT_EQ(transport().counters().discards, 1u);
    EXPECT_EQ(device->errorCount, 0);
    // Nothing is left over: the next read waits for the device again.
    transport().sendToHost({0x42});
    ASSERT_EQ(get(&byte), aErrNone);
    EXPECT_EQ(byte, 0x42);
}

/* A write from one thread while another waits in a read, as a link does. */
TEST_F(UsbRecord, WritesPassWhileAReadWaits) {
    ASSERT_EQ(open(), aErrNone);
    uint8_t byte = 0;
    aErr err = aErrNone;
    std::thread reader([&] { err = get(&byte); });
    ASSERT_TRUE(usbtest::WaitFor([&] { return transport().counters().inTransfers == 1; }));
    const Bytes echo = {2, 3, cmdDEBUG, 0x11, 0x22};
    EXPECT_EQ(qcusb_write_to_device(device, echo.data(), echo.size()), aErrNone);
    reader.join();
    EXPECT_EQ(err, aErrNone);
    EXPECT_EQ(byte, 2);  // the echo's address, first byte of the answer
}

/* The USB stream: creation by serial number, and the kernel node in place of libusb. */
TEST(UsbStream, SerialNumberZeroOrNoOutParameterIsRefused) {
    aStreamRef stream = reinterpret_cast<aStreamRef>(1);
    EXPECT_EQ(aStream_CreateUSB(0, &stream), aErrParam);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(aStream_CreateUSB(kSerial, nullptr), aErrParam);
}

TEST(UsbStream, AMissingDeviceIsNotFound) {
    EmulatedUsb usb({UsbDevice(kSerial)});
    ASSERT_TRUE(usb.ok()) << usb.error();
    aStreamRef stream = nullptr;
    EXPECT_EQ(aStream_CreateUSB(kSerial + 1, &stream), aErrNotFound);
    EXPECT_EQ(stream, nullptr);
}

TEST(UsbStream, CarriesBytesBothWays) {
    EmulatedUsb usb({UsbDevice(kSerial)});
    ASSERT_TRUE(usb.ok()) << usb.error();
    aStreamRef stream = nullptr;
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream), aErrNone);
    const Bytes echo = {2, 3, cmdDEBUG, 0x11, 0x22};
    ASSERT_EQ(aStream_Write(stream, echo.data(), echo.size()), aErrNone);
    Bytes got(echo.size());
    ASSERT_EQ(aStream_Read(stream, got.data(), got.size()), aErrNone);
    EXPECT_EQ(got, echo);
    ASSERT_EQ(aStream_Destroy(stream), aErrNone);
    EXPECT_EQ(usb.usb(0).counters().claims, 1u);
}

TEST(UsbStream, TheKernelNodeReplacesLibusbWhenItExists) {
    // The same device on USB and on its node: the node must win.
    EmulatedUsb usb({UsbDevice(kSerial), KernelNodeDevice(kSerial)});
    ASSERT_TRUE(usb.ok()) << usb.error();
    EXPECT_TRUE(qcusb_is_kernel_driver_installed(kSerial));
    EXPECT_FALSE(qcusb_is_kernel_driver_installed(kSerial + 1));
    aStreamRef stream = nullptr;
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream), aErrNone);
    const Bytes echo = {2, 3, cmdDEBUG, 0x33, 0x44};
    ASSERT_EQ(aStream_Write(stream, echo.data(), echo.size()), aErrNone);
    Bytes got(echo.size());
    for (int tries = 0; tries < 5; tries++) {
        if (aStream_Read(stream, got.data(), got.size()) == aErrNone) break;
    }
    EXPECT_EQ(got, echo);
    EXPECT_EQ(usb.node(1).bytesFromHost(), echo.size());
    EXPECT_EQ(usb.usb(0).counters().opens, 0u);

    // A waiting read on the node ends at once when interrupted.
    aErr err = aErrNone;
    std::thread reader([&] {
        uint8_t byte;
        err = aStream_Read(stream, &byte, 1);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(aStream_Interrupt(stream), aErrNone);
    reader.join();
    EXPECT_EQ(err, aErrNotReady);
    EXPECT_EQ(aStream_Destroy(stream), aErrNone);
}

TEST(UsbStream, AKernelNodeThatGoesAwayReadsAnError) {
    EmulatedUsb usb({KernelNodeDevice(kSerial)});
    ASSERT_TRUE(usb.ok()) << usb.error();
    aStreamRef stream = nullptr;
    ASSERT_EQ(aStream_CreateUSB(kSerial, &stream), aErrNone);
    usb.node(0).unplug();
    uint8_t byte;
    EXPECT_EQ(aStream_Read(stream, &byte, 1), aErrIO);
    EXPECT_EQ(aStream_Write(stream, &byte, 1), aErrIO);
    EXPECT_EQ(aStream_Destroy(stream), aErrNone);
    EXPECT_EQ(aStream_CreateUSB(kSerial, &stream), aErrNotFound);  // neither node nor device now
}

}  // namespace
