#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>

#include "common/aDirectory.h"
#include "tests/support/Process.h"

using qctest::TempDir;

TEST(aDirectory, EnsureMakesEveryMissingParentWithTheMode) {
    TempDir dir;
    std::string deep = dir / "a/b//c/d";
    mode_t old = umask(0);
    EXPECT_EQ(aDirectory_Ensure(deep.c_str(), 0750), aErrNone);
    umask(old);
    EXPECT_TRUE(aDirectory_Exists(deep.c_str()));
    struct stat st;
    ASSERT_EQ(stat((dir / "a/b").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
    EXPECT_EQ(aDirectory_Ensure(deep.c_str(), 0750), aErrNone) << "existing directory is no error";
    EXPECT_EQ(aDirectory_Ensure((deep + "/").c_str(), 0750), aErrNone);
}

TEST(aDirectory, EnsureFailsWhereAFileBlocksThePath) {
    TempDir dir;
    qctest::WriteFile(dir / "file", "x");
    EXPECT_EQ(aDirectory_Ensure((dir / "file/sub/deeper").c_str(), 0755), aErrPermission);
    EXPECT_EQ(aDirectory_Ensure((dir / "file").c_str(), 0755), aErrPermission);
    EXPECT_FALSE(aDirectory_Exists((dir / "file").c_str()));
}

TEST(aDirectory, EnsureRelativePath) {
    TempDir dir;
    std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    aErr err = aDirectory_Ensure("rel/one/two", 0755);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(err, aErrNone);
    EXPECT_TRUE(aDirectory_Exists((dir / "rel/one/two").c_str()));
}

struct Listing {
    std::map<std::string, std::pair<size_t, bool>> seen;
    int stopAfter = -1;
};

static bool sCollect(const aDirectoryListData* data, void* ref) {
    auto* l = static_cast<Listing*>(ref);
    std::string name = std::filesystem::path(data->path).filename();
    l->seen[name] = {data->size, data->isDirectory};
    return l->stopAfter < 0 || static_cast<int>(l->seen.size()) < l->stopAfter;
}

TEST(aDirectory, ListGivesEveryEntryWithSizeAndKind) {
    TempDir dir;
    qctest::WriteFile(dir / "five", "12345");
    ASSERT_EQ(aDirectory_Ensure((dir / "sub").c_str(), 0755), aErrNone);
    Listing l;
    EXPECT_EQ(aDirectory_List(dir.path().c_str(), sCollect, &l), aErrNone);
    EXPECT_EQ(l.seen.size(), 4u) << "\".\" and \"..\" are listed too";
    EXPECT_EQ(l.seen["five"], std::make_pair(size_t{5}, false));
    EXPECT_TRUE(l.seen["sub"].second);
    EXPECT_EQ(l.seen.count("."), 1u);

    Listing one;
    one.stopAfter = 1;
    EXPECT_EQ(aDirectory_List(dir.path().c_str(), sCollect, &one), aErrNone);
    EXPECT_EQ(one.seen.size(), 1u) << "false from the callback ends the listing";
    EXPECT_EQ(aDirectory_List((dir / "missing").c_str(), sCollect, &l), aErrNotFound);
}

TEST(aDirectory, DeleteAndDeleteTree) {
    TempDir dir;
    ASSERT_EQ(aDirectory_Ensure((dir / "t/a/b").c_str(), 0755), aErrNone);
    qctest::WriteFile(dir / "t/a/b/f", "x");
    qctest::WriteFile(dir / "t/g", "y");
    EXPECT_EQ(aDirectory_Delete((dir / "t").c_str()), aErrUnknown) << "not empty";
    EXPECT_EQ(aDirectory_DeleteTree((dir / "t").c_str()), aErrNone);
    EXPECT_FALSE(std::filesystem::exists(dir / "t"));
    ASSERT_EQ(aDirectory_Ensure((dir / "e").c_str(), 0755), aErrNone);
    EXPECT_EQ(aDirectory_Delete((dir / "e").c_str()), aErrNone);
    EXPECT_EQ(aDirectory_Delete((dir / "e").c_str()), aErrUnknown);
}

TEST(aDirectory, ProcessPaths) {
    char buf[4096];
    EXPECT_EQ(aDirectory_CWD(buf, sizeof(buf)), aErrNone);
    EXPECT_EQ(std::string(buf), std::filesystem::current_path().string());
    EXPECT_EQ(aDirectory_CWD(buf, 2), aErrParam);

    EXPECT_EQ(aDirectory_ExecutableFilePath(buf, sizeof(buf)), aErrNone);
    EXPECT_EQ(std::string(buf), std::filesystem::read_symlink("/proc/self/exe").string());
    char small[5];
    EXPECT_EQ(aDirectory_ExecutableFilePath(small, sizeof(small)), aErrNone);
    EXPECT_EQ(std::string(small), std::string(buf).substr(0, 4));

    EXPECT_EQ(aDirectory_GetHomeDirectory(buf, sizeof(buf)), aErrNone);
    EXPECT_NE(buf[0], '\0');
}

TEST(aDirectory, BuildPathJoinsWithOneSeparator) {
    struct Case {
        const char* a;
        const char* b;
        const char* c;
        const char* expected;
    } cases[] = {
        {"/home/u", ".tarnwell", "updater", "/home/u/.tarnwell/updater"},
        {"/home/u/", ".tarnwell", "updater", "/home/u/.tarnwell/updater"},
        {"/home/u", "/.tarnwell", "updater", "/home/u/.tarnwell/updater"},
        {"/home/u/", "/x", "", "/home/u//x/"},
        {"", "a", "b", "a/b"},
    };
    for (const Case& c : cases) {
        char buf[256];
        EXPECT_EQ(aDirectory_BuildPath(buf, sizeof(buf), c.a, c.b, c.c, nullptr), aErrNone);
        EXPECT_STREQ(buf, c.expected);
    }
    char buf[8];
    EXPECT_EQ(aDirectory_JoinPath(buf, sizeof(buf), "abc", "defg"), aErrOverrun);
    EXPECT_EQ(aDirectory_JoinPath(buf, sizeof(buf), "abc", "def"), aErrNone);
    EXPECT_STREQ(buf, "abc/def");
    EXPECT_EQ(aDirectory_JoinPath(buf, sizeof(buf), buf, "x"), aErrParam) << "buffer as a component";
    EXPECT_EQ(aDirectory_JoinPath(nullptr, 8, "a", "b"), aErrParam);
    char big[64];
    EXPECT_EQ(
        aDirectory_BuildPath(big, sizeof(big), "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", nullptr),
        aErrNone);
    EXPECT_EQ(aDirectory_BuildPath(big, sizeof(big), "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11",
                                   nullptr),
              aErrParam);
}
