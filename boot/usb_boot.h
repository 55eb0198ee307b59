// USB stick boot: the wait for the stick's filesystem, the boot package and the replacement
// images on the stick, the rejected list of stick images and the timed yes/no question.
// Relies on the installer and reboot_board. Called by the start-up sequence and the image
// boot. Stick handling is not built yet: these entry points say so and report "nothing
// done", so the board boots from flash.
#pragma once

// 0 when the stick's filesystem is ready (or no stick is present), -1 when the wait
// timed out.
int usb_wait_for_mount();

// Installs /mnt/usb/LMW3190_Boot.img and reboots when anything was installed; otherwise
// returns.
void usb_install_boot_image();

// 0: nothing to do; 1 or 2: that slot was replaced and is to be booted; 3: boot the
// stick's own image.
int usb_apply_replacements();

// 1 when the image at `path` is in the rejected list, 0 when not or when unknown.
int is_image_rejected(const char *path);

// Puts the image at `path` into the rejected list.
void reject_image(const char *path);

// Asks the operator; 1 for yes, 0 for no or time-out.
int ask_yes_no(const char *prompt);
