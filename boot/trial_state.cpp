// The trial record's text and its file.
#include "boot/trial_state.h"

#include <cstdio>
#include <cstring>

#include "image/slot_file.h"

namespace {

constexpr size_t HEADER_HEX = 2 * IMAGE_BASIC_HEADER_SIZE;

const char *state_word(trial_slot_state state)
{
    return state == TRIAL_FAILED ? "failed" : "trial";
}

bool parse_header(const char *hex, uint8_t header[IMAGE_BASIC_HEADER_SIZE])
{
    if (std::strlen(hex) != HEADER_HEX)
        return false;
    for (size_t i = 0; i < IMAGE_BASIC_HEADER_SIZE; ++i) {
        unsigned byte = 0;
        if (std::sscanf(hex + 2 * i, "%2x", &byte) != 1)
            return false;
        header[i] = static_cast<uint8_t>(byte);
    }
    return true;
}

// One line "image<N> trial|failed <attempts> <header hex>"; false when it is not one.
bool parse_line(const char *line, TrialState &state)
{
    int slot = 0;
    unsigned attempts = 0;
    char word[8] = {}, hex[HEADER_HEX + 2] = {};
    char end = 0;
    if (std::sscanf(line, "image%d %7s %u %33s %c", &slot, word, &attempts, hex, &end) != 4)
        return false;
    if ((slot != 1 && slot != 2) || attempts > 255)
        return false;
    TrialSlot parsed = {};
    if (std::strcmp(word, "trial") == 0)
        parsed.state = TRIAL_ON_TRIAL;
    else if (std::strcmp(word, "failed") == 0)
        parsed.state = TRIAL_FAILED;
    else
        return false;
    if (!parse_header(hex, parsed.header))
        return false;
    parsed.attempts = static_cast<uint8_t>(attempts);
    state.slot[slot - 1] = parsed;
    return true;
}

} // namespace

size_t trial_state_format(const TrialState &state, char *text, size_t size)
{
    size_t length = 0;
    text[0] = '\0';
    for (int i = 0; i < 2; ++i) {
        const TrialSlot &s = state.slot[i];
        if (s.state == TRIAL_CONFIRMED)
            continue;
        char hex[HEADER_HEX + 1];
        for (size_t b = 0; b < IMAGE_BASIC_HEADER_SIZE; ++b)
            std::snprintf(hex + 2 * b, 3, "%02x", s.header[b]);
        int n = std::snprintf(text + length, size - length, "image%d %s %u %s\n", i + 1,
                              state_word(s.state), unsigned{s.attempts}, hex);
        if (n > 0)
            length += static_cast<size_t>(n);
    }
    return length;
}

TrialState trial_state_parse(const char *text)
{
    TrialState state = {};
    while (text && *text) {
        const char *newline = std::strchr(text, '\n');
        size_t length = newline ? static_cast<size_t>(newline - text) : std::strlen(text);
        char line[TRIAL_TEXT_MAX] = {};
        if (length < sizeof line) {
            std::memcpy(line, text, length);
            parse_line(line, state);
        }
        text += length + (newline ? 1 : 0);
    }
    return state;
}

TrialState trial_state_load()
{
    char text[TRIAL_TEXT_MAX + 1] = {};
    if (FILE *file = std::fopen(TRIAL_STATE_PATH, "r")) {
        size_t got = std::fread(text, 1, TRIAL_TEXT_MAX, file);
        text[got] = '\0';
        std::fclose(file);
    }
    return trial_state_parse(text);
}

bool trial_state_save(const TrialState &state)
{
    char text[TRIAL_TEXT_MAX];
    size_t length = trial_state_format(state, text, sizeof text);
    // An empty record (everything confirmed) is written by the sync and rename alone.
    int error = images_file_replace(TRIAL_STATE_PATH, reinterpret_cast<const uint8_t *>(text), length);
    if (error != 0)
        std::printf("Trial record write failed (err %d)\n", error);
    return error == 0;
}
