// Trial boot: the installer's start of a trial, the power-on's count and rollback, and the
// confirm and status commands of the running application.
//
// Power cuts: every change of the record is one rename of a whole new file, so a cut leaves
// the old record or the new one. A count is recorded before the application starts, so a cut
// before the rename loses only an attempt that never ran. A rollback records the failure
// before it changes the boot slot byte; a cut between the two finds the boot slot still on the
// failed image, which the next power-on passes over again (TRIAL_SKIP_FAILED).
#include "boot/trial_boot.h"

#include <cstdio>
#include <cstring>

#include "board/i2c.h"
#include "board/mtd.h"
#include "boot/boot_options.h"
#include "boot/boot_state.h"
#include "image/validate.h"

namespace {

int other_slot(int slot)
{
    return slot == 1 ? 2 : 1;
}

// A slot that a rollback may go to: its file is there and it has not failed a trial.
bool can_boot(const TrialState &state, bool present, int slot)
{
    return present && state.slot[slot - 1].state != TRIAL_FAILED;
}

// The slot file's basic header; false when there is no slot file.
bool read_slot_header(int slot, uint8_t header[IMAGE_BASIC_HEADER_SIZE])
{
    return image_read_installed_header(APPLICATION, header, slot) == 1;
}

// The record with every line that no longer describes its slot file dropped; `present`
// receives whether each slot file exists.
TrialState current_state(bool present[2])
{
    TrialState state = trial_state_load();
    for (int i = 0; i < 2; ++i) {
        uint8_t header[IMAGE_BASIC_HEADER_SIZE];
        present[i] = read_slot_header(i + 1, header);
        TrialSlot &s = state.slot[i];
        if (s.state != TRIAL_CONFIRMED &&
            (!present[i] || std::memcmp(header, s.header, sizeof header) != 0))
            s = TrialSlot{};
    }
    return state;
}

bool same_state(const TrialState &a, const TrialState &b)
{
    for (int i = 0; i < 2; ++i)
        if (a.slot[i].state != b.slot[i].state || a.slot[i].attempts != b.slot[i].attempts ||
            std::memcmp(a.slot[i].header, b.slot[i].header, IMAGE_BASIC_HEADER_SIZE) != 0)
            return false;
    return true;
}

void print_slot(int slot, bool present, const TrialSlot &s, int limit)
{
    if (!present) {
        std::printf("image%d: none\n", slot);
        return;
    }
    uint8_t header[IMAGE_BASIC_HEADER_SIZE] = {};
    read_slot_header(slot, header);
    char version[20];
    image_format_version(image_read_header(header).id, version, sizeof version);
    std::printf("image%d: %s ", slot, version);
    if (s.state == TRIAL_FAILED)
        std::printf("failed after %u boots\n", unsigned{s.attempts});
    else if (s.state == TRIAL_ON_TRIAL && limit > 0)
        std::printf("on trial, %u of %d boots used\n", unsigned{s.attempts}, limit);
    else if (s.state == TRIAL_ON_TRIAL)
        std::printf("on trial, %u boots used\n", unsigned{s.attempts});
    else
        std::puts("confirmed");
}

} // namespace

trial_action trial_plan(TrialState &state, int chosen, int limit, bool other_present)
{
    if (limit == 0 || (chosen != 1 && chosen != 2))
        return TRIAL_BOOT_CHOSEN;
    TrialSlot &s = state.slot[chosen - 1];
    bool other_usable = can_boot(state, other_present, other_slot(chosen));
    if (s.state == TRIAL_FAILED)
        return other_usable ? TRIAL_SKIP_FAILED : TRIAL_BOOT_CHOSEN;
    if (s.state != TRIAL_ON_TRIAL)
        return TRIAL_BOOT_CHOSEN;
    // A limit lowered below the attempts already used ends the trial as well.
    if (s.attempts < limit) {
        ++s.attempts;
        return TRIAL_COUNT;
    }
    if (!other_usable)
        return TRIAL_NO_WAY_BACK;
    s.state = TRIAL_FAILED;
    return TRIAL_ROLL_BACK;
}

void trial_boot_start(int slot)
{
    if (slot != 1 && slot != 2)
        return;
    bool present[2];
    TrialState before = current_state(present);
    TrialState after = before;
    TrialSlot &s = after.slot[slot - 1];
    s = TrialSlot{};
    if (g_boot.boot_limit > 0 && read_slot_header(slot, s.header))
        s.state = TRIAL_ON_TRIAL;
    if (!same_state(before, after))
        trial_state_save(after);
}

int trial_boot_choose_slot(int chosen)
{
    if (g_boot.boot_limit == 0)
        return chosen;
    bool present[2];
    TrialState state = current_state(present);
    const int other = other_slot(chosen);
    const uint8_t attempts = state.slot[chosen - 1].attempts;
    switch (trial_plan(state, chosen, g_boot.boot_limit, present[other - 1])) {
    case TRIAL_BOOT_CHOSEN:
        return chosen;
    case TRIAL_COUNT:
        // An attempt that cannot be recorded is not made while the other slot can boot: a
        // trial must not run uncounted.
        if (!trial_state_save(state)) {
            if (!can_boot(state, present[other - 1], other))
                return chosen;
            std::printf("Image%d cannot count its trial boot; booting image%d\n", chosen, other);
            return other;
        }
        std::printf("Image%d is on trial: boot %u of %d\n", chosen,
                    unsigned{state.slot[chosen - 1].attempts}, int{g_boot.boot_limit});
        return chosen;
    case TRIAL_ROLL_BACK:
        std::printf("Image%d was not confirmed after %u boots; booting image%d\n", chosen,
                    unsigned{attempts}, other);
        trial_state_save(state);
        board_set_boot_slot(other);
        return other;
    case TRIAL_SKIP_FAILED:
        std::printf("Image%d failed its trial; booting image%d\n", chosen, other);
        board_set_boot_slot(other);
        return other;
    case TRIAL_NO_WAY_BACK:
        std::printf("Image%d was not confirmed after %u boots; no other image to boot\n",
                    chosen, unsigned{attempts});
        return chosen;
    }
    return chosen;
}

int trial_confirm_command()
{
    i2c_open_buses();
    uint8_t booted = 0;
    board_param_read(BOARD_REG_BOOTED_IMAGE, 1, &booted);
    i2c_close_buses();
    if (booted != 1 && booted != 2) {
        // The USB stick image (3) and the rescue partition image (4) are never on trial.
        if (booted == 3 || booted == 4) {
            std::puts("Nothing on trial to confirm");
            return 0;
        }
        std::printf("Cannot tell which image is booted (booted-image byte %u)\n", unsigned{booted});
        return 1;
    }
    bool present[2];
    TrialState state = current_state(present);
    TrialSlot &s = state.slot[booted - 1];
    if (s.state == TRIAL_CONFIRMED) {
        std::printf("Image%u is confirmed already\n", unsigned{booted});
        return 0;
    }
    s = TrialSlot{};
    if (!trial_state_save(state))
        return 1;
    std::printf("Image%u confirmed\n", unsigned{booted});
    return 0;
}

int trial_status_command()
{
    i2c_open_buses();
    mtd_init();
    read_boot_options();
    const int limit = g_boot.boot_limit;
    bool present[2];
    TrialState state = current_state(present);
    for (int slot = 1; slot <= 2; ++slot)
        print_slot(slot, present[slot - 1], state.slot[slot - 1], limit);
    std::printf("boot slot: %d\n", board_get_boot_slot() == 2 ? 2 : 1);
    if (limit > 0)
        std::printf("bootlimit: %d\n", limit);
    else
        std::puts("bootlimit: off");
    i2c_close_buses();
    return 0;
}
