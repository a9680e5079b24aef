#include "tools/emulator/UeiEntity.h"

#include "common/aUEI.h"
#include "tools/emulator/DeviceModel.h"

namespace emulator {

namespace {

constexpr size_t kMaxRun = 64 * 1024;

uint8_t sValueSize(ValueKind kind) {
    switch (kind) {
        case ValueKind::U8: return 1;
        case ValueKind::U16: return 2;
        case ValueKind::U32: return 4;
        default: return 0;
    }
}

uint32_t sReadValue(const uint8_t* bytes, uint8_t size) {
    uint32_t value = 0;
    for (uint8_t i = 0; i < size; i++) value = value << 8 | bytes[i];
    return value;
}

bool sReadable(const UeiOption& o) { return o.kind == ValueKind::Bytes ? bool(o.getBytes) : bool(o.get); }

bool sWritable(const UeiOption& o) {
    switch (o.kind) {
        case ValueKind::Call: return bool(o.call);
        case ValueKind::Bytes: return bool(o.setBytes);
        default: return bool(o.set);
    }
}

}  // namespace

aErr UeiEntity::supports(uint8_t option, uint8_t index, uint8_t flags) const {
    if (index >= indexCount_) return aErrIndexRange;
    auto it = options_.find(option);
    if (it == options_.end()) return aErrInvalidOption;
    if ((flags & aUEI_OP_GET) && !sReadable(it->second)) return aErrMode;
    if ((flags & aUEI_OP_SET) && !sWritable(it->second)) return aErrMode;
    return aErrNone;
}

void UeiEntity::handle(DeviceModel& model, const aPacket& packet) {
    if (packet.length < 3) return;  // no option and index to answer to
    uint8_t operation = packet.data[1] & ~aUEI_OPTION_MASK;
    uint8_t code = packet.data[1] & aUEI_OPTION_MASK;
    uint8_t index = packet.data[2] & aUEI_INDEX_MASK;
    if (operation != aUEI_OP_GET && operation != aUEI_OP_SET) return;  // answers and stream values
    uint8_t replyOption = operation == aUEI_OP_GET ? code : (code | aUEI_OP_ACK);
    auto it = options_.find(code);
    if (index >= indexCount_) return replyError(model, replyOption, index, aErrIndexRange);
    if (it == options_.end()) return replyError(model, replyOption, index, aErrInvalidOption);
    if (operation == aUEI_OP_GET) return handleGet(model, packet, it->second, code);
    if (it->second.kind == ValueKind::Bytes) return handleSetBytes(model, packet, it->second, code);
    handleSet(model, packet, it->second, code);
}

void UeiEntity::handleGet(DeviceModel& model, const aPacket& packet, const UeiOption& option, uint8_t code) {
    uint8_t index = packet.data[2] & aUEI_INDEX_MASK;
    UeiRequest request{index, packet.length == 4, packet.length == 4 ? packet.data[3] : uint8_t(0)};
    if (!sReadable(option)) return replyError(model, code, index, aErrMode);
    if (packet.length > 4) return replyError(model, code, index, aErrSize);
    if (option.kind == ValueKind::Bytes) {
        std::vector<uint8_t> run;
        aErr err = option.getBytes(request, run);
        if (err != aErrNone) return replyError(model, code, index, err);
        for (size_t n = 0; n < aUEI_BytesPacketCount(run.size()); n++) {
            aPacket* p = aUEI_CreateBytesPacket(model.moduleAddress(), command_, code, index, run.data(),
                                                run.size(), n);
            if (p) model.send(*p);
            aPacket_Destroy(p);
        }
        return;
    }
    uint32_t value = 0;
    aErr err = option.get(request, value);
    if (err != aErrNone) return replyError(model, code, index, err);
    replyValue(model, code, index, option.kind, value);
}

void UeiEntity::handleSet(DeviceModel& model, const aPacket& packet, const UeiOption& option, uint8_t code) {
    uint8_t index = packet.data[2] & aUEI_INDEX_MASK;
    uint8_t ack = code | aUEI_OP_ACK;
    if (!sWritable(option)) return replyError(model, ack, index, aErrMode);
    uint8_t size = sValueSize(option.kind);
    // The value closes the packet; one byte more in front of it is a subindex.
    bool hasSubindex = packet.length == 4 + size;
    if (packet.length != 3 + size && !hasSubindex) return replyError(model, ack, index, aErrSize);
    UeiRequest request{index, hasSubindex, hasSubindex ? packet.data[3] : uint8_t(0)};
    uint32_t value = sReadValue(packet.data + packet.length - size, size);
    aErr err = option.kind == ValueKind::Call ? option.call(request) : option.set(request, value);
    if (err != aErrNone) return replyError(model, ack, index, err);
    replyValue(model, ack, index, option.kind, value);
}

void UeiEntity::handleSetBytes(DeviceModel& model, const aPacket& packet, const UeiOption& option,
                               uint8_t code) {
    uint8_t index = packet.data[2] & aUEI_INDEX_MASK;
    uint8_t ack = code | aUEI_OP_ACK;
    if (!option.setBytes) return replyError(model, ack, index, aErrMode);
    if (packet.length < 4) return replyError(model, ack, index, aErrShortCommand);
    RunInProgress& run = runs_[static_cast<uint16_t>(index << 8 | code)];
    uint8_t sequence = aUEI_getBytesSequence(&packet);
    // Sequence 0 while later packets were expected starts the run afresh.
    if (sequence == 0 && run.expected != 0) run = RunInProgress{};
    if (sequence != run.expected || run.bytes.size() + packet.length > kMaxRun) {
        runs_.erase(static_cast<uint16_t>(index << 8 | code));
        return replyError(model, ack, index, aErrPacket);
    }
    run.bytes.insert(run.bytes.end(), packet.data + 3, packet.data + packet.length - 1);
    run.expected = (run.expected + 1) & aUEI_BYTES_SEQUENCE_MASK;
    if (aUEI_getBytesContinue(&packet)) return;
    std::vector<uint8_t> bytes = std::move(run.bytes);
    runs_.erase(static_cast<uint16_t>(index << 8 | code));
    aErr err = option.setBytes(UeiRequest{index, false, 0}, bytes);
    if (err != aErrNone) return replyError(model, ack, index, err);
    replyValue(model, ack, index, ValueKind::Call, 0);
}

void UeiEntity::replyValue(DeviceModel& model, uint8_t option, uint8_t index, ValueKind kind,
                           uint32_t value) {
    uint8_t data[7] = {command_, option, index};
    uint8_t size = sValueSize(kind);
    for (uint8_t i = 0; i < size; i++) data[3 + i] = static_cast<uint8_t>(value >> (8 * (size - 1 - i)));
    model.reply(data, static_cast<uint8_t>(3 + size));
}

void UeiEntity::replyError(DeviceModel& model, uint8_t option, uint8_t index, aErr err) {
    uint8_t data[4] = {command_, option, static_cast<uint8_t>(index | aUEI_INDEX_ERROR),
                       static_cast<uint8_t>(err)};
    model.reply(data, sizeof(data));
}

}  // namespace emulator
