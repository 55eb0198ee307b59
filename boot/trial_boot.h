// Trial boot with automatic rollback. With the boot option bootlimit (1 to 255) set, an
// application that the installer writes into a slot and makes the boot slot is on trial: every
// power-on that boots it counts one attempt before the application starts, and a power-on
// that finds the limit used up without a confirmation marks it failed, makes the other slot
// the boot slot and boots that one. The running application confirms with "bootmgr confirm".
// The record lives in boot/trial_state.h. Called by the installer (trial_boot_start), the
// start-up sequence (trial_boot_choose_slot) and the command line of bootmgr (confirm, status).
#pragma once

#include "boot/trial_state.h"

// The installer has written `slot` (1 or 2) and is about to make it the boot slot: with trial
// boot on, the image now in the slot file goes on trial with no attempts used; with trial boot
// off, any old line about the slot is dropped. Writes the record only when it changes.
void trial_boot_start(int slot);

// The power-on's decision for the slot that start-up chose (1 or 2): counts an attempt of a
// slot on trial, or rolls back from a slot that used its attempts or failed before. Returns
// the slot to boot first. With trial boot off it returns `chosen` and touches nothing.
int trial_boot_choose_slot(int chosen);

// What a power-on does with the slot it chose.
enum trial_action {
    TRIAL_BOOT_CHOSEN,  // confirmed, or nowhere to go back to: boot it unchanged
    TRIAL_COUNT,        // on trial with attempts left: one more is used, then it boots
    TRIAL_ROLL_BACK,    // on trial, attempts used up: marked failed, the other slot boots
    TRIAL_SKIP_FAILED,  // failed before (the boot slot change may have been cut off)
    TRIAL_NO_WAY_BACK,  // attempts used up, but the other slot is missing or failed too
};

// The decision alone, on a record whose lines all belong to the slot files present
// (`other_present`: the other slot's file exists). Updates `state` as the file must then
// say. `limit` is the bootlimit, 0 for off.
trial_action trial_plan(TrialState &state, int chosen, int limit, bool other_present);

// "bootmgr confirm": the slot named by the booted-image byte is confirmed (exit 0; also when
// nothing was on trial, which changes nothing). Exit 1 when the booted image cannot be
// read or the record cannot be written; the confirmation holds once it returns 0.
int trial_confirm_command();
// "bootmgr status": each slot's version and state, the boot slot and the bootlimit. Exit 0.
int trial_status_command();
