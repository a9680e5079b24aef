#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "common/Log.h"
#include "firmware/KeyValueStore.h"
#include "tests/firmware/TestSupport.h"

namespace {

using Entries = std::map<std::string, std::string>;

class KeyValueStoreTest : public testing::Test {
protected:
    KeyValueStore LoadText(const std::string& text) {
        WriteText(path, text);
        return KeyValueStore(path);
    }

    TempDir dir;
    const std::string path = dir / ".settings";
};

TEST_F(KeyValueStoreTest, ParsesLinesByTheFileSyntax) {
    struct Case {
        std::string text;
        Entries entries;
    } cases[] = {
        {"  BUILD = 1234  \n", {{"BUILD", "1234"}}},
        {"K=V=W\n", {{"K", "V=W"}}},
        {"x=\n", {{"x", ""}}},
        {"x\n", {}},
        {"#a=b\n", {}},
        {"no sign here\n", {}},
        {"ab\n=\n\n", {}},
        {"\tname =  two  words \r\n", {{"name", "two  words"}}},
        {"k=1\nk=2\n", {{"k", "2"}}},
        {"last=no newline", {{"last", "no newline"}}},
        {"a=1\n" + std::string(3000, 'x') + "=long\nb=2\n", {{"a", "1"}}},  // reading ends at a long line
    };
    for (const Case& c : cases) EXPECT_EQ(LoadText(c.text).Entries(), c.entries) << c.text;
}

TEST_F(KeyValueStoreTest, LoadAddsToWhatIsInMemoryAndLeavesTheStoreClean) {
    KeyValueStore store;
    store.Add("kept", "1");
    store.Add("k", "old");
    WriteText(path, "k=new\n");
    store.Load(path);
    EXPECT_EQ(store.Entries(), (Entries{{"kept", "1"}, {"k", "new"}}));
    EXPECT_FALSE(store.IsDirty());
    EXPECT_EQ(store.FileName(), path);
}

TEST_F(KeyValueStoreTest, TypedGettersParseAndInsertAbsentKeys) {
    KeyValueStore store = LoadText(
        "int=12abc\nneg= -7\nhex=0x0000ABCD\nhexbare=abcd\none=1\nzero=0\nword=true\nreal=2.5e1\nempty=\n");
    EXPECT_EQ(store.GetInt("int", 5), 12);
    EXPECT_EQ(store.GetInt("neg", 5), -7);
    EXPECT_EQ(store.GetInt("empty", 5), 5);
    EXPECT_EQ(store.GetHex("hex", 1), 43981u);
    EXPECT_EQ(store.GetHex("hexbare", 1), 43981u);
    EXPECT_TRUE(store.GetBOOL("one", false));
    EXPECT_FALSE(store.GetBOOL("zero", true));
    EXPECT_FALSE(store.GetBOOL("word", true));
    EXPECT_TRUE(store.GetBOOL("empty", true));
    EXPECT_DOUBLE_EQ(store.GetDouble("real", 0), 25.0);

    EXPECT_EQ(store.GetString("absent", "dflt"), "dflt");
    EXPECT_FALSE(store["absent"].has_value());
    EXPECT_EQ(store.Entries().count("absent"), 0u);  // neither inserts

    EXPECT_EQ(store.GetInt("i", 3), 3);
    EXPECT_EQ(store.GetHex("h", 4), 4u);
    EXPECT_TRUE(store.GetBOOL("b", true));
    EXPECT_DOUBLE_EQ(store.GetDouble("d", 1.5), 1.5);
    EXPECT_EQ(store["i"], std::optional<std::string>(""));
    EXPECT_FALSE(store.IsDirty());
    store.Save();
    EXPECT_EQ(ReadText(path),
              "b=\nd=\nempty=\nh=\nhex=0x0000ABCD\nhexbare=abcd\ni=\nint=12abc\nneg=-7\none=1\nreal=2."
              "5e1\nword=true\n"
              "zero=0\n");
}

TEST_F(KeyValueStoreTest, AddFormatsValuesAndTracksChanges) {
    KeyValueStore store;
    EXPECT_TRUE(store.AddHex("hex", 255));
    EXPECT_TRUE(store.Add("real", 1.5));
    EXPECT_TRUE(store.Add("int", -42));
    EXPECT_TRUE(store.Add("text", "a b=c"));
    EXPECT_EQ(store.Entries(),
              (Entries{{"hex", "0x000000FF"}, {"real", "1.500000"}, {"int", "-42"}, {"text", "a b=c"}}));
    EXPECT_TRUE(store.IsDirty());

    store.Save(path);
    EXPECT_FALSE(store.IsDirty());
    store.Add("int", -42);
    store.AddHex("hex", 255);
    EXPECT_FALSE(store.IsDirty());  // the same values again
    store.Add("new", "");
    EXPECT_FALSE(store.IsDirty());  // an absent key counts as empty
    store.Add("int", 7);
    EXPECT_TRUE(store.IsDirty());
}

TEST_F(KeyValueStoreTest, MergeAndClearMarkTheStoreDirty) {
    KeyValueStore store;
    store.Add("a", "1");
    store.Save(path);
    KeyValueStore same;
    same.Add("a", "1");
    store.Add(same);
    EXPECT_TRUE(store.IsDirty());  // even when nothing changed

    KeyValueStore other;
    other.Add("a", "2");
    other.Add("b", "3");
    store.Add(other);
    EXPECT_EQ(store.GetString("a"), "2");
    EXPECT_EQ(store.GetString("b"), "3");

    store.Save();
    store.Add(KeyValueStore());
    EXPECT_FALSE(store.IsDirty());
    store.Clear();
    EXPECT_TRUE(store.IsDirty());
    EXPECT_TRUE(store.Entries().empty());
}

TEST_F(KeyValueStoreTest, MissingFileIsCreatedWithBothTimeStamps) {
    LogCapture log(DEBUG_Attributes);
    KeyValueStore store(path);
    EXPECT_EQ(log.text(), "Attibutes: Error - cannot open attributes file: '" + path + "' (2)\n");
    std::string created = store.GetString(KeyValueStore::KEY_CREATED_TIME);
    EXPECT_TRUE(IsTimeStamp(created)) << created;
    EXPECT_EQ(ReadText(path), "CREATED_TIME=" + created + "\nUPDATED_TIME=" + created + "\n");
    EXPECT_FALSE(store.IsDirty());
    EXPECT_EQ(store.FileName(), path);
}

TEST_F(KeyValueStoreTest, SaveStampsOnlyAChangedStore) {
    WriteText(path, "UPDATED_TIME=long ago\nk=v\n");
    KeyValueStore store(path);
    store.Save();
    EXPECT_EQ(ReadText(path), "UPDATED_TIME=long ago\nk=v\n");
    store.Add("k", "w");
    store.Save();
    std::string stamp = store.GetString(KeyValueStore::KEY_UPDATED_TIME);
    EXPECT_TRUE(IsTimeStamp(stamp)) << stamp;
    EXPECT_EQ(ReadText(path), "UPDATED_TIME=" + stamp + "\nk=w\n");
}

TEST_F(KeyValueStoreTest, SaveWithoutAnyNameUsesTheDefaultInTheWorkingDirectory) {
    char cwd[4096];
    ASSERT_TRUE(getcwd(cwd, sizeof(cwd)));
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    LogCapture log(DEBUG_Attributes);
    KeyValueStore store;
    store.Add("k", "v");
    store.Save();
    EXPECT_EQ(log.text(), "Attibutes: no filename given for attributes, using default:[.settings]\n");
    EXPECT_EQ(chdir(cwd), 0);
    EXPECT_EQ(store.FileName(), ".settings");
    EXPECT_NE(ReadText(path).find("k=v\n"), std::string::npos);
}

TEST_F(KeyValueStoreTest, FailedSaveKeepsTheOldFileAndTheStoreDirty) {
    const std::string old = "UPDATED_TIME=then\nk=old\n";
    WriteText(path, old);
    KeyValueStore store(path);
    store.Add("k", std::string(8192, 'n'));
    {
        FileSizeLimit full(4096);  // the new file does not fit
        LogCapture log(DEBUG_Attributes);
        store.Save();
        EXPECT_EQ(log.text(),
                  "Attibutes: Error - cannot open attributes file for writting: '" + path + "' (27)\n");
    }
    EXPECT_EQ(ReadText(path), old);
    EXPECT_TRUE(store.IsDirty());
    EXPECT_EQ(ListNames(dir.path()), std::vector<std::string>{".settings"});  // no temporary file left

    store.Save();  // room again: the same store now saves
    EXPECT_FALSE(store.IsDirty());
    EXPECT_NE(ReadText(path).find(std::string(8192, 'n')), std::string::npos);
}

TEST_F(KeyValueStoreTest, UnreadableFileIsNotReplaced) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    WriteText(path, "k=kept\n");
    chmod(path.c_str(), 0);
    KeyValueStore store(path);
    chmod(path.c_str(), 0644);
    EXPECT_TRUE(store.Entries().empty());
    EXPECT_EQ(ReadText(path), "k=kept\n");
}

}  // namespace
