#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "common/Log.h"
#include "firmware/UpdaterStore.h"
#include "tests/firmware/TestSupport.h"
#include "tools/birdtool/BirdWriter.h"

namespace {

class UpdaterStoreTest : public testing::Test {
protected:
    void SetUp() override { umask(022); }

    static std::string ErrorOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "(no error)";
    }

    static mode_t Mode(const std::string& path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }

    TempDir dir;
    const std::string root = dir / "home/.tarnwell/updater";
};

TEST_F(UpdaterStoreTest, BuildPathJoinsWithoutMergingSeparators) {
    EXPECT_EQ(BuildPath("/data/fw", "updater", nullptr), "/data/fw/updater");
    EXPECT_EQ(BuildPath("a/", "/b", "c", nullptr), "a///b/c");
    EXPECT_EQ(BuildPath("alone", nullptr), "alone");
    EXPECT_EQ(SerialText(0xABCD), "0000ABCD");
}

TEST_F(UpdaterStoreTest, FreshAccountGetsRootDeviceDirectoryAndAttributes) {
    UpdaterStore store(root);
    EXPECT_EQ(store.BasePath(), root);
    EXPECT_EQ(Mode(root), 0755u);
    EXPECT_EQ(Mode(dir / "home/.tarnwell"), 0755u);

    UpdaterStoreItem device = store.AddDevice(0x40F5849A);
    EXPECT_EQ(device.BasePath(), root);
    EXPECT_EQ(device.Name(), "40F5849A");
    EXPECT_EQ(device.Kind(), STORE_ITEM_DIRECTORY);
    EXPECT_TRUE(device.IsValid());
    EXPECT_EQ(Mode(root + "/40F5849A"), 0755u);
    EXPECT_EQ(ListNames(root + "/40F5849A"), std::vector<std::string>{".settings"});
    std::string stamp = device.Attributes().GetString("CREATED_TIME");
    EXPECT_TRUE(IsTimeStamp(stamp));
    EXPECT_EQ(ReadText(root + "/40F5849A/.settings"),
              "CREATED_TIME=" + stamp + "\nUPDATED_TIME=" + stamp + "\n");

    // What the download and update operations then record, byte for byte.
    const std::vector<uint8_t> bird = BirdWriter().File();
    EXPECT_EQ(device.WriteFile("1234.bird", bird.data(), bird.size()), aErrNone);
    KeyValueStore& attributes = device.Attributes();
    attributes.Add("LATEST_DOWNLOAD", "1234.bird");
    attributes.Add("LAST_DOWNLOAD_DATE", "Wed Jun  9 04:05:06 2021");
    attributes.Add("LATEST_TRANSFER", "fw/x.bird");
    attributes.Save();
    std::string updated = attributes.GetString("UPDATED_TIME");
    EXPECT_EQ(ReadText(root + "/40F5849A/.settings"),
              "CREATED_TIME=" + stamp +
                  "\nLAST_DOWNLOAD_DATE=Wed Jun  9 04:05:06 2021\nLATEST_DOWNLOAD=1234.bird\n"
                  "LATEST_TRANSFER=fw/x.bird\nUPDATED_TIME=" +
                  updated + "\n");
    EXPECT_EQ(ListNames(root + "/40F5849A"), (std::vector<std::string>{".settings", "1234.bird"}));
    EXPECT_EQ(ReadBytes(root + "/40F5849A/1234.bird"), bird);

    // Adding it again keeps what is there.
    UpdaterStoreItem again = store.AddDevice("40F5849A");
    EXPECT_EQ(again.Attributes().GetString("LATEST_DOWNLOAD"), "1234.bird");
}

TEST_F(UpdaterStoreTest, PlainFilesWhereDirectoriesBelongAreErrors) {
    ASSERT_EQ(mkdir(dir.path().c_str(), 0755) == 0 || errno == EEXIST, true);
    UpdaterStore store(dir / "updater");
    WriteText(dir / "updater/0000ABCD", "x");
    EXPECT_EQ(ErrorOf([&] { store.AddDevice(0xABCD); }),
              "UpdaterStore: " + (dir / "updater/0000ABCD") + " exists and is a file");

    WriteText(dir / "file", "x");
    EXPECT_EQ(ErrorOf([&] { UpdaterStore s(dir / "file"); }),
              "UpdaterStore: " + (dir / "file") + " exists and is a file");
    EXPECT_EQ(ErrorOf([&] { UpdaterStore s(dir / "file/updater"); }),
              "UpdaterStore: Could not create directory " + (dir / "file/updater") + " error 12");
}

TEST_F(UpdaterStoreTest, CreateUpdaterStoreShowsTheFailure) {
    WriteText(dir / "file", "x");
    RecordingDisplay display;
    EXPECT_EQ(_createUpdaterStore(display, dir / "file", "load_bird"), nullptr);
    ASSERT_EQ(display.lines.size(), 1u);
    EXPECT_EQ(display.lines[0].first, UpdaterDisplayInterface::ERROR);
    EXPECT_EQ(display.lines[0].second,
              "Failed to Create UpdaterStore in: load_bird - Exception: UpdaterStore: " + (dir / "file") +
                  " exists and is a file");

    auto store = _createUpdaterStore(display, root, "load_bird");
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->BasePath(), root);
    EXPECT_EQ(display.lines.size(), 1u);
}

TEST_F(UpdaterStoreTest, EnsureDirectoryLogsWhatItDid) {
    LogCapture log(DEBUG_Updater);
    _ensure_directory(root);
    _ensure_directory(root);
    EXPECT_EQ(log.text(), "UpdaterStore: Created directory [" + root + "].\nUpdaterStore: [" + root +
                              "] already exists.\n");
}

TEST_F(UpdaterStoreTest, FindDeviceTakesTheFirstEntryContainingTheSerial) {
    UpdaterStore store(root);
    UpdaterStoreItem item;
    {
        LogCapture log(DEBUG_Updater);
        EXPECT_FALSE(store.FindDevice(0xABCD, &item));
        EXPECT_EQ(log.text(), "UpdaterStore: FindDevice Not Found 0000ABCD.\n");
    }
    EXPECT_EQ(item.Kind(), STORE_ITEM_NONE);
    EXPECT_FALSE(item.IsValid());

    store.AddDevice(0xABCD).Attributes();
    {
        LogCapture log(DEBUG_Updater);
        EXPECT_TRUE(store.FindDevice(0xABCD, &item));
        struct stat st;
        ASSERT_EQ(stat((root + "/0000ABCD").c_str(), &st), 0);
        EXPECT_EQ(log.text(), "_find_item([" + root + "/0000ABCD], 1, " + std::to_string(st.st_size) +
                                  ") searching for 0000ABCD\n" +
                                  "UpdaterStore: FindDevice Found 0000ABCD.\n");
    }
    EXPECT_EQ(item.BasePath(), root);
    EXPECT_EQ(item.Name(), "0000ABCD");
    EXPECT_EQ(item.Kind(), STORE_ITEM_DIRECTORY);
    EXPECT_TRUE(IsTimeStamp(item.Attributes().GetString("CREATED_TIME")));
    EXPECT_TRUE(store.FindDevice("ABCD"));  // a part of the name is enough

    WriteText(root + "/0000ABCD.old", "x");
    EXPECT_TRUE(store.FindDevice(0xABCD, &item));
    EXPECT_TRUE((item.Name() == "0000ABCD" && item.Kind() == STORE_ITEM_DIRECTORY) ||
                (item.Name() == "0000ABCD.old" && item.Kind() == STORE_ITEM_FILE))
        << item.Name();
    EXPECT_EQ(ListNames(root), (std::vector<std::string>{"0000ABCD", "0000ABCD.old"}));  // nothing created
}

TEST_F(UpdaterStoreTest, FindLocalBuildsListsTheDeviceFilesButNotDotFiles) {
    UpdaterStore store(root);
    std::vector<UpdaterStoreItem> items(1);  // the list is not cleared
    EXPECT_TRUE(store.FindLocalBuilds(0x1234, items));
    EXPECT_EQ(items.size(), 1u);

    UpdaterStoreItem device = store.AddDevice(0x1234);
    const std::vector<uint8_t> bytes = {1, 2, 3};
    device.WriteFile("1234.bird", bytes.data(), bytes.size());
    device.WriteFile("1300.bird", bytes.data(), bytes.size());
    EXPECT_TRUE(store.FindLocalBuilds(0x1234, items));
    ASSERT_EQ(items.size(), 3u);
    std::vector<std::string> names = {items[1].Name(), items[2].Name()};
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"1234.bird", "1300.bird"}));
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_EQ(items[i].BasePath(), root + "/00001234");
        EXPECT_EQ(items[i].Kind(), STORE_ITEM_FILE);
    }
    EXPECT_EQ(ListNames(root + "/00001234"),
              (std::vector<std::string>{".settings", "1234.bird", "1300.bird"}));
}

TEST_F(UpdaterStoreTest, ReadBirdFileRejectsWhatIsNotABirdFile) {
    UpdaterStore store(root);
    UpdaterStoreItem device = store.AddDevice(0x1234);
    const std::string base = root + "/00001234/";
    WriteBytes(base + "5.bird", {'b', 'i', 'r', 'd', 1});
    BirdWriter corrupt;
    corrupt.truncateBody = 2;
    WriteBytes(base + "6.bird", corrupt.File());
    BirdWriter good;
    good.AddInfo(1300, "3.0.1", 0x1234, "HUB");
    WriteBytes(base + "1300.bird", good.File());

    EXPECT_EQ(ErrorOf([&] { device.ReadBirdFile("5.bird"); }), "Invalid bird " + base + "5.bird");
    EXPECT_EQ(ErrorOf([&] { device.ReadBirdFile("missing.bird"); }), "Invalid bird " + base + "missing.bird");
    EXPECT_EQ(ErrorOf([&] { device.ReadBirdFile("6.bird"); }), "Failed to load bird data");
    BirdFile bird = device.ReadBirdFile("1300.bird");
    EXPECT_EQ(bird.GetBuild(), 1300u);
    EXPECT_EQ(bird.GetPath(), base + "1300.bird");
}

TEST_F(UpdaterStoreTest, WriteFileReplacesTheFileWhole) {
    UpdaterStore store(root);
    UpdaterStoreItem device = store.AddDevice(0x1234);
    const std::vector<uint8_t> first(1000, 1), second = {9, 8, 7};
    EXPECT_EQ(device.WriteFile("1.bird", nullptr, 5), aErrNotFound);
    EXPECT_EQ(device.WriteFile("1.bird", first.data(), 0), aErrNotFound);
    EXPECT_EQ(device.WriteFile("1.bird", first.data(), first.size()), aErrNone);
    EXPECT_EQ(device.WriteFile("1.bird", second.data(), second.size()), aErrNone);
    EXPECT_EQ(ReadBytes(root + "/00001234/1.bird"), second);
    EXPECT_EQ(Mode(root + "/00001234/1.bird"), 0644u);
    EXPECT_TRUE(device.FileExists("1.bird"));
    EXPECT_TRUE(device.FileExists("1."));
    EXPECT_FALSE(device.FileExists("2.bird"));

    UpdaterStoreItem missing(root, "nodir", STORE_ITEM_DIRECTORY);
    EXPECT_EQ(missing.WriteFile("1.bird", first.data(), first.size()), aErrNotFound);  // no directory made
    EXPECT_EQ(ListNames(root), std::vector<std::string>{"00001234"});
}

TEST_F(UpdaterStoreTest, FailedWriteLeavesTheOldFileIntact) {
    UpdaterStore store(root);
    UpdaterStoreItem device = store.AddDevice(0x1234);
    const std::vector<uint8_t> old(100, 0x11), big(64 * 1024, 0x22);
    ASSERT_EQ(device.WriteFile("1.bird", old.data(), old.size()), aErrNone);
    {
        FileSizeLimit full(8192);
        EXPECT_EQ(device.WriteFile("1.bird", big.data(), big.size()), aErrIO);
    }
    EXPECT_EQ(ReadBytes(root + "/00001234/1.bird"), old);
    EXPECT_EQ(ListNames(root + "/00001234"), (std::vector<std::string>{".settings", "1.bird"}));
}

TEST_F(UpdaterStoreTest, CommitCheckDecidesWhetherTheFileIsReplaced) {
    UpdaterStore store(root);
    UpdaterStoreItem device = store.AddDevice(0x1234);
    const std::vector<uint8_t> old(100, 0x11), next(200, 0x22);
    ASSERT_EQ(device.WriteFile("1.bird", old.data(), old.size()), aErrNone);
    bool asked = false;
    auto refuse = [&] {
        // Asked when the new bytes are complete on disk, beside the old file.
        asked = ListNames(root + "/00001234").size() == 3;
        return false;
    };
    EXPECT_EQ(device.WriteFile("1.bird", next.data(), next.size(), refuse), aErrCancel);
    EXPECT_TRUE(asked);
    EXPECT_EQ(ReadBytes(root + "/00001234/1.bird"), old);
    EXPECT_EQ(ListNames(root + "/00001234"), (std::vector<std::string>{".settings", "1.bird"}));
    EXPECT_EQ(device.WriteFile("1.bird", next.data(), next.size(), [] { return true; }), aErrNone);
    EXPECT_EQ(ReadBytes(root + "/00001234/1.bird"), next);
}

TEST_F(UpdaterStoreTest, WriteIntoReadOnlyDirectoryFailsCleanly) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only directories; the size-limit test covers this";
    UpdaterStore store(root);
    UpdaterStoreItem device = store.AddDevice(0x1234);
    const std::vector<uint8_t> old(100, 0x11), next(100, 0x22);
    ASSERT_EQ(device.WriteFile("1.bird", old.data(), old.size()), aErrNone);
    chmod((root + "/00001234").c_str(), 0555);
    EXPECT_EQ(device.WriteFile("1.bird", next.data(), next.size()), aErrNotFound);
    device.Attributes().Add("k", "v");
    device.Attributes().Save();
    EXPECT_TRUE(device.Attributes().IsDirty());
    chmod((root + "/00001234").c_str(), 0755);
    EXPECT_EQ(ReadBytes(root + "/00001234/1.bird"), old);
    EXPECT_EQ(ReadText(root + "/00001234/.settings").find("k=v"), std::string::npos);
}

TEST_F(UpdaterStoreTest, ItemsAreCopyableValues) {
    UpdaterStore store(root);
    UpdaterStoreItem device = store.AddDevice(0x1234);
    device.Attributes().Add("k", "v");
    UpdaterStoreItem copy = device;
    EXPECT_EQ(copy.Path(), root + "/00001234");
    EXPECT_EQ(copy.Attributes().GetString("k"), "v");
    EXPECT_TRUE(copy.Attributes().IsDirty());
    copy.Attributes().Add("k", "w");
    EXPECT_EQ(device.Attributes().GetString("k"), "v");
    UpdaterStoreItem assigned;
    assigned = copy;
    EXPECT_EQ(assigned.Name(), "00001234");
}

}  // namespace
