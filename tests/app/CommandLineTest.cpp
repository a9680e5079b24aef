#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/Process.h"

using qctest::ProcessResult;
using qctest::TempDir;

namespace {

const std::string kCopyright = "Copyright (c) 2026 Tarnwell. All rights reserved.\n";

ProcessResult sRun(std::vector<std::string> words) {
    words.insert(words.begin(), qctest::BuildProgram("updater"));
    return qctest::RunProcess(words);
}

class CommandLine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ProcessResult bare = sRun({});
        versionLine = bare.out.substr(0, bare.out.find('\n') + 1);
        shortUsage = bare.err;
    }
    static std::string versionLine;
    static std::string shortUsage;
    TempDir dir;
};

std::string CommandLine::versionLine;
std::string CommandLine::shortUsage;

}  // namespace

TEST_F(CommandLine, VersionLineAndShortUsage) {
    EXPECT_TRUE(std::regex_match(
        versionLine, std::regex(R"(Updater \(Version: 2\.12\.2 [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4}\)\n)")))
        << versionLine;
    EXPECT_EQ(shortUsage,
              "\nApplication Usage:\n"
              "Updater <-B | -D | -G | -U > [-Hh | --help] [-b build_num]\n"
              "    [-d serial_num]\n"
              "    [-t transport] [-r router_serial]\n"
              "    [-s serial_port] [-o baud_rate]\n"
              "\n"
              "  Quillcore Update and Maintenance Application\n"
              "    -H -h or --help for full usage information.\n\n\n");
}

TEST_F(CommandLine, UsageScreens) {
    struct Case {
        std::vector<std::string> words;
        bool full, extended;
    } cases[] = {
        {{}, false, false},
        {{"-X", "0xFFFF"}, false, false},  // the extended block needs help too
        {{"-h"}, true, false},
        {{"--help"}, true, false},
        {{"-h", "-X", "0xFFFF"}, true, false},  // parsing stopped at -h
        {{"-X", "0xFFFF", "-h"}, true, true},
        {{"-GU"}, false, false},  // unknown words are dropped: no command
    };
    for (const Case& c : cases) {
        ProcessResult r = sRun(c.words);
        std::string label = ::testing::PrintToString(c.words);
        EXPECT_EQ(r.status, 0) << label;
        EXPECT_EQ(r.out, versionLine + kCopyright) << label;
        EXPECT_EQ(r.err.rfind(shortUsage, 0), 0u) << label;
        EXPECT_EQ(r.err.find("  Parameters to commands:\n") != std::string::npos, c.full) << label;
        EXPECT_EQ(r.err.find(" Sample usage:\n") != std::string::npos, c.full) << label;
        EXPECT_EQ(r.err.find("  Extended Parameters:\n") != std::string::npos, c.extended) << label;
    }
}

TEST_F(CommandLine, FullUsageLayout) {
    ProcessResult r = sRun({"-X", "1", "-h"});
    const std::string& e = r.err;
    EXPECT_NE(e.find("     -i <tarnwell_directory>  - The Tarnwell directory used for storage of \n"
                     "                                firmware files. [Default: ~/.tarnwell ].\n"),
              std::string::npos);
    EXPECT_NE(e.find("     -D                       - Discover devices that are currently connected.\n\n"
                     "     -G "),
              std::string::npos);
    EXPECT_NE(e.find("     --http                   - Use HTTP for the update server "
                     "(http://update.tarnwell.example/cgi/u).\n"),
              std::string::npos);
    EXPECT_NE(e.find("                                DEBUG_ServerComm    0x00000020\n\n"
                     "                                DEBUG_Network       0x00000100\n"),
              std::string::npos);
    EXPECT_NE(
        e.find("-G -d 40F5849A -b 99528558     Get the specified build's firmware for the given device.\n"
               "                               Downloads the firmware file into the updater's specific\n"),
        std::string::npos);
    EXPECT_NE(
        e.find("-G -U -d 2181F0EE -r D272031D\n"
               "                               Get and Update to the latest firmware for device 2181F0EE\n"),
        std::string::npos);
}

TEST_F(CommandLine, BadCommandLinesExitOne) {
    struct Case {
        std::vector<std::string> words;
        std::string err;
    } cases[] = {
        {{"-d", "0"}, "Invalid serial number obtained from argument [0]\n"},
        {{"-d", "xyz", "-D"}, "Invalid serial number obtained from argument [xyz]\n"},
        {{"-Y"}, "Unhandled command: [-Y]\n"},
        {{"-t", "tcp", "-D"},
         "Invalid transport type:[tcp]\nMust be one of the following: USB, TCPIP, RECOVER\n"},
        {{"--https", "-u", "h:1", "-B"},
         "Multiple update server URLs specified. Choose one of: --https, --http, or -U <host:port>.\n"},
    };
    for (const Case& c : cases) {
        ProcessResult r = sRun(c.words);
        std::string label = ::testing::PrintToString(c.words);
        EXPECT_EQ(r.status, 1) << label;
        EXPECT_EQ(r.out, versionLine + kCopyright) << label;
        EXPECT_EQ(r.err, c.err + shortUsage) << label;
    }
}

TEST_F(CommandLine, CommandsMissingWhatTheyNeed) {
    struct Case {
        std::vector<std::string> words;
        std::string out, err;
    } cases[] = {
        {{"-N"}, "Must specify the serial port used for connecting\n", ""},
        {{"-N", "-G", "-d", "1"}, "Must specify the serial port used for connecting\n", ""},
        {{"-G"}, "", "-G must specify a specific device via -d\n--help for usage information\n"},
        {{"-U"}, "Must specify the specific device to be updated\n", ""},
        {{"-d", "-U"}, "Must specify the specific device to be updated\n", ""},
        {{"-B"}, "Error must supply a serial number for the List Builds command\n", shortUsage},
        {{"-L"}, "Error must supply a serial number for the List Local Builds command\n", shortUsage},
        {{"-J"}, "Error must supply a serial number for the Get JWT command\n", shortUsage},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words = c.words;
        words.insert(words.end(), {"-i", dir.path()});
        ProcessResult r = sRun(words);
        std::string label = ::testing::PrintToString(c.words);
        EXPECT_EQ(r.status, 1) << label;
        EXPECT_EQ(r.out, versionLine + c.out) << label;
        EXPECT_EQ(r.err, c.err) << label;
    }
}

TEST_F(CommandLine, CommandWithoutOperationPrintsOnlyTheVersion) {
    ProcessResult r = sRun({"-Z", "x", "-i", dir.path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, versionLine);
    EXPECT_EQ(r.err, "");
}

TEST_F(CommandLine, StoreRootIsCreatedWithMode0755) {
    std::string root = dir / "deep/root";
    ProcessResult r = sRun({"-Z", "1", "-i", root});
    EXPECT_EQ(r.status, 0);
    struct stat st;
    ASSERT_EQ(stat((root + "/updater").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777 & ~0022u, 0755u & ~0022u);
}

TEST_F(CommandLine, StoreRootFailure) {
    qctest::WriteFile(dir / "file", "");
    ProcessResult r = sRun({"-Z", "1", "-i", dir / "file"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, versionLine);
    EXPECT_EQ(r.err, "Could not find updater directory at " + (dir / "file") + "/updater\n");
}

TEST_F(CommandLine, DebugPackagesGoToStandardError) {
    ProcessResult r = sRun({"-X", "0x10001", "-d", "0x1A", "-Z", "1", "-i", dir.path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, versionLine);
    EXPECT_EQ(r.err,
              "Discarding '0x' serial number prefix\n"
              "\nApplication parameters:[updater]\n\t[" +
                  qctest::BuildProgram("updater") +
                  "]\n\t[-X]\n\t[0x10001]\n\t[-d]\n\t[0x1A]\n\t[-Z]\n\t[1]\n\t[-i]\n\t[" + dir.path() +
                  "]\n");
    ProcessResult quiet = sRun({"-X", "0x1", "-Z", "1", "-i", dir.path()});
    EXPECT_EQ(quiet.err, "");
}

TEST_F(CommandLine, DiscoveryWinsOverLaterCommands) {
    ProcessResult r = sRun({"-D", "-U", "-d", "40F5849A", "-i", dir.path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(versionLine + "Searching for Quillcore devices\n", 0), 0u);
}

namespace {

std::string sPack(const TempDir& dir, const std::string& name, std::vector<std::string> options) {
    std::vector<std::string> words = {qctest::BuildProgram("birdtool"), "pack", "-o", dir / name};
    words.insert(words.end(), options.begin(), options.end());
    ProcessResult r = qctest::RunProcess(words);
    EXPECT_EQ(r.status, 0) << r.err;
    return dir / name;
}

}  // namespace

TEST_F(CommandLine, CheckBirdFile) {
    std::string good =
        sPack(dir, "good.bird", {"--info", "1234,2.12.2,40F5849A,QCHUB8", "--firmware", "gen:1K@0x8000"});
    std::string cut =
        sPack(dir, "cut.bird", {"--info", "1,1.0.0,1,X", "--firmware", "gen:4K@0", "--truncate", "9"});
    qctest::WriteFile(dir / "text.bird", "not a bird file");

    ProcessResult ok = sRun({"-C", "-f", good, "-i", dir.path()});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ok.err, "");
    EXPECT_NE(ok.out.find("Build: 1234\n"), std::string::npos) << ok.out;
    EXPECT_NE(ok.out.find("1      FIRMWARE        0      1028        0x00008000\n"), std::string::npos)
        << ok.out;

    for (const std::string& bad : {cut, dir / "text.bird", dir / "missing.bird"}) {
        ProcessResult r = sRun({"-C", "-f", bad, "-i", dir.path()});
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << bad << ": one line says why\n" << r.err;
    }

    ProcessResult missing = sRun({"-C", "-i", dir.path()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, versionLine);
    EXPECT_EQ(missing.err, "-C must specify the BIRD file to check via -f\n");
}

TEST_F(CommandLine, StoredDeviceInformation) {
    std::string device = dir / "updater/40F5849A";
    std::filesystem::create_directories(device);
    qctest::WriteFile(device + "/.settings", "LATEST_DOWNLOAD=1300.bird\nAAA=first\n");
    sPack(dir, "updater/40F5849A/1300.bird",
          {"--info", "1300,2.13.0,40F5849A,QCHUB8", "--firmware", "gen:1K@0"});
    qctest::WriteFile(device + "/notes", "not firmware");

    ProcessResult r = sRun({"-I", "-d", "40F5849A", "-i", dir.path()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, versionLine +
                         "Stored information for device [40F5849A]:\n"
                         "AAA=first\n"
                         "LATEST_DOWNLOAD=1300.bird\n"
                         "Build List for device [40F5849A]:\n\n"
                         "Build          \tVersion        \n"
                         "1300           \t2.13.0         \n"
                         "notes          \t               \n");

    ProcessResult none = sRun({"-I", "-d", "1234", "-i", dir.path()});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "No stored information for device 00001234\n");

    ProcessResult noSerial = sRun({"-I", "-i", dir.path()});
    EXPECT_EQ(noSerial.status, 1);
    EXPECT_EQ(noSerial.err, "-I must specify a specific device via -d\n");
}
