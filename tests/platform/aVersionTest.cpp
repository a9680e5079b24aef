#include <gtest/gtest.h>

#include "common/aVersion.h"

TEST(aVersion, LibraryVersion) {
    EXPECT_EQ(aVersion_GetMajor(), 2);
    EXPECT_EQ(aVersion_GetMinor(), 12);
    EXPECT_EQ(aVersion_GetPatch(), 2);
    EXPECT_STREQ(aVersion_GetString(), "2.12.2");
    EXPECT_TRUE(aVersion_IsAtLeast(2, 12, 2));
    EXPECT_TRUE(aVersion_IsAtLeast(1, 99, 99));
    EXPECT_FALSE(aVersion_IsAtLeast(2, 12, 3));
}

TEST(aVersion, PackTable) {
    struct Case {
        uint8_t major, minor, patch;
        uint32_t packed;
        bool legacy;
    } cases[] = {
        {2, 14, 7, 0x2E000007, true},   {2, 15, 7, 0x2F020F07, false}, {3, 0, 1, 0x2F030001, false},
        {1, 10, 255, 0x1A0000FF, true}, {0, 0, 0, 0x00000000, true},   {255, 255, 255, 0x2FFFFFFF, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(aVersion_Pack(c.major, c.minor, c.patch), c.packed);
        EXPECT_EQ(aVersion_IsLegacyFormat(c.packed), c.legacy);
        EXPECT_EQ(aVersion_ParseMajor(c.packed), c.major);
        EXPECT_EQ(aVersion_ParseMinor(c.packed), c.minor);
        EXPECT_EQ(aVersion_ParsePatch(c.packed), c.patch);
    }
}

TEST(aVersion, LegacyPatchIsTwentyFourBits) {
    EXPECT_EQ(aVersion_ParsePatch(0x1A123456), 0x123456u);
    char buf[32];
    EXPECT_EQ(aVersion_ParseString(0x2F020F07, buf, sizeof(buf)), 6);
    EXPECT_STREQ(buf, "2.15.7");
    aVersion_ParseString(0x1A0000FF, buf, sizeof(buf));
    EXPECT_STREQ(buf, "1.10.255");
    char small[4];
    EXPECT_EQ(aVersion_ParseString(0x2F020F07, small, sizeof(small)), 6);
    EXPECT_STREQ(small, "2.1");
}

TEST(aVersion, CompareTable) {
    struct Case {
        uint8_t a[3], b[3];
        bool atLeast;
    } cases[] = {
        {{2, 12, 2}, {2, 12, 2}, true}, {{2, 12, 2}, {2, 12, 3}, false},  {{3, 0, 0}, {2, 99, 99}, true},
        {{2, 10, 4}, {2, 10, 3}, true}, {{2, 9, 200}, {2, 10, 0}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(aVersion_IsAtLeastCompare(c.a[0], c.a[1], c.a[2], c.b[0], c.b[1], c.b[2]), c.atLeast);
    }
}

TEST(aVersion, Features) {
    EXPECT_TRUE(aVersion_HasFeature("VERSION"));
    EXPECT_FALSE(aVersion_HasFeature("VERS"));
    EXPECT_FALSE(aVersion_HasFeature(nullptr));
    char* list = aVersion_GetFeatureList();
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list, "VERSION - Version Query API");
    aVersion_DestroyFeatureList(list);
    EXPECT_EQ(list, nullptr);
}
