#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/Certificates.h"
#include "tests/support/MirrorProcess.h"
#include "tests/support/Process.h"
#include "tools/birdtool/BirdWriter.h"
#include "updater/Updater.h"

using qctest::MirrorProcess;
using qctest::ProcessResult;
using qctest::ReadFile;
using qctest::ReadLines;
using qctest::ScopedEnv;
using qctest::WriteFile;

namespace {

constexpr const char* kSerial = "40F5849A";

/* A mirror root with two builds of one device and a token, and a store. */
class Download : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(Root("40F5849A/1200.bird"),
                  BirdWriter_SimpleFile(1200, "2.10.1", 0x40F5849A, "QCHUB8", 3000));
        WriteFile(Root("40F5849A/1300.bird"),
                  BirdWriter_SimpleFile(1300, "2.12.0", 0x40F5849A, "QCHUB8", 5000));
        WriteFile(Root("mirror.json"), R"({"firmware": "qc-fw", "secret": "k",
            "tokens": {"40F5849A": {"token": "aa.bb.cc"}}})");
    }

    std::string Root(const std::string& name) const { return dir / ("root/" + name); }
    std::string Stored(const std::string& name) const { return dir / ("store/updater/40F5849A/" + name); }

    MirrorProcess& Mirror(std::vector<std::string> options = {}) {
        options.insert(options.end(), {"--root", dir / "root", "--log", dir / "queries.log"});
        mirror = std::make_unique<MirrorProcess>(options);
        EXPECT_GT(mirror->port(), 0);
        server = "127.0.0.1:" + std::to_string(mirror->port());
        return *mirror;
    }

    ProcessResult Run(std::vector<std::string> words) {
        words.insert(words.begin(), qctest::BuildProgram("updater"));
        words.insert(words.end(), {"-i", dir / "store"});
        if (std::find(words.begin(), words.end(), "-u") == words.end())
            words.insert(words.end(), {"-u", server});
        ProcessResult r = qctest::RunProcess(words);
        r.out.erase(0, r.out.find('\n') + 1);  // the version line
        return r;
    }

    std::vector<std::string> Queries() { return ReadLines(dir / "queries.log"); }

    qctest::TempDir dir;
    std::unique_ptr<MirrorProcess> mirror;
    std::string server;
};

}  // namespace

TEST_F(Download, GetStoresTheNewestBuildAndRecordsIt) {
    Mirror();
    ProcessResult r = Run({"-G", "-d", kSerial});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "Retrieving firmware for device with serial number 40F5849A\n"
              "No build specified\nUsing Latest build\n"
              "Retrieving build 1300\nValidating build 1300 with server\nBuild 1300 is valid\n");
    EXPECT_EQ(ReadFile(Stored("1300.bird")), ReadFile(Root("40F5849A/1300.bird")));
    std::string settings = ReadFile(Stored(".settings"));
    EXPECT_NE(settings.find("LATEST_DOWNLOAD=1300.bird\n"), std::string::npos) << settings;
    EXPECT_TRUE(std::regex_search(
        settings, std::regex(R"(LAST_DOWNLOAD_DATE=\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\n)")))
        << settings;
    EXPECT_EQ(Queries(),
              (std::vector<std::string>{"op=hi&rv=2&", "op=qu&sn=40F5849A&", "op=builds&sn=40F5849A&",
                                        "bld=1300&fw=qc-fw&no_cal=false&op=bird&sn=40F5849A&"}));
}

TEST_F(Download, GivenBuildWithOverrideSkipsValidation) {
    Mirror();
    ProcessResult r = Run({"-G", "-d", kSerial, "-b", "1200", "-OVERRIDE"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Retrieving firmware for device with serial number 40F5849A\n"
              "Retrieving firmware build 1200\n"
              "Retrieving build 1200\nOverride specified, skipping validation of build 1200\n");
    EXPECT_EQ(ReadFile(Stored("1200.bird")), ReadFile(Root("40F5849A/1200.bird")));
    EXPECT_EQ(Queries(), (std::vector<std::string>{"op=hi&rv=2&", "op=qu&sn=40F5849A&",
                                                   "bld=1200&fw=qc-fw&no_cal=false&op=bird&sn=40F5849A&"}));
}

TEST_F(Download, ListsAndToken) {
    Mirror();
    const std::string heading = "Build List for device [40F5849A]:\n\nBuild          \tVersion        \n";
    ProcessResult server = Run({"-B", "-d", kSerial});
    EXPECT_EQ(server.status, 0);
    EXPECT_EQ(server.out, heading + "1300           \t2.12.0         \n1200           \t2.10.1         \n");

    ProcessResult empty = Run({"-L", "-d", kSerial});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "No builds found for device [40F5849A]\n");
    ASSERT_EQ(Run({"-G", "-d", kSerial, "-b", "1200"}).status, 0);
    ASSERT_EQ(Run({"-G", "-d", kSerial}).status, 0);
    ProcessResult local = Run({"-L", "-d", kSerial, "-u", "127.0.0.1:1"});  // no server needed
    EXPECT_EQ(local.status, 0) << local.err;
    EXPECT_EQ(local.out, heading + "1300           \t2.12.0         \n1200           \t2.10.1         \n");

    ProcessResult token = Run({"-J", "-d", kSerial});
    EXPECT_EQ(token.status, 0);
    EXPECT_EQ(token.out, "aa.bb.cc\n");
    EXPECT_EQ(Queries().back(), "json=false&op=ent_jwt&sn=40F5849A&");
}

TEST_F(Download, FailuresAndTheirMessages) {
    struct Case {
        const char* name;
        std::vector<std::string> mirror;  // empty: no mirror at all
        std::vector<std::string> words;
        std::string err;
        int status;
    } cases[] = {
        {"refused ping", {"--refuse"}, {"-G", "-d", kSerial}, "Server request failed for SERVER\n", 1},
        {"status 500",
         {"--fail-status", "500"},
         {"-G", "-d", kSerial},
         "Server request failed for SERVER\n",
         1},
        {"no build information",
         {"--refuse", "--fault-op", "qu"},
         {"-G", "-d", kSerial},
         "No build information for device\n",
         1},
        {"unknown device", {}, {"-G", "-d", "12345678"}, "No build information for device\n", 1},
        {"build not listed", {}, {"-G", "-d", kSerial, "-b", "999"}, "No valid build 999\n", 1},
        {"empty firmware text",
         {"--cut-body", "3", "--fault-op", "bird"},
         {"-G", "-d", kSerial},
         "Failed to retrieve a valid BIRD file\n",
         1},
        {"refused download",
         {"--refuse", "--fault-op", "bird"},
         {"-G", "-d", kSerial},
         "Download failed\nFailed to retrieve a valid BIRD file\n",
         1},
        {"list refused",
         {"--refuse", "--fault-op", "builds"},
         {"-B", "-d", kSerial},
         "Failed to retrieve builds for 40F5849A\n",
         0},
        {"no token", {}, {"-J", "-d", "0000ABCD"}, "Failed to retrieve jwt for 0000ABCD\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mirror(c.mirror);
        ProcessResult r = Run(c.words);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, std::regex_replace(c.err, std::regex("SERVER"), server));
        EXPECT_FALSE(std::filesystem::exists(Stored("1300.bird")));
        mirror.reset();
    }
}

TEST_F(Download, ServerDown) {
    server = "127.0.0.1:" + std::to_string(qctest::UnusedPort());
    for (const char* command : {"-G", "-B", "-J"}) {
        ProcessResult r = Run({command, "-d", kSerial});
        EXPECT_EQ(r.err, "Server request failed for " + server + "\n") << command;
        EXPECT_EQ(r.status, std::string(command) == "-G" ? 1 : 0) << command;
    }
}

TEST_F(Download, FileThatIsNoBirdFileIsNotStored) {
    WriteFile(Root("40F5849A/1400.bird"), "bird\x01\x01 but no zlib body");
    WriteFile(Root("40F5849A/1500.bird"), "plain text, not firmware");
    Mirror();
    for (const char* build : {"1400", "1500"}) {
        ProcessResult r = Run({"-G", "-d", kSerial, "-b", build});
        EXPECT_EQ(r.status, 1) << build;
        EXPECT_EQ(r.err, "Failed to retrieve a valid BIRD file\n") << build;
        EXPECT_FALSE(std::filesystem::exists(Stored(std::string(build) + ".bird")));
    }
    EXPECT_EQ(ReadFile(Stored(".settings")).find("LATEST_DOWNLOAD"), std::string::npos);
}

TEST_F(Download, WriteFailureKeepsTheRecordedDownload) {
    Mirror();
    ASSERT_EQ(Run({"-G", "-d", kSerial, "-b", "1200"}).status, 0);
    // A folder where the file should go: the rename over it fails.
    WriteFile(Stored("1300.bird/occupied"), "x");
    ProcessResult r = Run({"-G", "-d", kSerial});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::regex_match(r.err, std::regex("Failed to write file with \\d+\n"))) << r.err;
    std::string settings = ReadFile(Stored(".settings"));
    EXPECT_NE(settings.find("LATEST_DOWNLOAD=1200.bird\n"), std::string::npos) << settings;
    EXPECT_EQ(ReadFile(Stored("1200.bird")), ReadFile(Root("40F5849A/1200.bird")));
}

namespace {

class Recorder : public UpdaterDisplayInterface {
public:
    void display_progress(bool) override {}
    void update_progress(double, char const*) override {}
    void update_spinner(bool active, char const*) override { spins += active; }
    void info_message(char const* t) override { lines.push_back(t); }
    void error_message(char const* t) override { lines.push_back(std::string("error: ") + t); }
    std::vector<std::string> lines;
    int spins = 0;
};

}  // namespace

TEST_F(Download, BuildTextsAndTheSpinner) {
    Mirror({"--delay-ms", "350", "--fault-op", "bird"});
    Recorder display;
    Updater updater("http://" + server, dir / "store", display);

    EXPECT_EQ(updater.Download_Firmware(0x40F5849A, "abc", false, false), 0u);
    EXPECT_EQ(updater.Download_Firmware(0x40F5849A, "4294967296", false, false), 0u);
    EXPECT_EQ(display.lines,
              (std::vector<std::string>{"error: Build number 'abc' must be an number",
                                        "error: Build number '4294967296' must be an number"}));
    EXPECT_TRUE(Queries().empty()) << "no server contact";

    display.lines.clear();
    EXPECT_EQ(updater.Download_Firmware(0x40F5849A, " 1200a", false, false), 1200u);
    EXPECT_EQ(display.lines.front(), "Retrieving build 1200");
    EXPECT_GE(display.spins, 3) << "the spinner turns every 100 ms while the request runs";

    EXPECT_EQ(updater.Download_Firmware(0, "", false, false), 0u);
    EXPECT_EQ(display.lines.back(), "error: Serial Number must be non-zero");
}

TEST_F(Download, OverHttps) {
    qctest::Certificates certs(dir / "certs");
    ASSERT_TRUE(certs.ok());
    ScopedEnv noBundle("CURL_CA_BUNDLE", std::nullopt);
    auto https = [&](const std::string& cert) {
        Mirror({"--https", "--cert", certs.pem(cert), "--key", certs.key(cert)});
        return "https://127.0.0.1:" + std::to_string(mirror->port()) + "/cgi/u";
    };

    std::string url = https("self");
    ProcessResult ok = Run({"-G", "-d", kSerial, "-u", url});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ReadFile(Stored("1300.bird")), ReadFile(Root("40F5849A/1300.bird")));

    url = https("other");
    ProcessResult wrongName = Run({"-B", "-d", kSerial, "-u", url, "-X", "0x20"});
    EXPECT_NE(wrongName.err.find("SSL peer certificate or SSH remote key was not OK"), std::string::npos)
        << wrongName.err;
    EXPECT_NE(wrongName.err.find("Server request failed for " + url + "\n"), std::string::npos);

    url = https("self");
    ScopedEnv strict("CURL_CA_BUNDLE", certs.pem("otherca"));
    ProcessResult unknownAuthority = Run({"-J", "-d", kSerial, "-u", url});
    EXPECT_EQ(unknownAuthority.err, "Server request failed for " + url + "\n");
}

namespace {

/* The names in a directory, sorted: a temporary file left behind shows. */
std::vector<std::string> Entries(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// Answers that end early: the stored build, its attributes and the device
// directory stay exactly as they were.
TEST_F(Download, AnswerEndingEarlyChangesNothingStored) {
    ASSERT_GT(ReadFile(Root("40F5849A/1300.bird")).size(), 3000u);
    Mirror();
    ASSERT_EQ(Run({"-G", "-d", kSerial}).status, 0);
    const std::string stored = ReadFile(Stored("1300.bird")), settings = ReadFile(Stored(".settings"));
    struct Case {
        std::vector<std::string> fault;
        std::string err;
    } cases[] = {
        {{"--drop-after", "2000"}, "Download failed\nFailed to retrieve a valid BIRD file\n"},  // mid-line 2
        {{"--cut-body", "2001"}, "Failed to retrieve a valid BIRD file\n"},  // no whole number of quads
        {{"--cut-body", "2003"}, "Failed to retrieve a valid BIRD file\n"},  // decodes, but half a BIRD file
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault.front());
        std::vector<std::string> options = c.fault;
        options.insert(options.end(), {"--fault-op", "bird"});
        Mirror(options);
        ProcessResult r = Run({"-G", "-d", kSerial});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(ReadFile(Stored("1300.bird")), stored);
        EXPECT_EQ(ReadFile(Stored(".settings")), settings);
        EXPECT_EQ(Entries(Stored("")), (std::vector<std::string>{".settings", "1300.bird"}));
    }
}

// Builds larger than what is written at once, with files limited to less
// than that (as on a full disk): the write fails in the middle of the
// download. A loadable build still says so; anything else is no BIRD file.
TEST_F(Download, WriteFailingMidDownloadKeepsTheStoredBuild) {
    WriteFile(Root("40F5849A/1400.bird"),
              BirdWriter_SimpleFile(1400, "2.13.0", 0x40F5849A, "QCHUB8", 3 << 20));
    WriteFile(Root("40F5849A/1500.bird"), "bird\x01\x01" + std::string(3 << 20, 'x'));
    Mirror();
    ASSERT_EQ(Run({"-G", "-d", kSerial, "-b", "1400"}).status, 0);
    const std::string stored = ReadFile(Stored("1400.bird")), settings = ReadFile(Stored(".settings"));
    // The mirror now has another build 1400.
    WriteFile(Root("40F5849A/1400.bird"),
              BirdWriter_SimpleFile(1400, "2.13.1", 0x40F5849A, "QCHUB8", 3 << 20));
    ASSERT_NE(ReadFile(Root("40F5849A/1400.bird")), stored);

    for (const auto& [build, err] :
         {std::pair<std::string, std::string>{"1400", "Failed to write file with 6\n"},
          {"1500", "Failed to retrieve a valid BIRD file\n"}}) {
        SCOPED_TRACE(build);
        // Ignored, the signal of an oversized write lets the write fail instead.
        std::vector<std::string> words = {"/bin/sh",
                                          "-c",
                                          "trap '' XFSZ; exec prlimit --fsize=1500000 \"$@\"",
                                          "sh",
                                          qctest::BuildProgram("updater"),
                                          "-G",
                                          "-d",
                                          kSerial,
                                          "-b",
                                          build,
                                          "-i",
                                          dir / "store",
                                          "-u",
                                          server};
        ProcessResult r = qctest::RunProcess(words);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(ReadFile(Stored("1400.bird")), stored);
        EXPECT_EQ(ReadFile(Stored(".settings")), settings);
        EXPECT_EQ(Entries(Stored("")), (std::vector<std::string>{".settings", "1400.bird"}));
    }
}

// No file can be made where the device's directory should be: the download
// is checked all the same before the write error is shown.
TEST_F(Download, DeviceEntryThatIsNoDirectoryGetsTheWriteError) {
    WriteFile(dir / "store/updater/40F5849A", "not a directory");
    Mirror();
    ProcessResult r = Run({"-G", "-d", kSerial});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Failed to write file with 3\n");
    EXPECT_EQ(ReadFile(dir / "store/updater/40F5849A"), "not a directory");
    EXPECT_EQ(Entries(dir / "store/updater"), std::vector<std::string>{"40F5849A"});
}
