#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/aLinkPrivate.h"
#include "tests/link/LinkTestSupport.h"

namespace {

using linktest::Peer;
using linktest::Repeat;
using linktest::Script;
using linktest::ScriptStream;
using Bytes = std::vector<uint8_t>;

const Bytes kSyncRound = Repeat({0xAD, 0x00}, 6);
const Bytes kRouteOn = {0xAF, 0x01, 0x01};

/* A link over a script, driven one step at a time on the test's thread. */
class LinkEngineSteps : public ::testing::Test {
protected:
    void SetUp() override {
        id = _aLink_CreateStopped(ScriptStream(script));
        ASSERT_NE(id, 0u);
        link = _aLink_Record(id);
        _aLink_InputBegin(link);
        ASSERT_EQ(link->status, aLINK_RUNNING);
    }
    void TearDown() override { aLink_Destroy(id); }

    void feed(const Bytes& bytes) {
        script.bytes(bytes);
        for (size_t i = 0; i < bytes.size(); i++) _aLink_InputStep(link);
    }
    /* Everything the output side writes for what is queued now. */
    Bytes flushOutput() {
        size_t before = script.written().size();
        while (_aLink_OutputStep(link, 0)) {
        }
        Bytes all;
        auto writes = script.written();
        for (size_t i = before; i < writes.size(); i++)
            all.insert(all.end(), writes[i].begin(), writes[i].end());
        return all;
    }
    size_t filed() { return aPacketFifo_GetLength(link->inFifo); }

    Script script;
    uint32_t id = 0;
    aLinkRef link = nullptr;
};

TEST_F(LinkEngineSteps, OddAddressStartsTheHandshakeAndTwoAnswersEndIt) {
    feed({0x05});
    EXPECT_EQ(link->status, aLINK_SYNCING);
    EXPECT_EQ(flushOutput(), kSyncRound);
    feed({0x02, 0x00, 0x02, 0x00});
    EXPECT_EQ(link->status, aLINK_RUNNING);
    EXPECT_EQ(filed(), 0u);
    EXPECT_EQ(flushOutput(), Bytes{});
    feed({0x02, 0x01, 0x17});  // in step again: the next packet is filed
    EXPECT_EQ(filed(), 1u);
}

TEST_F(LinkEngineSteps, HandshakeRestartsOnOddBytesMismatchesAndQuietReads) {
    struct Case {
        const char* name;
        Bytes bytes;
        size_t rounds;  // handshakes started by the bytes
    };
    const Case cases[] = {
        {"OddFirstByte", {0x03}, 1},
        {"ZeroFirstByte", {0x00}, 1},
        {"NonZeroLength", {0x02, 0x01, 0x09}, 1},  // mismatch costs one more byte
        {"OtherAddress", {0x02, 0x00, 0x04, 0x09}, 1},
        {"NonZeroEnd", {0x02, 0x00, 0x02, 0x07, 0x09}, 1},
    };
    for (const Case& c : cases) {
        feed({0x05});
        flushOutput();
        feed(c.bytes);
        EXPECT_EQ(link->status, aLINK_SYNCING) << c.name;
        EXPECT_EQ(flushOutput(), Repeat(kSyncRound, static_cast<int>(c.rounds))) << c.name;
        _aLink_InputStep(link);  // a quiet read while synchronising starts another round
        EXPECT_EQ(flushOutput(), kSyncRound) << c.name;
        feed({0x02, 0x00, 0x02, 0x00});
        ASSERT_EQ(link->status, aLINK_RUNNING) << c.name;
    }
    EXPECT_EQ(filed(), 0u);
}

TEST_F(LinkEngineSteps, FramingErrorsResynchronise) {
    feed({0x02, 0x1D});  // length 29
    EXPECT_EQ(link->status, aLINK_SYNCING);
    EXPECT_EQ(flushOutput(), kSyncRound);
    feed({0x06, 0x00, 0x06, 0x00});
    EXPECT_EQ(link->status, aLINK_RUNNING);
    feed({0x00});  // address 0
    EXPECT_EQ(link->status, aLINK_SYNCING);
}

TEST_F(LinkEngineSteps, HeartbeatsAreAnsweredNotFiled) {
    feed({0x08, 0x02, 0x00, 0x00});
    EXPECT_EQ(flushOutput(), (Bytes{0x08, 0x02, 0x00, 0x02}));
    feed({0x08, 0x02, 0x00, 0x01});
    EXPECT_EQ(flushOutput(), (Bytes{0x08, 0x02, 0x00, 0x03}));
    EXPECT_EQ(filed(), 0u);
    feed({0x08, 0x03, 0x00, 0x00, 0x00});  // three data bytes: not a heartbeat
    EXPECT_EQ(filed(), 1u);
    EXPECT_EQ(flushOutput(), Bytes{});
}

TEST_F(LinkEngineSteps, UserFilterTakesPacketsBeforeAnythingElse) {
    std::atomic<int> seen{0};
    auto takeAll = [](const aPacket*, void* ref) -> uint8_t {
        (*static_cast<std::atomic<int>*>(ref))++;
        return 1;
    };
    ASSERT_EQ(aLink_InstallUserPacketFilter(id, takeAll, &seen), aErrNone);
    feed({0x08, 0x02, 0x00, 0x00, 0x08, 0x01, 0x17});
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(filed(), 0u);
    EXPECT_EQ(flushOutput(), Bytes{});  // the heartbeat went unanswered

    auto takeNone = [](const aPacket*, void*) -> uint8_t { return 2; };
    ASSERT_EQ(aLink_InstallUserPacketFilter(id, takeNone, nullptr), aErrNone);
    feed({0x08, 0x02, 0x00, 0x00, 0x08, 0x01, 0x17});
    EXPECT_EQ(filed(), 1u);
    EXPECT_EQ(flushOutput(), (Bytes{0x08, 0x02, 0x00, 0x02}));
    EXPECT_EQ(aLink_InstallUserPacketFilter(9999999, takeNone, nullptr), aErrParam);
}

TEST_F(LinkEngineSteps, ReadFailureIsAnIOErrorStatusAndAQuietReadResyncs) {
    script.error(aErrIO);
    _aLink_InputStep(link);
    EXPECT_EQ(link->status, aLINK_IOERROR);
    _aLink_InputStep(link);
    EXPECT_EQ(link->status, aLINK_SYNCING);
    EXPECT_EQ(flushOutput(), kSyncRound);
}

TEST_F(LinkEngineSteps, PacketThatCannotBeFiledIsAFilingErrorUntilTheNextHandshake) {
    aPacketFifoId in = link->inFifo;
    ASSERT_EQ(aPacketFifo_Destroy(in), aErrNone);  // the link still names it
    feed({0x02, 0x01, 0x17});
    EXPECT_EQ(link->status, aLINK_FILEERROR);
    feed({0x08, 0x02, 0x00, 0x00});  // bytes are still read and heartbeats answered
    EXPECT_EQ(link->status, aLINK_FILEERROR);
    EXPECT_EQ(flushOutput(), (Bytes{0x08, 0x02, 0x00, 0x02}));
    feed({0x03, 0x02, 0x00, 0x02, 0x00});
    EXPECT_EQ(link->status, aLINK_RUNNING);
}

TEST_F(LinkEngineSteps, PooledWritesFillFourKilobytesThenTheRest) {
    uint8_t data[28] = {};
    aPacket* p = aPacket_CreateWithData(2, 28, data);
    for (int i = 0; i < 200; i++) ASSERT_EQ(aLink_PutPacket(id, p), aErrNone);
    ASSERT_EQ(aLink_EnablePooledPackets(id, true), aErrNone);
    size_t before = script.written().size();
    while (_aLink_OutputStep(link, 0)) {
    }
    auto writes = script.written();
    ASSERT_EQ(writes.size() - before, 2u);
    EXPECT_EQ(writes[before].size(), 4080u);  // 136 packets of 30 bytes
    EXPECT_EQ(writes[before + 1].size(), 1920u);

    ASSERT_EQ(aLink_EnablePooledPackets(id, false), aErrNone);
    for (int i = 0; i < 3; i++) aLink_PutPacket(id, p);
    while (_aLink_OutputStep(link, 0)) {
    }
    EXPECT_EQ(script.written().size(), writes.size() + 3);
    aPacket_Destroy(p);
}

TEST_F(LinkEngineSteps, AwaitFirstReturnsAtOnceUnlessRunning) {
    feed({0x02, 0x01, 0x17});
    link->running = true;  // as if the threads ran
    link->status = aLINK_IOERROR;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(aLink_AwaitFirst(id, linktest::AcceptAll, nullptr, 5000), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    link->status = aLINK_RUNNING;
    aPacket* p = aLink_AwaitFirst(id, linktest::AcceptAll, nullptr, 5000);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->data[0], 0x17);
    aPacket_Destroy(p);
    link->running = false;
    EXPECT_EQ(aLink_AwaitFirst(0, linktest::AcceptAll, nullptr, 10), nullptr);
}

/* A running link over a TCP socket whose other end the test plays. */
class LinkEngineSocket : public ::testing::Test {
protected:
    void SetUp() override {
        aStreamRef stream = peer.connectStream();
        ASSERT_NE(stream, nullptr);
        id = aLink_Create(stream);
        ASSERT_NE(id, 0u);
        ASSERT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
        EXPECT_EQ(peer.read(3), kRouteOn);
    }
    void TearDown() override {
        if (id) aLink_Destroy(id);
    }
    bool waitStatus(uint8_t status, int ms = 3000) {
        for (int i = 0; i < ms / 5 && aLink_GetStatus(id) != status; i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return aLink_GetStatus(id) == status;
    }
    Peer peer;
    uint32_t id = 0;
};

TEST_F(LinkEngineSocket, ResynchronisesAfterAnOddAddress) {
    peer.send({0x05});
    EXPECT_EQ(peer.read(12), kSyncRound);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_SYNCING);
    peer.send({0x02, 0x00, 0x02, 0x00});
    ASSERT_TRUE(waitStatus(aLINK_RUNNING));
    peer.send({0x02, 0x02, 0x17, 0x33});
    aPacket* p = aLink_AwaitPacket(id, 3000);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->address, 2);
    EXPECT_EQ(p->data[1], 0x33);
    aPacket_Destroy(p);
    EXPECT_EQ(aLink_GetPacket(id), nullptr);
}

TEST_F(LinkEngineSocket, AnswersHeartbeats) {
    peer.send({0x08, 0x02, 0x00, 0x00});
    EXPECT_EQ(peer.read(4), (Bytes{0x08, 0x02, 0x00, 0x02}));
    peer.send({0x08, 0x02, 0x00, 0x01});
    EXPECT_EQ(peer.read(4), (Bytes{0x08, 0x02, 0x00, 0x03}));
    EXPECT_EQ(aLink_GetPacket(id), nullptr);
}

TEST_F(LinkEngineSocket, SyncWithAnAnsweringDevice) {
    std::atomic<bool> stop{false};
    std::thread device([&] {
        while (!stop) {
            Bytes got = peer.read(2, 50);
            if (got == Bytes{0xAD, 0x00}) peer.send({0x02, 0x00});
        }
    });
    EXPECT_EQ(aLink_Sync(id), aErrNone);
    stop = true;
    device.join();
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);
    EXPECT_EQ(aLink_GetPacket(id), nullptr);  // the surplus answers were drained
}

TEST_F(LinkEngineSocket, SyncWithASilentDeviceGivesUpAndLeavesNothingQueued) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(aLink_Sync(id), aErrNotReady);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
    aLinkRef link = _aLink_Record(id);
    EXPECT_EQ(aPacketFifo_GetLength(link->inFifo), 0u);
    EXPECT_LE(aPacketFifo_GetLength(link->outFifo), 6u);  // at most a round queued since the drain
    EXPECT_EQ(aLink_Sync(0), aErrParam);
}

TEST_F(LinkEngineSocket, DestroyWritesWhatIsQueuedAndRouteOff) {
    const uint8_t echo[2] = {0x17, 0x01};
    aPacket* p = aPacket_CreateWithData(2, 2, echo);
    ASSERT_EQ(aLink_PutPacket(id, p), aErrNone);
    aPacket_Destroy(p);
    EXPECT_EQ(peer.read(4), (Bytes{0x02, 0x02, 0x17, 0x01}));
    ASSERT_EQ(aLink_Destroy(id), aErrNone);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(peer.read(3), (Bytes{0xAF, 0x01, 0x00}));
}

TEST(LinkEngineStart, DeviceThatNeverSynchronisesFailsWithIndexRange) {
    Peer peer;
    aStreamRef stream = peer.connectStream();
    ASSERT_NE(stream, nullptr);
    uint32_t id = _aLink_CreateStopped(stream);
    ASSERT_NE(id, 0u);
    peer.send({0x01, 0x03, 0x05});  // never in step, never answers
    EXPECT_EQ(aLink_Start(id), aErrIndexRange);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_SYNCING);
    EXPECT_EQ(aLink_Destroy(id), aErrNone);
}

}  // namespace
