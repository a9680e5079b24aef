/*
 * Process.h - runs a program the way a user would and captures what it
 * printed, so tests check standard output, standard error and the exit
 * status separately.
 */
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace qctest {

struct ProcessResult {
    std::string out;
    std::string err;
    int status = -1;        // exit status, or -1 when killed by a signal
    bool timedOut = false;  // the run was ended after the time limit
};

/* Runs argv[0] with the given arguments; extraEnv entries are "NAME=value"
 * added to (or replacing in) the current environment. */
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
                         std::chrono::milliseconds limit = std::chrono::seconds(60));

/* The path of a program at the root of the build tree (build/updater, ...). */
std::string BuildProgram(const std::string& name);

/* A fresh directory under the system's temporary folder, removed by the destructor. */
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

/* Whole-file helpers for fixtures; WriteFile makes missing parent folders. */
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
/* The file's lines, without their newlines. */
std::vector<std::string> ReadLines(const std::string& path);

}  // namespace qctest
