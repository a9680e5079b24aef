#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "firmware/BirdFile.h"
#include "firmware/BirdSummary.h"
#include "tests/firmware/TestSupport.h"
#include "tools/birdtool/BirdWriter.h"

namespace {

std::string Joined(const RecordingDisplay& display, int level) {
    std::string text;
    for (const auto& [lineLevel, line] : display.lines)
        if (lineLevel == level) text += line + "\n";
    return text;
}

TEST(BirdSummary, PrintsHeaderInfoAddressesAndBlockTable) {
    TempDir dir;
    BirdWriter writer;
    writer.AddInfo(1234, "2.12.2", 0x40F5849A, "QCHUB8");
    writer.AddLoader(0x20000000, BirdWriter_SyntheticImage(96), 1);
    writer.AddFirmware(0x08004000, BirdWriter_SyntheticImage(65536), 2);
    writer.AddSerialOffsets(0x08004100, 0x08004200);
    writer.AddLoaderStart(0x20000400);
    writer.AddBlock(17, 7, {1, 2, 3});
    const std::string path = dir / "fw.bird";
    ASSERT_TRUE(writer.Write(path));

    RecordingDisplay display;
    EXPECT_TRUE(PrintBirdSummary(path, display));
    EXPECT_EQ(Joined(display, UpdaterDisplayInterface::ERROR), "");
    EXPECT_EQ(Joined(display, UpdaterDisplayInterface::INFO),
              "File: " + path +
                  "\n"
                  "Format version: 1.1 (0x0101)\n"
                  "Build: 1234\n"
                  "Version: 2.12.2\n"
                  "Serial number: 40F5849A\n"
                  "Model: QCHUB8\n"
                  "Serial number address: 0x08004100\n"
                  "Descriptor address: 0x08004200\n"
                  "Blocks: 6\n"
                  "Index  Type            Flags  Length      Load address\n"
                  "0      INFO            0      64          -\n"
                  "1      LOADER          1      100         0x20000000\n"
                  "2      FIRMWARE        2      65540       0x08004000\n"
                  "3      SERIAL_OFFSETS  0      8           -\n"
                  "4      LOADER_START    0      4           -\n"
                  "5      UNKNOWN         7      3           -\n"
                  "Check passed\n");
}

TEST(BirdSummary, FileWithoutInfoOrOffsetsSaysSo) {
    TempDir dir;
    BirdWriter writer;
    writer.AddFirmware(0x100, {1, 2, 3, 4});
    ASSERT_TRUE(writer.Write(dir / "bare.bird"));
    RecordingDisplay display;
    EXPECT_TRUE(PrintBirdSummary(dir / "bare.bird", display));
    std::string info = Joined(display, UpdaterDisplayInterface::INFO);
    EXPECT_NE(info.find("Build: (no information block)\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Serial number address: (no serial-offsets block)\n"), std::string::npos) << info;
}

TEST(BirdSummary, FailureEndsWithOneLineSayingWhy) {
    TempDir dir;
    struct Case {
        const char* name;
        std::function<void(BirdWriter&)> spoil;
        std::string why;
    } cases[] = {
        {"bad version", [](BirdWriter& w) { w.formatVersion = 0x0100; },
         "Check failed: not a BIRD file (it must begin with \"bird\" and two non-zero version bytes)"},
        {"cut body", [](BirdWriter& w) { w.truncateBody = 4; },
         "Check failed: cannot load the file: error -3 decompressing the body (data error)"},
        {"spare byte", [](BirdWriter& w) { w.trailingBytes = 1; },
         "Check failed: block scan mismatch: 1 bytes remain after the checksum"},
        {"count", [](BirdWriter& w) { w.announcedCount = 3; },
         "Check failed: block scan mismatch: the file announces 3 blocks but holds 2"},
        {"overlong", [](BirdWriter& w) { w.overlongLast = 100; },
         "Check failed: block scan mismatch: block 1 declares 108 data bytes but only 8 remain before the "
         "checksum; the file announces 2 blocks but holds 1"},
    };
    for (const Case& c : cases) {
        BirdWriter writer;
        writer.AddInfo(1, "1.0", 1, "M");
        writer.AddFirmware(0x100, {1, 2, 3, 4});
        c.spoil(writer);
        ASSERT_TRUE(writer.Write(dir / "bad.bird"));
        RecordingDisplay display;
        EXPECT_FALSE(PrintBirdSummary(dir / "bad.bird", display)) << c.name;
        EXPECT_EQ(Joined(display, UpdaterDisplayInterface::ERROR), c.why + "\n") << c.name;
        EXPECT_EQ(display.lines.back().second, c.why) << c.name;
    }
    RecordingDisplay display;
    EXPECT_FALSE(PrintBirdSummary(dir / "missing.bird", display));
    EXPECT_EQ(Joined(display, UpdaterDisplayInterface::ERROR), "Check failed: file not found\n");
}

// birdtool end to end: the program the tests, the demo and engineers use.
class BirdTool : public testing::Test {
protected:
    int Run(const std::string& arguments, std::string* out = nullptr) {
        std::string command = std::string(QC_BUILD_DIR) + "/birdtool " + arguments + " >" + (dir / "out") +
                              " 2>" + (dir / "err");
        int status = system(command.c_str());
        if (out) *out = ReadText(dir / "out") + ReadText(dir / "err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    TempDir dir;
};

TEST_F(BirdTool, PackWritesWhatTheLoaderReads) {
    WriteBytes(dir / "loader.bin", {0xDE, 0xAD, 0xBE, 0xEF, 0x01});
    const std::string out = dir / "fw.bird";
    ASSERT_EQ(Run("pack -o " + out + " --info 1300,3.1.4,0000ABCD,QCHUB8 --loader " + (dir / "loader.bin") +
                  "@0x20000000:3 --firmware gen:4K:7@0x08004000:5 --serial-offsets 0x08004010,0x08004020"
                  " --loader-start 0x20000400 --block 9:1:" +
                  (dir / "loader.bin") + " --level 9"),
              0);
    BirdFile bird(out);
    EXPECT_EQ(bird.GetScanError(), "");
    EXPECT_EQ(bird.GetBuild(), 1300u);
    EXPECT_EQ(bird.GetVersion(), "3.1.4");
    EXPECT_EQ(bird.GetSerialNumber(), 0xABCDu);
    EXPECT_EQ(bird.GetModel(), "QCHUB8");
    ASSERT_EQ(bird.GetBlockCount(), 6u);
    const auto& b = bird.GetBlocks();
    EXPECT_EQ(b[1].type, BLOCK_TYPE_LOADER);
    EXPECT_EQ(b[1].flags, 3);
    EXPECT_EQ(b[1].loadAddress, 0x20000000u);
    EXPECT_EQ(std::vector<uint8_t>(b[1].data + 4, b[1].data + b[1].length),
              (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF, 0x01}));
    EXPECT_EQ(b[2].flags, 5);
    EXPECT_EQ(std::vector<uint8_t>(b[2].data + 4, b[2].data + b[2].length),
              BirdWriter_SyntheticImage(4096, 7));
    EXPECT_EQ(bird.GetSerialNumberAddress(), 0x08004010u);
    EXPECT_EQ(bird.GetDescriptorAddress(), 0x08004020u);
    EXPECT_EQ(b[5].type, 9);
    EXPECT_EQ(b[5].length, 5u);
}

TEST_F(BirdTool, ScrambleIsUndoneByTheLoadersDescrambling) {
    ASSERT_EQ(
        Run("pack -o " + (dir / "plain.bird") + " --firmware gen:3000@0x100 --firmware gen:100:2@0x9000"), 0);
    ASSERT_EQ(Run("scramble " + (dir / "plain.bird") + " " + (dir / "chip.bird") +
                  " --key 01234567,89ABCDEF,DEADBEEF,0BADF00D"),
              0);
    BirdFile plain(dir / "plain.bird");
    BirdFile chip(dir / "chip.bird");
    const uint32_t key[4] = {0x01234567, 0x89ABCDEF, 0xDEADBEEF, 0x0BADF00D};
    ASSERT_EQ(chip.GetDataLength(), plain.GetDataLength());
    EXPECT_NE(0, memcmp(chip.GetData(), plain.GetData(), plain.GetDataLength()));
    chip.DecodeFirmwareBlocks(key);
    EXPECT_EQ(0, memcmp(chip.GetData(), plain.GetData(), plain.GetDataLength()));
}

TEST_F(BirdTool, InspectExitStatusFollowsTheCheck) {
    std::string out;
    ASSERT_EQ(Run("pack -o " + (dir / "ok.bird") + " --info 1,1.0,1,M --firmware gen:1K@0"), 0);
    EXPECT_EQ(Run("inspect " + (dir / "ok.bird"), &out), 0);
    EXPECT_NE(out.find("Check passed"), std::string::npos) << out;

    ASSERT_EQ(Run("pack -o " + (dir / "bad.bird") + " --firmware gen:1K@0 --count 2 --trailing 1"), 0);
    EXPECT_EQ(Run("inspect " + (dir / "bad.bird"), &out), 1);
    EXPECT_NE(out.find("Check failed: block scan mismatch"), std::string::npos) << out;

    ASSERT_EQ(Run("pack -o " + (dir / "cut.bird") + " --firmware gen:1K@0 --truncate 10"), 0);
    EXPECT_EQ(Run("inspect --log " + (dir / "cut.bird"), &out), 1);
    EXPECT_NE(out.find("BIRDFILE: Error (-3) decompressing bird file."), std::string::npos) << out;
}

TEST_F(BirdTool, HelpAndUsageErrors) {
    std::string out;
    EXPECT_EQ(Run("--help", &out), 0);
    for (const char* word :
         {"pack", "scramble", "inspect", "--overlong", "--truncate", "--count", "--trailing"})
        EXPECT_NE(out.find(word), std::string::npos) << word;
    EXPECT_EQ(Run("", &out), 2);
    EXPECT_EQ(Run("pack --firmware gen:1K@0", &out), 2);
    EXPECT_NE(out.find("pack needs -o OUT"), std::string::npos) << out;
    EXPECT_EQ(Run("pack -o x --firmware nowhere.bin@0", &out), 2);
    EXPECT_EQ(Run("pack -o x --level 12", &out), 2);
    EXPECT_EQ(Run("scramble a b --key 1,2,3", &out), 2);
    EXPECT_EQ(Run("frobnicate", &out), 2);
}

}  // namespace
