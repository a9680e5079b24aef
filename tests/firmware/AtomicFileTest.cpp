// AtomicFileWriter: the target changes only on Commit, as a whole, and no
// temporary file outlives the writer whatever happens.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "firmware/AtomicFile.h"
#include "firmware/UpdaterStore.h"
#include "tests/firmware/TestSupport.h"

namespace {

class AtomicFileTest : public testing::Test {
protected:
    void SetUp() override {
        umask(022);
        WriteBytes(target, old);
    }

    std::vector<std::string> Names() const { return ListNames(dir.path()); }
    bool HasTemporary() const { return Names().size() > 1; }

    TempDir dir;
    const std::string target = dir / "1.bird";
    const std::vector<uint8_t> old = std::vector<uint8_t>(100, 0x11);
};

std::vector<uint8_t> Pattern(size_t length) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

std::vector<uint8_t> Bytes(std::span<const uint8_t> view) { return {view.begin(), view.end()}; }

}  // namespace

TEST_F(AtomicFileTest, PiecesReplaceTheTargetOnlyOnCommit) {
    const std::vector<uint8_t> next = Pattern(3 << 20);  // several write-back spans
    AtomicFileWriter writer(target);
    ASSERT_EQ(writer.Error(), aErrNone);
    for (size_t at = 0; at < next.size(); at += 100000)
        ASSERT_EQ(writer.Append(next.data() + at, std::min<size_t>(100000, next.size() - at)), aErrNone);
    EXPECT_EQ(ReadBytes(target), old);
    ASSERT_TRUE(HasTemporary());
    EXPECT_EQ(Names().front()[0], '.') << "store listings skip dot names";
    EXPECT_EQ(writer.TemporaryPath(), dir / Names().front());

    const std::span<const uint8_t> view = writer.View();
    EXPECT_EQ(Bytes(view), next);
    bool asked = false;
    EXPECT_EQ(writer.Commit([&] {
        asked = true;
        return ReadBytes(target) == old;  // asked while the old file is still in place
    }),
              aErrNone);
    EXPECT_TRUE(asked);
    EXPECT_EQ(ReadBytes(target), next);
    EXPECT_EQ(Names(), std::vector<std::string>{"1.bird"});
    EXPECT_EQ(writer.TemporaryPath(), "");
    EXPECT_EQ(Bytes(view), next) << "the view outlives the commit";
    EXPECT_EQ(writer.Commit(), aErrMode);
    EXPECT_EQ(writer.Append(next.data(), 1), aErrMode);
}

TEST_F(AtomicFileTest, AbortRefusalAndDestructionLeaveTheTargetAndNoTemporary) {
    const std::vector<uint8_t> next = Pattern(5000);
    {
        AtomicFileWriter writer(target);
        writer.Append(next.data(), next.size());
        writer.Abort();
        EXPECT_EQ(writer.Error(), aErrCancel);
        EXPECT_FALSE(HasTemporary());
        EXPECT_EQ(writer.Append(next.data(), next.size()), aErrMode);
        EXPECT_EQ(writer.Commit(), aErrMode);
    }
    {
        AtomicFileWriter writer(target);
        writer.Append(next.data(), next.size());
        EXPECT_EQ(writer.Commit([] { return false; }), aErrCancel);
        EXPECT_FALSE(HasTemporary());
    }
    {
        AtomicFileWriter writer(target);
        writer.Append(next.data(), next.size());
        ASSERT_TRUE(HasTemporary());
    }
    EXPECT_FALSE(HasTemporary());
    EXPECT_EQ(ReadBytes(target), old);
}

TEST_F(AtomicFileTest, MovedWriterKeepsItsTemporaryFile) {
    const std::vector<uint8_t> next = Pattern(5000);
    AtomicFileWriter moved(dir / "unused");
    {
        AtomicFileWriter writer(target);
        writer.Append(next.data(), 2000);
        moved = std::move(writer);  // drops the temporary of "unused"
    }
    ASSERT_EQ(Names().size(), 2u);
    AtomicFileWriter again(std::move(moved));
    EXPECT_EQ(again.Append(next.data() + 2000, 3000), aErrNone);
    EXPECT_EQ(Bytes(again.View()), next);
    EXPECT_EQ(again.Commit(), aErrNone);
    EXPECT_EQ(ReadBytes(target), next);
    EXPECT_EQ(Names(), std::vector<std::string>{"1.bird"});
}

TEST_F(AtomicFileTest, FailedWriteStopsTheWriterAndCommitRemovesTheTemporary) {
    const std::vector<uint8_t> next = Pattern(64 * 1024);
    AtomicFileWriter writer(target);
    {
        FileSizeLimit full(8192);
        EXPECT_EQ(writer.Append(next.data(), 4096), aErrNone);
        EXPECT_EQ(writer.Append(next.data() + 4096, 8192), aErrIO);
        EXPECT_EQ(writer.SystemError(), EFBIG);
    }
    EXPECT_EQ(writer.Append(next.data() + 12288, 100), aErrIO) << "nothing more is written";
    EXPECT_EQ(Bytes(writer.View()), std::vector<uint8_t>(next.begin(), next.begin() + 4096))
        << "what was written before the failure can be read back";
    bool asked = false;
    EXPECT_EQ(writer.Commit([&] { return asked = true; }), aErrIO);
    EXPECT_FALSE(asked);
    EXPECT_EQ(ReadBytes(target), old);
    EXPECT_FALSE(HasTemporary());
}

TEST_F(AtomicFileTest, MissingDirectoryIsNotFoundAndNothingIsMade) {
    AtomicFileWriter writer(dir / "missing/1.bird");
    EXPECT_EQ(writer.Error(), aErrNotFound);
    EXPECT_EQ(writer.SystemError(), ENOENT);
    EXPECT_EQ(writer.Append("x", 1), aErrNotFound);
    EXPECT_TRUE(writer.View().empty());
    EXPECT_EQ(writer.Commit(), aErrNotFound);
    EXPECT_EQ(Names(), std::vector<std::string>{"1.bird"});
}

TEST_F(AtomicFileTest, StoreHandsAWriterForAFileOfTheDevice) {
    UpdaterStore store(dir / "updater");
    UpdaterStoreItem device = store.AddDevice(0x1234);
    const std::vector<uint8_t> next = Pattern(300);
    AtomicFileWriter writer = device.FileWriter("7.bird");
    EXPECT_EQ(writer.Path(), dir / "updater/00001234/7.bird");
    writer.Append(next.data(), next.size());
    EXPECT_EQ(writer.Commit(), aErrNone);
    EXPECT_EQ(ReadBytes(dir / "updater/00001234/7.bird"), next);
    EXPECT_EQ(ListNames(dir / "updater/00001234"), (std::vector<std::string>{".settings", "7.bird"}));
}
