// Booting a stored image: opening the slot file (or the USB stick image), finding its first
// application or diagnostics component, checking its CRC, writing its payload to the
// application tarball and handing over to the launch; the rescue-partition boot and the
// gdb extraction from the other slot. Relies on image/format.h for layouts and the CRC,
// the board operations for the booted-image and boot-slot bytes, and the rescue menu for
// the final branches. Called by the start-up sequence and the filesystem erase.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image/format.h"

inline constexpr char IMAGE_SLOT1_PATH[] = "/user/images/image1";
inline constexpr char IMAGE_SLOT2_PATH[] = "/user/images/image2";
inline constexpr char USB_IMAGE_PATH[] = "/mnt/usb/LMW3190_OS.img";
inline constexpr int USB_BOOT_SLOT = 3;
inline constexpr int RESCUE_BOOTED_IMAGE = 4; // booted-image byte for the rescue partition

// Boots slot 1, 2 or 3 (the USB stick image). Does not return once the image starts;
// returns 0 when the slot cannot be booted and the caller should try elsewhere. On the
// fallback attempt a failed slot ends in the rescue menu, a shell or a reboot instead.
int boot_image_slot(int slot);

// Walks the components of `image` from offset 0 to the first APPLICATION or DIAGS one.
// Returns 1 with the file positioned at that component, its type, format, header and
// payload lengths and its first 16 bytes in `header_copy`; returns 0 when none is found.
// The walk never leaves the file: a component whose layout does not fit in the bytes that
// remain ends it. `magic` always receives the type of the last component examined (0 when
// the file is too short to hold one).
int find_boot_component(FILE *image, uint32_t *magic, uint32_t *format, uint32_t *header_len,
                        uint32_t *payload_len, uint8_t header_copy[IMAGE_BASIC_HEADER_SIZE]);

// What copy_boot_component did with the component at the image file's position.
enum ComponentCopy {
    COMPONENT_COPIED,        // CRC correct, payload written to the tarball
    COMPONENT_BAD,           // could not be held in memory or read whole, or its CRC is wrong
    COMPONENT_WRITE_FAILED,  // CRC correct, but the tarball did not take the whole payload
};

// The slot boot's step: reads the component of header_len + payload_len bytes at the
// image's position whole, checks its CRC and writes its payload to `tarball` in one piece.
// Closes neither file.
ComponentCopy copy_boot_component(FILE *image, uint32_t header_len, uint32_t payload_len, FILE *tarball);

// Extracts the gzip-compressed debugger from the first component of the slot that is not
// being booted into /tmp/gdb. Returns 1 when /tmp/gdb was produced, 0 otherwise.
int extract_gdb(int slot);

// Boots the component kept in the rescue flash partition (diagnostics or recovery image).
// Returns 0 when there is no bootable component or its CRC is wrong; otherwise it does
// not return.
int boot_rescue_image();
