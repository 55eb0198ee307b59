// Checks applied to a component before it is installed: the signature gate, the header of
// the installed image of a type (slot file or flash partition), and whether a component is
// the very one installed. Relies on the image format, the flash partitions and the
// signature front end with the build's trusted keys; called by the package installer, the
// versions report and the image tool.
#pragma once

#include <cstdint>

// 1 when the component (total bytes in memory) is accepted, 0 when rejected. Prints one
// result line in every case: "\tImage is a developer image", "\tImage signature verified",
// "\tImage rejected as it has no signature", "\tImage rejected", "\tImage rejected: key not
// trusted" or the digest failure line. Does not look at the CRC.
int image_check_signature(const uint8_t *component, uint32_t total);

// The same gate for a component whose payload is not held in memory: `header` holds its
// first header_len bytes (H, as its layout gives it; the record area lies in them) and
// `payload_digest` the SHA-256 of its payload, which the caller computed over bytes H to
// T-1. Same verdicts and result lines as image_check_signature.
int image_check_signature_digest(const uint8_t *header, uint32_t header_len,
                                 const uint8_t payload_digest[32]);

// Reads the 16-byte installed header of `type` (slot 1 or 2 for APPLICATION) into header.
// Returns 1 when the type has a place, else 0; header holds zeros where nothing was read.
int image_read_installed_header(uint32_t type, uint8_t header[16], int slot);

// 1 when the installed image of the component's type has the same basic header (for UBOOT:
// bytes 4 to 15), else 0.
int image_same_as_installed(const uint8_t *header, int slot);
