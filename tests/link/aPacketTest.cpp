#include <gtest/gtest.h>

#include <vector>

#include "common/aPacket.h"
#include "common/aUEI.h"

namespace {

struct AssemblyCase {
    const char* name;
    std::vector<uint8_t> bytes;
    aErr lastResult;  // of the last byte; every earlier byte succeeds
    bool complete;
    uint8_t address;
    uint8_t length;
};

void PrintTo(const AssemblyCase& c, std::ostream* os) { *os << c.name; }

class LinkPacketAssembly : public ::testing::TestWithParam<AssemblyCase> {};

TEST_P(LinkPacketAssembly, AddsBytes) {
    const AssemblyCase& c = GetParam();
    aPacket* p = aPacket_Create();
    ASSERT_NE(p, nullptr);
    for (size_t i = 0; i + 1 < c.bytes.size(); i++) ASSERT_EQ(aPacket_AddByte(p, c.bytes[i]), aErrNone) << i;
    EXPECT_EQ(aPacket_AddByte(p, c.bytes.back()), c.lastResult);
    EXPECT_EQ(aPacket_IsComplete(p), c.complete);
    EXPECT_EQ(p->address, c.address);
    EXPECT_EQ(p->length, c.length);
    aPacket_Destroy(p);
}

std::vector<uint8_t> Full(uint8_t length) {
    std::vector<uint8_t> b = {0x08, length};
    for (uint8_t i = 0; i < length; i++) b.push_back(static_cast<uint8_t>(0x40 + i));
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Table, LinkPacketAssembly,
    ::testing::Values(AssemblyCase{"EmptyPacket", {0x04, 0x00}, aErrNone, true, 4, 0},
                      AssemblyCase{"ZeroAddress", {0x00}, aErrPacket, false, 0, 0},
                      AssemblyCase{"LengthTooLong", {0x06, 0x1D}, aErrPacket, false, 6, 29},
                      AssemblyCase{"Partial", {0x06, 0x03, 0x03, 0x48}, aErrNone, false, 6, 3},
                      AssemblyCase{"ThreeBytes", {0x06, 0x03, 0x03, 0x48, 0x20}, aErrNone, true, 6, 3},
                      AssemblyCase{"FullPacket", Full(28), aErrNone, true, 8, 28},
                      AssemblyCase{"ByteAfterComplete", {0x06, 0x01, 0x05, 0x07}, aErrPacket, false, 6, 1},
                      AssemblyCase{"ByteAfterEmpty", {0x04, 0x00, 0x02}, aErrPacket, false, 4, 0}),
    [](const auto& info) { return info.param.name; });

TEST(LinkPacket, OverrunPastThirtyBytes) {
    aPacket* p = aPacket_Create();
    for (uint8_t b : Full(28)) ASSERT_EQ(aPacket_AddByte(p, b), aErrNone);
    EXPECT_EQ(aPacket_AddByte(p, 1), aErrOverrun);
    EXPECT_EQ(aPacket_AddByte(p, 1), aErrOverrun);  // the count does not wrap
    aPacket_Reset(p);
    EXPECT_EQ(p->fill, 0);
    EXPECT_EQ(aPacket_AddByte(p, 0x02), aErrNone);
    aPacket_Destroy(p);
}

TEST(LinkPacket, CreateWithDataAndByteForm) {
    uint8_t data[29] = {};
    for (uint8_t i = 0; i < 29; i++) data[i] = i;
    EXPECT_EQ(aPacket_CreateWithData(2, 29, data), nullptr);
    EXPECT_EQ(aPacket_CreateWithData(2, 1, nullptr), nullptr);
    aPacket* p = aPacket_CreateWithData(2, 28, data);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(aPacket_IsComplete(p));
    uint8_t bytes[30];
    size_t count = 0;
    EXPECT_EQ(aPacket_GetBytes(p, bytes, 29, &count), aErrOverrun);
    ASSERT_EQ(aPacket_GetBytes(p, bytes, sizeof(bytes), &count), aErrNone);
    EXPECT_EQ(count, 30u);
    EXPECT_EQ(bytes[0], 2);
    EXPECT_EQ(bytes[1], 28);
    EXPECT_EQ(bytes[29], 27);
    aPacket* copy = aPacket_Copy(p);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(memcmp(copy->data, p->data, 28), 0);
    EXPECT_EQ(aPacket_Destroy(p), aErrNone);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(aPacket_Destroy(p), aErrParam);
    aPacket_Destroy(copy);
}

TEST(LinkPacket, RefusesRecordsWithoutCheckWord) {
    aPacket fake = {0, 2, 4, 0, {}};
    uint8_t out = 0, bytes[30];
    EXPECT_EQ(aPacket_AddByte(&fake, 1), aErrParam);
    EXPECT_EQ(aPacket_Reset(&fake), aErrParam);
    EXPECT_EQ(aPacket_GetBytes(&fake, bytes, sizeof(bytes), nullptr), aErrParam);
    EXPECT_EQ(aPacket_Copy(&fake), nullptr);
    EXPECT_EQ(aPacket_GetCmd(&fake, &out), aErrPacket);
    EXPECT_FALSE(aPacket_IsComplete(&fake));
}

TEST(LinkPacket, CommandOptionIndexNeedTheirBytes) {
    const uint8_t data[3] = {0x03, 0xC7, 0xA4};
    uint8_t v = 0;
    aPacket* one = aPacket_CreateWithData(2, 1, data);
    aPacket* three = aPacket_CreateWithData(2, 3, data);
    EXPECT_EQ(aPacket_GetCmd(one, &v), aErrNone);
    EXPECT_EQ(v, 0x03);
    EXPECT_EQ(aPacket_GetOption(one, &v), aErrPacket);
    EXPECT_EQ(aPacket_GetIndex(one, &v), aErrPacket);
    EXPECT_EQ(aPacket_GetOption(three, &v), aErrNone);
    EXPECT_EQ(v, 0x07);
    EXPECT_EQ(aPacket_GetIndex(three, &v), aErrNone);
    EXPECT_EQ(v, 0x04);
    EXPECT_EQ(aPacket_GetIndex(three, nullptr), aErrParam);
    aPacket_Destroy(one);
    aPacket_Destroy(three);
}

TEST(LinkUEI, ValuesAreBigEndian) {
    const uint8_t bytes[4] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(aUEI_RetrieveInt(bytes), 0x12345678u);
    EXPECT_EQ(aUEI_RetrieveShort(bytes), 0x1234);
    uint8_t out[4];
    aUEI_StoreInt(out, 0xA1B2C3D4);
    EXPECT_EQ(out[0], 0xA1);
    EXPECT_EQ(out[3], 0xD4);
    aUEI_StoreShort(out, 0xBEEF);
    EXPECT_EQ(out[0], 0xBE);
    EXPECT_EQ(out[1], 0xEF);
    uint32_t words[2];
    memcpy(words, "\x01\x02\x03\x04\xF0\x00\x00\x01", 8);
    aUEI_ModifyIntBuffer(words, 2);
    EXPECT_EQ(words[0], 0x01020304u);
    EXPECT_EQ(words[1], 0xF0000001u);
}

TEST(LinkUEI, ByteRunOfFiftyBytesTakesThreePackets) {
    uint8_t run[50];
    for (int i = 0; i < 50; i++) run[i] = static_cast<uint8_t>(i + 1);
    ASSERT_EQ(aUEI_BytesPacketCount(50), 3u);
    const uint8_t chunks[3] = {24, 24, 2}, sequences[3] = {0x80, 0x81, 0x02};
    size_t offset = 0;
    for (size_t n = 0; n < 3; n++) {
        aPacket* p = aUEI_CreateBytesPacket(2, 3, 0x80 | 32, 0x20, run, sizeof(run), n);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->length, chunks[n] + 4);
        EXPECT_EQ(p->data[p->length - 1], sequences[n]);
        EXPECT_EQ(aUEI_getBytesSequence(p), n);
        EXPECT_EQ(aUEI_getBytesContinue(p) != 0, n < 2);
        EXPECT_EQ(aUEI_getBytesFullPacket(p), n < 2);
        EXPECT_EQ(memcmp(p->data + 3, run + offset, chunks[n]), 0);
        offset += chunks[n];
        aPacket_Destroy(p);
    }
    EXPECT_EQ(aUEI_CreateBytesPacket(2, 3, 32, 0, run, sizeof(run), 3), nullptr);
}

TEST(LinkUEI, EmptyRunIsOnePacketWithSequenceZero) {
    aPacket* p = aUEI_CreateBytesPacket(2, 3, 32, 0, nullptr, 0, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->length, 4);
    EXPECT_EQ(p->data[3], 0);
    aPacket_Destroy(p);
}

TEST(LinkUEI, PayloadKindsAndStreamPackets) {
    struct Case {
        std::vector<uint8_t> data;
        bool uei, stream;
    };
    const Case cases[] = {
        {{0x03, 0x07, 0x40, 0, 0, 0, 1}, true, true},   // system value streamed
        {{0x03, 0x07, 0x40, 0}, true, false},           // only four data bytes
        {{0x03, 0x47, 0x40, 0, 0, 0, 1}, true, false},  // get bit set
        {{0x03, 0x87, 0x40, 0, 0, 0, 1}, true, false},  // set bit set
        {{0x03, 0x07, 0x00, 0, 0, 0, 1}, true, false},  // no stream bit
        {{0x04, 0x07, 0x40, 0, 0, 0, 1}, false, false}, {{0x49, 0x07, 0x40, 0, 0, 0, 1}, false, false},
        {{0x5C, 0x07, 0x40, 0, 0, 0, 1}, true, true},   {{0xAD, 0x00, 0x40, 0, 0, 0, 1}, false, false},
    };
    for (const Case& c : cases) {
        aPacket* p = aPacket_CreateWithData(2, static_cast<uint8_t>(c.data.size()), c.data.data());
        EXPECT_EQ(aUEI_isUEIPayload(p), c.uei) << int(c.data[0]);
        EXPECT_EQ(aUEI_isNotUEIPayload(p), !c.uei) << int(c.data[0]);
        EXPECT_EQ(aUEI_isStreamPacket(p), c.stream) << int(c.data[0]) << " " << int(c.data[1]);
        aPacket_Destroy(p);
    }
    EXPECT_FALSE(aUEI_isNotUEIPayload(nullptr));
    EXPECT_EQ(aUEI_getBytesSequence(nullptr), 0);
}

}  // namespace
