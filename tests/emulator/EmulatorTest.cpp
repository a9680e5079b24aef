#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/aLink.h"
#include "common/aUEI.h"
#include "common/aVersion.h"
#include "tools/emulator/SystemEntity.h"
#include "tools/emulator/TcpTransport.h"

extern char** environ;

namespace {

using namespace emulator;
using Bytes = std::vector<uint8_t>;

struct Prefix {
    Bytes bytes;
};

uint8_t MatchPrefix(const aPacket* p, void* ref) {
    const Bytes& want = static_cast<Prefix*>(ref)->bytes;
    return p->length >= want.size() && memcmp(p->data, want.data(), want.size()) == 0;
}

/* The host's side of an exchange: a request, and the first reply whose data
 * begins with the given bytes. */
class Host {
public:
    explicit Host(uint32_t id, uint8_t address = 2) : id_(id), address_(address) {}

    void send(const Bytes& data) {
        aPacket* p = aPacket_CreateWithData(address_, static_cast<uint8_t>(data.size()), data.data());
        ASSERT_EQ(aLink_PutPacket(id_, p), aErrNone);
        aPacket_Destroy(p);
    }
    Bytes await(const Bytes& prefix, uint32_t ms = 2000) {
        Prefix filter{prefix};
        aPacket* p = aLink_AwaitFirst(id_, MatchPrefix, &filter, ms);
        Bytes data = p ? Bytes(p->data, p->data + p->length) : Bytes{};
        aPacket_Destroy(p);
        return data;
    }
    Bytes exchange(const Bytes& request, const Bytes& prefix) {
        send(request);
        return await(prefix);
    }
    /* A UEI get of the system entity; the reply's data. */
    Bytes get(uint8_t option, int subindex = -1) {
        Bytes request = {cmdSYSTEM, static_cast<uint8_t>(option | aUEI_OP_GET), aUEI_INDEX_REQUEST};
        if (subindex >= 0) request.push_back(static_cast<uint8_t>(subindex));
        return exchange(request, {cmdSYSTEM, option});
    }
    Bytes set(uint8_t option, const Bytes& value) {
        Bytes request = {cmdSYSTEM, static_cast<uint8_t>(option | aUEI_OP_SET), aUEI_INDEX_REQUEST};
        request.insert(request.end(), value.begin(), value.end());
        return exchange(request, {cmdSYSTEM, static_cast<uint8_t>(option | aUEI_OP_ACK)});
    }
    Bytes setRun(uint8_t option, const Bytes& run) {
        uint8_t op = static_cast<uint8_t>(option | aUEI_OP_SET);
        for (size_t n = 0; n < aUEI_BytesPacketCount(run.size()); n++) {
            aPacket* p = aUEI_CreateBytesPacket(address_, cmdSYSTEM, op, aUEI_INDEX_REQUEST, run.data(),
                                                run.size(), n);
            EXPECT_EQ(aLink_PutPacket(id_, p), aErrNone);
            aPacket_Destroy(p);
        }
        return await({cmdSYSTEM, static_cast<uint8_t>(option | aUEI_OP_ACK)});
    }
    Bytes getRun(uint8_t option, std::vector<uint8_t>* sequences) {
        send({cmdSYSTEM, static_cast<uint8_t>(option | aUEI_OP_GET), aUEI_INDEX_REQUEST});
        Bytes run;
        for (;;) {
            Bytes chunk = await({cmdSYSTEM, option});
            if (chunk.size() < 4) return chunk;
            run.insert(run.end(), chunk.begin() + 3, chunk.end() - 1);
            sequences->push_back(chunk.back());
            if (!(chunk.back() & aUEI_BYTES_CONTINUE)) return run;
        }
    }

private:
    uint32_t id_;
    uint8_t address_;
};

uint32_t Value(const Bytes& reply) {
    uint32_t v = 0;
    for (size_t i = 3; i < reply.size(); i++) v = v << 8 | reply[i];
    return v;
}

class Emulator : public ::testing::Test {
protected:
    void SetUp() override {
        identity.serialNumber =
            0x2000 + static_cast<uint32_t>(::testing::UnitTest::GetInstance()->random_seed());
        identity.heartbeatMs = 0;
        identity.build = 0x1234;
        identity.firmwareVersion = aVersion_Pack(2, 15, 7);
        identity.name = "Bench Hub";
        identity.uniqueIdentifier = {0xA0A0A0A0, 0xB1B1B1B1, 0xC2C2C2C2, 0xD3D3D3D3};
        identity.protocolFeatures = 0x5;
    }
    void start() {
        model = std::make_unique<DeviceModel>(identity);
        transport = std::make_unique<TcpTransport>(*model);
        std::string error;
        ASSERT_TRUE(transport->start(0, error)) << error;
        id = aLink_CreateTCPIP(identity.serialNumber, TcpTransport::loopbackAddress(), transport->port());
        ASSERT_NE(id, 0u);
    }
    void TearDown() override {
        if (id) aLink_Destroy(id);
        if (transport) transport->stop();
    }

    DeviceIdentity identity;
    std::unique_ptr<DeviceModel> model;
    std::unique_ptr<TcpTransport> transport;
    uint32_t id = 0;
};

TEST_F(Emulator, AnswersModuleQueriesAndEcho) {
    start();
    Host host(id);
    EXPECT_EQ(host.exchange({0x49, 0xFF}, {0x49, 0xFF}), (Bytes{0x49, 0xFF, 0x00, 0x00, 0x12, 0x34}));
    struct UeiCase {
        Bytes request;
        uint8_t answer;
    };
    const UeiCase cases[] = {
        {{0x49, 0x01, 3, 9, 0, 0x40}, aErrNone},           // serial number can be read
        {{0x49, 0x01, 3, 4, 0, 0x80}, aErrNone},           // LED can be set
        {{0x49, 0x01, 3, 7, 0, 0x80}, aErrMode},           // version cannot
        {{0x49, 0x01, 3, 5, 0, 0x40}, aErrInvalidOption},  // no option 5
        {{0x49, 0x01, 3, 9, 1, 0x40}, aErrIndexRange},     // one system entity
        {{0x49, 0x01, 8, 0, 0, 0x40}, aErrInvalidEntity},  // no I2C entity yet
    };
    for (const UeiCase& c : cases) {
        Bytes reply = host.exchange(c.request, {0x49, 0x01});
        ASSERT_EQ(reply.size(), 6u);
        EXPECT_EQ(Bytes(reply.begin() + 2, reply.begin() + 5),
                  Bytes(c.request.begin() + 2, c.request.begin() + 5));
        EXPECT_EQ(reply[5], c.answer) << int(c.request[3]);
    }
    EXPECT_EQ(host.exchange({0x49, 0x04, 3}, {0x49, 0x04}), (Bytes{0x49, 0x04, 3, 1}));
    EXPECT_EQ(host.exchange({0x49, 0x04, 8}, {0x49, 0x04}), (Bytes{0x49, 0x04, 8, 0}));
    EXPECT_EQ(host.exchange({0x49, 0x05, 3, 0}, {0x49, 0x05}), (Bytes{0x49, 0x05, 3, 0, 0}));
    EXPECT_EQ(host.exchange({0x49, 0x06, 3, 0}, {0x49, 0x06}), (Bytes{0x49, 0x06, 3, 0, 0}));

    Bytes echo = {0x17};
    for (uint8_t i = 0; i < 27; i++) echo.push_back(static_cast<uint8_t>(0xA0 + i));
    EXPECT_EQ(host.exchange(echo, {0x17}), echo);
    EXPECT_EQ(model->snapshot().echoes, 1u);
}

TEST_F(Emulator, SystemEntityGetsSetsAndCalls) {
    start();
    Host host(id);
    Bytes serial = host.get(9);
    ASSERT_EQ(serial.size(), 7u);
    EXPECT_EQ(serial[2], 0);  // bare index in the answer
    EXPECT_EQ(Value(serial), identity.serialNumber);
    EXPECT_EQ(Value(host.get(7)), identity.firmwareVersion);
    EXPECT_EQ(host.get(8), (Bytes{3, 8, 0, identity.model}));
    EXPECT_EQ(host.get(1), (Bytes{3, 1, 0, 2}));
    EXPECT_EQ(Value(host.get(43)), 0x1234u);
    EXPECT_EQ(Value(host.get(45)), 0x5u);
    EXPECT_EQ(Value(host.get(39, 2)), 0xC2C2C2C2u);
    EXPECT_EQ(host.get(39, 4), (Bytes{3, 39, 0x80, aErrParam}));

    EXPECT_EQ(host.set(4, {7}), (Bytes{3, 0xC4, 0, 7}));
    EXPECT_EQ(host.get(4), (Bytes{3, 4, 0, 7}));
    EXPECT_EQ(host.set(34, {0, 1, 0, 0}), (Bytes{3, 0xC0 | 34, 0, 0, 1, 0, 0}));
    EXPECT_EQ(Value(host.get(34)), 0x10000u);
    EXPECT_EQ(host.set(10, {}), (Bytes{3, 0xC0 | 10, 0}));  // save
    EXPECT_EQ(model->snapshot().saves, 1u);
    EXPECT_EQ(host.set(4, {9}), (Bytes{3, 0xC4, 0, 9}));
    EXPECT_EQ(host.set(11, {}), (Bytes{3, 0xC0 | 11, 0}));  // reset brings back what was saved
    EXPECT_EQ(host.get(4), (Bytes{3, 4, 0, 7}));
}

TEST_F(Emulator, ErrorRepliesForWhatTheDeviceCannotDo) {
    start();
    Host host(id);
    EXPECT_EQ(host.get(5), (Bytes{3, 5, 0x80, aErrInvalidOption}));
    EXPECT_EQ(host.set(5, {1}), (Bytes{3, 0xC5, 0x80, aErrInvalidOption}));
    EXPECT_EQ(host.set(7, {0, 0, 0, 1}), (Bytes{3, 0xC7, 0x80, aErrMode}));
    EXPECT_EQ(host.set(4, {1, 2}), (Bytes{3, 0xC4, 0x80, aErrParam}));  // an 8-bit value behind a subindex
    EXPECT_EQ(host.set(4, {1, 2, 3}), (Bytes{3, 0xC4, 0x80, aErrSize}));
    EXPECT_EQ(host.exchange({3, 0x49, 0x21}, {3, 9}), (Bytes{3, 9, 0x81, aErrIndexRange}));
}

TEST_F(Emulator, NameTravelsAsAByteRun) {
    start();
    Host host(id);
    std::vector<uint8_t> sequences;
    EXPECT_EQ(host.getRun(32, &sequences), Bytes(identity.name.begin(), identity.name.end()));
    EXPECT_EQ(sequences, Bytes{0x00});

    std::string name = "A name of exactly thirty bytes";
    ASSERT_EQ(name.size(), 30u);
    EXPECT_EQ(host.setRun(32, Bytes(name.begin(), name.end())), (Bytes{3, 0xC0 | 32, 0}));
    sequences.clear();
    EXPECT_EQ(host.getRun(32, &sequences), Bytes(name.begin(), name.end()));
    EXPECT_EQ(sequences, (Bytes{0x80, 0x01}));

    Bytes tooLong(SystemEntity::kMaxName + 1, 'x');
    EXPECT_EQ(host.setRun(32, tooLong), (Bytes{3, 0xC0 | 32, 0x80, aErrSize}));
    EXPECT_EQ(host.setRun(32, {}), (Bytes{3, 0xC0 | 32, 0}));
    sequences.clear();
    EXPECT_EQ(host.getRun(32, &sequences), Bytes{});
    // A chunk out of order ends the run with an error.
    EXPECT_EQ(host.exchange({3, 0x80 | 32, 0x20, 'a', 0x01}, {3, 0xC0 | 32}),
              (Bytes{3, 0xC0 | 32, 0x80, aErrPacket}));
}

TEST_F(Emulator, HeartbeatsAreAnsweredByTheLink) {
    identity.heartbeatMs = 20;
    start();
    for (int i = 0; i < 200 && model->snapshot().heartbeatAnswers < 3; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    DeviceCounters c = model->snapshot();
    EXPECT_GE(c.heartbeatAnswers, 3u);
    EXPECT_LE(c.heartbeatAnswers, c.heartbeatsSent);
    EXPECT_EQ(aLink_GetPacket(id), nullptr);  // heartbeats are not filed
}

TEST_F(Emulator, SyncHandshakeOverTcp) {
    start();
    EXPECT_EQ(aLink_Sync(id), aErrNone);
    EXPECT_GE(model->snapshot().syncRequests, 1u);
    Host host(id);
    EXPECT_EQ(host.get(1), (Bytes{3, 1, 0, 2}));
    model->setAnswerSync(false);
    EXPECT_EQ(aLink_Sync(id), aErrNotReady);
    EXPECT_EQ(aLink_GetStatus(id), aLINK_SYNCING);
    model->setAnswerSync(true);
    for (int i = 0; i < 200 && aLink_GetStatus(id) != aLINK_RUNNING; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(aLink_GetStatus(id), aLINK_RUNNING);  // the next round of the handshake is answered
}

TEST(EmulatorIdentity, ReadsJson) {
    DeviceIdentity identity;
    std::string error;
    ASSERT_TRUE(LoadIdentityJson(R"({"serialNumber": "0x40F5849A", "model": 13, "moduleAddress": 6,
        "routerAddress": 4, "firmwareVersion": "2.10.4", "build": 99, "name": "Lab hub",
        "protocolFeatures": 3, "uniqueIdentifier": [1, "0x2", 3, 4], "heartbeatMs": 0})",
                                 identity, error))
        << error;
    EXPECT_EQ(identity.serialNumber, 0x40F5849Au);
    EXPECT_EQ(identity.model, 13);
    EXPECT_EQ(identity.moduleAddress, 6);
    EXPECT_EQ(identity.routerAddress, 4);
    EXPECT_EQ(identity.firmwareVersion, aVersion_Pack(2, 10, 4));
    EXPECT_EQ(identity.build, 99u);
    EXPECT_EQ(identity.name, "Lab hub");
    EXPECT_EQ(identity.uniqueIdentifier[1], 2u);
    EXPECT_EQ(identity.heartbeatMs, 0u);

    const char* bad[] = {"[1]",
                         "{\"moduleAddress\": 3}",
                         "{\"model\": 256}",
                         "{\"uniqueIdentifier\": [1, 2]}",
                         "{\"firmwareVersion\": \"2.x\"}",
                         "{\"serialNumber\": -1}",
                         "not json"};
    for (const char* text : bad) EXPECT_FALSE(LoadIdentityJson(text, identity, error)) << text;
}

/* The program, started with a JSON identity, serves a link. */
TEST(EmulatorProgram, ServesTheIdentityOfItsConfigFile) {
    std::string config = testing::TempDir() + "/emulator-identity.json";
    FILE* f = fopen(config.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs(R"({"serialNumber": 3735928559, "moduleAddress": 4, "heartbeatMs": 0})", f);
    fclose(f);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string program = QC_BUILD_DIR "/quillcore-emulator";
    const char* argv[] = {program.c_str(), "--config", config.c_str(), "--build", "77", nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    char line[128] = {};
    FILE* in = fdopen(out[0], "r");
    ASSERT_NE(fgets(line, sizeof(line), in), nullptr);
    unsigned port = 0;
    ASSERT_EQ(sscanf(line, "listening on 127.0.0.1:%u", &port), 1) << line;

    uint32_t id = aLink_CreateTCPIP(0xDEADBEEF, TcpTransport::loopbackAddress(), static_cast<uint16_t>(port));
    ASSERT_NE(id, 0u);
    Host host(id, 4);
    EXPECT_EQ(Value(host.get(9)), 0xDEADBEEFu);
    EXPECT_EQ(host.exchange({0x49, 0xFF}, {0x49, 0xFF}), (Bytes{0x49, 0xFF, 0, 0, 0, 77}));
    aLink_Destroy(id);

    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    fclose(in);
    remove(config.c_str());
}

}  // namespace
