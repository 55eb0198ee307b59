// The RSA keys a board can verify with: a modulus of 2048 to 4096 bits that is odd, and a
// public exponent of at most 32 bits. Checked on the trusted keys at build time and by the
// image tool before it signs, so no key is accepted that could never verify anything.
#pragma once

#include <cstdint>
#include <span>

inline constexpr unsigned SIGNING_KEY_MIN_BITS = 2048;
inline constexpr unsigned SIGNING_KEY_MAX_BITS = 4096;
inline constexpr unsigned SIGNING_KEY_MAX_EXPONENT_BITS = 32;

// nullptr when the key is usable, else a line naming the limit it breaks. Both numbers are
// big-endian magnitudes; leading zero bytes are allowed.
const char *signing_key_limit_violation(std::span<const uint8_t> modulus, std::span<const uint8_t> exponent);

// The same limits read from a key file's own numbers (PEM or DER: a PKCS#1 RSAPublicKey or
// RSAPrivateKey, or a SubjectPublicKeyInfo), before any key reader can refuse an oversized
// key for reasons of its own. nullptr when the key keeps the limits or its numbers cannot be
// found (the key readers then say what is wrong with it).
const char *signing_key_data_violation(const uint8_t *keyData, uint32_t keyDataLength);
