#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/aStreamFile.h"
#include "tests/link/LinkTestSupport.h"

namespace {

using linktest::Script;
using linktest::ScriptStream;

class LinkStream : public ::testing::Test {
protected:
    void SetUp() override { stream = ScriptStream(script); }
    void TearDown() override { aStream_Destroy(stream); }
    Script script;
    aStreamRef stream = nullptr;
};

TEST_F(LinkStream, ReadThatMustWaitGivesItsBytesBack) {
    script.bytes({1, 2});
    uint8_t buffer[4] = {9, 9, 9, 9};
    EXPECT_EQ(aStream_Read(stream, buffer, 4), aErrNotReady);
    EXPECT_EQ(buffer[0], 9);  // untouched
    script.bytes({3, 4});
    ASSERT_EQ(aStream_Read(stream, buffer, 4), aErrNone);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(LinkStream, ReadAtTheEndDeliversWhatCame) {
    script.bytes({1, 2});
    script.whenEmpty = aErrEOF;
    uint8_t buffer[4] = {};
    EXPECT_EQ(aStream_Read(stream, buffer, 4), aErrEOF);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[1], 2);
}

TEST_F(LinkStream, OtherFailuresDropTheBytes) {
    script.bytes({1, 2});
    script.error(aErrIO);
    script.bytes({3});
    uint8_t buffer[4];
    EXPECT_EQ(aStream_Read(stream, buffer, 4), aErrIO);
    ASSERT_EQ(aStream_Read(stream, buffer, 1), aErrNone);
    EXPECT_EQ(buffer[0], 3);
}

TEST_F(LinkStream, PushBackRingGrowsAndKeepsOrder) {
    EXPECT_EQ(aStream_BufferCapacity(stream), 0u);
    for (int i = 0; i < 600; i++) ASSERT_EQ(aStreamBufferChar(stream, static_cast<uint8_t>(i)), aErrNone);
    EXPECT_EQ(aStream_BufferCapacity(stream), 1024u);
    std::vector<uint8_t> all(600);
    ASSERT_EQ(aStream_Read(stream, all.data(), all.size()), aErrNone);
    for (int i = 0; i < 600; i++) ASSERT_EQ(all[i], static_cast<uint8_t>(i)) << i;
    EXPECT_EQ(aStreamBufferChar(nullptr, 1), aErrParam);
}

TEST_F(LinkStream, CStringStopsAtCapacityAndLeavesTheRest) {
    script.bytes({'a', 'b', 'c', 'd', 'e', 'f', 0});
    char text[8];
    ASSERT_EQ(aStream_ReadCString(stream, text, 4), aErrNone);
    EXPECT_STREQ(text, "abc");
    ASSERT_EQ(aStream_ReadCString(stream, text, sizeof(text)), aErrNone);
    EXPECT_STREQ(text, "def");
}

TEST_F(LinkStream, RecordsWithTerminators) {
    const uint8_t crlf[2] = {'\r', '\n'};
    uint8_t buffer[16];
    size_t length = 0;
    // A terminator that began and then failed is data; a wait in the middle loses nothing.
    script.bytes({'a', '\r', 'b', '\r'});
    EXPECT_EQ(aStream_ReadRecord(stream, buffer, &length, sizeof(buffer), crlf, 2), aErrNotReady);
    script.bytes({'\n', 'x', 'y'});
    script.whenEmpty = aErrEOF;
    ASSERT_EQ(aStream_ReadRecord(stream, buffer, &length, sizeof(buffer), crlf, 2), aErrNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), length), "a\rb");
    ASSERT_EQ(aStream_ReadRecord(stream, buffer, &length, sizeof(buffer), crlf, 2), aErrNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), length), "xy");
    EXPECT_EQ(aStream_ReadRecord(stream, buffer, &length, sizeof(buffer), crlf, 2), aErrEOF);
    EXPECT_EQ(aStream_ReadRecord(stream, buffer, &length, sizeof(buffer), crlf, 0), aErrParam);
    char text[16];
    script.bytes({'o', 'k', '\r', '\n', 0});
    ASSERT_EQ(aStream_ReadCStringRecord(stream, text, sizeof(text), "\r\n"), aErrNone);
    EXPECT_STREQ(text, "ok");
}

TEST_F(LinkStream, WriteUsesWriteForRunsAndPutOtherwise) {
    const uint8_t bytes[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(aStream_Write(stream, bytes, 5), aErrNone);
    ASSERT_EQ(aStream_Write(stream, bytes, 1), aErrNone);
    EXPECT_EQ(aStream_Write(stream, bytes, 0), aErrNone);
    EXPECT_EQ(aStream_Write(stream, nullptr, 0), aErrParam);
    auto writes = script.written();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].size(), 5u);
    EXPECT_EQ(script.puts, 1);

    Script putOnly;
    aStreamRef s = ScriptStream(putOnly, true, false);
    ASSERT_EQ(aStream_Write(s, bytes, 5), aErrNone);
    EXPECT_EQ(putOnly.puts, 5);
    ASSERT_EQ(aStream_WriteCStringRecord(s, "hi", "\n"), aErrNone);
    EXPECT_EQ(putOnly.puts, 9);  // "hi", "\n" and its zero byte
    EXPECT_EQ(aStream_WriteRecord(s, bytes, 1, nullptr, 0), aErrParam);
    aStream_Destroy(s);
    EXPECT_EQ(s, nullptr);

    aStreamRef none = aStream_Create(nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(aStream_Write(none, bytes, 1), aErrMode);
    uint8_t byte;
    EXPECT_EQ(aStream_Read(none, &byte, 1), aErrMode);
    aStream_Destroy(none);
    EXPECT_EQ(aStream_Destroy(none), aErrParam);
}

TEST(LinkStreamFile, WriteReadAndFlush) {
    std::string dir = testing::TempDir();
    std::string in = dir + "/stream-in.bin", out = dir + "/stream-out.bin";
    aStreamRef s = nullptr;
    ASSERT_EQ(aStream_CreateFileOutput(in.c_str(), &s), aErrNone);
    ASSERT_EQ(aStream_WriteCString(s, "hello"), aErrNone);
    ASSERT_EQ(aStream_Destroy(s), aErrNone);

    aStreamRef source = nullptr, destination = nullptr;
    ASSERT_EQ(aStream_CreateFileInput(in.c_str(), &source), aErrNone);
    ASSERT_EQ(aStream_CreateFileOutput(out.c_str(), &destination), aErrNone);
    EXPECT_EQ(aStream_Flush(destination, source), aErrMode);  // no get, no put
    ASSERT_EQ(aStream_Flush(source, destination), aErrNone);
    aStream_Destroy(source);
    aStream_Destroy(destination);

    ASSERT_EQ(aStream_CreateFileInput(out.c_str(), &s), aErrNone);
    char text[16];
    ASSERT_EQ(aStream_ReadCString(s, text, sizeof(text)), aErrNone);
    EXPECT_STREQ(text, "hello");
    uint8_t byte;
    EXPECT_EQ(aStream_Read(s, &byte, 1), aErrEOF);
    aStream_Destroy(s);

    EXPECT_EQ(aStream_CreateFileInput((dir + "/missing").c_str(), &s), aErrResource);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(aStream_CreateFileInput(nullptr, &s), aErrResource);
    remove(in.c_str());
    remove(out.c_str());
}

}  // namespace
