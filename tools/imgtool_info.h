// What imgtool says about one component, gathered once and printed as text or JSON: the
// layout, version and CRC, the records, and what the signature and authenticated-header
// records prove (checked with the boot manager's own key readers and signature check).
// Used by `info` and `verify`.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "tools/imgtool.h"

struct SignatureFacts {
    bool present = false; // records 3 and 4 both there
    std::string fingerprint; // of the key record; empty when the key readers refuse it
    bool trusted = false;
    bool verifies = false;
};

struct AuthHeaderFacts {
    bool present = false;
    bool well_formed = false; // at least the 48-byte statement
    uint32_t type = 0, id = 0, payload_len = 0;
    bool matches = false;  // the statement is the one rebuilt from the component
    bool verifies = false; // its signature verifies with the key record
};

struct ComponentFacts {
    size_t index;
    Component component;
    image_header header;
    uint32_t computed_crc;
    std::vector<image_record> records;
    SignatureFacts signature;
    AuthHeaderFacts auth;
};

ComponentFacts imgtool_component_facts(const Bytes &data, size_t index, const Component &component);
// The text lines of `info` for one component.
void imgtool_print_facts(const ComponentFacts &facts);
nlohmann::json imgtool_facts_json(const ComponentFacts &facts);
// The JSON of how a walk ended: {"end": "complete"|"erased"|"trailing"|"corrupt", "offset": N}.
nlohmann::json imgtool_walk_end_json(const Walk &walk);
