#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>

#include <chrono>
#include <thread>

#include "common/aStreamSerial.h"
#include "tests/link/LinkTestSupport.h"

namespace {

using linktest::Peer;
using Clock = std::chrono::steady_clock;

/* Reads one byte, waiting as the link's input thread would. */
aErr ReadByte(aStreamRef s, uint8_t* byte, int attempts = 100) {
    aErr err = aErrNotReady;
    for (int i = 0; i < attempts && err == aErrNotReady; i++) err = aStream_Read(s, byte, 1);
    return err;
}

TEST(LinkSocket, CarriesBytesBothWays) {
    Peer peer;
    aStreamRef s = peer.connectStream();
    ASSERT_NE(s, nullptr);
    const uint8_t out[3] = {0x02, 0x01, 0x17};
    ASSERT_EQ(aStream_Write(s, out, 3), aErrNone);
    EXPECT_EQ(peer.read(3), (std::vector<uint8_t>{0x02, 0x01, 0x17}));
    peer.send({7, 8, 9});
    uint8_t in[3];
    for (uint8_t& b : in) ASSERT_EQ(ReadByte(s, &b), aErrNone);
    EXPECT_EQ(in[2], 9);
    aStream_Destroy(s);
}

TEST(LinkSocket, NoListenerIsAResourceError) {
    uint16_t port;
    {
        Peer gone;
        port = gone.port();
    }
    aStreamRef s = reinterpret_cast<aStreamRef>(1);
    EXPECT_EQ(aStream_CreateSocket(linktest::Loopback(), port, &s), aErrResource);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(aStream_CreateSocket(linktest::Loopback(), port, nullptr), aErrResource);
}

TEST(LinkSocket, PeerCloseIsNotReadyAndTheNextWriteReconnects) {
    Peer peer;
    aStreamRef s = peer.connectStream();
    ASSERT_NE(s, nullptr);
    peer.closeConnection();
    uint8_t byte;
    for (int i = 0; i < 3; i++) EXPECT_EQ(aStream_Read(s, &byte, 1), aErrNotReady);
    const uint8_t out[2] = {0x04, 0x00};
    ASSERT_EQ(aStream_Write(s, out, 2), aErrNone);
    ASSERT_TRUE(peer.accept());
    EXPECT_EQ(peer.read(2), (std::vector<uint8_t>{0x04, 0x00}));
    peer.send({0x42});
    ASSERT_EQ(ReadByte(s, &byte), aErrNone);
    EXPECT_EQ(byte, 0x42);
    aStream_Destroy(s);
}

TEST(LinkSocket, ResetConnectionReconnectsInsideGet) {
    Peer peer;
    aStreamRef s = peer.connectStream();
    ASSERT_NE(s, nullptr);
    peer.resetConnection();
    uint8_t byte;
    EXPECT_EQ(ReadByte(s, &byte, 3), aErrNotReady);
    ASSERT_TRUE(peer.accept(1000));  // the stream came back on its own
    peer.send({0x24});
    ASSERT_EQ(ReadByte(s, &byte), aErrNone);
    EXPECT_EQ(byte, 0x24);
    aStream_Destroy(s);
}

TEST(LinkSocket, InterruptEndsAWaitingGet) {
    Peer peer;
    aStreamRef s = peer.connectStream();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(aStream_Interrupt(s), aErrNone);
    uint8_t byte;
    EXPECT_EQ(aStream_Read(s, &byte, 1), aErrNotReady);
    aStream_Destroy(s);
}

TEST(LinkSocket, WriteToAPeerThatNeverReadsEndsBusy) {
    Peer peer;
    aStreamRef s = peer.connectStream();
    ASSERT_NE(s, nullptr);
    std::vector<uint8_t> big(64 << 20, 0x55);
    auto start = Clock::now();
    EXPECT_EQ(aStream_Write(s, big.data(), big.size()), aErrBusy);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(500));  // ten waits of 60 ms
    aStream_Destroy(s);
}

class LinkSerial : public ::testing::Test {
protected:
    void SetUp() override {
        char name[128];
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        path = name;
    }
    void TearDown() override {
        close(master);
        close(slave);
    }
    int master = -1, slave = -1;
    std::string path;
};

TEST_F(LinkSerial, ConfiguresThePortAndMovesBytes) {
    aStreamRef s = nullptr;
    ASSERT_EQ(aStream_CreateSerial(path.c_str(), 6, 0, 0, 0, &s), aErrNone);
    termios t;
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (CSTOPB | PARENB), 0u);
    EXPECT_EQ(t.c_lflag, 0u);

    const uint8_t out[2] = {0xAD, 0x00};
    ASSERT_EQ(aStream_Write(s, out, 2), aErrNone);
    uint8_t got[2];
    ASSERT_EQ(read(master, got, 2), 2);
    EXPECT_EQ(got[0], 0xAD);
    uint8_t byte;
    EXPECT_EQ(aStream_Read(s, &byte, 1), aErrNotReady);
    ASSERT_EQ(write(master, "\x02", 1), 1);
    ASSERT_EQ(ReadByte(s, &byte), aErrNone);
    EXPECT_EQ(byte, 0x02);
    aStream_Destroy(s);
}

TEST_F(LinkSerial, RefusesBadSelectorsAndMissingPorts) {
    aStreamRef s = nullptr;
    EXPECT_EQ(aStream_CreateSerial(path.c_str(), 6, 0, 2, 0, &s), aErrResource);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(aStream_CreateSerial(path.c_str(), 6, 0, 0, 2, &s), aErrResource);
    EXPECT_EQ(aStream_CreateSerial("/dev/quillcore-no-such-port", 6, 0, 0, 0, &s), aErrNotFound);
    ASSERT_EQ(aStream_CreateSerial(path.c_str(), 3, 1, 1, 1, &s), aErrNone);
    termios t;
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B19200);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);  // a pty keeps 8 data bits and no parity whatever is asked
    aStream_Destroy(s);
    EXPECT_EQ(aStream_SerialBaudRate(7), 230400u);
    EXPECT_EQ(aStream_SerialBaudRate(8), 0u);
}

}  // namespace
