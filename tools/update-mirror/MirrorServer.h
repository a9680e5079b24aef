/*
 * MirrorServer.h - the update mirror's HTTP(S) side: answers GET requests on
 * any path from an UpdateMirror, several at once, and logs each request's
 * query string on one line.
 */
#pragma once

#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "tools/update-mirror/UpdateMirror.h"

namespace httplib {
class Server;
}

struct MirrorServerSettings {
    std::string bind = "127.0.0.1";
    int port = 0;  // 0: any free port
    bool https = false;
    std::string cert, key;
    std::string log;  // query log file, appended to; none when empty
};

class MirrorServer {
public:
    /* Throws std::runtime_error when the certificate, the key or the log file
     * cannot be used. */
    MirrorServer(const UpdateMirror& mirror, MirrorServerSettings settings);
    ~MirrorServer();

    /* Binds the socket; returns the port, or -1 when the address cannot be bound. */
    int Bind();
    /* Serves until Stop; false when serving could not start. */
    bool Run();
    /* Safe from any thread. */
    void Stop();

private:
    void _logQuery(const std::string& target);

    const UpdateMirror& mirror_;
    MirrorServerSettings settings_;
    std::unique_ptr<httplib::Server> server_;
    std::mutex logMutex_;
    std::ofstream log_;
};
