#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/Log.h"
#include "common/UpdaterDisplay.h"

namespace {

std::string sCapture(FILE* f) {
    fflush(f);
    rewind(f);
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) s.append(buf, n);
    return s;
}

class Recorder : public UpdaterDisplayInterface {
public:
    void display_progress(bool) override { ++progress; }
    void update_progress(double, char const*) override { ++progress; }
    void update_spinner(bool, char const*) override { ++progress; }
    void info_message(char const* t) override { info.push_back(t); }
    void error_message(char const* t) override { errors.push_back(t); }
    std::vector<std::string> info, errors;
    int progress = 0;
};

}  // namespace

TEST(Log, PackagesFilterLines) {
    FILE* f = tmpfile();
    Log::SetOutput(f);
    Log::DeactivatePackage(0xFFFFFFFF);
    Log::log(0x400, "hidden\n");
    Log::log(0, "always %d\n", 1);
    Log::ActivatePackage(0x400);
    Log::ActivatePackage(0x8);
    Log::log(0x400, "firm\n");
    Log::log(0x8, "bird\n");
    Log::DeactivatePackage(0x400);
    Log::log(0x400, "gone\n");
    Log::log(0x408, "shares a bit\n");
    Log::log(0x20, "server");
    EXPECT_EQ(sCapture(f), "always 1\nfirm\nbird\nshares a bit\n");
    Log::SetOutput(nullptr);
    Log::log(0, "nowhere\n");
    Log::DeactivatePackage(0xFFFFFFFF);
    fclose(f);
}

TEST(Log, LinesAreCutAt2047Characters) {
    FILE* f = tmpfile();
    Log::SetOutput(f);
    Log::log(0, "%s", std::string(5000, 'x').c_str());
    EXPECT_EQ(sCapture(f).size(), 2047u);
    Log::SetOutput(nullptr);
    fclose(f);
}

TEST(UpdaterDisplay, MessagesRouteByLevelAndMute) {
    Recorder r;
    r.message(UpdaterDisplayInterface::INFO, "info %d", 1);
    r.message(UpdaterDisplayInterface::ERROR, "error %s", "two");
    r.message(7, "odd level is information");
    r.message(UpdaterDisplayInterface::INFO, "%s", std::string(3000, 'y').c_str());
    EXPECT_EQ(r.info.size(), 3u);
    EXPECT_EQ(r.errors, std::vector<std::string>{"error two"});
    EXPECT_EQ(r.info[2].size(), 2047u);
    r.mute_messages(true);
    r.message(UpdaterDisplayInterface::INFO, "muted");
    r.message(UpdaterDisplayInterface::ERROR, "muted");
    r.update_progress(0.5, nullptr);
    EXPECT_EQ(r.info.size(), 3u);
    EXPECT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.progress, 1) << "muting leaves progress alone";
}
