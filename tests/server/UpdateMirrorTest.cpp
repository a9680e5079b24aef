// The update mirror's protocol side, without HTTP: what it refuses and how
// it signs tokens.
#include <gtest/gtest.h>

#include "tests/support/MirrorProcess.h"
#include "tests/support/Process.h"
#include "tools/birdtool/BirdWriter.h"
#include "tools/update-mirror/UpdateMirror.h"

using qctest::MirrorProcess;
using qctest::ReadFile;
using qctest::ReadLines;
using qctest::UnusedPort;
using qctest::WriteFile;

TEST(UpdateMirror, MintsTheStandardHs256Token) {
    EXPECT_EQ(UpdateMirror::MintJwt("your-256-bit-secret",
                                    R"({"sub":"1234567890","name":"John Doe","iat":1516239022})"),
              "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9."
              "eyJzdWIiOiIxMjM0NTY3ODkwIiwibmFtZSI6IkpvaG4gRG9lIiwiaWF0IjoxNTE2MjM5MDIyfQ."
              "SflKxwRJSMeKKF2QT4fwpMeJf36POk6yJV_adQssw5c");
}

TEST(UpdateMirror, FingerprintIsFourHexWords) {
    std::array<uint32_t, 4> words{};
    ASSERT_TRUE(UpdateMirror::ParseFingerprint("0000000A 0000000b  C\td", words));
    EXPECT_EQ(words, (std::array<uint32_t, 4>{0xA, 0xB, 0xC, 0xD}));
    EXPECT_FALSE(UpdateMirror::ParseFingerprint("A B C", words));
    EXPECT_FALSE(UpdateMirror::ParseFingerprint("A B C D E", words));
    EXPECT_FALSE(UpdateMirror::ParseFingerprint("A B C 123456789", words));
    EXPECT_FALSE(UpdateMirror::ParseFingerprint("A B C -1", words));
}

struct RefusedQuery {
    std::map<std::string, std::string> query;
    const char* why;
};

TEST(UpdateMirror, QueriesThatNameNothingStoredAreRefused) {
    qctest::TempDir dir;
    WriteFile(dir / "0000ABCD/1200.bird", BirdWriter_SimpleFile(1200, "2.10.1", 0xABCD, "QC-HUB", 100));
    WriteFile(dir / "secret.bird", "outside any device");
    MirrorSettings settings;
    settings.root = dir.path();
    UpdateMirror mirror(settings);
    const RefusedQuery cases[] = {
        {{}, "no operation"},
        {{{"op", "nope"}}, "unknown operation"},
        {{{"op", "qu"}}, "no serial number"},
        {{{"op", "qu"}, {"sn", "../0000ABCD"}}, "path in serial number"},
        {{{"op", "qu"}, {"sn", "123456789"}}, "serial number over 32 bits"},
        {{{"op", "qu"}, {"sn", "00001234"}}, "unknown device"},
        {{{"op", "builds"}, {"sn", "00001234"}}, "no builds for an unknown device"},
        {{{"op", "bird"}, {"sn", "0000ABCD"}, {"bld", "../secret"}}, "path in build"},
        {{{"op", "bird"}, {"sn", "0000ABCD"}, {"bld", "1200.bird"}}, "file name as build"},
        {{{"op", "bird"}, {"sn", "0000ABCD"}, {"bld", "4294967296"}}, "build over 32 bits"},
        {{{"op", "bird"}, {"sn", "0000ABCD"}, {"bld", "1201"}}, "unknown build"},
        {{{"op", "fix"}, {"fp", "1 2 3 4"}}, "unknown fingerprint"},
        {{{"op", "fix"}, {"fp", "1 2 3"}}, "short fingerprint"},
        {{{"op", "ent_jwt"}, {"sn", "0000ABCD"}}, "no token"},
    };
    for (const RefusedQuery& c : cases) {
        const MirrorAnswer answer = mirror.Respond(c.query);
        EXPECT_EQ(answer.status, 200) << c.why;
        EXPECT_EQ(answer.body.substr(0, 7), "error: ") << c.why;
    }
    const MirrorAnswer found = mirror.Respond({{"op", "bird"}, {"sn", "abcd"}, {"bld", "01200"}});
    EXPECT_EQ(found.body.substr(0, 3), "ok\n") << "short and lower-case serial, leading zero in build";
}

TEST(UpdateMirror, LatestBuildIsTheHighestNumber) {
    qctest::TempDir dir;
    WriteFile(dir / "0000ABCD/999.bird", BirdWriter_SimpleFile(999, "3.0.0", 0xABCD, "QC-HUB", 100));
    WriteFile(dir / "0000ABCD/1200.bird", BirdWriter_SimpleFile(1200, "2.10.1", 0xABCD, "QC-HUB", 100));
    MirrorSettings settings;
    settings.root = dir.path();
    UpdateMirror mirror(settings);
    EXPECT_EQ(mirror.Respond({{"op", "qu"}, {"sn", "0000ABCD"}}).body, "ok\n1200\nquillcore\n");
}

TEST(UpdateMirror, VersionsComeFromEachFileAndFollowItsChanges) {
    qctest::TempDir dir;
    WriteFile(dir / "0000ABCD/1200.bird", BirdWriter_SimpleFile(1200, "2.10.1", 0xABCD, "QC-HUB", 100));
    WriteFile(dir / "0000ABCD/1300.bird", BirdWriter_SimpleFile(1300, "2.12.0 beta", 0xABCD, "QC-HUB", 100));
    WriteFile(dir / "0000ABCD/1400.bird", "bird\x01\x01 but no zlib body");
    MirrorSettings settings;
    settings.root = dir.path();
    UpdateMirror mirror(settings);
    EXPECT_EQ(mirror.Respond({{"op", "builds"}, {"sn", "0000ABCD"}}).body,
              "ok\n1200;2.10.1\n1300;2.12.0\n1400;\n");

    WriteFile(dir / "0000ABCD/1200.bird", BirdWriter_SimpleFile(1200, "2.10.2", 0xABCD, "QC-HUB", 200));
    EXPECT_EQ(mirror.Builds(0xABCD),
              (std::map<uint32_t, std::string>{{1200, "2.10.2"}, {1300, "2.12.0"}, {1400, ""}}));
}
