#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/aDefs.h"
#include "common/aError.h"

TEST(aError, NamesAndDescriptionsByCode) {
    struct Case {
        uint32_t code;
        const char* name;
        const char* description;
    } cases[] = {
        {0, "aErrNone", "Success, no error"},         {11, "aErrNotReady", "Not ready, no bytes available"},
        {18, "aErrTimeout", "Timeout occurred"},      {27, "aErrShortCommand", "Quillcore command to short"},
        {34, "aErrUnknown", "Unknown error"},         {35, "aErrUnknown", "Unknown error"},
        {0xFFFFFFFF, "aErrUnknown", "Unknown error"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(aError_GetErrorText(c.code), c.name) << c.code;
        EXPECT_STREQ(aError_GetErrorDescription(c.code), c.description) << c.code;
    }
}

TEST(aError, EveryCodeHasItsOwnName) {
    std::set<std::string> names;
    for (uint32_t code = 0; code < aErrCount; ++code) names.insert(aError_GetErrorText(code));
    EXPECT_EQ(names.size(), aErrCount);
}

TEST(aDefs, ModelNames) {
    std::set<std::string> names;
    for (uint32_t model : {4u, 5u}) names.insert(aDefs_GetModelName(model));
    for (uint32_t model = 13; model <= 27; ++model) names.insert(aDefs_GetModelName(model));
    EXPECT_EQ(names.size(), 17u) << "named models must have unique names";
    EXPECT_EQ(names.count("Unknown"), 0u);
    for (uint32_t model : {0u, 1u, 3u, 6u, 12u, 28u, 255u, 0xFFFFFFFFu}) {
        EXPECT_STREQ(aDefs_GetModelName(model), "Unknown") << model;
    }
}
