// Hand-made component headers for the image, boot and tool tests: the layouts the product's
// builder refuses to make (lengths that wrap, header lengths outside the component), with
// every field set explicitly in big-endian order; and the plans of the components the builder
// does make.
#pragma once

#include "image/builder.h"
#include "image/bytes.h"
#include "image/format.h"
#include "tests/support/bytes.h"

#include <utility>
#include <vector>

// A bare 24-byte header: len at 4, magic at 8, the word at 16 (the format-3 tag), then the
// format-2 header length at 18 and the format-3 one at 22 when non-zero (18 overwrites the low
// half of the word at 16).
inline Bytes raw_header(uint32_t len, uint32_t magic, uint32_t word16 = 0, uint16_t h18 = 0, uint16_t h22 = 0)
{
    Bytes b(24, 0);
    store_be32(&b[4], len);
    store_be32(&b[8], magic);
    store_be32(&b[16], word16);
    if (h18)
        store_be16(&b[18], h18);
    if (h22)
        store_be16(&b[22], h22);
    return b;
}

// The builder's plan with its fields in declaration order; the rest keep their defaults.
inline ComponentPlan plan(uint32_t type, uint32_t id = 0, uint32_t format = 1, uint32_t header_len = 0,
                          std::vector<ComponentRecord> records = {})
{
    ComponentPlan p;
    p.type = type;
    p.id = id;
    p.format = format;
    p.header_len = header_len;
    p.records = std::move(records);
    return p;
}
