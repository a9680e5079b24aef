#include "tools/emulator/SystemEntity.h"

#include "common/aPacket.h"
#include "tools/emulator/DeviceModel.h"

namespace emulator {

namespace {

/* Measurements an emulated device reports; fixed, plausible values. */
constexpr uint32_t kInputVoltageUV = 5000000;
constexpr uint32_t kInputCurrentUA = 250000;
constexpr int32_t kTemperatureUC = 31500000;
constexpr int32_t kMaxTemperatureUC = 45000000;
constexpr int32_t kMinTemperatureUC = 18000000;
constexpr int32_t kUnregulatedVoltageUV = 12000000;
constexpr int32_t kUnregulatedCurrentUA = 400000;
constexpr uint32_t kPowerLimitMW = 60000;
constexpr uint8_t kHardwareOffset = 0;
constexpr uint8_t kBaseAddress = 2;
constexpr uint8_t kHeartbeatUnitMs = 100;

UeiOption sGetter(ValueKind kind, std::function<uint32_t()> read) {
    UeiOption o;
    o.kind = kind;
    o.get = [read](const UeiRequest&, uint32_t& value) {
        value = read();
        return aErrNone;
    };
    return o;
}

UeiOption sSetting(ValueKind kind, std::function<uint32_t()> read, std::function<void(uint32_t)> write) {
    UeiOption o = sGetter(kind, std::move(read));
    o.set = [write](const UeiRequest& r, uint32_t value) {
        if (r.hasSubindex) return aErrParam;
        write(value);
        return aErrNone;
    };
    return o;
}

UeiOption sCall(std::function<void()> action) {
    UeiOption o;
    o.kind = ValueKind::Call;
    o.call = [action](const UeiRequest&) {
        action();
        return aErrNone;
    };
    return o;
}

UeiOption sRun(std::function<std::vector<uint8_t>()> read, size_t max, size_t unit,
               std::function<void(const std::vector<uint8_t>&)> write) {
    UeiOption o;
    o.kind = ValueKind::Bytes;
    o.getBytes = [read](const UeiRequest&, std::vector<uint8_t>& run) {
        run = read();
        return aErrNone;
    };
    o.setBytes = [write, max, unit](const UeiRequest&, const std::vector<uint8_t>& run) {
        if (run.size() > max || run.size() % unit) return aErrSize;
        write(run);
        return aErrNone;
    };
    return o;
}

}  // namespace

SystemEntity::SystemEntity(DeviceModel& model) : UeiEntity(cmdSYSTEM, 1) {
    DeviceModel* m = &model;
    const DeviceIdentity* id = &model.identity();
    auto fixed = [](uint32_t v) { return [v] { return v; }; };
    const ValueKind U8 = ValueKind::U8, U32 = ValueKind::U32;

    addOption(1, sGetter(U8, [m] { return m->moduleAddress(); }));
    addOption(2, sSetting(
                     U8, [m] { return m->settings().routerAddress; },
                     [m](uint32_t v) { m->settings().routerAddress = static_cast<uint8_t>(v); }));
    addOption(3,
              sSetting(
                  U8, [m] { return std::min<uint32_t>(m->settings().heartbeatMs / kHeartbeatUnitMs, 255); },
                  [m](uint32_t v) { m->settings().heartbeatMs = v * kHeartbeatUnitMs; }));
    addOption(4, sSetting(
                     U8, [m] { return m->settings().led; },
                     [m](uint32_t v) { m->settings().led = static_cast<uint8_t>(v); }));
    addOption(6, sSetting(
                     U8, [m] { return m->settings().bootSlot; },
                     [m](uint32_t v) { m->settings().bootSlot = static_cast<uint8_t>(v); }));
    addOption(7, sGetter(U32, fixed(id->firmwareVersion)));
    addOption(8, sGetter(U8, fixed(id->model)));
    addOption(9, sGetter(U32, fixed(id->serialNumber)));
    addOption(10, sCall([m] { m->saveSettings(); }));
    addOption(11, sCall([m] {
                  m->counters().resets++;
                  m->restoreSettings(false);
              }));
    addOption(12, sGetter(U32, fixed(kInputVoltageUV)));
    addOption(13, sGetter(U8, fixed(kHardwareOffset)));
    addOption(14, sGetter(U8, fixed(kBaseAddress)));
    addOption(15, sSetting(
                      U8, [m] { return m->settings().softwareOffset; },
                      [m](uint32_t v) { m->settings().softwareOffset = static_cast<uint8_t>(v); }));
    addOption(16, sGetter(U8, fixed(id->routerAddress)));
    UeiOption routeToMe;
    routeToMe.kind = U8;
    routeToMe.set = [m](const UeiRequest&, uint32_t v) {
        if (v) m->settings().routerAddress = m->moduleAddress();
        return aErrNone;
    };
    addOption(20, routeToMe);
    addOption(21, sGetter(U32, fixed(kInputCurrentUA)));
    addOption(22, sGetter(U32, [m] { return static_cast<uint32_t>(m->uptimeMs() / 1000); }));
    addOption(23, sGetter(U32, fixed(static_cast<uint32_t>(kMaxTemperatureUC))));
    addOption(24, sCall([] {}));
    addOption(25, sGetter(U32, fixed(static_cast<uint32_t>(kUnregulatedVoltageUV))));
    addOption(26, sGetter(U32, fixed(static_cast<uint32_t>(kUnregulatedCurrentUA))));
    addOption(27, sGetter(U32, fixed(static_cast<uint32_t>(kTemperatureUC))));
    addOption(28, sGetter(U32, fixed(static_cast<uint32_t>(kMinTemperatureUC))));
    addOption(29, sGetter(U8, fixed(0)));
    addOption(30, sSetting(
                      U8, [m] { return m->settings().inputPowerBehavior; },
                      [m](uint32_t v) { m->settings().inputPowerBehavior = static_cast<uint8_t>(v); }));
    addOption(31,
              sRun([m] { return m->settings().inputPowerBehaviorConfig; }, kMaxPowerConfig, 4,
                   [m](const std::vector<uint8_t>& run) { m->settings().inputPowerBehaviorConfig = run; }));
    addOption(
        32,
        sRun([m] { return std::vector<uint8_t>(m->settings().name.begin(), m->settings().name.end()); },
             kMaxName, 1,
             [m](const std::vector<uint8_t>& run) { m->settings().name.assign(run.begin(), run.end()); }));
    addOption(33, sGetter(U32, fixed(kPowerLimitMW)));
    addOption(34, sSetting(
                      U32, [m] { return m->settings().powerLimitMax; },
                      [m](uint32_t v) { m->settings().powerLimitMax = v; }));
    addOption(35, sGetter(U32, fixed(0)));
    addOption(37, sCall([m] { m->restoreSettings(true); }));
    addOption(38, sSetting(
                      U8, [m] { return m->settings().linkInterface; },
                      [m](uint32_t v) { m->settings().linkInterface = static_cast<uint8_t>(v); }));
    UeiOption unique;
    unique.kind = U32;
    unique.get = [id](const UeiRequest& r, uint32_t& value) {
        if (!r.hasSubindex || r.subindex >= id->uniqueIdentifier.size()) return aErrParam;
        value = id->uniqueIdentifier[r.subindex];
        return aErrNone;
    };
    addOption(39, unique);
    addOption(40, sGetter(U32, fixed(id->hardwareVersion)));
    addOption(41, sGetter(U32, fixed(0)));
    addOption(42, sSetting(
                      U8, [m] { return m->settings().ledMaxBrightness; },
                      [m](uint32_t v) { m->settings().ledMaxBrightness = static_cast<uint8_t>(v); }));
    addOption(43, sGetter(U32, fixed(id->build)));
    addOption(45, sGetter(U32, fixed(id->protocolFeatures)));
}

}  // namespace emulator
