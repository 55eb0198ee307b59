// The signature gate, the installed header of each image type and the same-as-installed test.
#include "image/validate.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "board/mtd.h"
#include "crypto/init.h"
#include "image/bytes.h"
#include "image/format.h"
#include "signature/imgsign.h"
#include "signature/trusted_keys.h"

namespace {

constexpr uint32_t UBOOT_HEADER_OFFSET = 240; // the block the boot loader payload carries

int reject(const char *line)
{
    std::puts(line);
    return 0;
}

// The signing key must be one the build trusts: a signature that verifies with a key the
// component brings along proves nothing about who made it.
bool key_trusted(const image_record &key)
{
    const TrustedKeys &table = trusted_keys();
    if (table.accept_any_key)
        return true;
    uint8_t fingerprint[KEY_FINGERPRINT_SIZE];
    return trusted_key_fingerprint(key.value, key.value_length, fingerprint) == OK &&
           trusted_keys_contain(table, fingerprint);
}

int flash_partition_of(uint32_t type)
{
    switch (type) {
    case UBOOT:
        return MTD_UBOOT;
    case KERNEL:
        return MTD_KERNEL;
    case RFS:
        return MTD_RFS;
    case DFT:
        return MTD_DEVICETREE;
    case DIAGS:
        return MTD_RESCUE;
    }
    return -1;
}

} // namespace

int image_check_signature(const uint8_t *component, uint32_t total)
{
    if (!component || total < IMAGE_BASIC_HEADER_SIZE)
        return reject("\tImage rejected as it has no signature");
    if (image_read_header(component).id == 0)
        return std::puts("\tImage is a developer image"), 1;
    if (total < IMAGE_PROBE_SIZE || load_be32(component + 16) != IMAGE_HDR3_TAG)
        return reject("\tImage rejected as it has no signature");

    // The record walk and the payload range are bounded by the component in memory.
    image_layout layout = image_get_layout(component);
    image_record signature{}, key{};
    if (image_check_layout(layout, component, total) != IMAGE_LAYOUT_OK ||
        !image_find_signature_records(component, layout, &signature, &key))
        return reject("\tImage rejected");
    if (!signature.value || !key.value)
        return reject("\tImage rejected as it has no signature");

    CRYPTO_initLibrary();
    uint8_t digest[32] = {};
    uint32_t digest_length = 0;
    MSTATUS status = IMGSIGN_computeSHA256(component + layout.header_len, layout.payload_len, digest, &digest_length);
    if (status != OK) {
        std::printf("HASH calculation for signed image failed: rc = %d \n", status);
        return 0;
    }
    status = IMGSIGN_verifySignature(digest, int32_t(digest_length), signature.value, signature.value_length,
                                     key.value, key.value_length);
    if (status != OK)
        return reject("\tImage rejected");
    if (!key_trusted(key))
        return reject("\tImage rejected: key not trusted");
    std::puts("\tImage signature verified");
    return 1;
}

int image_check_signature_digest(const uint8_t *header, uint32_t header_len,
                                 const uint8_t payload_digest[32])
{
    if (!header || !payload_digest || header_len < IMAGE_BASIC_HEADER_SIZE)
        return reject("\tImage rejected as it has no signature");
    if (image_read_header(header).id == 0)
        return std::puts("\tImage is a developer image"), 1;
    if (header_len < IMAGE_PROBE_SIZE || load_be32(header + 16) != IMAGE_HDR3_TAG)
        return reject("\tImage rejected as it has no signature");

    // Only the header is at hand: the record walk is bounded by it, and the header length
    // given must be the one the component's layout says.
    image_layout layout = image_get_layout(header);
    image_record signature{}, key{};
    if (layout.header_len != header_len ||
        image_check_layout(layout, header, uint64_t{header_len} + layout.payload_len) != IMAGE_LAYOUT_OK ||
        !image_find_signature_records(header, layout, &signature, &key))
        return reject("\tImage rejected");
    if (!signature.value || !key.value)
        return reject("\tImage rejected as it has no signature");

    CRYPTO_initLibrary();
    MSTATUS status = IMGSIGN_verifySignature(payload_digest, 32, signature.value, signature.value_length,
                                             key.value, key.value_length);
    if (status != OK)
        return reject("\tImage rejected");
    if (!key_trusted(key))
        return reject("\tImage rejected: key not trusted");
    std::puts("\tImage signature verified");
    return 1;
}

int image_read_installed_header(uint32_t type, uint8_t header[16], int slot)
{
    if (!header)
        return 0;
    std::memset(header, 0, IMAGE_BASIC_HEADER_SIZE);
    if (type == APPLICATION) {
        char path[32];
        std::snprintf(path, sizeof path, "/user/images/image%d", slot);
        FILE *file = std::fopen(path, "rb");
        if (!file)
            return 0;
        // A short slot file leaves zeros, which match no component.
        (void)std::fread(header, 1, IMAGE_BASIC_HEADER_SIZE, file);
        std::fclose(file);
        return 1;
    }
    int partition = flash_partition_of(type);
    if (partition < 0) {
        std::printf("Unknown image type 0x%x \n", type);
        return 0;
    }
    uint32_t offset = type == UBOOT ? UBOOT_HEADER_OFFSET : 0;
    if (flash_read_at(header, g_mtd_fd[partition], offset, IMAGE_BASIC_HEADER_SIZE) != 0)
        std::memset(header, 0, IMAGE_BASIC_HEADER_SIZE);
    return 1;
}

int image_same_as_installed(const uint8_t *header, int slot)
{
    if (!header)
        return 0;
    uint32_t type = image_read_header(header).magic & ~IMAGE_FORMAT2_FLAG;
    uint8_t installed[IMAGE_BASIC_HEADER_SIZE];
    if (!image_read_installed_header(type, installed, slot))
        return 0;
    // The boot loader's own copy of its header has an uninterpreted first word.
    size_t from = type == UBOOT ? 4 : 0;
    return std::memcmp(header + from, installed + from, IMAGE_BASIC_HEADER_SIZE - from) == 0 ? 1 : 0;
}
