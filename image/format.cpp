// Component header decoding, layout resolution and the shared consistency check.
#include "image/format.h"

#include "image/bytes.h"

#include <cstdio>
#include <cstdlib>

image_header image_read_header(const uint8_t *bytes)
{
    return image_header{load_be32(bytes), load_be32(bytes + 4), load_be32(bytes + 8), load_be32(bytes + 12)};
}

void image_write_header(const image_header &header, uint8_t *bytes)
{
    store_be32(bytes, header.crc);
    store_be32(bytes + 4, header.len);
    store_be32(bytes + 8, header.magic);
    store_be32(bytes + 12, header.id);
}

image_layout image_get_layout(const uint8_t *first24)
{
    const image_header h = image_read_header(first24);
    image_layout layout{};
    layout.type = h.magic & ~IMAGE_FORMAT2_FLAG;
    if (load_be32(first24 + 16) == IMAGE_HDR3_TAG) {
        layout.format = 3;
        layout.header_len = load_be16(first24 + 22);
        layout.total = h.len + 16;
    } else if (h.magic & IMAGE_FORMAT2_FLAG) {
        layout.format = 2;
        layout.header_len = load_be16(first24 + 18);
        layout.total = layout.header_len + h.len;
    } else {
        layout.format = 1;
        layout.header_len = 16;
        layout.total = h.len + 16;
    }
    layout.payload_len = layout.total - layout.header_len;
    return layout;
}

namespace {

// T as the header gives it, without the 32-bit wrap of image_layout.
uint64_t true_total(const image_layout &layout)
{
    // The layout kept T modulo 2^32; recover the length word to tell a wrapped sum.
    if (layout.format == 2)
        return uint64_t{layout.header_len} + (layout.total - layout.header_len);
    return uint64_t{static_cast<uint32_t>(layout.total - 16)} + 16;
}

} // namespace

image_layout_status image_check_layout(const image_layout &layout, const uint8_t *bytes, uint64_t available)
{
    if (available < IMAGE_PROBE_SIZE)
        return IMAGE_LAYOUT_TRUNCATED;
    const uint64_t total = true_total(layout);
    if (total > UINT32_MAX || total < IMAGE_BASIC_HEADER_SIZE)
        return IMAGE_LAYOUT_BAD_TOTAL;
    const uint32_t min_header = layout.format == 3 ? 24 : layout.format == 2 ? 20 : 16;
    if (layout.header_len < min_header || layout.header_len > total)
        return IMAGE_LAYOUT_BAD_HEADER_LEN;
    if (total > available)
        return IMAGE_LAYOUT_TRUNCATED;
    if (bytes && layout.format == 3 && !image_walk_records(bytes, layout, [](const image_record &) {}))
        return IMAGE_LAYOUT_BAD_RECORD;
    return IMAGE_LAYOUT_OK;
}

image_layout_status image_check_extent(const image_layout &layout, uint64_t available)
{
    if (available < IMAGE_PROBE_SIZE)
        return IMAGE_LAYOUT_TRUNCATED;
    const uint64_t total = true_total(layout);
    if (total > UINT32_MAX || total < IMAGE_BASIC_HEADER_SIZE)
        return IMAGE_LAYOUT_BAD_TOTAL;
    return total > available ? IMAGE_LAYOUT_TRUNCATED : IMAGE_LAYOUT_OK;
}

const char *image_layout_status_text(image_layout_status status)
{
    switch (status) {
    case IMAGE_LAYOUT_OK:
        return "ok";
    case IMAGE_LAYOUT_TRUNCATED:
        return "component runs past the end of the data";
    case IMAGE_LAYOUT_BAD_TOTAL:
        return "total size below 16 bytes or beyond 32 bits";
    case IMAGE_LAYOUT_BAD_HEADER_LEN:
        return "header length outside the component";
    case IMAGE_LAYOUT_BAD_RECORD:
        return "malformed record in the header";
    }
    return "unknown";
}

bool image_find_signature_records(const uint8_t *component, const image_layout &layout, image_record *signature,
                                  image_record *key)
{
    *signature = image_record{};
    *key = image_record{};
    return image_walk_records(component, layout, [&](const image_record &record) {
        // A later record of the same type replaces an earlier one.
        if (record.type == IMAGE_RECORD_SIGNATURE)
            *signature = record;
        else if (record.type == IMAGE_RECORD_KEY)
            *key = record;
    });
}

const char *image_type_name(uint32_t type)
{
    switch (type) {
    case APPLICATION:
        return "APPLICATION";
    case UBOOT:
        return "UBOOT";
    case KERNEL:
        return "KERNEL";
    case RFS:
        return "RFS";
    case DFT:
        return "DFT";
    case DIAGS:
        return "DIAGS";
    }
    return nullptr;
}

void image_format_version(uint32_t id, char *out, size_t size)
{
    std::snprintf(out, size, "%d.%d.%d.%d", static_cast<int>(id >> 24), static_cast<int>((id >> 16) & 0xFF),
                  static_cast<int>((id >> 8) & 0xFF), static_cast<int>(id & 0xFF));
}

bool image_parse_version(const char *text, uint32_t *id)
{
    uint32_t value = 0;
    const char *p = text;
    for (int part = 0; part < 4; part++) {
        if (*p < '0' || *p > '9')
            return false;
        char *end = nullptr;
        unsigned long n = std::strtoul(p, &end, 10);
        if (n > 255 || end - p > 3)
            return false;
        value = (value << 8) | static_cast<uint32_t>(n);
        p = end;
        if (part < 3) {
            if (*p != '.')
                return false;
            p++;
        }
    }
    if (*p != '\0')
        return false;
    *id = value;
    return true;
}
