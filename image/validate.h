// Checks applied to a component before it is installed or booted: the signature gate with
// its rules (developer images, the authenticated header, which types are gated, downgrades,
// verification at boot), the header of the installed image of a type (slot file or flash
// partition), and whether a component is the very one installed. Relies on the image
// format, the flash partitions and the signature front end with the build's trusted keys;
// called by the package installer, the image boot, the versions report and the image tool.
#pragma once

#include <cstdint>

#include "image/format.h"

// What the gate demands. The build picks one record (image_gate_build_rules); the image tool
// and the tests name either to get that board's verdict.
struct image_gate_rules {
    bool refuse_developer_images; // version 0 is refused instead of accepted unsigned
    bool require_auth_header;     // an install needs the authenticated header (record 5)
    bool gate_every_type;         // the boot loader and diagnostics components are gated too
    bool refuse_downgrades;       // older than the signed installed component is refused
    bool verify_at_boot;          // every boot of a component passes the gate first
};

// Development boards: unsigned developer images, the authenticated header checked when
// present, boot loader and diagnostics installed unsigned, no version policy, CRC at boot.
inline constexpr image_gate_rules IMAGE_GATE_DEFAULT = {false, false, false, false, false};
// Production boards (-DBM_PRODUCTION=ON): every rule on.
inline constexpr image_gate_rules IMAGE_GATE_PRODUCTION = {true, true, true, true, true};

// The rules this build was made with.
const image_gate_rules &image_gate_build_rules();

// Whether an install of `type` goes through the gate: the application, kernel, root
// filesystem and device tree always; the boot loader and diagnostics under gate_every_type.
bool image_type_gated(uint32_t type, const image_gate_rules &rules);

// 1 when the component (total bytes in memory) is accepted for an install, 0 when rejected.
// Prints one result line in every case: "\tImage is a developer image", "\tImage signature
// verified", "\tImage rejected as it has no signature", "\tImage rejected", "\tImage
// rejected: key not trusted", "\tImage rejected: developer images are not accepted",
// "\tImage rejected: no authenticated header" or the digest failure line. Does not look at
// the CRC. The first form uses the build's rules.
int image_check_signature(const uint8_t *component, uint32_t total);
int image_check_signature(const uint8_t *component, uint32_t total, const image_gate_rules &rules);

// The same gate for a component that is streamed: `header` holds at least the layout's H
// header bytes (header_len of them are readable) and payload_sha256 is the SHA-256 of the
// payload, bytes H to T-1. Same result and line as image_check_signature.
int image_check_signature_digest(const uint8_t *header, uint32_t header_len, const image_layout &layout,
                                 const uint8_t payload_sha256[32], const image_gate_rules &rules);

// The gate as the boot applies it: the authenticated header is checked when present but not
// required, so an image signed before it existed still boots. Prints nothing; returns null
// when the component may boot, else the rejection line (without newline).
const char *image_boot_refusal(const uint8_t *header, uint32_t header_len, const image_layout &layout,
                               const uint8_t payload_sha256[32], const image_gate_rules &rules);

// Under refuse_downgrades: 0 after "\tImage rejected: version A is older than the installed
// version B" when the component (its first 16 bytes, already through the gate) is older than
// the installed one of its type in `slot`; 1 otherwise. Only an installed component whose
// authenticated header verifies with a trusted key counts: a developer, unsigned or
// record-3-only installed image, and the boot loader (whose flash copy keeps no records),
// block nothing. Versions compare as a.b.c.d, four unsigned bytes, most significant first.
int image_check_downgrade(const uint8_t *header, int slot, const image_gate_rules &rules);

// Reads the 16-byte installed header of `type` (slot 1 or 2 for APPLICATION) into header.
// Returns 1 when the type has a place, else 0; header holds zeros where nothing was read.
int image_read_installed_header(uint32_t type, uint8_t header[16], int slot);

// 1 when the installed image of the component's type has the same basic header (for UBOOT:
// bytes 4 to 15), else 0.
int image_same_as_installed(const uint8_t *header, int slot);
