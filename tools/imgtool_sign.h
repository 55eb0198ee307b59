// Signing side of the image tool: RSA PKCS#1 v1.5 / SHA-256 signatures made with OpenSSL, the
// `verify` and `keyhash` commands that run the boot manager's own gate and key readers, and
// the signature line of `info`. Called by imgtool's command dispatcher.
#pragma once

#include <cstdint>
#include <vector>

#include "image/builder.h"
#include "image/format.h"

// Adds the signature record (3) and the key record (4, the public key as PEM or DER) of
// `payload` signed with the private key file to the plan. Returns false after a one-line
// error on standard error.
bool imgtool_sign_plan(ComponentPlan &plan, const std::vector<uint8_t> &payload, const char *key_path,
                       bool key_as_der);

// The whole file at `path` into `out` (imgtool.cpp); false when it cannot be read.
bool imgtool_read_file(const char *path, std::vector<uint8_t> *out);

// imgtool verify FILE [--trusted KEY]...
int imgtool_verify(int argc, char **argv);
// imgtool keyhash KEY
int imgtool_keyhash(int argc, char **argv);

// For `info`: one line on a signed format-3 component (key fingerprint, whether it is
// trusted, whether the signature verifies); nothing for other components.
void imgtool_print_signature(const uint8_t *component, const image_layout &layout);
