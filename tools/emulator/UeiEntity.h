/*
 * UeiEntity.h - one entity class of an emulated device that speaks UEI:
 * an option table with typed getters, setters and calls, byte runs in both
 * directions and error replies. Entities are added to a DeviceModel, which
 * routes packets of their command to them.
 */
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "common/aDefs.h"
#include "common/aPacket.h"

namespace emulator {

class DeviceModel;

enum class ValueKind { Call, U8, U16, U32, Bytes };

struct UeiRequest {
    uint8_t index;
    bool hasSubindex;
    uint8_t subindex;
};

struct UeiOption {
    ValueKind kind = ValueKind::U8;
    std::function<aErr(const UeiRequest&, uint32_t& value)> get;
    std::function<aErr(const UeiRequest&, uint32_t value)> set;
    std::function<aErr(const UeiRequest&, std::vector<uint8_t>& run)> getBytes;
    std::function<aErr(const UeiRequest&, const std::vector<uint8_t>& run)> setBytes;
    std::function<aErr(const UeiRequest&)> call;
};

class UeiEntity {
public:
    UeiEntity(uint8_t command, uint8_t indexCount) : command_(command), indexCount_(indexCount) {}
    virtual ~UeiEntity() = default;

    uint8_t command() const { return command_; }
    uint8_t indexCount() const { return indexCount_; }
    void addOption(uint8_t code, UeiOption option) { options_[code] = std::move(option); }

    /* What the module query "has UEI" answers: 0 when the operation
     * (flags 0x40 get, 0x80 set, neither: any) is supported. */
    aErr supports(uint8_t option, uint8_t index, uint8_t flags) const;
    virtual uint8_t subclassQuantity(uint8_t) const { return 0; }
    virtual uint8_t entityGroup(uint8_t) const { return 0; }

    /* Handles one request packet addressed to the device; the model's lock is held. */
    virtual void handle(DeviceModel& model, const aPacket& packet);

private:
    struct RunInProgress {
        uint8_t expected = 0;
        std::vector<uint8_t> bytes;
    };

    void handleGet(DeviceModel& model, const aPacket& packet, const UeiOption& option, uint8_t code);
    void handleSet(DeviceModel& model, const aPacket& packet, const UeiOption& option, uint8_t code);
    void handleSetBytes(DeviceModel& model, const aPacket& packet, const UeiOption& option, uint8_t code);
    void replyValue(DeviceModel& model, uint8_t option, uint8_t index, ValueKind kind, uint32_t value);
    void replyError(DeviceModel& model, uint8_t option, uint8_t index, aErr err);

    uint8_t command_;
    uint8_t indexCount_;
    std::map<uint8_t, UeiOption> options_;
    std::map<uint16_t, RunInProgress> runs_;  // by index << 8 | option
};

}  // namespace emulator
