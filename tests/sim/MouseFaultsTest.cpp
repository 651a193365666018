#include "sim/MouseFaults.h"

#include <gtest/gtest.h>

namespace vrax {
namespace {

TEST(MouseFaultsTest, ParsesListsAndReadsBackWhatItFormats) {
    MouseFaults faults;
    std::string error;
    ASSERT_TRUE(ParseMouseFaults("busy=3,corrupt=0x10", MouseFamily::Kvqm31x, faults, error));
    EXPECT_EQ(faults.busyPolls, 3);
    EXPECT_EQ(faults.corruptAddress, 0x10);
    ASSERT_TRUE(ParseMouseFaults(" silent , chip=fd,, refuse-write-chunk=7 ", MouseFamily::Kvqm31x,
                                 faults, error));
    EXPECT_TRUE(faults.silent);
    EXPECT_EQ(faults.chipCode, 0xFD);
    EXPECT_EQ(faults.refusedWriteChunk, 7);
    EXPECT_EQ(faults.busyPolls, 3) << "a list adds to the faults already set";

    const MouseFaults all31x{true, true, true, 0x36, 4, 1, true, 2, 3, 2047, false, false, -1};
    const MouseFaults all42xx{true, false, false, -1, 0, 0x0D, true, 0, 1, 0, true, true, 5};
    for (const auto& [family, expected] :
         {std::pair{MouseFamily::Kvqm31x, all31x}, std::pair{MouseFamily::Kvqm42xx, all42xx}}) {
        MouseFaults parsed;
        ASSERT_TRUE(ParseMouseFaults(FormatMouseFaults(expected), family, parsed, error)) << error;
        EXPECT_EQ(parsed, expected) << FormatMouseFaults(expected);
    }
    EXPECT_EQ(FormatMouseFaults({}), "");
    EXPECT_EQ(MouseFaultNames().size(), 13u);

    MouseFamily family = MouseFamily::Kvqm31x;
    EXPECT_TRUE(ParseMouseFamily("KVQM537", family));
    EXPECT_EQ(family, MouseFamily::Kvqm42xx);
    EXPECT_TRUE(ParseMouseFamily("kvqm31x", family));
    EXPECT_EQ(family, MouseFamily::Kvqm31x);
    EXPECT_FALSE(ParseMouseFamily("kvqm999", family));
}

TEST(MouseFaultsTest, RejectsBadItemsNamingThemAndLeavesTheFaultsAsTheyWere) {
    struct Case {
        MouseFamily family;
        const char* list;
        const char* error;
    };
    const auto k31 = MouseFamily::Kvqm31x;
    const auto k42 = MouseFamily::Kvqm42xx;
    for (const Case& c : {
             Case{k31, "busy=2,bogus", "unknown fault 'bogus'"},
             Case{k31, "busy", "fault 'busy' needs a value, as in busy=K"},
             Case{k31, "silent=1", "fault 'silent' takes no value"},
             Case{k31, "busy=x", "'x' is not a valid value for fault 'busy'"},
             Case{k31, "corrupt=2048", "'2048' is not a valid value for fault 'corrupt'"},
             Case{k31, "chip=1FF", "'1FF' is not a valid value for fault 'chip'"},
             Case{k31, "refuse-write-chunk=-1",
                  "'-1' is not a valid value for fault "
                  "'refuse-write-chunk'"},
             Case{k31, "no-data", "fault 'no-data' does not apply to KVQM31X mice"},
             Case{k42, "busy=3", "fault 'busy' does not apply to KVQM42xx/KVQM537 mice"},
         }) {
        MouseFaults faults;
        faults.unmarked = true;
        std::string error;
        EXPECT_FALSE(ParseMouseFaults(c.list, c.family, faults, error)) << c.list;
        EXPECT_EQ(error, c.error);
        MouseFaults expected;
        expected.unmarked = true;
        EXPECT_EQ(faults, expected);
    }
}

} // namespace
} // namespace vrax
