/*
 * DeviceModel.h - an emulated device module without its transport: bytes
 * from the host go in, packets to the host come out through a sink, and the
 * device's state sits in between.
 *
 * The model answers the link handshake (AD 00 with its address and 00),
 * ignores force-route packets, sends heartbeats and counts the host's
 * answers, and hands every packet for its module address to the handler of
 * its command byte. Entities (UEI option tables) and further commands are
 * added by handler, so later protocols plug in without touching this file.
 * All calls are serialised by the model's own lock; handlers run under it.
 */
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "common/aPacket.h"
#include "tools/emulator/DeviceIdentity.h"
#include "tools/emulator/UeiEntity.h"

namespace emulator {

/* Settings the host may change; saved and factory copies sit beside them. */
struct DeviceSettings {
    uint8_t routerAddress = 2;
    uint32_t heartbeatMs = 1000;
    uint8_t led = 0;
    uint8_t bootSlot = 0;
    uint8_t softwareOffset = 0;
    uint8_t inputPowerBehavior = 0;
    std::vector<uint8_t> inputPowerBehaviorConfig;
    std::string name;
    uint32_t powerLimitMax = 100000;
    uint8_t linkInterface = 0;
    uint8_t ledMaxBrightness = 255;
};

struct DeviceCounters {
    uint64_t bytesReceived = 0;
    uint64_t packetsReceived = 0;  // complete packets of any address
    uint64_t framingErrors = 0;
    uint64_t syncRequests = 0;
    uint64_t forceRoutes = 0;
    int lastForceRoute = -1;
    uint64_t heartbeatsSent = 0;
    uint64_t heartbeatAnswers = 0;
    uint64_t echoes = 0;
    uint64_t unhandled = 0;  // for our address, but no handler for the command
    uint64_t unrouted = 0;   // for another address
    uint64_t connections = 0;
    uint64_t saves = 0;
    uint64_t resets = 0;
};

class DeviceModel {
public:
    using Sink = std::function<void(const uint8_t* bytes, size_t count)>;
    using CommandHandler = std::function<void(DeviceModel& model, const aPacket& packet)>;

    explicit DeviceModel(const DeviceIdentity& identity);
    ~DeviceModel();
    DeviceModel(const DeviceModel&) = delete;
    DeviceModel& operator=(const DeviceModel&) = delete;

    /* Transport side. */
    void setSink(Sink sink);
    void connectionOpened(uint64_t nowMs);
    void connectionClosed();
    void receive(const uint8_t* bytes, size_t count);
    /* Sends what is due (heartbeats); returns ms until the next thing is due, -1 for nothing. */
    int tick(uint64_t nowMs);

    /* Extension points: a handler per command byte, packets for other addresses. */
    void setCommandHandler(uint8_t command, CommandHandler handler);
    void addEntity(std::shared_ptr<UeiEntity> entity);
    void setUnroutedHandler(CommandHandler handler);
    /* Quiet: no answers to the handshake (a device that never synchronises). */
    void setAnswerSync(bool answer);

    /* For handlers (the lock is held). */
    void send(const aPacket& packet);
    void reply(const uint8_t* data, uint8_t length);
    uint8_t moduleAddress() const { return identity_.moduleAddress; }
    const DeviceIdentity& identity() const { return identity_; }
    DeviceSettings& settings() { return settings_; }
    DeviceCounters& counters() { return counters_; }
    const UeiEntity* entity(uint8_t command) const;
    uint64_t uptimeMs() const;
    void saveSettings();
    void restoreSettings(bool factory);

    /* For tests and tools, from any thread. */
    DeviceCounters snapshot() const;
    DeviceSettings settingsSnapshot() const;
    void setHeartbeatMs(uint32_t ms);

private:
    void handlePacket(const aPacket& packet);
    void handleModuleQuery(const aPacket& packet);
    void sendHeartbeat();

    mutable std::mutex lock_;
    DeviceIdentity identity_;
    DeviceSettings settings_, saved_, factory_;
    DeviceCounters counters_;
    Sink sink_;
    aPacket* assembly_;
    bool answerSync_ = true;
    uint64_t startMs_;
    uint64_t nextHeartbeatMs_ = 0;
    std::map<uint8_t, CommandHandler> commands_;
    std::map<uint8_t, std::shared_ptr<UeiEntity>> entities_;
    CommandHandler unrouted_;
};

}  // namespace emulator
