/*
 * MirrorProcess.h - runs build/update-mirror as a child process on 127.0.0.1
 * with --port 0 for end-to-end tests, and a scratch directory that removes
 * itself.
 */
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
/* The file's lines, without their newlines. */
std::vector<std::string> ReadLines(const std::string& path);

class MirrorProcess {
public:
    /* Starts the mirror with these arguments after --port 0 and waits (at
     * most 10 s) for the port on its first output line; port() is -1 when it
     * did not come up. */
    explicit MirrorProcess(const std::vector<std::string>& arguments);
    ~MirrorProcess();
    MirrorProcess(const MirrorProcess&) = delete;
    MirrorProcess& operator=(const MirrorProcess&) = delete;

    int port() const { return port_; }
    /* scheme://127.0.0.1:PORT followed by path. */
    std::string url(const std::string& scheme = "http", const std::string& path = "") const;
    /* Sends SIGTERM and waits (bounded) for the exit; returns the exit status,
     * or -1 when it had to be killed. */
    int Stop();

private:
    pid_t pid_ = -1;
    int output_ = -1;
    int port_ = -1;
};

/* A TCP port on 127.0.0.1 that nothing listens on (bound once, then freed). */
int UnusedPort();
