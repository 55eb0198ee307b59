// Component builder: lays out the header of the requested format, the records, the payload
// and the CRC over bytes 4 to T-1.
#include "image/builder.h"

#include "image/bytes.h"
#include "image/format.h"

namespace {

bool fail(const char **error, const char *reason)
{
    if (error)
        *error = reason;
    return false;
}

bool header_length(const ComponentPlan &plan, uint32_t *out, const char **error)
{
    uint32_t minimum = 16;
    if (plan.format == 2)
        minimum = 20;
    if (plan.format == 3) {
        minimum = 24;
        for (const auto &record : plan.records) {
            if (record.value.size() > 0xFFFF - IMAGE_RECORD_HEADER_SIZE)
                return fail(error, "record value too long");
            minimum += static_cast<uint32_t>(IMAGE_RECORD_HEADER_SIZE + record.value.size());
        }
    } else if (!plan.records.empty()) {
        return fail(error, "records need format 3");
    }
    if (plan.format < 1 || plan.format > 3)
        return fail(error, "format must be 1, 2 or 3");
    uint32_t h = plan.header_len ? plan.header_len : minimum;
    if (plan.format == 1 && h != 16)
        return fail(error, "format 1 has a 16-byte header");
    if (h < minimum)
        return fail(error, "header length too small for the format and its records");
    // Spare room in a format-3 record area must still be a well-formed record.
    if (plan.format == 3 && h > minimum && h - minimum < IMAGE_RECORD_HEADER_SIZE)
        return fail(error, "format 3 header padding needs at least 6 bytes");
    if (h > 0xFFFF)
        return fail(error, "header length beyond 16 bits");
    *out = h;
    return true;
}

void put_record(uint8_t *p, uint16_t type, uint16_t length, const std::vector<uint8_t> &value)
{
    store_be16(p, type);
    store_be16(p + 2, length);
    store_be16(p + 4, static_cast<uint16_t>(value.size()));
    std::copy(value.begin(), value.end(), p + IMAGE_RECORD_HEADER_SIZE);
}

} // namespace

std::vector<uint8_t> image_build_component(const ComponentPlan &plan, const std::vector<uint8_t> &payload,
                                           const char **error)
{
    uint32_t h = 0;
    if (!header_length(plan, &h, error))
        return {};
    const uint64_t total = uint64_t{h} + payload.size();
    if (total > UINT32_MAX) {
        fail(error, "component beyond 4 GiB");
        return {};
    }
    std::vector<uint8_t> out(total, 0);
    uint8_t *p = out.data();
    uint32_t magic = plan.type;
    if (plan.format == 2 || plan.format2_flag)
        magic |= IMAGE_FORMAT2_FLAG;
    // len counts everything after the basic header, except in format 2 where it is P.
    const uint32_t len = plan.format == 2 ? static_cast<uint32_t>(payload.size()) : static_cast<uint32_t>(total - 16);
    image_write_header(image_header{0, len, magic, plan.id}, p);
    if (plan.format == 2) {
        store_be16(p + 18, static_cast<uint16_t>(h));
    } else if (plan.format == 3) {
        store_be32(p + 16, IMAGE_HDR3_TAG);
        store_be16(p + 22, static_cast<uint16_t>(h));
        uint32_t offset = 24;
        for (const auto &record : plan.records) {
            auto length = static_cast<uint16_t>(IMAGE_RECORD_HEADER_SIZE + record.value.size());
            put_record(p + offset, record.type, length, record.value);
            offset += length;
        }
        if (offset < h) // padding record of type 0, ignored by readers
            put_record(p + offset, 0, static_cast<uint16_t>(h - offset), {});
    }
    std::copy(payload.begin(), payload.end(), p + h);
    image_seal_component(out);
    return out;
}

void image_seal_component(std::vector<uint8_t> &component)
{
    if (component.size() < 16)
        return;
    store_be32(component.data(), image_component_crc(component.data(), static_cast<uint32_t>(component.size())));
}
