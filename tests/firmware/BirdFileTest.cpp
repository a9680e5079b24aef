#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <stdexcept>

#include "common/Log.h"
#include "firmware/BirdFile.h"
#include "tests/firmware/TestSupport.h"
#include "tools/birdtool/BirdWriter.h"

namespace {

constexpr uint32_t kSerialAddress = 0x08004100;
constexpr uint32_t kDescriptorAddress = 0x08004200;
constexpr uint32_t kFirmwareAddress = 0x08004000;

class BirdFileTest : public testing::Test {
protected:
    std::string Write(const BirdWriter& writer, const std::string& name = "fw.bird") {
        std::string path = dir / name;
        EXPECT_TRUE(writer.Write(path));
        return path;
    }

    // Info, loader, two firmware images, serial offsets, start address.
    BirdWriter Complete() {
        BirdWriter writer;
        writer.AddInfo(1234, "2.12.2", 0x40F5849A, "QCHUB8");
        writer.AddLoader(0x20000000, BirdWriter_SyntheticImage(300, 1), 1);
        writer.AddFirmware(kFirmwareAddress, BirdWriter_SyntheticImage(0x400, 2), 2);
        writer.AddFirmware(0x08010000, BirdWriter_SyntheticImage(100, 3), 7);
        writer.AddSerialOffsets(kSerialAddress, kDescriptorAddress);
        writer.AddLoaderStart(0x20000400);
        return writer;
    }

    TempDir dir;
};

TEST_F(BirdFileTest, VerifyFileChecksSignatureAndNonZeroVersionBytes) {
    struct Case {
        std::vector<uint8_t> bytes;
        bool accepted;
    } cases[] = {
        {{'b', 'i', 'r', 'd', 0x01, 0x01, 0x78, 0x9C}, true},
        {{'b', 'i', 'r', 'd', 0x01, 0x01}, true},
        {{'b', 'i', 'r', 'd', 0x01, 0x00, 0x78, 0x9C}, false},
        {{'b', 'i', 'r', 'd', 0x00, 0x01, 0x78, 0x9C}, false},
        {{'b', 'i', 'r', 'x', 0x01, 0x01, 0x78, 0x9C}, false},
        {{'b', 'i', 'r', 'd', 0x01}, false},
        {{}, false},
    };
    for (const Case& c : cases) {
        WriteBytes(dir / "f", c.bytes);
        EXPECT_EQ(BirdFile::VerifyFile(dir / "f"), c.accepted) << c.bytes.size() << " bytes";
    }
    LogCapture log(DEBUG_BirdFile);
    EXPECT_FALSE(BirdFile::VerifyFile(dir / "missing"));
    EXPECT_EQ(log.text(), "BIRDFILE: Error - cannot open bird file: '" + (dir / "missing") + "'\n");
    EXPECT_FALSE(BirdFile::VerifyFile(dir.path()));
}

TEST_F(BirdFileTest, LoadSplitsBodyIntoBlocksAndReadsInfo) {
    BirdWriter writer = Complete();
    const std::string path = Write(writer);
    BirdFile bird;
    ASSERT_TRUE(bird.Load(path));
    EXPECT_EQ(bird.GetPath(), path);
    EXPECT_EQ(bird.GetSignature(), BIRD_FILE_SIGNATURE);
    EXPECT_EQ(bird.GetFormatVersion(), BIRD_FILE_VERSION);
    EXPECT_EQ(bird.GetScanError(), "");

    std::vector<uint8_t> body = writer.Body();
    ASSERT_EQ(bird.GetDataLength(), body.size());
    EXPECT_EQ(0, memcmp(bird.GetData(), body.data(), body.size()));
    EXPECT_EQ(bird.GetChecksum(), crc32(0, body.data(), static_cast<uInt>(body.size() - 4)));

    ASSERT_EQ(bird.GetBlockCount(), 6u);
    const auto& blocks = bird.GetBlocks();
    const uint8_t types[] = {4, 0, 1, 1, 2, 5};
    const uint8_t flags[] = {0, 1, 2, 7, 0, 0};
    const uint32_t addresses[] = {0, 0x20000000, kFirmwareAddress, 0x08010000, 0, 0};
    for (size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(blocks[i].type, types[i]) << i;
        EXPECT_EQ(blocks[i].flags, flags[i]) << i;
        EXPECT_EQ(blocks[i].loadAddress, addresses[i]) << i;
        ASSERT_EQ(blocks[i].length, writer.blocks[i].data.size()) << i;
        EXPECT_EQ(0, memcmp(blocks[i].data, writer.blocks[i].data.data(), blocks[i].length)) << i;
        // A view into the one inflated buffer, not a copy.
        EXPECT_GE(blocks[i].data, bird.GetData());
        EXPECT_LE(blocks[i].data + blocks[i].length, bird.GetData() + bird.GetDataLength());
    }

    EXPECT_EQ(bird.GetBuild(), 1234u);
    EXPECT_EQ(bird.GetVersion(), "2.12.2");
    EXPECT_EQ(bird.GetSerialNumber(), 0x40F5849Au);
    EXPECT_EQ(bird.GetModel(), "QCHUB8");
    EXPECT_TRUE(bird.ValidateSerialNumber(0x40F5849A));
    EXPECT_FALSE(bird.ValidateSerialNumber(0x40F5849B));
    EXPECT_TRUE(bird.HasSerialOffsets());
    EXPECT_EQ(bird.GetSerialNumberAddress(), kSerialAddress);
    EXPECT_EQ(bird.GetDescriptorAddress(), kDescriptorAddress);

    std::vector<BirdBlock> firmware = bird.FindBlocks(BLOCK_TYPE_FIRMWARE);
    ASSERT_EQ(firmware.size(), 2u);
    EXPECT_EQ(firmware[0].data, blocks[2].data);
    EXPECT_EQ(firmware[1].data, blocks[3].data);
    EXPECT_TRUE(bird.FindBlocks(3).empty());
}

TEST_F(BirdFileTest, LoadFromMemoryMatchesLoadFromFile) {
    BirdWriter writer = Complete();
    std::vector<uint8_t> bytes = ReadBytes(Write(writer));
    EXPECT_TRUE(BirdFile::VerifyData(bytes.data(), bytes.size()));
    EXPECT_FALSE(BirdFile::VerifyData(bytes.data(), 5));
    BirdFile fromFile(dir / "fw.bird");
    BirdFile fromMemory;
    ASSERT_TRUE(fromMemory.LoadFromMemory(bytes.data(), bytes.size(), "download"));
    EXPECT_EQ(fromMemory.GetPath(), "download");
    ASSERT_EQ(fromMemory.GetDataLength(), fromFile.GetDataLength());
    EXPECT_EQ(0, memcmp(fromMemory.GetData(), fromFile.GetData(), fromFile.GetDataLength()));
    EXPECT_EQ(fromMemory.GetBlockCount(), fromFile.GetBlockCount());
    EXPECT_EQ(fromMemory.GetVersion(), "2.12.2");

    bytes.resize(bytes.size() - 10);  // a cut download does not load
    EXPECT_FALSE(fromMemory.LoadFromMemory(bytes.data(), bytes.size(), "cut"));
    EXPECT_FALSE(fromMemory.LoadFromMemory(nullptr, 0, "empty"));
}

TEST_F(BirdFileTest, FilesLargerThanOneReadLoadWhole) {
    BirdWriter writer;
    writer.AddInfo(7, "1.0.0", 1, "QCHUB8");
    writer.AddFirmware(kFirmwareAddress, BirdWriter_NoiseImage(3 * 1024 * 1024 + 17, 9));
    writer.level = 1;
    BirdFile bird;
    ASSERT_TRUE(bird.Load(Write(writer)));
    std::vector<uint8_t> body = writer.Body();
    ASSERT_EQ(bird.GetDataLength(), body.size());
    EXPECT_EQ(0, memcmp(bird.GetData(), body.data(), body.size()));
    EXPECT_EQ(bird.GetScanError(), "");
}

TEST_F(BirdFileTest, LoadLogsEveryStepOfAWellFormedFile) {
    BirdWriter writer;
    writer.AddInfoText("1234", "2.12.2", "0000ABCD", "ABC");
    writer.AddSerialOffsets(16, 32);
    writer.checksum = 0xCAFEF00D;
    const std::string path = Write(writer);
    LogCapture log(DEBUG_BirdFile);
    BirdFile bird(path);
    EXPECT_EQ(log.text(), "BIRDFILE: Loading File [" + path +
                              "]\n"
                              "BIRDFILE:\t\t File reports 2 blocks\n"
                              "BIRDFILE: Bird file objects:\n"
                              "BIRDFILE: \t\tType Flags Length\n"
                              "BIRDFILE:\t\t 04   00   64\n"
                              "BIRDFILE:\t\t \t[1234            ]\n"
                              "BIRDFILE:\t\t \t[2.12.2          ]\n"
                              "BIRDFILE:\t\t \t[0000ABCD        ]\n"
                              "BIRDFILE:\t\t \t[ABC             ]\n"
                              "BIRDFILE:\t\t 02   00   8\n"
                              "BIRDFILE:\t\t File checksum CAFEF00D\n"
                              "BIRDFILE: Offsets: Serial number: 16, Descriptor: 32\n"
                              "BIRDFILE: Offsets: Serial number: 16, Descriptor: 32\n");
}

TEST_F(BirdFileTest, LoadDoesNotCheckTheHeader) {
    BirdWriter writer = Complete();
    writer.signature = "xxxx";
    writer.formatVersion = 0;
    BirdFile bird;
    EXPECT_TRUE(bird.Load(Write(writer)));
    EXPECT_EQ(bird.GetSignature(), 0x78787878u);
    EXPECT_EQ(bird.GetFormatVersion(), 0);
    EXPECT_EQ(bird.GetBlockCount(), 6u);
}

TEST_F(BirdFileTest, LoadFailuresAreLoggedAndThrownByTheConstructor) {
    BirdWriter truncated = Complete();
    truncated.truncateBody = 3;
    WriteBytes(dir / "six.bird", {'b', 'i', 'r', 'd', 1, 1});
    WriteBytes(dir / "empty.bird", {});
    WriteBytes(dir / "garbage.bird", {'b', 'i', 'r', 'd', 1, 1, 1, 2, 3, 4, 5});
    struct Case {
        std::string path;
        std::string line;
    } cases[] = {
        {dir / "missing.bird", "BIRDFILE: BIRD file not found [" + (dir / "missing.bird") + "]\n"},
        {dir.path(), "BIRDFILE: BIRD file not found [" + dir.path() + "]\n"},
        {Write(truncated, "truncated.bird"), "BIRDFILE: Error (-3) decompressing bird file.\n"},
        {dir / "six.bird", "BIRDFILE: Error (-3) decompressing bird file.\n"},
        {dir / "empty.bird", "BIRDFILE: Error (-3) decompressing bird file.\n"},
        {dir / "garbage.bird", "BIRDFILE: Error (-3) decompressing bird file.\n"},
    };
    for (const Case& c : cases) {
        LogCapture log(DEBUG_BirdFile);
        BirdFile bird;
        EXPECT_FALSE(bird.Load(c.path)) << c.path;
        EXPECT_NE(log.text().find(c.line), std::string::npos) << log.text();
        EXPECT_EQ(bird.GetBlockCount(), 0u);
        EXPECT_EQ(bird.GetDataLength(), 0u);
        EXPECT_FALSE(bird.GetLoadError().empty());
        try {
            BirdFile thrown(c.path);
            ADD_FAILURE() << "no exception for " << c.path;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Failed to load bird data");
        }
    }
}

// Finds a body whose inflated size is exactly 8 times its compressed size
// plus extra, by padding a random block with zeros.
BirdWriter WriterAtRatio(size_t extra) {
    for (size_t zeros = 0; zeros < 50000; ++zeros) {
        BirdWriter writer;
        writer.level = 9;
        writer.checksum = 0;
        std::vector<uint8_t> data = BirdWriter_SyntheticImage(64, 9);
        data.resize(data.size() + zeros, 0);
        writer.AddBlock(BLOCK_TYPE_FIRMWARE, 0, data);
        size_t compressed = writer.File().size() - BIRD_FILE_HEADER_SIZE;
        if (writer.Body().size() == BIRD_INFLATE_RATIO * compressed + extra) return writer;
    }
    throw std::runtime_error("no body at that ratio");
}

TEST_F(BirdFileTest, BodyMayInflateToExactlyEightTimesItsSize) {
    BirdFile bird;
    EXPECT_TRUE(bird.Load(Write(WriterAtRatio(0), "exact.bird")));
    EXPECT_EQ(bird.GetBlockCount(), 1u);

    LogCapture log(DEBUG_BirdFile);
    EXPECT_FALSE(bird.Load(Write(WriterAtRatio(1), "over.bird")));
    EXPECT_NE(log.text().find("BIRDFILE: Error (-5) decompressing bird file.\n"), std::string::npos);
}

// The streaming inflate must answer as zlib's one-shot uncompress into a
// buffer of 8 times the body would.
TEST_F(BirdFileTest, InflateResultsMatchUncompressWithTheEightfoldBound) {
    BirdWriter normal;
    normal.AddFirmware(0, BirdWriter_SyntheticImage(5000));
    std::vector<uint8_t> junkAfterStream = normal.File();
    junkAfterStream.insert(junkAfterStream.end(), {1, 2, 3});
    std::vector<uint8_t> badHeader = normal.File();
    badHeader[6] = 0x79;
    BirdWriter cut = normal;
    cut.truncateBody = 1;
    const std::vector<std::vector<uint8_t>> files = {normal.File(),
                                                     WriterAtRatio(0).File(),
                                                     WriterAtRatio(1).File(),
                                                     WriterAtRatio(100).File(),
                                                     junkAfterStream,
                                                     badHeader,
                                                     cut.File()};
    for (size_t i = 0; i < files.size(); ++i) {
        const std::vector<uint8_t>& file = files[i];
        std::vector<uint8_t> out(BIRD_INFLATE_RATIO * (file.size() - BIRD_FILE_HEADER_SIZE));
        uLongf length = out.size();
        int expected = uncompress(out.data(), &length, file.data() + BIRD_FILE_HEADER_SIZE,
                                  file.size() - BIRD_FILE_HEADER_SIZE);
        WriteBytes(dir / "f.bird", file);
        LogCapture log(DEBUG_BirdFile);
        BirdFile bird;
        bool loaded = bird.Load(dir / "f.bird");
        EXPECT_EQ(loaded, expected == Z_OK) << "file " << i;
        if (loaded) {
            ASSERT_EQ(bird.GetDataLength(), length) << "file " << i;
            EXPECT_EQ(0, memcmp(bird.GetData(), out.data(), length)) << "file " << i;
        } else {
            std::string line =
                "BIRDFILE: Error (" + std::to_string(expected) + ") decompressing bird file.\n";
            EXPECT_NE(log.text().find(line), std::string::npos) << "file " << i << "\n" << log.text();
        }
    }
}

TEST_F(BirdFileTest, ScanMismatchesAreLoggedAndKeepTheParsedBlocks) {
    struct Case {
        const char* name;
        void (*spoil)(BirdWriter&);
        uint32_t blocks;
        const char* logged;
        const char* reason;
    } cases[] = {
        {"clean", [](BirdWriter&) {}, 3, nullptr, ""},
        {"one spare byte", [](BirdWriter& w) { w.trailingBytes = 1; }, 3,
         "BIRDFILE: Block parsing mismatch in data size. (1 bytes remaining)\n",
         "1 bytes remain after the checksum"},
        {"count too high", [](BirdWriter& w) { w.announcedCount = 5; }, 3,
         "BIRDFILE: Block parsing mismatch in number of blocks. (3 != 5)\n",
         "the file announces 5 blocks but holds 3"},
        {"count too low", [](BirdWriter& w) { w.announcedCount = 1; }, 3,
         "BIRDFILE: Block parsing mismatch in number of blocks. (3 != 1)\n",
         "the file announces 1 blocks but holds 3"},
        {"last block past the data", [](BirdWriter& w) { w.overlongLast = 1000; }, 2,
         "BIRDFILE: Block parsing mismatch in data size.",
         "block 2 declares 1100 data bytes but only 100 remain before the checksum; the file announces 3 "
         "blocks "
         "but holds 2"},
        {"last block into the checksum", [](BirdWriter& w) { w.overlongLast = 2; }, 2,
         "BIRDFILE: Block parsing mismatch in data size.", nullptr},
        {"huge length", [](BirdWriter& w) { w.overlongLast = 0xFFFFFF00u; }, 2,
         "BIRDFILE: Block parsing mismatch in data size.", nullptr},
    };
    for (const Case& c : cases) {
        BirdWriter writer;
        writer.AddInfo(7, "1.0", 1, "M");
        writer.AddLoader(0x100, std::vector<uint8_t>(50, 0xAA));
        writer.AddFirmware(0x200, std::vector<uint8_t>(96, 0xBB));
        c.spoil(writer);
        LogCapture log(DEBUG_BirdFile);
        BirdFile bird;
        ASSERT_TRUE(bird.Load(Write(writer))) << c.name;
        EXPECT_EQ(bird.GetBlockCount(), c.blocks) << c.name;
        EXPECT_EQ(bird.GetBlocks().size(), c.blocks) << c.name;
        if (c.logged) {
            EXPECT_NE(log.text().find(c.logged), std::string::npos) << c.name << "\n" << log.text();
        } else {
            EXPECT_EQ(log.text().find("mismatch"), std::string::npos) << c.name << "\n" << log.text();
        }
        if (c.reason) {
            EXPECT_EQ(bird.GetScanError(), c.reason) << c.name;
        }
        // The blocks before a bad one stay usable.
        EXPECT_EQ(bird.GetBuild(), 7u) << c.name;
        EXPECT_EQ(bird.FindBlocks(BLOCK_TYPE_LOADER).at(0).data[4], 0xAA) << c.name;
    }
}

TEST_F(BirdFileTest, BodyTooShortForCountOrChecksum) {
    // Hand-made bodies: 2 bytes, a count alone, a count and 2 checksum bytes.
    const std::vector<std::vector<uint8_t>> bodies = {{0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0, 1, 2}};
    for (const auto& body : bodies) {
        std::vector<uint8_t> file = {'b', 'i', 'r', 'd', 1, 1};
        std::vector<uint8_t> z = BirdWriter_Compress(body);
        file.insert(file.end(), z.begin(), z.end());
        WriteBytes(dir / "short.bird", file);
        BirdFile bird;
        ASSERT_TRUE(bird.Load(dir / "short.bird"));
        EXPECT_EQ(bird.GetBlockCount(), 0u);
        EXPECT_NE(bird.GetScanError().find("short of the checksum"), std::string::npos)
            << bird.GetScanError();
        EXPECT_EQ(bird.GetChecksum(), 0u);
    }
}

TEST_F(BirdFileTest, InfoFieldsAreParsedAsText) {
    struct Case {
        std::string build, version, serial, model;
        uint32_t wantBuild;
        std::string wantVersion;
        uint32_t wantSerial;
        std::string wantModel;
    } cases[] = {
        {"1234", "2.12.2", "0000ABCD", "ABC", 1234, "2.12.2", 0xABCD, "ABC"},
        {"   42abc", "1.0 beta", "deadbeef", "  HUB 8  ", 42, "1.0", 0xDEADBEEF, "  HUB 8"},
        {"x1", "", "zz", "", 0, "", 0, ""},
        {"123456789012345678", "0123456789abcdefgh", "1234567890", "ABCDEFGHIJKLMNOPQ",
         2249056121u,  // cut to 32 bits

         "0123456789abcde", 0x12345678, "ABCDEFGHIJKLMNOP"},
    };
    for (const Case& c : cases) {
        BirdWriter writer;
        writer.AddInfoText(c.build, c.version, c.serial, c.model);
        writer.AddInfoText("999", "9.9.9", "99999999", "LATER");  // only the first counts
        BirdFile bird(Write(writer));
        EXPECT_EQ(bird.GetBuild(), c.wantBuild) << c.build;
        EXPECT_EQ(bird.GetVersion(), c.wantVersion) << c.version;
        EXPECT_EQ(bird.GetSerialNumber(), c.wantSerial) << c.serial;
        EXPECT_EQ(bird.GetModel(), c.wantModel) << c.model;
    }
}

TEST_F(BirdFileTest, ShortInfoBlockIsReadOnlyAsFarAsItGoes) {
    BirdWriter writer;
    std::string text = "77              1.2.3";  // build field, then 5 bytes of the version
    writer.AddBlock(BLOCK_TYPE_INFO, 0, std::vector<uint8_t>(text.begin(), text.end()));
    writer.AddFirmware(0, std::vector<uint8_t>(16, 0));
    BirdFile bird(Write(writer));
    EXPECT_EQ(bird.GetBuild(), 77u);
    EXPECT_EQ(bird.GetVersion(), "1.2.3");
    EXPECT_EQ(bird.GetSerialNumber(), 0u);
    EXPECT_EQ(bird.GetModel(), "");
}

TEST_F(BirdFileTest, ValidateModelComparesOverTheGivenNamesLength) {
    BirdWriter writer;
    writer.AddInfoText("1", "1", "1", "ABC             ");
    BirdFile bird(Write(writer));
    {
        LogCapture log(DEBUG_BirdFile);
        EXPECT_TRUE(bird.ValidateModel("ABC"));
        EXPECT_EQ(log.text(), "Model matches model number ([ABC] == [ABC])\n");
    }
    EXPECT_TRUE(bird.ValidateModel("AB"));
    EXPECT_FALSE(bird.ValidateModel("ABCD"));
    EXPECT_FALSE(bird.ValidateModel("ABD"));

    BirdWriter bare;
    bare.AddFirmware(0, {1, 2, 3});
    BirdFile noInfo(Write(bare, "bare.bird"));
    EXPECT_FALSE(noInfo.HasInfoBlock());
    EXPECT_FALSE(noInfo.ValidateModel("ABC"));
    EXPECT_EQ(noInfo.GetBuild(), 0u);
    EXPECT_EQ(noInfo.GetVersion(), "");
    EXPECT_EQ(noInfo.GetSerialNumber(), 0u);
    EXPECT_TRUE(noInfo.ValidateSerialNumber(0));
    EXPECT_FALSE(noInfo.HasSerialOffsets());
    EXPECT_FALSE(noInfo.ReplaceSerialNumber(0x12345678));
    EXPECT_EQ(noInfo.FindBlocks(BLOCK_TYPE_FIRMWARE)[0].data[4], 1);
}

class Personalise : public BirdFileTest {
protected:
    // One firmware image of 0x400 bytes at kFirmwareAddress, and a loader
    // with the same image at the same address.
    BirdFile Make(uint32_t serialAddress, uint32_t descriptorAddress) {
        BirdWriter writer;
        writer.AddFirmware(kFirmwareAddress, original);
        writer.AddLoader(kFirmwareAddress, original);
        writer.AddSerialOffsets(serialAddress, descriptorAddress);
        return BirdFile(Write(writer));
    }
    static std::vector<uint8_t> Image(const BirdFile& bird, uint8_t type = BLOCK_TYPE_FIRMWARE) {
        BirdBlock block = bird.FindBlocks(type).at(0);
        return std::vector<uint8_t>(block.data + 4, block.data + block.length);
    }
    const std::vector<uint8_t> original = BirdWriter_SyntheticImage(0x400, 5);
};

TEST_F(Personalise, SerialNumberWordIsStoredLittleEndian) {
    BirdFile bird = Make(kFirmwareAddress + 0x10, 0);
    LogCapture log(DEBUG_BirdFile);
    EXPECT_TRUE(bird.ReplaceSerialNumber(0x40F5849A));
    char line[80];
    snprintf(line, sizeof(line), "BIRDFILE: updating serial number from %02X%02X%02X%02X ==> 40F5849A\n",
             original[0x13], original[0x12], original[0x11], original[0x10]);
    EXPECT_EQ(log.text(), line);
    std::vector<uint8_t> expected = original;
    expected[0x10] = 0x9A, expected[0x11] = 0x84, expected[0x12] = 0xF5, expected[0x13] = 0x40;
    EXPECT_EQ(Image(bird), expected);
    EXPECT_EQ(Image(bird, BLOCK_TYPE_LOADER), original);  // loaders are not patched
}

TEST_F(Personalise, DescriptorGetsUtf16DigitsAndKeepsHighBytes) {
    BirdFile bird = Make(0, kFirmwareAddress + 0x3F0);  // the last 16 bytes of the image
    EXPECT_TRUE(bird.ReplaceSerialNumber(0x0000ABCD));
    std::vector<uint8_t> expected = original;
    const char* digits = "0000ABCD";
    for (int k = 0; k < 8; ++k) expected[0x3F0 + 2 * k] = static_cast<uint8_t>(digits[k]);
    EXPECT_EQ(Image(bird), expected);
}

TEST_F(Personalise, AddressesOutsideTheImageChangeNothing) {
    struct Case {
        uint32_t serial, descriptor;
        bool result;
    } cases[] = {
        {0x10, 0, true},                       // below the image: still true
        {kFirmwareAddress + 0x3FD, 0, true},   // the word would cross the end
        {0, kFirmwareAddress + 0x3F1, false},  // the descriptor does not fit
        {0, kFirmwareAddress - 2, false},      // the descriptor starts before the image
        {0, 0, false},
        {0xFFFFFFFE, 0xFFFFFFFF, true},  // no wrap-around at the top of memory
    };
    for (const Case& c : cases) {
        BirdFile bird = Make(c.serial, c.descriptor);
        EXPECT_EQ(bird.ReplaceSerialNumber(0x12345678), c.result)
            << std::hex << c.serial << " " << c.descriptor;
        EXPECT_EQ(Image(bird), original);
    }
}

TEST_F(BirdFileTest, DescramblingUndoesTheServersScrambling) {
    const uint32_t key[4] = {0x01234567, 0x89ABCDEF, 0xDEADBEEF, 0x0BADF00D};
    BirdWriter writer = Complete();
    writer.ScrambleFirmware(key);
    BirdFile bird(Write(writer));
    BirdWriter plain = Complete();
    EXPECT_NE(0, memcmp(bird.GetBlocks()[2].data, plain.blocks[2].data.data(), plain.blocks[2].data.size()));
    EXPECT_TRUE(bird.DecodeFirmwareBlocks(key));
    for (size_t i = 0; i < plain.blocks.size(); ++i)
        EXPECT_EQ(0,
                  memcmp(bird.GetBlocks()[i].data, plain.blocks[i].data.data(), plain.blocks[i].data.size()))
            << "block " << i;
}

TEST_F(BirdFileTest, DescramblingWithZeroKeyIsARunningXorPerBlock) {
    BirdWriter writer;
    writer.AddFirmware(0x100, {0x01, 0x02, 0x04, 0x08});
    writer.AddLoader(0x100, {0x01, 0x02, 0x04, 0x08});
    writer.AddFirmware(0x200, {0xFF, 0x0F, 0xF0});
    BirdFile bird(Write(writer));
    const uint32_t zero[4] = {0, 0, 0, 0};
    bird.DecodeFirmwareBlocks(zero);
    auto image = [&](size_t i) {
        const BirdBlock& b = bird.GetBlocks()[i];
        return std::vector<uint8_t>(b.data + 4, b.data + b.length);
    };
    EXPECT_EQ(image(0), (std::vector<uint8_t>{0x01, 0x03, 0x07, 0x0F}));
    EXPECT_EQ(image(1), (std::vector<uint8_t>{0x01, 0x02, 0x04, 0x08}));
    EXPECT_EQ(image(2), (std::vector<uint8_t>{0xFF, 0xF0, 0x00}));
    EXPECT_EQ(bird.GetBlocks()[0].loadAddress, 0x100u);  // the address is not scrambled
}

TEST_F(BirdFileTest, MoveHandsOverTheBufferAndItsViews) {
    BirdFile source(Write(Complete()));
    const uint8_t* data = source.GetData();
    const uint8_t* view = source.GetBlocks()[2].data;
    BirdFile moved(std::move(source));
    EXPECT_EQ(moved.GetData(), data);
    EXPECT_EQ(moved.GetBlocks()[2].data, view);
    EXPECT_EQ(moved.GetBlocks()[2].loadAddress, kFirmwareAddress);
    EXPECT_EQ(moved.GetBuild(), 1234u);
    EXPECT_EQ(source.GetBlockCount(), 0u);
    EXPECT_TRUE(source.GetBlocks().empty());
    EXPECT_EQ(source.GetData(), nullptr);

    BirdFile assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned.GetData(), data);
    EXPECT_EQ(assigned.GetSerialNumberAddress(), kSerialAddress);
    EXPECT_EQ(moved.GetSerialNumberAddress(), 0u);
    EXPECT_FALSE(moved.HasSerialOffsets());
    assigned = BirdFile();
    EXPECT_EQ(assigned.GetBlockCount(), 0u);
}

TEST_F(BirdFileTest, DumpBlocksPrintsHexAndTextFiftyBytesALine) {
    BirdWriter writer;
    writer.AddBlock(9, 0, std::vector<uint8_t>(52, 'A'));
    writer.AddBlock(3, 0, {0x00});
    writer.AddBlock(9, 0, {0x41, 0x0A});
    const std::string path = Write(writer);
    BirdFile bird(path);
    testing::internal::CaptureStdout();
    bird.DumpBlocks(9);
    std::string out = testing::internal::GetCapturedStdout();
    std::string hex50;
    for (int i = 0; i < 50; ++i) hex50 += "41 ";
    EXPECT_EQ(out, "BIRDFILE: BLOCK DUMP [" + path + "]\n" + hex50 + " " + std::string(50, 'A') +
                       "\r\n000050: 41 41  AA\n"
                       "41 0A  A \n"
                       "\n");
}

TEST_F(BirdFileTest, ValidateDataFindsPatternsInFirmwareImagesOnly) {
    BirdWriter writer;
    writer.AddLoader(0, {0xCA, 0xFE});
    writer.AddFirmware(0, {0x00, 0xCA, 0xFE, 0xCA, 0xFE});
    const std::string path = Write(writer);
    BirdFile bird(path);
    const uint8_t pattern[] = {0xCA, 0xFE};
    LogCapture log(DEBUG_BirdFile);
    EXPECT_TRUE(bird.ValidateData(pattern, 2));
    EXPECT_EQ(log.text(), "BIRDFILE: looking for data pattern in [" + path +
                              "]\n"
                              "Found data at 5\n"
                              "Found data at 7\n");
    const uint8_t absent[] = {0xFE, 0xFE};
    EXPECT_FALSE(bird.ValidateData(absent, 2));
    EXPECT_FALSE(bird.ValidateData(pattern, 0));
}

}  // namespace
