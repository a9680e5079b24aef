/*
 * TestSupport.h - small fixtures shared by the firmware tests: a temporary
 * directory, a capture of the debug log, a display that records messages and
 * a way to make file writes fail as on a full disk.
 */
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/UpdaterDisplay.h"

class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

/* Sends the debug log of the given packages to memory while alive. */
class LogCapture {
public:
    explicit LogCapture(uint32_t packages);
    ~LogCapture();
    std::string text();

private:
    char* buffer_ = nullptr;
    size_t size_ = 0;
    FILE* stream_ = nullptr;
    uint32_t savedMask_;
    FILE* savedOutput_;
};

class RecordingDisplay : public UpdaterDisplayInterface {
public:
    void display_progress(bool) override {}
    void update_progress(double, char const*) override {}
    void update_spinner(bool, char const*) override {}
    void info_message(char const* text) override { lines.emplace_back(INFO, text); }
    void error_message(char const* text) override { lines.emplace_back(ERROR, text); }

    std::vector<std::pair<int, std::string>> lines;
};

/* While alive, no file of this process may grow past limit bytes: writes
 * beyond it fail with EFBIG, as they would on a full disk. Works as root. */
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit);
    ~FileSizeLimit();

private:
    struct rlimit saved_;
    void (*savedHandler_)(int);
};

std::string ReadText(const std::string& path);
std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);
/* Names in a directory other than "." and "..", sorted. */
std::vector<std::string> ListNames(const std::string& directory);
/* Matches the 24-character ctime form, e.g. "Wed Jun  9 04:05:06 2021". */
bool IsTimeStamp(const std::string& text);
