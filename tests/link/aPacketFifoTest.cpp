#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "common/aPacketFifo.h"

namespace {

aPacket* Make(uint8_t address, uint8_t tag) { return aPacket_CreateWithData(address, 1, &tag); }

void Put(aPacketFifoId fifo, uint8_t address, uint8_t tag) {
    aPacket* p = Make(address, tag);
    ASSERT_EQ(aPacketFifo_Put(fifo, p), aErrNone);
    aPacket_Destroy(p);  // the FIFO keeps its own copy
}

uint8_t Tag(aPacket*& p) {
    uint8_t tag = p ? p->data[0] : 0xFF;
    aPacket_Destroy(p);
    return tag;
}

uint8_t ByAddress(const aPacket* p, void* ref) { return p->address == *static_cast<uint8_t*>(ref); }

class LinkFifo : public ::testing::Test {
protected:
    void SetUp() override { fifo = aPacketFifo_Create(); }
    void TearDown() override {
        if (fifo) aPacketFifo_Destroy(fifo);
    }
    aPacketFifoId fifo = 0;
};

TEST_F(LinkFifo, KeepsOrderAndCopies) {
    ASSERT_NE(fifo, 0u);
    Put(fifo, 2, 1);
    Put(fifo, 2, 2);
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 2u);
    aPacket* p = aPacketFifo_Get(fifo);
    EXPECT_EQ(Tag(p), 1);
    p = aPacketFifo_Get(fifo);
    EXPECT_EQ(Tag(p), 2);
    EXPECT_EQ(aPacketFifo_Get(fifo), nullptr);
    aPacket invalid = {0, 0, 2, 0, {}};
    EXPECT_EQ(aPacketFifo_Put(fifo, &invalid), aErrParam);
}

TEST_F(LinkFifo, OverflowEmptiesTheQueue) {
    for (int i = 0; i < 1000; i++) Put(fifo, 2, static_cast<uint8_t>(i));
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 1000u);
    Put(fifo, 2, 7);
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 0u);
    Put(fifo, 2, 8);  // and it keeps working afterwards
    aPacket* p = aPacketFifo_Await(fifo, 0);
    EXPECT_EQ(Tag(p), 8);
}

TEST_F(LinkFifo, AwaitWithZeroTimeout) {
    EXPECT_EQ(aPacketFifo_Await(fifo, 0), nullptr);
    Put(fifo, 2, 5);
    Put(fifo, 2, 6);
    aPacket* p = aPacketFifo_Await(fifo, 0);
    EXPECT_EQ(Tag(p), 5);
}

TEST_F(LinkFifo, RejectedPacketStaysAndIsOfferedOnce) {
    Put(fifo, 4, 1);
    struct Count {
        int calls = 0;
    } count;
    auto rejectAll = [](const aPacket*, void* ref) -> uint8_t {
        static_cast<Count*>(ref)->calls++;
        return 0;
    };
    std::thread feeder([&] {
        for (uint8_t i = 2; i <= 5; i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            Put(fifo, 4, i);
        }
    });
    EXPECT_EQ(aPacketFifo_AwaitFirst(fifo, rejectAll, &count, 200), nullptr);
    feeder.join();
    EXPECT_EQ(count.calls, 5);  // each of the five packets once, however many wake-ups
    aPacket* p = aPacketFifo_Get(fifo);
    EXPECT_EQ(Tag(p), 1);
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 4u);
}

TEST_F(LinkFifo, ConcurrentWaitersReceiveTheirOwnReplies) {
    for (bool reversed : {false, true}) {
        uint8_t want[2] = {6, 8};
        aPacket* got[2] = {};
        std::thread waiters[2];
        for (int i = 0; i < 2; i++) {
            waiters[i] =
                std::thread([&, i] { got[i] = aPacketFifo_AwaitFirst(fifo, ByAddress, &want[i], 5000); });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Put(fifo, 10, 0);  // nobody's
        Put(fifo, reversed ? 8 : 6, 1);
        Put(fifo, reversed ? 6 : 8, 2);
        for (auto& w : waiters) w.join();
        ASSERT_NE(got[0], nullptr);
        ASSERT_NE(got[1], nullptr);
        EXPECT_EQ(got[0]->address, 6);
        EXPECT_EQ(got[1]->address, 8);
        aPacket_Destroy(got[0]);
        aPacket_Destroy(got[1]);
        EXPECT_EQ(aPacketFifo_GetLength(fifo), 1u);
        aPacketFifo_DrainPackets(
            fifo, [](const aPacket*, void*) -> uint8_t { return 1; }, nullptr);
    }
}

TEST_F(LinkFifo, GetFirstAndDrainByFilter) {
    for (uint8_t i = 0; i < 6; i++) Put(fifo, i % 2 ? 4 : 6, i);
    uint8_t four = 4;
    aPacket* p = aPacketFifo_GetFirst(fifo, ByAddress, &four);
    EXPECT_EQ(Tag(p), 1);
    EXPECT_EQ(aPacketFifo_DrainPackets(fifo, ByAddress, &four), 2u);
    EXPECT_EQ(aPacketFifo_DrainPackets(
                  fifo, [](const aPacket*, void*) -> uint8_t { return 1; }, nullptr),
              3u);
    EXPECT_EQ(aPacketFifo_GetLength(fifo), 0u);
}

TEST_F(LinkFifo, DestroyWakesWaiterAndForgetsTheNumber) {
    aPacketFifoId number = fifo;
    std::atomic<bool> returned{false};
    auto start = std::chrono::steady_clock::now();
    std::thread waiter([&] {
        EXPECT_EQ(aPacketFifo_Await(number, 10000), nullptr);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(returned);
    EXPECT_EQ(aPacketFifo_Destroy(fifo), aErrNone);
    EXPECT_EQ(fifo, 0u);
    waiter.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));  // woken, not timed out
    EXPECT_EQ(aPacketFifo_GetLength(number), 0u);
    aPacket* p = Make(2, 1);
    EXPECT_EQ(aPacketFifo_Put(number, p), aErrParam);
    aPacket_Destroy(p);
    EXPECT_EQ(aPacketFifo_Destroy(number), aErrNotFound);
    aPacketFifoId fresh = aPacketFifo_Create();
    EXPECT_GT(fresh, number);  // numbers are not reused
    aPacketFifo_Destroy(fresh);
}

TEST_F(LinkFifo, WakeEndsOneAwait) {
    std::thread waiter([&] { EXPECT_EQ(aPacketFifo_Await(fifo, 10000), nullptr); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(aPacketFifo_Wake(fifo), aErrNone);
    waiter.join();
    // A wake with nobody waiting ends the next wait, but never hides a packet.
    aPacketFifo_Wake(fifo);
    EXPECT_EQ(aPacketFifo_Await(fifo, 5000), nullptr);
    aPacketFifo_Wake(fifo);
    Put(fifo, 2, 3);
    aPacket* p = aPacketFifo_Await(fifo, 0);
    EXPECT_EQ(Tag(p), 3);
}

}  // namespace
