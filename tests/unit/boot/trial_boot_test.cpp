// Trial boot edges that board scenarios reach only at great cost: the bootlimit values that
// switch it on, the power-on decision for every combination of the two slots' records, and
// the record's text, which must never turn a damaged line into a trial of some other image.
#include "boot/trial_boot.h"

#include "boot/boot_options.h"
#include "boot/boot_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(TrialBootLimit, OnlyAPlainNumberFrom1To255SwitchesTrialBootOn)
{
    struct Case {
        const char *text;
        int limit;
    } cases[] = {
        {"bootlimit=3", 3},   {"bootlimit=255 gdb=on", 255}, {"bootlimit=007", 7},
        {"bootlimit=256", 0}, {"bootlimit=99999999999", 0},  {"bootlimit=0", 0},
        {"bootlimit=", 0},    {"bootlimit=3x", 0},           {"bootlimit=-3", 0},
        {"bootlimit= 3", 0},  {"gdb=on", 0},
    };
    for (const Case &c : cases) {
        boot_state_reset();
        g_boot.boot_limit = 9;
        apply_boot_options(c.text);
        EXPECT_EQ(c.limit, g_boot.boot_limit) << c.text;
    }
}

TrialSlot slot(trial_slot_state state, uint8_t attempts, uint8_t fill = 0)
{
    TrialSlot s = {state, attempts, {}};
    std::memset(s.header, fill, sizeof s.header);
    return s;
}

TEST(TrialBootPlan, EachRecordOfTheChosenAndTheOtherSlot)
{
    struct Case {
        const char *name;
        TrialSlot chosen, other;
        bool other_present;
        int limit;
        trial_action action;
        TrialSlot chosen_after;
    } cases[] = {
        {"off", slot(TRIAL_ON_TRIAL, 3), slot(TRIAL_CONFIRMED, 0), true, 0, TRIAL_BOOT_CHOSEN,
         slot(TRIAL_ON_TRIAL, 3)},
        {"confirmed", slot(TRIAL_CONFIRMED, 0), slot(TRIAL_CONFIRMED, 0), true, 3,
         TRIAL_BOOT_CHOSEN, slot(TRIAL_CONFIRMED, 0)},
        {"last of three", slot(TRIAL_ON_TRIAL, 2), slot(TRIAL_CONFIRMED, 0), true, 3,
         TRIAL_COUNT, slot(TRIAL_ON_TRIAL, 3)},
        {"used up", slot(TRIAL_ON_TRIAL, 3), slot(TRIAL_CONFIRMED, 0), true, 3, TRIAL_ROLL_BACK,
         slot(TRIAL_FAILED, 3)},
        {"limit lowered below the attempts", slot(TRIAL_ON_TRIAL, 5), slot(TRIAL_CONFIRMED, 0),
         true, 2, TRIAL_ROLL_BACK, slot(TRIAL_FAILED, 5)},
        {"limit 255 used up", slot(TRIAL_ON_TRIAL, 255), slot(TRIAL_CONFIRMED, 0), true, 255,
         TRIAL_ROLL_BACK, slot(TRIAL_FAILED, 255)},
        {"back onto a slot on trial", slot(TRIAL_ON_TRIAL, 3), slot(TRIAL_ON_TRIAL, 1), true, 3,
         TRIAL_ROLL_BACK, slot(TRIAL_FAILED, 3)},
        {"other slot file missing", slot(TRIAL_ON_TRIAL, 3), slot(TRIAL_CONFIRMED, 0), false, 3,
         TRIAL_NO_WAY_BACK, slot(TRIAL_ON_TRIAL, 3)},
        {"other slot failed too", slot(TRIAL_ON_TRIAL, 3), slot(TRIAL_FAILED, 3), true, 3,
         TRIAL_NO_WAY_BACK, slot(TRIAL_ON_TRIAL, 3)},
        {"failed, boot slot change cut off", slot(TRIAL_FAILED, 3), slot(TRIAL_CONFIRMED, 0),
         true, 3, TRIAL_SKIP_FAILED, slot(TRIAL_FAILED, 3)},
        {"failed and nothing else", slot(TRIAL_FAILED, 3), slot(TRIAL_FAILED, 3), true, 3,
         TRIAL_BOOT_CHOSEN, slot(TRIAL_FAILED, 3)},
    };
    for (const Case &c : cases) {
        for (int chosen = 1; chosen <= 2; ++chosen) {
            TrialState state = {};
            state.slot[chosen - 1] = c.chosen;
            state.slot[2 - chosen] = c.other;
            EXPECT_EQ(c.action, trial_plan(state, chosen, c.limit, c.other_present)) << c.name;
            EXPECT_EQ(c.chosen_after.state, state.slot[chosen - 1].state) << c.name;
            EXPECT_EQ(c.chosen_after.attempts, state.slot[chosen - 1].attempts) << c.name;
            EXPECT_EQ(c.other.state, state.slot[2 - chosen].state) << c.name;
        }
    }
}

TEST(TrialStateText, RoundTripsAndDropsEveryLineThatIsNotWhole)
{
    TrialState state = {{slot(TRIAL_FAILED, 255, 0xA5), slot(TRIAL_ON_TRIAL, 1, 0x3C)}};
    char text[TRIAL_TEXT_MAX];
    size_t length = trial_state_format(state, text, sizeof text);
    const std::string expected = "image1 failed 255 a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5\n"
                                 "image2 trial 1 3c3c3c3c3c3c3c3c3c3c3c3c3c3c3c3c\n";
    ASSERT_EQ(expected, std::string(text, length));
    TrialState back = trial_state_parse(text);
    EXPECT_EQ(0, std::memcmp(&state, &back, sizeof state));

    const std::string header = " 3c3c3c3c3c3c3c3c3c3c3c3c3c3c3c3c";
    for (const std::string &line : {
             "image3 trial 1" + header, "image2 passed 1" + header, "image2 trial 256" + header,
             "image2 trial 1" + header.substr(0, 32), "image2 trial 1" + header + "3c",
             "image2 trial 1" + header + " extra", std::string("image2 trial 1 3c3c3c3c3c3c3c3c3c3c3c3c3c3c3cxy"),
             "image2 trial" + header}) {
        TrialState parsed = trial_state_parse(line.c_str());
        EXPECT_EQ(TRIAL_CONFIRMED, parsed.slot[0].state) << line;
        EXPECT_EQ(TRIAL_CONFIRMED, parsed.slot[1].state) << line;
    }
}

} // namespace
