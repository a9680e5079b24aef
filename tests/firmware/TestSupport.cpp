#include "tests/firmware/TestSupport.h"

#include <dirent.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>

#include "common/Log.h"
#include "common/aDirectory.h"

TempDir::TempDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && base[0] ? base : "/tmp") + "/qc-firmware-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() { aDirectory_DeleteTree(path_.c_str()); }

LogCapture::LogCapture(uint32_t packages) : savedMask_(Log::package_bitmask), savedOutput_(Log::fh) {
    stream_ = open_memstream(&buffer_, &size_);
    Log::SetOutput(stream_);
    Log::package_bitmask = packages;
}

LogCapture::~LogCapture() {
    Log::SetOutput(savedOutput_);
    Log::package_bitmask = savedMask_;
    fclose(stream_);
    free(buffer_);
}

std::string LogCapture::text() {
    fflush(stream_);
    return std::string(buffer_, size_);
}

FileSizeLimit::FileSizeLimit(rlim_t limit) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    savedHandler_ = signal(SIGXFSZ, SIG_IGN);
    struct rlimit lowered = saved_;
    lowered.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &lowered);
}

FileSizeLimit::~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, savedHandler_);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
    std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::string& path, const std::string& text) {
    WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<std::string> ListNames(const std::string& directory) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(directory.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool IsTimeStamp(const std::string& text) {
    static const std::regex form(
        "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 123][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}");
    return std::regex_match(text, form);
}
