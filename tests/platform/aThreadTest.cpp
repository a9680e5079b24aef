#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "common/aMutex.h"
#include "common/aThread.h"
#include "common/aTime.h"

TEST(aMutex, NamesAndResults) {
    aMutexRef m = aMutex_Create("aLink_Managed");
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(aMutex_Identifier(m), "aLink_Managed");
    EXPECT_EQ(aMutex_Lock(m), aErrNone);
    EXPECT_EQ(aMutex_TryLock(m), aErrBusy);
    EXPECT_EQ(aMutex_Unlock(m), aErrNone);
    EXPECT_EQ(aMutex_TryLock(m), aErrNone);
    EXPECT_EQ(aMutex_Unlock(m), aErrNone);
    EXPECT_EQ(aMutex_Destroy(m), aErrNone);
    EXPECT_EQ(m, nullptr);

    aMutexRef unnamed = aMutex_Create(nullptr);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_STREQ(aMutex_Identifier(unnamed), "");
    aMutex_Destroy(unnamed);

    aMutexRef longest = aMutex_Create(std::string(255, 'n').c_str());
    EXPECT_NE(longest, nullptr) << "255 characters fit";
    aMutex_Destroy(longest);
    EXPECT_EQ(aMutex_Create(std::string(256, 'n').c_str()), nullptr);
    aMutexRef none = nullptr;
    EXPECT_EQ(aMutex_Lock(none), aErrParam);
    EXPECT_EQ(aMutex_TryLock(none), aErrParam);
    EXPECT_EQ(aMutex_Unlock(none), aErrParam);
    EXPECT_EQ(aMutex_Destroy(none), aErrParam);
}

namespace {

struct Counter {
    aMutexRef mutex;
    int value = 0;
};

void* sCount(void* arg) {
    auto* c = static_cast<Counter*>(arg);
    for (int i = 0; i < 10000; ++i) {
        aMutex_Lock(c->mutex);
        ++c->value;
        aMutex_Unlock(c->mutex);
    }
    return nullptr;
}

}  // namespace

TEST(aThread, DestroyJoinsAndTheMutexExcludes) {
    Counter c{aMutex_Create("count")};
    std::vector<aThreadRef> threads;
    for (int i = 0; i < 4; ++i) threads.push_back(aThread_Create(sCount, &c));
    for (aThreadRef& t : threads) {
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(aThread_Destroy(t), 0);
        EXPECT_EQ(t, nullptr);
    }
    EXPECT_EQ(c.value, 40000);
    aMutex_Destroy(c.mutex);
    EXPECT_EQ(aThread_Create(nullptr, nullptr), nullptr);
}

TEST(aTime, SleepsInSlicesBelowOneSecond) {
    std::vector<uint32_t> slices;
    aTime_MSSleepSliced(
        2500, [](uint32_t us, void* ref) { static_cast<std::vector<uint32_t>*>(ref)->push_back(us); },
        &slices);
    EXPECT_EQ(slices, (std::vector<uint32_t>{999999, 999999, 500002}));
    slices.clear();
    aTime_MSSleepSliced(
        0, [](uint32_t us, void* ref) { static_cast<std::vector<uint32_t>*>(ref)->push_back(us); }, &slices);
    EXPECT_TRUE(slices.empty());
}

TEST(aTime, SleepLastsAtLeastItsTime) {
    uint64_t before = aTime_GetMSTicks();
    EXPECT_GT(before, 1700000000000u) << "milliseconds since the epoch";
    EXPECT_EQ(aTime_MSSleep(20), 0);
    EXPECT_GE(aTime_GetMSTicks() - before, 20u);
}
