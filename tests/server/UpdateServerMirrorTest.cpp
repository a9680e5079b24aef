// UpdateServerRequest end to end against build/update-mirror on 127.0.0.1,
// over HTTP and HTTPS, with the mirror's query log and fault injection.
#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <thread>

#include "server/HTTPRequest.h"
#include "server/UpdateServerRequest.h"
#include "tests/server/LogCapture.h"
#include "tests/support/Certificates.h"
#include "tests/support/MirrorProcess.h"
#include "tests/support/Process.h"
#include "tools/birdtool/BirdWriter.h"

using qctest::MirrorProcess;
using qctest::ReadFile;
using qctest::ReadLines;
using qctest::ScopedEnv;
using qctest::UnusedPort;
using qctest::WriteFile;

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;

namespace {

constexpr uint32_t kDevice = 0x0000ABCD;
constexpr uint32_t kMintedDevice = 0x0000ABCE;
const UpdateServerRequest::Fingerprint kFingerprint = {0xA, 0xB, 0xC, 0xD};

/* A mirror root: two real builds and one file that is not a BIRD file for
 * kDevice, recovery for kFingerprint and two tokens in mirror.json. */
class MirrorRoot {
public:
    MirrorRoot() {
        WriteFile(dir_ / "root/0000ABCD/1200.bird",
                  BirdWriter_SimpleFile(1200, "2.10.1", kDevice, "QC-HUB", 3000));
        WriteFile(dir_ / "root/0000ABCD/1300.bird",
                  BirdWriter_SimpleFile(1300, "2.12.0", kDevice, "QC-HUB", 5000));
        WriteFile(dir_ / "root/0000ABCD/1250.bird", "not a bird file");
        WriteFile(dir_ / "root/0000ABCD/notes.txt", "ignored");
        WriteFile(dir_ / "root/mirror.json", R"({
            "firmware": "QC-FW-1",
            "secret": "s3cret",
            "recovery": { "0000000A 0000000B 0000000C 0000000D": { "serial": "0000ABCD", "build": "0x4D2" } },
            "tokens": { "0000ABCD": { "token": "aa.bb.cc" },
                        "0000ABCE": { "features": { "ports": 4, "names": ["relay"] } } }
        })");
    }
    std::string root() const { return dir_ / "root"; }
    std::string log() const { return dir_ / "queries.log"; }
    std::string bird(uint32_t build) const {
        return ReadFile(dir_ / ("root/0000ABCD/" + std::to_string(build) + ".bird"));
    }
    const qctest::TempDir& dir() const { return dir_; }

private:
    qctest::TempDir dir_;
};

/* Every file under a directory with its size and modification time. */
std::vector<std::string> Snapshot(const std::string& root) {
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        std::string line = entry.path().string();
        if (entry.is_regular_file()) {
            line += " " + std::to_string(entry.file_size()) + " " +
                    std::to_string(entry.last_write_time().time_since_epoch().count());
        }
        entries.push_back(line);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::string Decode(const std::string& text) {
    size_t length = 0;
    std::unique_ptr<uint8_t[]> bytes = UpdateServerRequest::base64_decode(text.data(), text.size(), length);
    if (!bytes) throw std::runtime_error("not Base64: " + text.substr(0, 40));
    return std::string(reinterpret_cast<char*>(bytes.get()), length);
}

std::string DecodeBase64Url(std::string text) {
    std::replace(text.begin(), text.end(), '-', '+');
    std::replace(text.begin(), text.end(), '_', '/');
    while (text.size() % 4) text += '=';
    return Decode(text);
}

/* Sets (or with nullopt removes) an environment variable for the life of
 * the object. */
std::string CurlText(CURLcode code) { return curl_easy_strerror(code); }

/* What GET threw, or "" when it did not. */
std::string GetError(const std::string& url) {
    try {
        HTTPRequest::GET(url, {{"op", "hi"}, {"rv", "2"}});
        return "";
    } catch (const std::runtime_error& e) {
        return e.what();
    }
}

}  // namespace

TEST(UpdateServerMirror, EveryOperationSendsItsExactQueryAndParsesTheAnswer) {
    MirrorRoot root;
    const std::vector<std::string> before = Snapshot(root.root());
    MirrorProcess mirror({"--root", root.root(), "--log", root.log()});
    ASSERT_GT(mirror.port(), 0);
    const std::string url = mirror.url("http", "/cgi/u");

    EXPECT_TRUE(UpdateServerRequest::ping(url));

    std::string build, firmware;
    ASSERT_TRUE(UpdateServerRequest::QueryBuild(kDevice, build, firmware, url));
    EXPECT_EQ(build, "1300");
    EXPECT_EQ(firmware, "QC-FW-1");

    UpdateServerRequest::BuildList builds = {{"stale", "0.0.0"}};
    ASSERT_TRUE(UpdateServerRequest::GetBuildList(kDevice, builds, url));
    EXPECT_THAT(builds, ElementsAre(Pair("1200", "2.10.1"), Pair("1250", ""), Pair("1300", "2.12.0")));

    uint32_t serial = 0, recoveryBuild = 0;
    ASSERT_TRUE(UpdateServerRequest::GetRecoveryInfo(kFingerprint, serial, recoveryBuild, url));
    EXPECT_EQ(serial, kDevice);
    EXPECT_EQ(recoveryBuild, 1234u);

    std::string token;
    ASSERT_TRUE(UpdateServerRequest::GetDeviceJWT(kDevice, token, url));
    EXPECT_EQ(token, "aa.bb.cc");

    std::string text = "previous";
    ASSERT_TRUE(UpdateServerRequest::GetBuild(kDevice, firmware, "1300", text, url, true));
    EXPECT_EQ(Decode(text), root.bird(1300));
    ASSERT_TRUE(UpdateServerRequest::GetBuild(kDevice, firmware, "1200", text, url, false));
    EXPECT_EQ(Decode(text), root.bird(1200));

    EXPECT_EQ(mirror.Stop(), 0);
    EXPECT_THAT(ReadLines(root.log()),
                ElementsAre("op=hi&rv=2&", "op=qu&sn=0000ABCD&", "op=builds&sn=0000ABCD&",
                            "brief=true&fp=0000000A%200000000B%200000000C%200000000D&op=fix&",
                            "json=false&op=ent_jwt&sn=0000ABCD&",
                            "bld=1300&fw=QC-FW-1&no_cal=true&op=bird&sn=0000ABCD&",
                            "bld=1200&fw=QC-FW-1&no_cal=false&op=bird&sn=0000ABCD&"));
    EXPECT_EQ(Snapshot(root.root()), before) << "the mirror wrote to its root";
}

TEST(UpdateServerMirror, HostAndPortWithoutSchemeIsServedToo) {
    MirrorRoot root;
    MirrorProcess mirror({"--root", root.root()});
    ASSERT_GT(mirror.port(), 0);
    const std::string url = "127.0.0.1:" + std::to_string(mirror.port());
    EXPECT_TRUE(UpdateServerRequest::ping(url));
    std::string build, firmware;
    EXPECT_TRUE(UpdateServerRequest::QueryBuild(kDevice, build, firmware, url));
    EXPECT_EQ(build, "1300");
}

TEST(UpdateServerMirror, MintedTokenIsSignedWithTheMirrorSecret) {
    MirrorRoot root;
    MirrorProcess mirror({"--root", root.root()});
    ASSERT_GT(mirror.port(), 0);
    std::string token;
    ASSERT_TRUE(UpdateServerRequest::GetDeviceJWT(kMintedDevice, token, mirror.url()));

    const size_t first = token.find('.'), second = token.find('.', first + 1);
    ASSERT_NE(second, std::string::npos);
    const std::string signingInput = token.substr(0, second);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLength = 0;
    HMAC(EVP_sha256(), "s3cret", 6, reinterpret_cast<const unsigned char*>(signingInput.data()),
         signingInput.size(), mac, &macLength);
    EXPECT_EQ(DecodeBase64Url(token.substr(second + 1)),
              std::string(reinterpret_cast<char*>(mac), macLength));

    const auto header = nlohmann::json::parse(DecodeBase64Url(token.substr(0, first)));
    EXPECT_EQ(header["alg"], "HS256");
    const auto payload = nlohmann::json::parse(DecodeBase64Url(token.substr(first + 1, second - first - 1)));
    EXPECT_EQ(payload["sn"], "0000ABCE");
    EXPECT_EQ(payload["features"]["ports"], 4);
    EXPECT_EQ(payload["features"]["names"][0], "relay");
}

TEST(UpdateServerMirror, WhatTheMirrorDoesNotHoldIsRefused) {
    MirrorRoot root;
    MirrorProcess mirror({"--root", root.root()});
    ASSERT_GT(mirror.port(), 0);
    const std::string url = mirror.url();
    std::string build = "keep", firmware = "keep", text = "keep", token = "keep";
    EXPECT_FALSE(UpdateServerRequest::QueryBuild(0x1234, build, firmware, url));
    EXPECT_FALSE(UpdateServerRequest::GetBuild(kDevice, "QC-FW-1", "9999", text, url));
    EXPECT_FALSE(UpdateServerRequest::GetBuild(kDevice, "QC-FW-1", "../1300", text, url));
    EXPECT_FALSE(UpdateServerRequest::GetDeviceJWT(0x1234, token, url));
    EXPECT_EQ(build + firmware + text + token, "keepkeepkeepkeep");
    UpdateServerRequest::BuildList builds = {{"stale", ""}};
    EXPECT_FALSE(UpdateServerRequest::GetBuildList(0x1234, builds, url));
    EXPECT_TRUE(builds.empty());
    uint32_t serial = 7, recoveryBuild = 7;
    EXPECT_FALSE(UpdateServerRequest::GetRecoveryInfo({1, 2, 3, 4}, serial, recoveryBuild, url));
    EXPECT_EQ(serial + recoveryBuild, 14u);
}

TEST(UpdateServerMirror, ServerDownIsATransportErrorWithLibcurlText) {
    const std::string url = "http://127.0.0.1:" + std::to_string(UnusedPort()) + "/cgi/u";
    EXPECT_EQ(GetError(url), CurlText(CURLE_COULDNT_CONNECT));
    LogCapture log;
    EXPECT_FALSE(UpdateServerRequest::ping(url));
    EXPECT_EQ(log.text(),
              "GET(" + url + "?op=hi&rv=2&)\nping ==> [" + CurlText(CURLE_COULDNT_CONNECT) + "]\n");
    std::string build = "keep", firmware;
    EXPECT_FALSE(UpdateServerRequest::QueryBuild(kDevice, build, firmware, url));
    EXPECT_EQ(build, "keep");
}

TEST(UpdateServerMirror, ErrorStatusIsReturnedNotThrown) {
    MirrorRoot root;
    MirrorProcess mirror({"--root", root.root(), "--fail-status", "404"});
    ASSERT_GT(mirror.port(), 0);
    HTTPResponse response = HTTPRequest::GET(mirror.url("http", "/cgi/u"), {{"op", "hi"}, {"rv", "2"}});
    EXPECT_EQ(response.get_status(), 404);
    EXPECT_EQ(response.get_response(), "error: injected failure\n");
    EXPECT_EQ(response.get_request(), mirror.url("http", "/cgi/u") + "?op=hi&rv=2&");

    LogCapture log;
    EXPECT_FALSE(UpdateServerRequest::ping(mirror.url()));
    std::string build, firmware;
    EXPECT_FALSE(UpdateServerRequest::QueryBuild(kDevice, build, firmware, mirror.url()));
    std::string lines = log.text();
    EXPECT_THAT(lines, HasSubstr("PING ==> [404] [error: injected failure\n]\n"));
    EXPECT_THAT(lines, HasSubstr("QueryBuild ==> [404] [error: injected failure\n]\n"));
}

struct FaultCase {
    std::vector<std::string> options;
    bool ping, query, download;
    const char* name;
};

TEST(UpdateServerMirror, InjectedFaultsFailTheOperationsTheyHit) {
    const FaultCase cases[] = {
        {{"--fail-status", "500"}, false, false, false, "status 500 everywhere"},
        {{"--refuse"}, false, false, false, "refusal everywhere"},
        {{"--fail-status", "500", "--fault-op", "bird"}, true, true, false, "status 500 on downloads"},
        {{"--refuse", "--fault-op", "qu"}, true, false, true, "refused build query"},
        {{"--cut-body", "1", "--fault-op", "qu"}, true, false, true, "answer cut before \"ok\""},
        {{"--delay-ms", "200", "--fault-op", "bird"}, true, true, true, "slow download"},
    };
    MirrorRoot root;
    for (const FaultCase& c : cases) {
        std::vector<std::string> options = {"--root", root.root()};
        options.insert(options.end(), c.options.begin(), c.options.end());
        MirrorProcess mirror(options);
        ASSERT_GT(mirror.port(), 0) << c.name;
        std::string build, firmware, text;
        EXPECT_EQ(UpdateServerRequest::ping(mirror.url()), c.ping) << c.name;
        EXPECT_EQ(UpdateServerRequest::QueryBuild(kDevice, build, firmware, mirror.url()), c.query) << c.name;
        EXPECT_EQ(UpdateServerRequest::GetBuild(kDevice, "QC-FW-1", "1200", text, mirror.url()), c.download)
            << c.name;
        if (c.download) {
            EXPECT_EQ(Decode(text), root.bird(1200)) << c.name;
        }
    }
}

TEST(UpdateServerMirror, CutDownloadGivesTextThatDoesNotDecode) {
    MirrorRoot root;
    MirrorProcess mirror({"--root", root.root(), "--cut-body", "13", "--fault-op", "bird"});
    ASSERT_GT(mirror.port(), 0);
    std::string text;
    ASSERT_TRUE(UpdateServerRequest::GetBuild(kDevice, "QC-FW-1", "1300", text, mirror.url()));
    EXPECT_EQ(text.size(), 10u);
    size_t length = 0;
    EXPECT_EQ(UpdateServerRequest::base64_decode(text.data(), text.size(), length), nullptr);
}

namespace {

/* Records what GET hands to a body sink. */
class RecordedBody : public HTTPBodySink {
public:
    void Expect(uint64_t length) override { announced = static_cast<int64_t>(length); }
    void Take(const char* data, size_t length) override {
        if (fail) throw std::runtime_error("no room");
        body.append(data, length);
    }
    std::string body;
    int64_t announced = -1;
    bool fail = false;
};

/* Collects what a streamed build hands on. */
class CollectedBuild : public UpdateServerRequest::BuildSink {
public:
    void Bytes(const uint8_t* data, size_t length) override {
        bytes.append(reinterpret_cast<const char*>(data), length);
    }
    std::string bytes;
};

/* The debug lines without the per-piece ones of the write callback, whose
 * count depends on how the bytes arrived. */
std::string WithoutPieces(const std::string& log) {
    std::string kept;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        end = end == std::string::npos ? log.size() : end + 1;
        const std::string line = log.substr(start, end - start);
        if (line.rfind("rcv_data ", 0) != 0) kept += line;
        start = end;
    }
    return kept;
}

}  // namespace

TEST(UpdateServerMirror, BodySinkTakesOnlyTheBodyOfA200Answer) {
    MirrorRoot root;
    MirrorProcess mirror({"--root", root.root()});
    ASSERT_GT(mirror.port(), 0);
    RecordedBody ok;
    HTTPResponse answered = HTTPRequest::GET(mirror.url(), {{"op", "hi"}, {"rv", "2"}}, ok);
    EXPECT_EQ(answered.get_status(), 200);
    EXPECT_EQ(ok.body, "ok\n");
    EXPECT_EQ(ok.announced, 3);
    EXPECT_EQ(answered.get_response(), "");
    mirror.Stop();

    MirrorProcess failing({"--root", root.root(), "--fail-status", "404"});
    ASSERT_GT(failing.port(), 0);
    RecordedBody notFound;
    HTTPResponse refused = HTTPRequest::GET(failing.url(), {{"op", "hi"}, {"rv", "2"}}, notFound);
    EXPECT_EQ(refused.get_status(), 404);
    EXPECT_EQ(refused.get_response(), "error: injected failure\n") << "kept, so that it can be logged";
    EXPECT_EQ(notFound.body, "");
    EXPECT_EQ(notFound.announced, -1);
}

TEST(UpdateServerMirror, SinkThatCannotTakeTheBodyEndsTheTransferWithAnError) {
    MirrorRoot root;
    MirrorProcess mirror({"--root", root.root()});
    ASSERT_GT(mirror.port(), 0);
    RecordedBody full;
    full.fail = true;
    try {
        HTTPRequest::GET(mirror.url(), {{"op", "hi"}, {"rv", "2"}}, full);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(e.what(), CurlText(CURLE_WRITE_ERROR));
    }
    CollectedBuild sink;
    UpdateServerRequest::BuildText text;
    EXPECT_TRUE(UpdateServerRequest::GetBuild(kDevice, "QC-FW-1", "1300", sink, text, mirror.url()));
    EXPECT_EQ(sink.bytes, root.bird(1300)) << "the next request is not affected";
}

TEST(UpdateServerMirror, StreamedGetBuildGivesTheBytesOfTheBufferedOne) {
    MirrorRoot root;
    MirrorProcess mirror({"--root", root.root(), "--log", root.log()});
    ASSERT_GT(mirror.port(), 0);
    for (const char* build : {"1200", "1300", "1250"}) {
        CollectedBuild sink;
        UpdateServerRequest::BuildText text;
        ASSERT_TRUE(UpdateServerRequest::GetBuild(kDevice, "QC-FW-1", build, sink, text, mirror.url(), true));
        const std::string file = root.bird(static_cast<uint32_t>(std::stoul(build)));
        EXPECT_TRUE(text.valid) << build;
        EXPECT_EQ(text.length, (file.size() + 2) / 3 * 4) << build;
        EXPECT_EQ(text.bytes, file.size()) << build;
        EXPECT_EQ(sink.bytes, file) << build;
    }
    EXPECT_EQ(mirror.Stop(), 0);
    EXPECT_EQ(ReadLines(root.log()).front(), "bld=1200&fw=QC-FW-1&no_cal=true&op=bird&sn=0000ABCD&");
}

TEST(UpdateServerMirror, StreamedGetBuildFailsAndLogsAsTheBufferedOne) {
    const std::vector<std::vector<std::string>> faults = {
        {"--refuse"},        {"--fail-status", "500"}, {"--cut-body", "13"},
        {"--cut-body", "2"}, {"--drop-after", "100"},
    };
    MirrorRoot root;
    for (const std::vector<std::string>& fault : faults) {
        SCOPED_TRACE(fault.front());
        std::vector<std::string> options = {"--root", root.root(), "--fault-op", "bird"};
        options.insert(options.end(), fault.begin(), fault.end());
        MirrorProcess mirror(options);
        ASSERT_GT(mirror.port(), 0);
        std::string buffered, streamed, base64;
        bool bufferedOk, streamedOk;
        CollectedBuild sink;
        UpdateServerRequest::BuildText text;
        {
            LogCapture log;
            bufferedOk = UpdateServerRequest::GetBuild(kDevice, "QC-FW-1", "1300", base64, mirror.url());
            buffered = WithoutPieces(log.text());
        }
        {
            LogCapture log;
            streamedOk = UpdateServerRequest::GetBuild(kDevice, "QC-FW-1", "1300", sink, text, mirror.url());
            streamed = WithoutPieces(log.text());
        }
        EXPECT_EQ(streamedOk, bufferedOk);
        EXPECT_EQ(streamed, buffered);
        size_t length = 0;
        if (streamedOk) {
            EXPECT_EQ(text.length, base64.size());
            EXPECT_EQ(text.valid,
                      UpdateServerRequest::base64_decode(base64.data(), base64.size(), length) != nullptr);
        }
    }
}

TEST(UpdateServerMirror, DownloadCutMidLineTwoIsATransportError) {
    MirrorRoot root;
    MirrorProcess mirror({"--root", root.root(), "--drop-after", "1000", "--fault-op", "bird"});
    ASSERT_GT(mirror.port(), 0);
    LogCapture log;
    CollectedBuild sink;
    UpdateServerRequest::BuildText text;
    text.length = 12345;
    EXPECT_FALSE(UpdateServerRequest::GetBuild(kDevice, "QC-FW-1", "1300", sink, text, mirror.url()));
    EXPECT_THAT(log.text(), HasSubstr("GetBuild ==> [" + CurlText(CURLE_PARTIAL_FILE) + "]\n"));
    EXPECT_EQ(text.length, 12345u) << "written only on success";
    // What arrived before the cut was decoded on the way; the caller throws it away.
    EXPECT_GT(sink.bytes.size(), 0u);
    EXPECT_LT(sink.bytes.size(), 1000u);
    EXPECT_EQ(sink.bytes, root.bird(1300).substr(0, sink.bytes.size()));
    EXPECT_TRUE(UpdateServerRequest::ping(mirror.url())) << "other operations are not cut";
}

TEST(UpdateServerMirror, RequestsAreServedConcurrently) {
    MirrorRoot root;
    MirrorProcess mirror({"--root", root.root(), "--delay-ms", "1000"});
    ASSERT_GT(mirror.port(), 0);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> clients;
    std::atomic<int> answered = 0;
    for (int i = 0; i < 4; ++i) {
        clients.emplace_back([&] { answered += UpdateServerRequest::ping(mirror.url()) ? 1 : 0; });
    }
    for (std::thread& client : clients) client.join();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(answered, 4);
    // One at a time would take four delays; overlapping requests take about one.
    EXPECT_LT(elapsed, std::chrono::milliseconds(3500));
}

TEST(UpdateServerMirror, MirrorRefusesToStartWithoutAUsableRoot) {
    qctest::TempDir dir;
    EXPECT_EQ(MirrorProcess({"--root", dir / "missing"}).port(), -1);
    WriteFile(dir / "root/mirror.json", "{ not json");
    EXPECT_EQ(MirrorProcess({"--root", dir / "root"}).port(), -1);
    WriteFile(dir / "root/mirror.json", "{}");
    EXPECT_EQ(MirrorProcess({"--root", dir / "root", "--log", dir / "root/queries.log"}).port(), -1);
    EXPECT_FALSE(std::filesystem::exists(dir / "root/queries.log"));
    EXPECT_GT(MirrorProcess({"--root", dir / "root"}).port(), 0);
}

// HTTPS: certificates made with the openssl command for each test.
class UpdateServerMirrorHttps : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(certs_.ok()); }

    std::vector<std::string> Serve(const std::string& cert) const {
        return {"--root", root_.root(), "--https", "--cert", certs_.pem(cert), "--key", certs_.key(cert)};
    }

    MirrorRoot root_;
    qctest::Certificates certs_{root_.dir().path()};
    // Machines often name their system bundle here; these tests decide for themselves.
    ScopedEnv noBundle_{"CURL_CA_BUNDLE", std::nullopt};
};

TEST_F(UpdateServerMirrorHttps, CertificateNamingTheHostIsAcceptedWithoutKnownAuthority) {
    MirrorProcess mirror(Serve("self"));
    ASSERT_GT(mirror.port(), 0);
    EXPECT_TRUE(UpdateServerRequest::ping(mirror.url("https", "/cgi/u")));
    EXPECT_TRUE(UpdateServerRequest::ping("https://localhost:" + std::to_string(mirror.port())));
    std::string text;
    ASSERT_TRUE(UpdateServerRequest::GetBuild(kDevice, "QC-FW-1", "1300", text, mirror.url("https")));
    EXPECT_EQ(Decode(text), root_.bird(1300));
}

TEST_F(UpdateServerMirrorHttps, CertificateNamingAnotherHostIsRefused) {
    MirrorProcess mirror(Serve("other"));
    ASSERT_GT(mirror.port(), 0);
    EXPECT_EQ(GetError(mirror.url("https")), CurlText(CURLE_PEER_FAILED_VERIFICATION));
    EXPECT_FALSE(UpdateServerRequest::ping(mirror.url("https")));
}

TEST_F(UpdateServerMirrorHttps, CaBundleFromEnvironmentMakesTheChainCount) {
    MirrorProcess signedMirror(Serve("signed"));
    MirrorProcess selfMirror(Serve("self"));
    ASSERT_GT(signedMirror.port(), 0);
    ASSERT_GT(selfMirror.port(), 0);
    EXPECT_EQ(GetError(signedMirror.url("https")), "");
    {
        ScopedEnv bundle("CURL_CA_BUNDLE", certs_.pem("ca"));
        EXPECT_EQ(GetError(signedMirror.url("https")), "");
        EXPECT_EQ(GetError(selfMirror.url("https")), CurlText(CURLE_PEER_FAILED_VERIFICATION));
    }
    {
        ScopedEnv bundle("CURL_CA_BUNDLE", certs_.pem("otherca"));
        EXPECT_EQ(GetError(signedMirror.url("https")), CurlText(CURLE_PEER_FAILED_VERIFICATION));
        EXPECT_FALSE(UpdateServerRequest::ping(signedMirror.url("https")));
    }
    EXPECT_EQ(GetError(signedMirror.url("https")), "");
}
