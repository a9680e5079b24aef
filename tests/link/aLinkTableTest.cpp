#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "common/aLinkPrivate.h"
#include "tests/link/LinkTestSupport.h"
#include "tests/support/Wait.h"
#include "tools/emulator/TcpTransport.h"

namespace {

using qctest::WaitFor;

using emulator::DeviceIdentity;
using emulator::DeviceModel;
using emulator::TcpTransport;
using linktest::Peer;
using linktest::Script;

uint8_t IsEcho(const aPacket* p, void*) { return p->length > 0 && p->data[0] == cmdDEBUG; }

/* Sends an echo request and tells whether the same bytes came back. */
bool Echoes(uint32_t id, uint8_t tag) {
    const uint8_t request[3] = {cmdDEBUG, tag, 0x5A};
    aPacket* p = aPacket_CreateWithData(2, sizeof(request), request);
    aErr err = aLink_PutPacket(id, p);
    aPacket_Destroy(p);
    if (err != aErrNone) return false;
    aPacket* reply = aLink_AwaitFirst(id, IsEcho, nullptr, 2000);
    bool same = reply && reply->length == 3 && reply->data[1] == tag && reply->data[2] == 0x5A;
    aPacket_Destroy(reply);
    return same;
}

class LinkTable : public ::testing::Test {
protected:
    void SetUp() override {
        identity.serialNumber =
            0x1000 + static_cast<uint32_t>(::testing::UnitTest::GetInstance()->random_seed());
        identity.heartbeatMs = 0;
        model = std::make_unique<DeviceModel>(identity);
        transport = std::make_unique<TcpTransport>(*model);
        std::string error;
        ASSERT_TRUE(transport->start(0, error)) << error;
    }
    void TearDown() override { transport->stop(); }

    uint32_t create() {
        return aLink_CreateTCPIP(identity.serialNumber, TcpTransport::loopbackAddress(), transport->port());
    }

    DeviceIdentity identity;
    std::unique_ptr<DeviceModel> model;
    std::unique_ptr<TcpTransport> transport;
};

TEST_F(LinkTable, TcpLinkRunsAndRoutesOnAndOff) {
    uint32_t id = create();
    ASSERT_NE(id, 0u);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    EXPECT_TRUE(Echoes(id, 1));
    EXPECT_EQ(model->snapshot().lastForceRoute, 1);
    ASSERT_EQ(aLink_Destroy(id), aErrNone);
    EXPECT_TRUE(WaitFor([&] { return model->snapshot().lastForceRoute == 0; }));
    EXPECT_EQ(aLink_GetStatus(id), aLINK_NOSTREAM);
}

TEST_F(LinkTable, SameDeviceSharesOneLinkUntilTheLastDestroy) {
    uint32_t first = create();
    uint32_t second = create();
    ASSERT_NE(first, 0u);
    EXPECT_EQ(second, first);
    uint32_t keep = first;
    EXPECT_EQ(aLink_Destroy(first), aErrNone);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(aLink_GetStatus(keep), aLINK_RUNNING);
    EXPECT_TRUE(Echoes(keep, 2));
    EXPECT_EQ(model->snapshot().connections, 1u);
    EXPECT_EQ(aLink_Destroy(second), aErrNone);
    EXPECT_EQ(aLink_GetStatus(keep), aLINK_NOSTREAM);
    EXPECT_EQ(aLink_Destroy(keep), aErrParam);
    EXPECT_EQ(keep, 0u);
}

TEST_F(LinkTable, ResetReconnectsToTheSameAddressAndPort) {
    uint32_t id = create();
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(Echoes(id, 3));
    ASSERT_EQ(aLink_Reset(id), aErrNone);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    EXPECT_TRUE(Echoes(id, 4));
    EXPECT_EQ(model->snapshot().connections, 2u);
    EXPECT_EQ(aLink_Reset(0), aErrParam);
    aLink_Destroy(id);
}

TEST_F(LinkTable, ResetWhileTheDeviceIsAwayGivesUpAndLaterRecovers) {
    uint32_t id = create();
    ASSERT_NE(id, 0u);
    uint16_t port = transport->port();
    transport->stop();
    EXPECT_EQ(aLink_Reset(id), aErrResource);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_NOSTREAM);
    std::string error;
    ASSERT_TRUE(transport->start(port, error)) << error;
    ASSERT_EQ(aLink_Reset(id), aErrNone);
    EXPECT_TRUE(Echoes(id, 5));
    aLink_Destroy(id);
}

TEST_F(LinkTable, DeviceThatDropsTheConnectionIsReachedAgain) {
    uint32_t id = create();
    ASSERT_NE(id, 0u);
    transport->dropConnection();
    // A packet after the drop makes the stream reconnect; the device answers on the new connection.
    EXPECT_TRUE(WaitFor([&] { return Echoes(id, 6); }, 10000));
    EXPECT_EQ(model->snapshot().connections, 2u);
    aLink_Destroy(id);
}

TEST(LinkTableIds, GrowByOneAndAreNeverReused) {
    Script script;
    uint32_t a = _aLink_CreateStopped(linktest::ScriptStream(script));
    ASSERT_NE(a, 0u);
    uint32_t old = a;
    EXPECT_EQ(aLink_Destroy(a), aErrNone);
    uint32_t b = _aLink_CreateStopped(linktest::ScriptStream(script));
    EXPECT_EQ(b, old + 1);
    EXPECT_EQ(_aLink_Record(old), nullptr);

    uint16_t port;
    {
        Peer gone;
        port = gone.port();
    }
    EXPECT_EQ(aLink_CreateTCPIP(0xDEAD0001, linktest::Loopback(), port), 0u);
    uint32_t c = _aLink_CreateStopped(linktest::ScriptStream(script));
    EXPECT_EQ(c, b + 2);
    EXPECT_EQ(_aLink_Record(b + 1), nullptr);  // the failed create left no entry
    aLink_Destroy(b);
    aLink_Destroy(c);

    uint32_t unknown = 987654;
    EXPECT_EQ(aLink_Destroy(unknown), aErrParam);
    EXPECT_EQ(unknown, 0u);
}

TEST(LinkTableLifecycle, StopOfAStoppedLinkAndStartOfARunningOne) {
    Script script;
    uint32_t id = _aLink_CreateStopped(linktest::ScriptStream(script));
    aLinkRef link = _aLink_Record(id);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_STOPPED);
    EXPECT_EQ(aLink_Stop(link), aErrNone);
    EXPECT_TRUE(script.written().empty());
    EXPECT_EQ(aLink_Stop(nullptr), aErrParam);

    ASSERT_EQ(aLink_Start(id), aErrNone);
    aThreadRef in = link->inThread;
    EXPECT_EQ(aLink_Start(id), aErrNone);
    EXPECT_EQ(link->inThread, in);
    EXPECT_EQ(aLink_Reset(id), aErrParam);  // a caller's stream cannot be made again
    EXPECT_EQ(aLink_Stop(link), aErrNone);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_STOPPED);
    auto writes = script.written();
    ASSERT_EQ(writes.size(), 2u);  // route on, route off
    EXPECT_EQ(writes[1], (std::vector<uint8_t>{0xAF, 0x01, 0x00}));
    EXPECT_EQ(aLink_Start(0), aErrParam);
    EXPECT_EQ(aLink_ForceRoute(0, 1), aErrNotFound);
    aLink_Destroy(id);
}

TEST(LinkTableLifecycle, CreateOverAStreamStartsAndOwnsIt) {
    Script script;
    uint32_t id = aLink_Create(linktest::ScriptStream(script));
    ASSERT_NE(id, 0u);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    script.bytes({0x04, 0x01, 0x17});
    aPacket* p = aLink_AwaitPacket(id, 3000);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->address, 4);
    aPacket_Destroy(p);
    EXPECT_EQ(aLink_Destroy(id), aErrNone);
    EXPECT_EQ(aLink_Create(nullptr), 0u);
}

}  // namespace
