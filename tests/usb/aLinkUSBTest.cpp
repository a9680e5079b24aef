/*
 * USB links to emulated devices through the real libusb: creation with the
 * handshake, module queries, sharing by serial number, refusal of a device
 * served by a device server, reset after the device restarted, the kernel
 * node, and stopping while a read waits.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "common/aLinkPrivate.h"
#include "tests/usb/UsbTestSupport.h"
#include "tools/emulator/EmulatedUsb.h"

namespace {

using namespace emulator;
using usbtest::QueryBuild;
using usbtest::WaitFor;

constexpr uint32_t kSerial = 0x40F5849A;
constexpr uint32_t kBuild = 4711;

class UsbLink : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(usb.ok()) << usb.error(); }

    EmulatedUsb usb{{UsbDevice(kSerial)}};
};

TEST_F(UsbLink, SynchronisesExchangesModuleQueriesAndStops) {
    uint32_t id = aLink_CreateUSB(kSerial);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    DeviceCounters c = usb.model(0).snapshot();
    EXPECT_GE(c.syncRequests, 2u);  // the handshake ran (the sync drains what it did not need)
    EXPECT_EQ(c.lastForceRoute, 1);
    for (int i = 0; i < 20; i++) ASSERT_EQ(QueryBuild(id), kBuild) << "query " << i;
    EXPECT_EQ(aLink_Destroy(id), aErrNone);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(usb.model(0).snapshot().lastForceRoute, 0);  // written before the stream closed
    // The interface was released: the device can be opened again.
    id = aLink_CreateUSB(kSerial);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(QueryBuild(id), kBuild);
    aLink_Destroy(id);
}

TEST_F(UsbLink, AnswersTheDevicesHeartbeats) {
    usb.model(0).setHeartbeatMs(20);
    uint32_t id = aLink_CreateUSB(kSerial);
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(WaitFor([&] { return usb.model(0).snapshot().heartbeatAnswers >= 3; }));
    EXPECT_EQ(QueryBuild(id), kBuild);
    aLink_Destroy(id);
}

TEST_F(UsbLink, TwoCreatesForOneSerialShareTheLink) {
    uint32_t first = aLink_CreateUSB(kSerial);
    uint32_t second = aLink_CreateUSB(kSerial);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(second, first);
    EXPECT_EQ(usb.usb(0).counters().claims, 1u);
    uint32_t keep = first;
    EXPECT_EQ(aLink_Destroy(first), aErrNone);
    EXPECT_EQ(aLink_GetStatus(keep), aLINK_RUNNING);
    EXPECT_EQ(QueryBuild(keep), kBuild);
    EXPECT_EQ(aLink_Destroy(second), aErrNone);
    EXPECT_EQ(aLink_GetStatus(keep), aLINK_NOSTREAM);
}

TEST_F(UsbLink, ADeviceServedByADeviceServerIsRefused) {
    uint32_t id = aLink_CreateUSB(kSerial);
    ASSERT_NE(id, 0u);
    int server = 0;
    ASSERT_EQ(_aLink_SetServer(id, &server), id);
    EXPECT_EQ(aLink_CreateUSB(kSerial), 0u);
    _aLink_SetServer(id, nullptr);
    uint32_t shared = aLink_CreateUSB(kSerial);
    EXPECT_EQ(shared, id);
    aLink_Destroy(shared);
    aLink_Destroy(id);
}

TEST_F(UsbLink, NoDeviceOrAnUnclaimableOneMakesNoLink) {
    EXPECT_EQ(aLink_CreateUSB(kSerial + 1), 0u);
    EXPECT_EQ(aLink_CreateUSB(0), 0u);
    usb.usb(0).setClaimError(EBUSY);
    EXPECT_EQ(aLink_CreateUSB(kSerial), 0u);
    usb.usb(0).setClaimError(0);
    // Failed creates leave no entry behind to be shared.
    uint32_t id = aLink_CreateUSB(kSerial);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(QueryBuild(id), kBuild);
    aLink_Destroy(id);
}

TEST_F(UsbLink, ADeviceThatNeverSynchronisesMakesNoLink) {
    usb.model(0).setAnswerSync(false);
    EXPECT_EQ(aLink_CreateUSB(kSerial), 0u);
    EXPECT_EQ(usb.usb(0).counters().claims, 1u);
    usb.model(0).setAnswerSync(true);
    uint32_t id = aLink_CreateUSB(kSerial);
    EXPECT_NE(id, 0u);  // the interface of the failed attempt was released
    aLink_Destroy(id);
}

TEST_F(UsbLink, ResetAfterTheDeviceRestartedReachesItAgain) {
    uint32_t id = aLink_CreateUSB(kSerial);
    ASSERT_NE(id, 0u);
    ASSERT_EQ(QueryBuild(id), kBuild);
    uint8_t before = usb.usb(0).deviceNumber();

    usb.usb(0).unplug();
    EXPECT_TRUE(WaitFor([&] { return aLink_GetStatus(id) == aLINK_IOERROR; }));
    EXPECT_EQ(QueryBuild(id, 200), 0u);
    std::string error;
    ASSERT_TRUE(usb.usb(0).plug(error)) << error;
    EXPECT_NE(usb.usb(0).deviceNumber(), before);

    ASSERT_EQ(aLink_Reset(id), aErrNone);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    EXPECT_EQ(QueryBuild(id), kBuild);
    EXPECT_EQ(aLink_Destroy(id), aErrNone);
}

TEST_F(UsbLink, ResetWhileTheDeviceIsAwayGivesUpWithItsError) {
    uint32_t id = aLink_CreateUSB(kSerial);
    ASSERT_NE(id, 0u);
    usb.usb(0).unplug();
    EXPECT_EQ(aLink_Reset(id), aErrNotFound);  // after 20 attempts
    EXPECT_EQ(aLink_GetStatus(id), aLINK_NOSTREAM);
    std::string error;
    ASSERT_TRUE(usb.usb(0).plug(error)) << error;
    ASSERT_EQ(aLink_Reset(id), aErrNone);
    EXPECT_EQ(QueryBuild(id), kBuild);
    aLink_Destroy(id);
}

TEST_F(UsbLink, DestroyDoesNotWaitForTheReadToTimeOut) {
    uint32_t id = aLink_CreateUSB(kSerial);
    ASSERT_NE(id, 0u);
    ASSERT_EQ(QueryBuild(id), kBuild);
    // The device is quiet: the input thread waits in a 1000 ms IN transfer.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    UsbCounters before = usb.usb(0).counters();
    EXPECT_EQ(aLink_Destroy(id), aErrNone);
    UsbCounters after = usb.usb(0).counters();
    // The waiting transfer was cancelled, not timed out: exactly one discard,
    // and no IN transfer began after it.
    EXPECT_EQ(after.discards, before.discards + 1);
    EXPECT_EQ(after.inTransfers, before.inTransfers);
}

TEST(UsbKernelNodeLink, WorksOverTheNode) {
    EmulatedUsb usb({KernelNodeDevice(kSerial)});
    ASSERT_TRUE(usb.ok()) << usb.error();
    uint32_t id = aLink_CreateUSB(kSerial);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(QueryBuild(id), kBuild);
    EXPECT_EQ(aLink_Destroy(id), aErrNone);
    EXPECT_TRUE(WaitFor([&] { return usb.model(0).snapshot().lastForceRoute == 0; }));
}

}  // namespace
