/*
 * MirrorProcess.h - runs build/update-mirror as a child process on 127.0.0.1
 * with --port 0 for end-to-end tests.
 */
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qctest {

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

}  // namespace qctest
