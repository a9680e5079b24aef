/*
 * TcpTransport.h - serves a DeviceModel on 127.0.0.1 over TCP, one
 * connection at a time as a device does; after a disconnect it accepts the
 * next one. One thread of its own, joined by stop() or the destructor.
 */
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "tools/emulator/DeviceModel.h"

namespace emulator {

class TcpTransport {
public:
    explicit TcpTransport(DeviceModel& model) : model_(model) {}
    ~TcpTransport() { stop(); }
    TcpTransport(const TcpTransport&) = delete;
    TcpTransport& operator=(const TcpTransport&) = delete;

    /* Listens on the port (0: a free one) and starts serving; false with a message. */
    bool start(uint16_t port, std::string& error);
    void stop();
    uint16_t port() const { return port_; }
    /* IPv4 address of 127.0.0.1 in network byte order. */
    static uint32_t loopbackAddress();

    /* Closes the current connection from the device's side. */
    void dropConnection();
    /* Stops accepting (new connections wait in the backlog) until resumed. */
    void pauseAccepting(bool paused);

private:
    void run();
    void serve(int connection);
    void wake();
    bool woken(short revents);

    DeviceModel& model_;
    std::thread thread_;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> drop_{false};
    std::atomic<bool> paused_{false};
};

}  // namespace emulator
