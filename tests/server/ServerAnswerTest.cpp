// The update server's answer parsers, URL building, version ordering and
// Base64, fed bodies directly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/Log.h"
#include "server/HTTPRequest.h"
#include "server/ServerAnswer.h"
#include "server/UpdateServerRequest.h"
#include "tests/server/LogCapture.h"

using ::testing::ElementsAre;
using ::testing::Pair;

namespace {

const std::string kUrl = "http://mirror/cgi/u?op=x&";

}  // namespace

TEST(HTTPRequest, BuildsUrlInKeyOrderWithTrailingAmpersandAndNoEscaping) {
    EXPECT_EQ(HTTPRequest::BuildUrl("http://h/cgi/u", {}), "http://h/cgi/u");
    EXPECT_EQ(HTTPRequest::BuildUrl("B", {{"sn", "0000ABCD"}, {"op", "qu"}}), "B?op=qu&sn=0000ABCD&");
    EXPECT_EQ(HTTPRequest::BuildUrl("B", {{"rv", "2"}, {"op", "hi"}}), "B?op=hi&rv=2&");
    EXPECT_EQ(HTTPRequest::BuildUrl("B", {{"fp", "1%202"}, {"x", "a b"}}), "B?fp=1%202&x=a b&");
}

TEST(HTTPRequest, WriteCallbackTakesEveryByteAndLogsOnlyTheFirstHundred) {
    LogCapture log;
    HTTPResponse response("u");
    // Exactly 150 bytes with no terminator: the log line must not read past them.
    std::unique_ptr<char[]> chunk(new char[150]);
    memset(chunk.get(), 'x', 150);
    chunk[0] = 'A';
    EXPECT_EQ(_rcv_data(chunk.get(), 1, 150, &response), 150u);
    EXPECT_EQ(_rcv_data(chunk.get(), 5, 2, &response), 10u);
    EXPECT_EQ(response.get_response().size(), 160u);
    char expected[256];
    snprintf(expected, sizeof(expected), "rcv_data called (..., 1, 150, %08X) [A%s]\nrcv_data returns 150\n",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(&response)), std::string(99, 'x').c_str());
    EXPECT_EQ(log.text().substr(0, strlen(expected)), expected);
}

struct AcceptCase {
    const char* body;
    bool accepted;
};

TEST(ServerAnswer, OnlyAFirstLineBeginningWithOkIsAccepted) {
    const AcceptCase cases[] = {
        {"ok", true},     {"ok\n", true},      {"okay\n1\n", true}, {"ok\r\n", true},
        {"", false},      {"OK\n", false},     {"o", false},        {"\nok\n", false},
        {" ok\n", false}, {"no\nok\n", false}, {"Ok\n", false},
    };
    for (const AcceptCase& c : cases) EXPECT_EQ(ServerAnswer::Ping(c.body, kUrl), c.accepted) << c.body;
}

TEST(ServerAnswer, RefusalIsLoggedWithOperationAndRequest) {
    LogCapture log;
    std::string build = "keep", firmware = "keep";
    EXPECT_FALSE(ServerAnswer::QueryBuild("error: no such device\n", kUrl, build, firmware));
    EXPECT_EQ(log.text(), "ServerCommClass: QueryBuild failed [" + kUrl + "]\n");
    EXPECT_EQ(build, "keep");
    EXPECT_EQ(firmware, "keep");
}

struct QueryCase {
    const char* body;
    bool ok;
    const char* build;
    const char* firmware;
};

TEST(ServerAnswer, QueryBuildTakesLinesTwoAndThree) {
    const QueryCase cases[] = {
        {"ok\n1234\nFW-1\n", true, "1234", "FW-1"},
        {"ok\n1234\nFW-1\r\n", true, "1234", "FW-1"},
        {"ok\n1234\nFW-1", true, "1234", "FW-1"},
        {"ok\n1234\n", true, "1234", "keep"},
        {"ok\n", true, "keep", "keep"},
        {"ok\n\n\n", true, "", ""},
        {"nope\n1234\nFW", false, "keep", "keep"},
    };
    for (const QueryCase& c : cases) {
        std::string build = "keep", firmware = "keep";
        EXPECT_EQ(ServerAnswer::QueryBuild(c.body, kUrl, build, firmware), c.ok) << c.body;
        EXPECT_EQ(build, c.build) << c.body;
        EXPECT_EQ(firmware, c.firmware) << c.body;
    }
}

struct BuildCase {
    const char* body;
    bool ok;
    const char* text;
};

TEST(ServerAnswer, GetBuildHandsOverLineTwoAsSent) {
    const BuildCase cases[] = {
        {"ok\nTWE=\n", true, "TWE="},
        {"ok\nTWE=", true, "TWE="},
        {"ok\nTWE=\r\n", true, "TWE=\r"},
        {"ok\nAAAA\nBBBB\n", true, "AAAA"},
        {"ok\n", true, ""},
        {"ok", true, ""},
        {"ok\n\n", true, ""},
        {"no\nTWE=\n", false, "keep"},
        {"", false, "keep"},
    };
    for (const BuildCase& c : cases) {
        std::string body = c.body, text = "keep";
        EXPECT_EQ(ServerAnswer::GetBuild(body, kUrl, text), c.ok) << c.body;
        EXPECT_EQ(text, c.text) << c.body;
    }
}

namespace {

/* Collects what a streamed build hands on. */
class CollectedBuild : public UpdateServerRequest::BuildSink {
public:
    void Expect(size_t mostBytes) override { expected = mostBytes; }
    void Bytes(const uint8_t* data, size_t length) override {
        bytes.append(reinterpret_cast<const char*>(data), length);
    }
    std::string bytes;
    size_t expected = 0;
};

struct BuildOutcome {
    bool accepted = false;
    size_t textLength = 0;
    bool valid = false;
    std::string bytes;
    bool operator==(const BuildOutcome& other) const = default;
};

std::ostream& operator<<(std::ostream& out, const BuildOutcome& o) {
    return out << (o.accepted ? "accepted, " : "refused, ") << o.textLength << " characters, "
               << (o.valid ? "valid, " : "invalid, ") << o.bytes.size() << " bytes";
}

/* What GetBuild and base64_decode make of the whole body. */
BuildOutcome Buffered(std::string body) {
    BuildOutcome out;
    std::string text;
    out.accepted = ServerAnswer::GetBuild(body, kUrl, text);
    if (!out.accepted) return out;
    out.textLength = text.size();
    size_t length = 0;
    std::unique_ptr<uint8_t[]> bytes = UpdateServerRequest::base64_decode(text.data(), text.size(), length);
    out.valid = bytes != nullptr;
    if (bytes) out.bytes.assign(reinterpret_cast<char*>(bytes.get()), length);
    return out;
}

/* What BuildAnswer makes of the body taken in pieces of the given sizes. */
BuildOutcome Streamed(const std::string& body, const std::vector<size_t>& sizes) {
    CollectedBuild sink;
    BuildAnswer answer(sink);
    size_t at = 0;
    for (size_t i = 0; at < body.size(); ++i) {
        const size_t size = std::min(sizes[std::min(i, sizes.size() - 1)], body.size() - at);
        answer.Take(body.data() + at, size);
        at += size;
    }
    BuildOutcome out;
    UpdateServerRequest::BuildText text;
    out.accepted = answer.Finish(kUrl, text);
    if (!out.accepted) return out;
    EXPECT_EQ(text.bytes, sink.bytes.size());
    out.textLength = text.length;
    out.valid = text.valid;
    if (text.valid) out.bytes = sink.bytes;
    return out;
}

}  // namespace

TEST(BuildAnswer, AgreesWithTheBufferedAnswerWhereverTheBodyIsCut) {
    const std::string bodies[] = {
        "ok\nTWE=\n",
        "ok\nTWE=",
        "ok\nTWE=\r\n",
        "ok\nAAAA\nBBBB\n",
        "ok\n",
        "ok",
        "ok\n\n",
        "okay\nTWFu\n",
        "no\nTWE=\n",
        "OK\nTWE=\n",
        "",
        "o",
        "\nTWFu\n",
        "ok\r\nTWFu\n",
        "ok\nTW\n",
        "ok\nTQ==TWFu\n",
        "ok\nTWFuTWFuTWFuTWFuTWFuTWFuTWFuTWFuTWFuTWFu\nrest",
        "ok\nTW*uTWFu\n",
        "ok\nTWFu\nTW*u",
    };
    for (const std::string& body : bodies) {
        SCOPED_TRACE(testing::PrintToString(body));
        const BuildOutcome buffered = Buffered(body);
        for (size_t size = 1; size <= 7; ++size)
            EXPECT_EQ(Streamed(body, {size}), buffered) << "pieces of " << size;
        for (size_t cut = 0; cut <= body.size(); ++cut)
            EXPECT_EQ(Streamed(body, {cut, body.size()}), buffered) << "cut at " << cut;
    }
}

TEST(BuildAnswer, RefusalIsLoggedAsGetBuildLogsIt) {
    std::string buffered, streamed;
    {
        LogCapture log;
        Buffered("no\nTWE=\n");
        buffered = log.text();
    }
    {
        LogCapture log;
        Streamed("no\nTWE=\n", {1});
        streamed = log.text();
    }
    EXPECT_EQ(streamed, "ServerCommClass: GetBuild failed [" + kUrl + "]\n");
    EXPECT_EQ(streamed, buffered);
}

TEST(BuildAnswer, AnnouncedLengthBoundsTheBuild) {
    CollectedBuild sink;
    BuildAnswer answer(sink);
    answer.Expect(11);  // "ok\nTWFu\n" and a little more
    EXPECT_EQ(sink.expected, 6u);
}

TEST(ServerAnswer, GetBuildListSkipsShortLinesAndKeepsTheFirstVersion) {
    UpdateServerRequest::BuildList builds;
    ASSERT_TRUE(ServerAnswer::GetBuildList("ok\n1200;2.10.1\n1300;2.12.0\nx\n1250", kUrl, builds));
    EXPECT_THAT(builds, ElementsAre(Pair("1200", "2.10.1"), Pair("1250", ""), Pair("1300", "2.12.0")));

    builds.clear();
    ASSERT_TRUE(ServerAnswer::GetBuildList(
        "okay\r\n1200;2.10.1\r\n1200;9.9.9\n1300;2.12.0;extra\n;2.0.0\n1400;\n\n1500\r\n", kUrl, builds));
    EXPECT_THAT(builds, ElementsAre(Pair("1200", "2.10.1"), Pair("1300", "2.12.0"), Pair("1400", ""),
                                    Pair("1500", "")));

    builds = {{"old", "1.0.0"}};
    EXPECT_FALSE(ServerAnswer::GetBuildList("refused\n1200;2.10.1\n", kUrl, builds));
    EXPECT_THAT(builds, ElementsAre(Pair("old", "1.0.0")));
}

TEST(ServerAnswer, GetBuildListLogsEachEntryAndPair) {
    LogCapture log;
    UpdateServerRequest::BuildList builds;
    ASSERT_TRUE(ServerAnswer::GetBuildList("ok\n1200;2.10.1-very-long-version\n", kUrl, builds));
    EXPECT_EQ(log.text(),
              "GetBuildList processing entry: [1200;2.10.1-very-long-version]\n"
              "GetBuildList [1200][2.10.1-ver]\n");
}

struct RecoveryCase {
    const char* body;
    bool ok;
    uint32_t serial;
    uint32_t build;
};

TEST(ServerAnswer, GetRecoveryInfoReadsHexSerialAndBuildInAnyBase) {
    const uint32_t kKeep = 0x11111111;
    const RecoveryCase cases[] = {
        {"ok\n0000ABCD\n0x4D2\n", true, 0x0000ABCD, 1234},
        {"ok\n0000ABCD\n1234\n", true, 0x0000ABCD, 1234},
        {"ok\n0000ABCD\n02322\n", true, 0x0000ABCD, 1234},
        {"ok\n0000abcd\r\n1234\r\n", true, 0x0000ABCD, 1234},
        {"ok\n0000ABCD\n", true, 0x0000ABCD, kKeep},
        {"ok\n", true, kKeep, kKeep},
        {"ok\nFFFFFFFF\n4294967295", true, 0xFFFFFFFF, 0xFFFFFFFF},
        // Lines that are there but hold no 32-bit number refuse the answer.
        {"ok\nzz\n1234\n", false, kKeep, kKeep},
        {"ok\n1FFFFFFFF\n1234\n", false, kKeep, kKeep},
        {"ok\n-1\n1234\n", false, kKeep, kKeep},
        {"ok\n0000ABCD\n4294967296\n", false, kKeep, kKeep},
        {"ok\n\n1234\n", false, kKeep, kKeep},
        {"ok\n99999999999999999999999\n1\n", false, kKeep, kKeep},
        {"no\n0000ABCD\n1234\n", false, kKeep, kKeep},
    };
    for (const RecoveryCase& c : cases) {
        uint32_t serial = kKeep, build = kKeep;
        EXPECT_EQ(ServerAnswer::GetRecoveryInfo(c.body, kUrl, serial, build), c.ok) << c.body;
        EXPECT_EQ(serial, c.serial) << c.body;
        EXPECT_EQ(build, c.build) << c.body;
    }
}

TEST(ServerAnswer, GetRecoveryInfoLogsTheThreeLines) {
    LogCapture log;
    uint32_t serial = 0, build = 0;
    ASSERT_TRUE(ServerAnswer::GetRecoveryInfo("ok\n0000ABCD\n0x4D2", kUrl, serial, build));
    EXPECT_EQ(log.text(), "GetRecoveryInfo [ok][0000ABCD][0x4D2]\n");
}

struct TokenCase {
    const char* body;
    bool ok;
    const char* token;
};

TEST(ServerAnswer, GetDeviceJWTNeedsThreePartsOfTwoOrMoreCharacters) {
    const TokenCase cases[] = {
        {"ok\naa.bb.cc\n", true, "aa.bb.cc"},
        {"ok\naa.bb.cc\r\n", true, "aa.bb.cc"},
        {"ok\neyJh.eyJz.c2ln-_=\n", true, "eyJh.eyJz.c2ln-_="},
        {"ok\naa.bb.cc.dd\n", true, "aa.bb.cc.dd"},
        {"ok\na.bb.cc\n", false, "keep"},
        {"ok\naa.b.cc\n", false, "keep"},
        {"ok\naa.bb.c\n", false, "keep"},
        {"ok\naa..cc\n", false, "keep"},
        {"ok\naa.bbcc\n", false, "keep"},
        {"ok\nab\n", false, "keep"},
        {"ok\n", false, "keep"},
        {"ok\naa.b\x1b[2Jb.cc\n", false, "keep"},
        {"ok\naa.b b.cc\n", false, "keep"},
        {"err\naa.bb.cc\n", false, "keep"},
    };
    for (const TokenCase& c : cases) {
        std::string token = "keep";
        EXPECT_EQ(ServerAnswer::GetDeviceJWT(c.body, kUrl, token), c.ok) << c.body;
        EXPECT_EQ(token, c.token) << c.body;
    }
}

TEST(UpdateServerRequest, SplitQuillcoreVersionNeedsExactlyThreeParts) {
    using V = std::vector<std::string>;
    EXPECT_EQ(UpdateServerRequest::SplitQuillcoreVersion("2.12.2"), (V{"2", "12", "2"}));
    EXPECT_EQ(UpdateServerRequest::SplitQuillcoreVersion("2.12"), V{});
    EXPECT_EQ(UpdateServerRequest::SplitQuillcoreVersion("2.12.2.1"), V{});
    EXPECT_EQ(UpdateServerRequest::SplitQuillcoreVersion(""), V{});
    EXPECT_EQ(UpdateServerRequest::SplitQuillcoreVersion("2"), V{});
    EXPECT_EQ(UpdateServerRequest::SplitQuillcoreVersion("a..c"), (V{"a", "", "c"}));
}

TEST(UpdateServerRequest, SortsNewestVersionFirst) {
    EXPECT_THAT(
        UpdateServerRequest::SortBuildsByVersion({{"1200", "2.10.1"}, {"1300", "2.12.0"}, {"1100", "2.9.3"}}),
        ElementsAre(Pair("1300", "2.12.0"), Pair("1200", "2.10.1"), Pair("1100", "2.9.3")));
    // Patch and major decide too; equal versions keep build order.
    EXPECT_THAT(UpdateServerRequest::SortBuildsByVersion(
                    {{"1", "1.0.9"}, {"2", "1.0.10"}, {"3", "3.0.0"}, {"4", "1.0.10"}, {"5", "0.99.99"}}),
                ElementsAre(Pair("3", "3.0.0"), Pair("2", "1.0.10"), Pair("4", "1.0.10"), Pair("1", "1.0.9"),
                            Pair("5", "0.99.99")));
    EXPECT_TRUE(UpdateServerRequest::SortBuildsByVersion({}).empty());
}

TEST(UpdateServerRequest, VersionsThatDoNotParseGoLastAndAreLogged) {
    LogCapture log;
    EXPECT_THAT(
        UpdateServerRequest::SortBuildsByVersion(
            {{"1000", "x.1.2"}, {"1100", "2.9.3"}, {"1200", ""}, {"1300", "2.12.0"}, {"1400", "2.1"}}),
        ElementsAre(Pair("1300", "2.12.0"), Pair("1100", "2.9.3"), Pair("1000", "x.1.2"), Pair("1200", ""),
                    Pair("1400", "2.1")));
    EXPECT_EQ(log.text(), "_sortVersion: Exception converting version: stoi\n");
}

struct DecodeCase {
    const char* text;
    bool ok;
    const char* bytes;
};

TEST(Base64, DecodeAcceptsOnlyWellFormedText) {
    const DecodeCase cases[] = {
        {"", true, ""},        {"TWE=", true, "Ma"},        {"TWFu", true, "Man"},
        {"TQ==", true, "M"},   {"TWFuTWE=", true, "ManMa"}, {"/+8=", true, "\xff\xef"},
        {"TWFuTW", false, ""}, {"TWE", false, ""},          {"TW=a", false, ""},
        {"T===", false, ""},   {"====", false, ""},         {"TQ==TWFu", false, ""},
        {"TWF\n", false, ""},  {"TWF*", false, ""},         {"TWE=\r", false, ""},
        {"TW-_", false, ""},   {"TWE=\r\n\r\n", false, ""},
    };
    for (const DecodeCase& c : cases) {
        size_t length = 12345;
        std::unique_ptr<uint8_t[]> bytes = UpdateServerRequest::base64_decode(c.text, strlen(c.text), length);
        ASSERT_EQ(bytes != nullptr, c.ok) << c.text;
        if (!c.ok) {
            EXPECT_EQ(length, 12345u) << c.text;
            continue;
        }
        EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes.get()), length), c.bytes) << c.text;
        EXPECT_EQ(bytes[length], 0) << "terminating zero after " << c.text;
    }
}

TEST(Base64, EncodePadsAndRoundTripsEveryLength) {
    const auto encode = [](const std::string& s) {
        return UpdateServerRequest::base64_encode(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(encode("M"), "TQ==");
    EXPECT_EQ(encode("Ma"), "TWE=");
    EXPECT_EQ(encode("Man"), "TWFu");
    EXPECT_EQ(encode("\xff\xef"), "/+8=");

    std::string data;
    for (int i = 0; i < 300; ++i) data += static_cast<char>(i * 7 + 3);
    for (size_t n = 0; n <= data.size(); ++n) {
        const std::string text = encode(data.substr(0, n));
        ASSERT_EQ(text.size(), (n + 2) / 3 * 4);
        size_t length = 0;
        std::unique_ptr<uint8_t[]> bytes =
            UpdateServerRequest::base64_decode(text.data(), text.size(), length);
        ASSERT_TRUE(bytes) << n;
        ASSERT_EQ(std::string(reinterpret_cast<char*>(bytes.get()), length), data.substr(0, n));
    }
}
