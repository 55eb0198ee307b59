#include "image/auth_header.h"

#include <cstring>

#include "image/bytes.h"
#include "image/format.h"

void image_auth_statement(uint32_t type, uint32_t id, uint32_t payload_len,
                          const uint8_t payload_sha256[IMAGE_AUTH_DIGEST_SIZE],
                          uint8_t out[IMAGE_AUTH_STATEMENT_SIZE])
{
    store_be32(out, IMAGE_AUTH_TAG);
    store_be32(out + 4, type & ~IMAGE_FORMAT2_FLAG);
    store_be32(out + 8, id);
    store_be32(out + 12, payload_len);
    std::memcpy(out + 16, payload_sha256, IMAGE_AUTH_DIGEST_SIZE);
}
