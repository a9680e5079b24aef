#include <gtest/gtest.h>

#include <string>

#include "common/aFile.h"
#include "tests/support/Process.h"

using qctest::TempDir;

class aFileTest : public ::testing::Test {
protected:
    std::string Make(const std::string& name, const std::string& data) {
        std::string path = dir / name;
        qctest::WriteFile(path, data);
        return path;
    }
    TempDir dir;
};

TEST_F(aFileTest, ExistsOnlyForFiles) {
    EXPECT_TRUE(aFile_Exists(Make("f", "x").c_str()));
    EXPECT_FALSE(aFile_Exists(dir.path().c_str()));
    EXPECT_FALSE(aFile_Exists((dir / "missing").c_str()));
    EXPECT_FALSE(aFile_Exists(nullptr));
    EXPECT_FALSE(aFile_Exists(std::string(5000, 'a').c_str()));
}

TEST_F(aFileTest, OpenRefusesBadArguments) {
    EXPECT_EQ(aFile_Open(nullptr, aFileModeReadOnly), nullptr);
    EXPECT_EQ(aFile_Open("", aFileModeReadOnly), nullptr);
    EXPECT_EQ(aFile_Open((dir / "missing").c_str(), aFileModeReadOnly), nullptr);
    EXPECT_EQ(aFile_Open(Make("f", "x").c_str(), 3), nullptr);
    EXPECT_EQ(aFile_Open(("/" + std::string(4100, 'a')).c_str(), aFileModeWriteOnly), nullptr);
}

TEST_F(aFileTest, ModesGuardOperations) {
    std::string path = Make("f", "abc");
    aFileRef r = aFile_Open(path.c_str(), aFileModeReadOnly);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(aFile_Write(r, "x", 1, nullptr), aErrMode);
    EXPECT_EQ(aFile_Printf(r, "%d", 1), aErrMode);
    EXPECT_EQ(aFile_SetUnbuffered(r), aErrMode);
    EXPECT_EQ(aFile_Close(r), aErrNone);
    EXPECT_EQ(r, nullptr);

    aFileRef w = aFile_Open(path.c_str(), aFileModeWriteOnly);
    ASSERT_NE(w, nullptr);
    char buf[4];
    EXPECT_EQ(aFile_Read(w, buf, 4, nullptr), aErrMode);
    size_t len = 0;
    EXPECT_EQ(aFile_ReadLine(w, buf, sizeof(buf), &len), aErrMode);
    EXPECT_EQ(aFile_Printf(w, "%s-%d", "n", 7), aErrNone);
    EXPECT_EQ(aFile_SetUnbuffered(w), aErrNone);
    EXPECT_EQ(aFile_Close(w), aErrNone);
    EXPECT_EQ(qctest::ReadFile(path), "n-7") << "write mode truncates";
}

TEST_F(aFileTest, AppendReadsAndWritesAtTheEnd) {
    std::string path = Make("f", "abc");
    aFileRef a = aFile_Open(path.c_str(), aFileModeAppend);
    ASSERT_NE(a, nullptr);
    size_t pos = 99;
    EXPECT_EQ(aFile_GetPosition(a, &pos), aErrNone);
    EXPECT_EQ(pos, 3u);
    EXPECT_EQ(aFile_Write(a, "de", 2, nullptr), aErrNone);
    EXPECT_EQ(aFile_Seek(a, 0, aSeekStart), aErrNone);
    char buf[8] = {};
    size_t n = 0;
    EXPECT_EQ(aFile_Read(a, buf, sizeof(buf), &n), aErrNone);
    EXPECT_EQ(std::string(buf, n), "abcde");
    aFile_Close(a);
}

TEST_F(aFileTest, ClosedOrForeignHandlesAreRefused) {
    aFileRef none = nullptr;
    EXPECT_EQ(aFile_Close(none), aErrParam);
    char buf[4];
    EXPECT_EQ(aFile_Read(nullptr, buf, 4, nullptr), aErrParam);
    alignas(8) unsigned char garbage[64] = {};
    auto forged = reinterpret_cast<aFileRef>(garbage);
    EXPECT_EQ(aFile_Write(forged, "x", 1, nullptr), aErrParam);
    size_t size;
    EXPECT_EQ(aFile_GetSize(forged, &size), aErrParam);
}

TEST_F(aFileTest, ReadLineCutsLongLinesAndContinues) {
    std::string path = Make("lines", "abcdefg\nabcdef\nlast");
    aFileRef f = aFile_Open(path.c_str(), aFileModeReadOnly);
    ASSERT_NE(f, nullptr);
    char buf[8];
    size_t len = 0;
    EXPECT_EQ(aFile_ReadLine(f, buf, sizeof(buf), &len), aErrOverrun);
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(len, 7u);
    EXPECT_EQ(aFile_ReadLine(f, buf, sizeof(buf), &len), aErrNone);
    EXPECT_STREQ(buf, "\n");
    EXPECT_EQ(aFile_ReadLine(f, buf, sizeof(buf), &len), aErrNone);
    EXPECT_STREQ(buf, "abcdef\n");
    EXPECT_EQ(len, 7u);
    EXPECT_EQ(aFile_ReadLine(f, buf, sizeof(buf), &len), aErrNone);
    EXPECT_STREQ(buf, "last");
    EXPECT_EQ(aFile_ReadLine(f, buf, sizeof(buf), &len), aErrEOF);
    EXPECT_EQ(len, 0u);
    EXPECT_STREQ(buf, "");
    aFile_Close(f);
}

TEST_F(aFileTest, SeekSizeAndPosition) {
    std::string path = Make("f", "0123456789");
    aFileRef f = aFile_Open(path.c_str(), aFileModeReadOnly);
    ASSERT_NE(f, nullptr);
    size_t size = 0, pos = 77;
    EXPECT_EQ(aFile_GetSize(f, &size), aErrNone);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(aFile_GetPosition(f, &pos), aErrNone);
    EXPECT_EQ(pos, 77u) << "position 0 leaves the out-parameter alone";

    EXPECT_EQ(aFile_Seek(f, 4, aSeekStart), aErrNone);
    EXPECT_EQ(aFile_Seek(f, 2, aSeekCurrent), aErrNone);
    EXPECT_EQ(aFile_GetPosition(f, &pos), aErrNone);
    EXPECT_EQ(pos, 6u);
    EXPECT_EQ(aFile_GetSize(f, &size), aErrNone);
    EXPECT_EQ(aFile_GetPosition(f, &pos), aErrNone);
    EXPECT_EQ(pos, 6u) << "size query keeps the position";

    EXPECT_EQ(aFile_Seek(f, 11, aSeekStart), aErrRange);
    EXPECT_EQ(aFile_Seek(f, -7, aSeekCurrent), aErrRange);
    EXPECT_EQ(aFile_GetPosition(f, &pos), aErrNone);
    EXPECT_EQ(pos, 6u) << "a refused seek does not move";

    EXPECT_EQ(aFile_Seek(f, 0, aSeekEnd), aErrNone);
    EXPECT_EQ(aFile_GetPosition(f, &pos), aErrNone);
    EXPECT_EQ(pos, 10u);
    char buf[4];
    size_t n = 5;
    EXPECT_EQ(aFile_Read(f, buf, sizeof(buf), &n), aErrEOF);
    EXPECT_EQ(n, 0u);
    aFile_Close(f);
}

TEST_F(aFileTest, ShortReadIsSuccess) {
    aFileRef f = aFile_Open(Make("f", "ab").c_str(), aFileModeReadOnly);
    char buf[10];
    size_t n = 0;
    EXPECT_EQ(aFile_Read(f, buf, sizeof(buf), &n), aErrNone);
    EXPECT_EQ(n, 2u);
    aFile_Close(f);
}

TEST_F(aFileTest, DeleteResults) {
    std::string path = Make("f", "x");
    EXPECT_EQ(aFile_Delete(path.c_str()), aErrNone);
    EXPECT_FALSE(aFile_Exists(path.c_str()));
    EXPECT_EQ(aFile_Delete(path.c_str()), aErrNotFound);
    EXPECT_EQ(aFile_Delete(nullptr), aErrParam);
    EXPECT_EQ(aFile_Delete(std::string(5000, 'a').c_str()), aErrFileNameLength);
}
