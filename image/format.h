// Image component format: the 16-byte basic header, the three header formats, the record
// area of format 3, the component types, versions and the CRC. Everything that reads or
// writes components (boot path, installer, signature gate, host tools) goes through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Component types: `magic` with bit 31 (the format-2 flag) cleared.
enum image_type : uint32_t {
    APPLICATION = 0x015A514B,
    UBOOT = 0x025A514B,
    KERNEL = 0x035A514B,
    RFS = 0x045A514B,
    DFT = 0x055A514B,
    DIAGS = 0x065A514B,
};

inline constexpr uint32_t IMAGE_FORMAT2_FLAG = 0x80000000u;
inline constexpr uint32_t IMAGE_HDR3_TAG = 0x48445233u; // "HDR3"
inline constexpr size_t IMAGE_BASIC_HEADER_SIZE = 16;
inline constexpr size_t IMAGE_PROBE_SIZE = 24; // bytes a reader needs to resolve a layout
inline constexpr uint16_t IMAGE_RECORD_SIGNATURE = 3;
inline constexpr uint16_t IMAGE_RECORD_KEY = 4;
inline constexpr size_t IMAGE_RECORD_HEADER_SIZE = 6;

// The basic header, decoded from its big-endian bytes.
struct image_header {
    uint32_t crc;   // CRC of bytes 4 to T-1 of the component
    uint32_t len;   // length word; its meaning depends on the format
    uint32_t magic; // bit 31: format-2 flag; bits 0-30: type
    uint32_t id;    // version a.b.c.d, most significant byte first; 0 = developer image
};

struct image_layout {
    uint32_t type;        // magic with bit 31 cleared
    uint32_t format;      // 1, 2 or 3
    uint32_t header_len;  // H
    uint32_t payload_len; // P = T - H (computed modulo 2^32, as the header gives it)
    uint32_t total;       // T (modulo 2^32)
};

// Decodes the first 16 bytes of a component.
image_header image_read_header(const uint8_t *bytes);
// Encodes a basic header into 16 bytes.
void image_write_header(const image_header &header, uint8_t *bytes);

// Resolves the layout from the first 24 bytes of a component. Never fails; the numbers
// are those the header gives, which may be inconsistent (see image_check_layout).
image_layout image_get_layout(const uint8_t *first24);

// Result of checking a component's layout against the bytes that are really there.
enum image_layout_status {
    IMAGE_LAYOUT_OK = 0,
    IMAGE_LAYOUT_TRUNCATED,      // fewer than T bytes available (or fewer than 24)
    IMAGE_LAYOUT_BAD_TOTAL,      // T below 16 or its sum wrapped past 32 bits
    IMAGE_LAYOUT_BAD_HEADER_LEN, // H above T, or below 24 (format 3) / 20 (format 2)
    IMAGE_LAYOUT_BAD_RECORD,     // record of length 0, shorter than its own header, or past H
};

// The one consistency check every reader applies before it uses a component: `available`
// is the number of bytes of the component that can be read (in memory or in the file from
// the component's start). On IMAGE_LAYOUT_OK the component lies wholly inside them, and
// for format 3 the record walk stays inside the header. `bytes` must hold at least
// min(available, T) bytes when the record area is to be checked; pass nullptr to check
// only the lengths.
image_layout_status image_check_layout(const image_layout &layout, const uint8_t *bytes,
                                       uint64_t available);
const char *image_layout_status_text(image_layout_status status);

// The part of image_check_layout that a walk needs to step over a component it does not
// use: T at least 16 (the basic header), not wrapped past 32 bits, and within `available`
// (which must be at least 24). The header length H is not looked at: a walk steps by T
// alone, so a component it only passes over cannot stop it with an H it never uses.
image_layout_status image_check_extent(const image_layout &layout, uint64_t available);

// A record of the format-3 record area.
struct image_record {
    uint16_t type;
    uint16_t length;       // distance to the next record
    uint16_t value_length; // V
    const uint8_t *value;  // V bytes (inside the header)
};

// Walks the record area of a format-3 component held in memory, whose layout passed
// image_check_layout. Calls `visit` for each record in order. Returns false when the area
// is malformed (the walk stops there).
template <typename Visit>
bool image_walk_records(const uint8_t *component, const image_layout &layout, Visit visit);

// Finds the last signature and key records of a checked format-3 component. Either output
// may come back null when that record is absent. Returns false for a malformed area.
bool image_find_signature_records(const uint8_t *component, const image_layout &layout,
                                  image_record *signature, image_record *key);

// CRC-32/JAMCRC: reflected polynomial 0xEDB88320, register starting at `crc`, no final
// inversion. Callers start at 0xFFFFFFFF over bytes 4 to T-1 of a component.
uint32_t image_crc32(const uint8_t *data, size_t length, uint32_t crc);

// CRC of a whole component (bytes 4 to T-1) held in memory, T >= 4.
uint32_t image_component_crc(const uint8_t *component, uint32_t total);

// Human word for a type ("APPLICATION", ...) or nullptr for an unknown type.
const char *image_type_name(uint32_t type);
// Formats the version word as "a.b.c.d" into `out` (at least 16 bytes).
void image_format_version(uint32_t id, char *out, size_t size);
// Parses "a.b.c.d" (each 0-255); returns false when malformed.
bool image_parse_version(const char *text, uint32_t *id);

// ---- template implementation ----

template <typename Visit>
bool image_walk_records(const uint8_t *component, const image_layout &layout, Visit visit)
{
    if (layout.format != 3)
        return true;
    uint32_t offset = IMAGE_PROBE_SIZE;
    while (offset < layout.header_len) {
        if (layout.header_len - offset < IMAGE_RECORD_HEADER_SIZE)
            return false;
        const uint8_t *p = component + offset;
        image_record record{};
        record.type = static_cast<uint16_t>((p[0] << 8) | p[1]);
        record.length = static_cast<uint16_t>((p[2] << 8) | p[3]);
        record.value_length = static_cast<uint16_t>((p[4] << 8) | p[5]);
        record.value = p + IMAGE_RECORD_HEADER_SIZE;
        if (record.length < IMAGE_RECORD_HEADER_SIZE || record.length > layout.header_len - offset ||
            record.value_length > record.length - IMAGE_RECORD_HEADER_SIZE)
            return false;
        visit(record);
        offset += record.length;
    }
    return true;
}
