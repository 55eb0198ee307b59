// Base64 decoding (RFC 4648, standard alphabet, '=' padding) with the library's decoding
// table, which CRYPTO_initLibrary builds. Called by the PEM key reader.
#pragma once

#include <cstdint>

#include "crypto/common/status.h"

// Decodes `textLength` characters (a multiple of 4, at least 4) into a new buffer the
// caller releases with BASE64_freeMessage. -6501 for malformed text, -6502 before the
// library is initialised, -6101 when memory is exhausted.
MSTATUS BASE64_decode(const uint8_t *text, uint32_t textLength, uint8_t **bytes,
                      uint32_t *byteLength);
// Wipes and frees a buffer made by BASE64_decode (and nothing else); *bytes becomes null.
MSTATUS BASE64_freeMessage(uint8_t **bytes);
