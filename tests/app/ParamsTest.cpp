#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/Params.h"
#include "common/Log.h"

namespace {

class Recorder : public UpdaterDisplayInterface {
public:
    void display_progress(bool) override {}
    void update_progress(double, char const*) override {}
    void update_spinner(bool, char const*) override {}
    void info_message(char const* t) override { lines.push_back(t); }
    void error_message(char const* t) override { lines.push_back(t); }
    std::vector<std::string> lines;
};

struct Parsed {
    int result;
    Parameters params;
    std::vector<std::string> messages;
};

Parsed sParse(std::vector<std::string> words) {
    words.insert(words.begin(), "/usr/local/bin/updater");
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    Recorder r;
    Parsed p;
    p.result = _get_params(r, static_cast<int>(argv.size()), argv.data(), p.params);
    p.messages = r.lines;
    Log::DeactivatePackage(0xFFFFFFFF);
    return p;
}

}  // namespace

TEST(Params, Defaults) {
    Parsed p = sParse({});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.params.appName, "updater");
    EXPECT_EQ(p.params.transport, 1u);
    EXPECT_EQ(p.params.baudRate, 115200u);
    EXPECT_EQ(p.params.serverUrl, "http://update.tarnwell.example/cgi/u");
    EXPECT_TRUE(p.params.ueiBytesLoad);
    EXPECT_FALSE(p.params.commands.IsSet(kAnyCommand));
    EXPECT_TRUE(p.messages.empty());
}

TEST(Params, AppNameIsTheLastPathComponent) {
    std::vector<std::string> words = {"C:\\tools\\updater.exe", "-D"};
    std::vector<char*> argv = {words[0].data(), words[1].data()};
    Recorder r;
    Parameters params;
    _get_params(r, 2, argv.data(), params);
    EXPECT_EQ(params.appName, "updater.exe");
}

TEST(Params, AcceptedWords) {
    struct Case {
        std::vector<std::string> words;
        uint32_t commands;
        uint32_t serial;
        std::string build;
    } cases[] = {
        {{"-d", "0x40F5849A", "-G"}, CMD_GET, 0x40F5849A, ""},
        {{"-d", "40f5849a", "-U"}, CMD_UPDATE, 0x40F5849A, ""},
        {{"-d=40F5849A", "-B"}, CMD_LIST_BUILDS, 0x40F5849A, ""},
        {{"-b", "abc", "-U"}, CMD_UPDATE, 0, "0"},
        {{"-b", "0099528558"}, 0, 0, "99528558"},
        {{"-D", "-U", "-L", "-J", "-N", "-I", "-C"}, 0x373, 0, ""},
        {{"-Z", "anything"}, CMD_Z, 0, ""},
        {{"-d"}, 0, 0, ""},                 // argument missing: dropped
        {{"-d", "-U"}, CMD_UPDATE, 0, ""},  // -d dropped, -U still seen
        {{"-GU", "-d40F5849A"}, 0, 0, ""},  // no bundling, no glued arguments
        {{"stray", "-G", "words"}, CMD_GET, 0, ""},
        {{"-G=1"}, 0, 0, ""},  // argument where none is allowed
        {{"-", "---D", "-g"}, 0, 0, ""},
    };
    for (const Case& c : cases) {
        Parsed p = sParse(c.words);
        std::string label = ::testing::PrintToString(c.words);
        EXPECT_EQ(p.result, 0) << label;
        EXPECT_EQ(p.params.commands.Bits(), c.commands) << label;
        EXPECT_EQ(p.params.deviceSerial, c.serial) << label;
        EXPECT_EQ(p.params.build, c.build) << label;
        EXPECT_TRUE(p.messages.empty()) << label << " " << ::testing::PrintToString(p.messages);
    }
}

TEST(Params, PartialMatches) {
    for (const char* word : {"-O", "-OV", "-OVER", "-OVERRID", "-OVERRIDE"}) {
        EXPECT_TRUE(sParse({word}).params.override_) << word;
    }
    EXPECT_FALSE(sParse({"-OVERRIDES"}).params.override_);
    EXPECT_FALSE(sParse({"-o"}).params.override_) << "case-sensitive";
    EXPECT_TRUE(sParse({"--he"}).params.helpRequested);
    for (const char* ambiguous : {"--h", "--ht", "--htt"}) {
        Parsed p = sParse({ambiguous, "-u", "a:1"});
        EXPECT_EQ(p.result, 0) << ambiguous;
        EXPECT_EQ(p.params.serverUrl, "a:1") << ambiguous;
        EXPECT_FALSE(p.params.helpRequested) << ambiguous;
    }
    EXPECT_EQ(sParse({"--https"}).params.serverUrl, "https://update.tarnwell.example/cgi/u");
    EXPECT_EQ(sParse({"--http"}).params.serverUrl, "http://update.tarnwell.example/cgi/u");
}

TEST(Params, HelpStopsParsing) {
    Parsed p = sParse({"-h", "-d", "0", "-X", "0xFFFF"});
    EXPECT_EQ(p.result, 0);
    EXPECT_TRUE(p.params.helpRequested);
    EXPECT_TRUE(p.params.commands.IsSet(CMD_HELP));
    EXPECT_FALSE(p.params.logMaskGiven);
    EXPECT_TRUE(p.messages.empty());
    EXPECT_TRUE(sParse({"-X", "0xFFFF", "-H"}).params.logMaskGiven);
}

TEST(Params, Transport) {
    struct Case {
        const char* arg;
        uint32_t transport;
        int result;
    } cases[] = {
        {"USB", 1, 0},       {"USB2", 1, 0}, {"TCP", 2, 0},    {"TCPIP", 2, 0},
        {"RECOVER", 255, 0}, {"tcp", 0, 1},  {"RECOVE", 0, 1}, {"", 0, 1},
    };
    for (const Case& c : cases) {
        Parsed p = sParse({"-t", c.arg});
        EXPECT_EQ(p.params.transport, c.transport) << c.arg;
        EXPECT_EQ(p.result, c.result) << c.arg;
        EXPECT_TRUE(p.params.transportGiven) << c.arg;
    }
    EXPECT_EQ(sParse({"-t", "tcp"}).messages,
              std::vector<std::string>{
                  "Invalid transport type:[tcp]\nMust be one of the following: USB, TCPIP, RECOVER"});
}

TEST(Params, Failures) {
    struct Case {
        std::vector<std::string> words;
        std::vector<std::string> messages;
    } cases[] = {
        {{"-d", "0"}, {"Invalid serial number obtained from argument [0]"}},
        {{"-d", "xyz"}, {"Invalid serial number obtained from argument [xyz]"}},
        {{"-d", "0x"}, {"Invalid serial number obtained from argument []"}},
        {{"-d", "123456789"}, {"Invalid serial number obtained from argument [123456789]"}},
        {{"-r", "0XZZ"}, {"Invalid router serial number obtained from argument [ZZ]"}},
        {{"-Y"}, {"Unhandled command: [-Y]"}},
        {{"--https", "-u", "host:1"},
         {"Multiple update server URLs specified. Choose one of: --https, --http, or -U <host:port>."}},
        {{"--https", "--https"},
         {"Multiple update server URLs specified. Choose one of: --https, --http, or -U <host:port>."}},
        // every problem is reported, not just the first
        {{"-d", "0", "-Y", "-r", "q"},
         {"Invalid serial number obtained from argument [0]", "Unhandled command: [-Y]",
          "Invalid router serial number obtained from argument [q]"}},
    };
    for (const Case& c : cases) {
        Parsed p = sParse(c.words);
        EXPECT_EQ(p.result, 1) << ::testing::PrintToString(c.words);
        EXPECT_EQ(p.messages, c.messages);
    }
}

TEST(Params, ValuesOfParameters) {
    Parsed p = sParse({"-o", "9600", "-s", "/dev/ttyS0", "-f", "fw.bird", "-i", "/tmp/x", "-m", "false", "-r",
                       "D272031D", "-e", "-n", "-l", "msg", "-k", "file", "-u=http://h:1/cgi/u?x=1"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.params.baudRate, 9600u);
    EXPECT_EQ(p.params.serialPort, "/dev/ttyS0");
    EXPECT_EQ(p.params.firmwareFile, "fw.bird");
    EXPECT_EQ(p.params.storeDirectory, "/tmp/x");
    EXPECT_FALSE(p.params.ueiBytesLoad);
    EXPECT_EQ(p.params.routerSerial, 0xD272031Du);
    EXPECT_EQ(p.params.serverUrl, "http://h:1/cgi/u?x=1");
    EXPECT_EQ(sParse({"-o", "96k"}).params.baudRate, 0u);
    for (const char* yes : {"1", "10", "true", "trueish"})
        EXPECT_TRUE(sParse({"-m", yes}).params.ueiBytesLoad);
    for (const char* no : {"0", "TRUE", "yes", "tru"}) EXPECT_FALSE(sParse({"-m", no}).params.ueiBytesLoad);
}

TEST(Params, LogMask) {
    Parsed p = sParse({"-X", "0x10", "-X", "1024"});
    EXPECT_EQ(p.params.logMask, 0x410u) << "masks accumulate";
    EXPECT_TRUE(p.params.logMaskGiven);

    Parsed bad = sParse({"-X", "12abc"});
    EXPECT_EQ(bad.result, 0) << "a bad mask is reported but does not fail the parse";
    EXPECT_EQ(bad.params.logMask, 0u);
    EXPECT_TRUE(bad.params.logMaskGiven);
    EXPECT_EQ(bad.messages,
              std::vector<std::string>{"Invalid format for \"-X\" parameter, unprocessed characters [abc]"});
}

TEST(Params, NumberArguments) {
    struct Case {
        const char* text;
        uint32_t hex, dec;
        bool valid;
    } cases[] = {
        {"", 0, 0, true},
        {"0", 0, 0, true},
        {"1F", 0x1F, 0, false},
        {"10", 0x10, 10, true},
        {"FFFFFFFF", 0xFFFFFFFF, 0, false},
        {"4294967295", 0, 4294967295u, true},
        {"4294967296", 0, 0, true},
        {"12 ", 0, 0, false},
        {"-1", 0, 0, false},
    };
    for (const Case& c : cases) {
        const char* end = nullptr;
        EXPECT_EQ(_get_hex_arg(c.text, &end), c.hex) << c.text;
        end = nullptr;
        uint32_t dec = _get_int_arg(c.text, &end);
        EXPECT_EQ(dec, c.dec) << c.text;
        if (c.valid && dec != 0) {
            EXPECT_EQ(end, c.text + strlen(c.text)) << c.text;
        }
    }
    const char* untouched = "sentinel";
    const char* end = untouched;
    EXPECT_EQ(_get_int_arg("x1", &end), 0u);
    EXPECT_EQ(end, untouched);
    const char* empty = "";
    EXPECT_EQ(_get_int_arg(empty, &end), 0u);
    EXPECT_EQ(end, empty);
    EXPECT_EQ(_get_hex_arg("10", nullptr), 0u);
}
