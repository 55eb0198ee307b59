// The trial record of the two image slots: which slot holds an application that is still on
// trial (and how many power-ons it has used) or that failed its trial, kept as a small text
// file beside the slot files. It owns the file's format; the file is replaced as the slot
// files are (a temporary file, flushed, renamed over the old one: image/slot_file.h).
// Relies on image/format.h for headers; used by boot/trial_boot.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/format.h"

inline constexpr char TRIAL_STATE_PATH[] = "/user/images/trial";

enum trial_slot_state : uint8_t {
    TRIAL_CONFIRMED = 0, // boots as ever: no line in the file
    TRIAL_ON_TRIAL,      // installed, not confirmed yet; `attempts` power-ons booted it
    TRIAL_FAILED,        // used up its attempts without a confirmation; not booted again
};

// What the record says about one slot. A line belongs to the image whose 16-byte basic
// header it names: once the slot file holds another image (a header that differs, or no
// file at all), the line no longer applies and the slot counts as confirmed.
struct TrialSlot {
    trial_slot_state state;
    uint8_t attempts;
    uint8_t header[IMAGE_BASIC_HEADER_SIZE];
};

struct TrialState {
    TrialSlot slot[2]; // index 0: slot 1, index 1: slot 2
};

inline constexpr size_t TRIAL_TEXT_MAX = 160; // two lines of "image%d %s %u %32x\n" with room

// The file's text: one line per slot that is not confirmed,
// "image<N> trial|failed <attempts> <header as 32 hex digits>\n". Returns the length.
size_t trial_state_format(const TrialState &state, char *text, size_t size);
// Reads the text back; lines that do not parse are left out (those slots count as
// confirmed). Never fails.
TrialState trial_state_parse(const char *text);

// The record as the file holds it; a missing or unreadable file is all confirmed.
TrialState trial_state_load();
// Replaces the file: temporary file, flush, rename. True once the rename is done; on any
// failure the old file stays whole, the temporary goes and a line says why.
bool trial_state_save(const TrialState &state);
