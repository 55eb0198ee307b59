// The authenticated header: record type 5 of a format-3 component. The basic header's type
// and version words are not covered by the payload signature (record 3), so a signed
// component also carries a signed statement of them.
//
// Record value: the 48-byte statement, then an RSA PKCS#1 v1.5 signature over the SHA-256
// digest of those 48 bytes, made with the key of record 4 (the same key as record 3).
//
//   offset  width  field
//        0      4  tag "BMH1" (0x424D4831)
//        4      4  type: the basic header's magic with bit 31 cleared
//        8      4  version: the basic header's id
//       12      4  payload length P
//       16     32  SHA-256 of the payload (bytes H to T-1)
//
// All words are big-endian. The statement has exactly one encoding: a reader rebuilds it from
// the component with image_auth_statement and compares all 48 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint16_t IMAGE_RECORD_AUTH_HEADER = 5;
inline constexpr uint32_t IMAGE_AUTH_TAG = 0x424D4831u; // "BMH1"
inline constexpr size_t IMAGE_AUTH_STATEMENT_SIZE = 48;
inline constexpr size_t IMAGE_AUTH_DIGEST_SIZE = 32;

// Encodes the statement for a component of `type` (bit 31 cleared), version `id`, payload
// length `payload_len` and payload digest `payload_sha256`.
void image_auth_statement(uint32_t type, uint32_t id, uint32_t payload_len,
                          const uint8_t payload_sha256[IMAGE_AUTH_DIGEST_SIZE],
                          uint8_t out[IMAGE_AUTH_STATEMENT_SIZE]);
