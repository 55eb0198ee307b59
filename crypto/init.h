// One-time initialisation of the cryptographic library and its process-wide state: the init
// count, start time, base64 decoding table and the global random generator. Relies on the
// platform hooks, the trace console, the entropy pool and random contexts; the image
// signature gate calls CRYPTO_initLibrary before the first digest, and the PEM key reader
// uses the base64 table.
#pragma once

#include "crypto/common/platform_hooks.h"
#include "crypto/random/random.h"
#include "crypto/common/status.h"

#include <cstdint>

// Global random generator, created and seeded by the first CRYPTO_initLibrary.
extern RandomContext *g_randomContext;

// Does its work on the first call only: returns the last platform hook's value (1) on
// success, a negative status when a step fails (later steps do not run and are not retried),
// and 0 on every later call.
MSTATUS CRYPTO_initLibrary();

// Number of CRYPTO_initLibrary calls so far.
uint32_t CRYPTO_getInitCount();
// Platform time recorded by the first CRYPTO_initLibrary.
PlatformTime CRYPTO_getStartTime();

// 256-entry base64 decoding table, null until CRYPTO_initLibrary has built it. Entry c is
// 1 + the index of c in the RFC 4648 alphabet "A..Za..z0..9+/", and 0 for every other
// byte ('=' included): a decoder rejects entry 0 and uses entry - 1 as the 6-bit value.
const uint8_t *CRYPTO_base64DecodeTable();
