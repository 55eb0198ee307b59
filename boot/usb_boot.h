// USB stick boot: the wait for the stick's filesystem, the boot package and the replacement
// images on the stick, the rejected list of images booted straight from the stick (keyed by
// their MD5, in /user/images/rejected) and the timed yes/no question. Relies on the package
// installer, busybox md5sum and reboot_board; called by the start-up sequence and the image
// boot.
#pragma once

// The MD5 of the file as 32 lower-case hexadecimal digits and a NUL (text: 33 bytes), as
// busybox md5sum prints it. 1 on success, 0 when md5sum gave no such digest.
int image_fingerprint(const char *path, char *text);

// 0 when the stick's filesystem is ready (or no stick is present), -1 when the wait
// timed out (about 11 seconds).
int usb_wait_for_mount();

// Installs /mnt/usb/LMW3190_Boot.img (skipping components already installed) and reboots
// when anything was installed; otherwise returns.
void usb_install_boot_image();

// 0: nothing to do; 1 or 2: that slot was replaced and is to be booted; 3: boot the
// stick's own image.
int usb_apply_replacements();

// 1 when the image at `path` is in the rejected list, 0 when not or when unknown.
int is_image_rejected(const char *path);

// Puts the image at `path` into the rejected list.
void reject_image(const char *path);

// Prints the prompt and "(y/n) " and waits up to 5 seconds for an answer line; 1 for y, 0
// for n, time-out or end of input. Other bytes (the Enter after an answer too) ask again.
int ask_yes_no(const char *prompt);
