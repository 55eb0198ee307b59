// Booting a stored image: opening the slot file (or the USB stick image), finding its first
// application or diagnostics component, checking its CRC (and, in production builds, its
// signature) while its payload goes to the application tarball, and handing over to the
// launch; the rescue-partition boot and the gdb extraction from the other slot. Relies on
// image/format.h for layouts and the CRC, image/validate.h for the gate,
// the board operations for the booted-image and boot-slot bytes, and the rescue menu for
// the final branches. Called by the start-up sequence and the filesystem erase.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image/format.h"
#include "image/validate.h"

inline constexpr char IMAGE_SLOT1_PATH[] = "/user/images/image1";
inline constexpr char IMAGE_SLOT2_PATH[] = "/user/images/image2";
inline constexpr char USB_IMAGE_PATH[] = "/mnt/usb/LMW3190_OS.img";
inline constexpr int USB_BOOT_SLOT = 3;
inline constexpr int RESCUE_BOOTED_IMAGE = 4; // booted-image byte for the rescue partition

// Boots slot 1, 2 or 3 (the USB stick image). Does not return once the image starts;
// returns 0 when the slot cannot be booted and the caller should try elsewhere. On the
// fallback attempt a failed slot ends in the rescue menu, a shell or a reboot instead.
// The payload is unpacked before anything is committed (booted-image byte, gdb, start):
// an unpack that fails or is interrupted counts as the slot's CRC failure (launch.h).
int boot_image_slot(int slot);

// Walks the components of `image` from offset 0 to the first APPLICATION or DIAGS one.
// Returns 1 with the file positioned at that component, its type, format, header and
// payload lengths and its first 16 bytes in `header_copy`; returns 0 when none is found.
// A component that is not booted is stepped over by its total size T alone, and the walk
// ends at one whose T is below 16, wraps past 32 bits or runs past the end of the file,
// so it never stalls or leaves the file; its header length is not looked at. The bootable
// component is returned as its header gives it, even when it does not fit the file or
// its header length is impossible: write_boot_payload refuses it as a CRC failure. `magic`
// always receives the type of the last component examined (0 when the file is too short
// to hold one).
int find_boot_component(FILE *image, uint32_t *magic, uint32_t *format, uint32_t *header_len,
                        uint32_t *payload_len, uint8_t header_copy[IMAGE_BASIC_HEADER_SIZE]);

// Outcome of the slot-boot step.
enum boot_payload_status {
    BOOT_PAYLOAD_WRITTEN,      // the payload of an intact component is in the tarball
    BOOT_PAYLOAD_NOT_FOUND,    // no APPLICATION or DIAGS component in the file
    BOOT_PAYLOAD_CRC_FAILED,   // found, but its CRC is wrong, it runs past the end of the
                               // file or its lengths are impossible
    BOOT_PAYLOAD_WRITE_FAILED, // the tarball did not take every byte of the payload
    BOOT_PAYLOAD_REFUSED,      // intact, but the gate refused it (verification at boot)
    BOOT_PAYLOAD_OPEN_FAILED,  // the tarball could not be created
};

// The slot-boot step, shared by every image boot of a file: finds the boot component of
// `image` (find_boot_component), checks its lengths against the file, then reads it once in
// pieces of a fixed size, each taken into the CRC (and the SHA-256 when the build verifies
// at boot) and written to `tarball`, which stays open (the caller closes it and checks that
// close). Memory does not grow with the component. On any failure the tarball is emptied.
// Prints nothing. `type` receives the type of the last component examined, the booted one
// on success. Uses the build's gate rules.
boot_payload_status write_boot_payload(FILE *image, FILE *tarball, uint32_t *type);

// The same step under `rules`, into the tarball file at `tarball_path`, which it creates and
// closes: after anything but BOOT_PAYLOAD_WRITTEN the file is gone. On BOOT_PAYLOAD_REFUSED
// `refusal` holds the gate's rejection line (no newline), else null.
boot_payload_status write_boot_tarball(FILE *image, const char *tarball_path, const image_gate_rules &rules,
                                       uint32_t *type, const char **refusal);

// Extracts the gzip-compressed debugger from the first component of the slot that is not
// being booted into /tmp/gdb. The component (format 1, T = len + 16, or a signed format 3
// whose payload follows its records) must be whole and pass the checks of a boot (CRC, and
// the gate where the build verifies at boot) before anything is unpacked, and the unpacked
// file must start like a
// program (the ELF magic or "#!"); otherwise nothing is left in /tmp/gdb and the launch
// reports gdb as not available. Returns 1 when /tmp/gdb was produced, 0 otherwise.
int extract_gdb(int slot);

// Boots the component kept in the rescue flash partition (diagnostics or recovery image).
// Returns 0 when there is no bootable component, its CRC is wrong or its payload does not
// unpack (reported as a CRC failure, before anything is asked or written to the board);
// otherwise it does not return.
int boot_rescue_image();
