#pragma once

#include "tests/windows/WineTestSupport.h"

#include <gtest/gtest.h>

namespace vrax::wine {

// Every test against the replacement libraries ends with no rule of Windows broken, no
// device-information set left open and no preparsed data left unfreed.
class ReplacementFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(replacements.Loaded())
            << "the replacement setupapi.dll and hid.dll did not load; run under Wine with "
               "WINEDLLOVERRIDES=hid,setupapi=n,b";
    }

    void TearDown() override {
        if (!replacements.Loaded()) {
            return;
        }
        EXPECT_EQ(replacements.setupApiRuleViolations(), 0);
        EXPECT_EQ(replacements.hidRuleViolations(), expectedHidRuleViolations);
        EXPECT_EQ(replacements.openSets(), 0);
        EXPECT_EQ(replacements.livePreparsedData(), 0);
    }

    ReplacementLibraries replacements;
    TemporaryFolder folder;
    int expectedHidRuleViolations = 0;
};

} // namespace vrax::wine
