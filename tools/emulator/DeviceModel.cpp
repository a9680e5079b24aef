#include "tools/emulator/DeviceModel.h"

#include "common/aTime.h"
#include "common/aUEI.h"
#include "tools/emulator/SystemEntity.h"

namespace emulator {

namespace {

enum : uint8_t {
    kQueryUEI = 0x01,
    kQueryClassQuantity = 0x04,
    kQuerySubclassQuantity = 0x05,
    kQueryEntityGroup = 0x06,
    kQueryBuild = 0xFF,
};

}  // namespace

DeviceModel::DeviceModel(const DeviceIdentity& identity)
    : identity_(identity), assembly_(aPacket_Create()), startMs_(aTime_GetMSTicks()) {
    settings_.routerAddress = identity.routerAddress;
    settings_.heartbeatMs = identity.heartbeatMs;
    settings_.name = identity.name;
    saved_ = factory_ = settings_;
    commands_[cmdHEARTBEAT] = [](DeviceModel& m, const aPacket& p) {
        if (p.length == 2 && (p.data[1] == 2 || p.data[1] == 3)) m.counters_.heartbeatAnswers++;
    };
    commands_[cmdDEBUG] = [](DeviceModel& m, const aPacket& p) {
        m.counters_.echoes++;
        m.reply(p.data, p.length);
    };
    commands_[cmdMODULE] = [](DeviceModel& m, const aPacket& p) { m.handleModuleQuery(p); };
    addEntity(std::make_shared<SystemEntity>(*this));
}

DeviceModel::~DeviceModel() { aPacket_Destroy(assembly_); }

void DeviceModel::setSink(Sink sink) {
    std::lock_guard<std::mutex> guard(lock_);
    sink_ = std::move(sink);
}

void DeviceModel::connectionOpened(uint64_t nowMs) {
    std::lock_guard<std::mutex> guard(lock_);
    aPacket_Reset(assembly_);
    counters_.connections++;
    nextHeartbeatMs_ = nowMs + settings_.heartbeatMs;
}

void DeviceModel::connectionClosed() {
    std::lock_guard<std::mutex> guard(lock_);
    sink_ = nullptr;
    aPacket_Reset(assembly_);
}

void DeviceModel::receive(const uint8_t* bytes, size_t count) {
    std::lock_guard<std::mutex> guard(lock_);
    counters_.bytesReceived += count;
    for (size_t i = 0; i < count; i++) {
        if (aPacket_AddByte(assembly_, bytes[i]) != aErrNone) {
            counters_.framingErrors++;
            aPacket_Reset(assembly_);
            continue;
        }
        if (!aPacket_IsComplete(assembly_)) continue;
        counters_.packetsReceived++;
        handlePacket(*assembly_);
        aPacket_Reset(assembly_);
    }
}

void DeviceModel::handlePacket(const aPacket& packet) {
    if (packet.address == aPACKET_ADDR_SYNC && packet.length == 0) {
        counters_.syncRequests++;
        if (answerSync_) reply(nullptr, 0);
        return;
    }
    if (packet.address == aPACKET_ADDR_FORCEROUTE) {
        counters_.forceRoutes++;
        counters_.lastForceRoute = packet.length == 1 ? packet.data[0] : -1;
        return;
    }
    if (packet.address != identity_.moduleAddress) {
        counters_.unrouted++;
        if (unrouted_) unrouted_(*this, packet);
        return;
    }
    auto it = packet.length ? commands_.find(packet.data[0]) : commands_.end();
    if (it == commands_.end()) {
        counters_.unhandled++;
        return;
    }
    it->second(*this, packet);
}

void DeviceModel::handleModuleQuery(const aPacket& p) {
    if (p.length < 2) return;
    uint8_t reply[6] = {cmdMODULE, p.data[1]};
    const UeiEntity* e = p.length >= 3 ? entity(p.data[2]) : nullptr;
    switch (p.data[1]) {
        case kQueryBuild: aUEI_StoreInt(reply + 2, identity_.build); return this->reply(reply, 6);
        case kQueryUEI:
            if (p.length != 6) return;
            reply[2] = p.data[2], reply[3] = p.data[3], reply[4] = p.data[4];
            reply[5] =
                static_cast<uint8_t>(e ? e->supports(p.data[3], p.data[4], p.data[5]) : aErrInvalidEntity);
            return this->reply(reply, 6);
        case kQueryClassQuantity:
            if (p.length != 3) return;
            reply[2] = p.data[2];
            reply[3] = e ? e->indexCount() : 0;
            return this->reply(reply, 4);
        case kQuerySubclassQuantity:
        case kQueryEntityGroup:
            if (p.length != 4) return;
            reply[2] = p.data[2], reply[3] = p.data[3];
            reply[4] = !e                               ? 0
                       : p.data[1] == kQueryEntityGroup ? e->entityGroup(p.data[3])
                                                        : e->subclassQuantity(p.data[3]);
            return this->reply(reply, 5);
        default: counters_.unhandled++; return;
    }
}

int DeviceModel::tick(uint64_t nowMs) {
    std::lock_guard<std::mutex> guard(lock_);
    if (settings_.heartbeatMs == 0 || !sink_) return -1;
    if (nowMs >= nextHeartbeatMs_) {
        sendHeartbeat();
        nextHeartbeatMs_ = nowMs + settings_.heartbeatMs;
    }
    return static_cast<int>(nextHeartbeatMs_ - nowMs);
}

void DeviceModel::sendHeartbeat() {
    const uint8_t beat[2] = {cmdHEARTBEAT, 0};  // 0: up
    counters_.heartbeatsSent++;
    reply(beat, 2);
}

void DeviceModel::setCommandHandler(uint8_t command, CommandHandler handler) {
    std::lock_guard<std::mutex> guard(lock_);
    commands_[command] = std::move(handler);
}

void DeviceModel::addEntity(std::shared_ptr<UeiEntity> entity) {
    uint8_t command = entity->command();
    entities_[command] = entity;
    commands_[command] = [entity](DeviceModel& m, const aPacket& p) { entity->handle(m, p); };
}

void DeviceModel::setUnroutedHandler(CommandHandler handler) {
    std::lock_guard<std::mutex> guard(lock_);
    unrouted_ = std::move(handler);
}

void DeviceModel::setAnswerSync(bool answer) {
    std::lock_guard<std::mutex> guard(lock_);
    answerSync_ = answer;
}

void DeviceModel::send(const aPacket& packet) {
    uint8_t bytes[aPACKET_MAXBYTES];
    size_t count = 0;
    if (sink_ && aPacket_GetBytes(&packet, bytes, sizeof(bytes), &count) == aErrNone) sink_(bytes, count);
}

void DeviceModel::reply(const uint8_t* data, uint8_t length) {
    const uint8_t none = 0;
    aPacket* p = aPacket_CreateWithData(identity_.moduleAddress, length, data ? data : &none);
    if (p) send(*p);
    aPacket_Destroy(p);
}

const UeiEntity* DeviceModel::entity(uint8_t command) const {
    auto it = entities_.find(command);
    return it == entities_.end() ? nullptr : it->second.get();
}

uint64_t DeviceModel::uptimeMs() const { return aTime_GetMSTicks() - startMs_; }

void DeviceModel::saveSettings() {
    saved_ = settings_;
    counters_.saves++;
}

void DeviceModel::restoreSettings(bool factory) { settings_ = factory ? factory_ : saved_; }

DeviceCounters DeviceModel::snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return counters_;
}

DeviceSettings DeviceModel::settingsSnapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return settings_;
}

void DeviceModel::setHeartbeatMs(uint32_t ms) {
    std::lock_guard<std::mutex> guard(lock_);
    settings_.heartbeatMs = ms;
}

}  // namespace emulator
