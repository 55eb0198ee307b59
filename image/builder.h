// Builds image components in memory: header of any format, records of the format-3 record
// area, payload and CRC. Used by the host tools that make and sign images and by tests;
// the boot manager itself only reads components.
#pragma once

#include <cstdint>
#include <vector>

struct ComponentRecord {
    uint16_t type;
    std::vector<uint8_t> value;
};

struct ComponentPlan {
    uint32_t type = 0;       // one of the image_type values (or any value, for tests)
    uint32_t id = 0;         // version word
    uint32_t format = 1;     // 1, 2 or 3
    uint32_t header_len = 0; // 0: the smallest header that fits (16, 20, or 24 + records)
    bool format2_flag = false; // set bit 31 of magic in format 3 as well
    std::vector<ComponentRecord> records; // format 3 only
};

// Returns the component, or an empty vector when the plan cannot be encoded (header length
// too small for the format or its records, beyond 16 bits, a record value over 65529 bytes,
// records outside format 3, or a total beyond 32 bits). `error` receives a reason.
std::vector<uint8_t> image_build_component(const ComponentPlan &plan, const std::vector<uint8_t> &payload,
                                           const char **error = nullptr);

// Recomputes and stores the CRC word of a component held in memory.
void image_seal_component(std::vector<uint8_t> &component);
