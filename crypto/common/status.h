// Status codes of the cryptographic library. Every library operation returns a signed
// 32-bit status: 0 (or positive) for success, one of these negative values for failure.
#pragma once

#include <cstdint>

using MSTATUS = int32_t;

enum : MSTATUS {
    OK = 0,
    ERR_NULL_POINTER = -6001,
    ERR_DIVIDE_BY_ZERO = -6002,
    ERR_BAD_LENGTH = -6003,           // size beyond the unit limit, negative length
    ERR_BAD_MODULO = -6004,           // modular exponentiation with a zero modulus
    ERR_NO_INVERSE = -6005,           // modular inverse of a value sharing a factor with the modulus
    ERR_BUFFER_OVERFLOW = -6007,      // output buffer shorter than the value
    ERR_HASH_SUITE_UNKNOWN = -6010,
    ERR_WRONG_TYPE = -6011,           // DER element of the wrong type, OID or curve mismatch
    ERR_STREAM_RANGE = -6012,         // memory stream read or seek out of range
    ERR_RSA_EXPONENT_TOO_SMALL = -6013,
    ERR_KEY_TYPE_UNKNOWN = -6015,
    ERR_MEM_ALLOC = -6101,
    ERR_BASE64_BAD_INPUT = -6501,
    ERR_BASE64_NO_TABLE = -6502,
    ERR_LOCK_HELD = -5807,
    ERR_LOCK_NOT_HELD = -5808,
    ERR_RANDOM_DEVICE_OPEN = -7201,
    ERR_RANDOM_DEVICE_READ = -7202,
    ERR_KEYBLOB_MALFORMED = -7402,
    ERR_KEYBLOB_TYPE = -7403,
    ERR_KEYBLOB_VERSION = -7404,
    ERR_STRUCTURE = -7603,            // key or DigestInfo structure wrong, missing child
    ERR_ALGORITHM_UNKNOWN = -7604,
    ERR_RSA_EXPONENT_TOO_LONG = -7605,
    ERR_BAD_SIGNATURE_LENGTH = -7609, // signature or digest length or position wrong
    ERR_HASH_UNSUPPORTED = -7612,
    ERR_DER_TOO_DEEP = -7615,
    ERR_RSA_MODULUS_TOO_LONG = -7621,
    ERR_RSA_NULL_KEY = -7701,
    ERR_RSA_BAD_PADDING = -7702,
    ERR_RSA_KEY_DER = -7703,
    ERR_RSA_PRIVATE_VERSION = -7704,
    ERR_RSA_BAD_EXPONENT = -7706,
    ERR_RSA_MODULUS_TOO_BIG = -7707,
    ERR_RSA_INCOMPLETE_PRIVATE = -7708,
    ERR_RSA_SIGNATURE_RANGE = -7709,  // signature value not below the modulus
    ERR_SIGNATURE_MISMATCH = -7711,
    ERR_TREE_LINK = -8001,
    ERR_DER_EMPTY = -8101,            // empty input or a zero length where none is allowed
    ERR_DER_UNSUPPORTED_TYPE = -8102,
    ERR_DER_PAST_PARENT = -8103,
    ERR_DER_LENGTH_INVALID = -8104,   // indefinite primitive, content in NULL or end-of-contents, BOOLEAN not 1 byte
    ERR_DER_LENGTH_TOO_LONG = -8105,
    ERR_DER_BAD_TAG = -8108,
    ERR_EC_POINT_LENGTH = -9702,      // point not 2 x field length + 1 bytes
    ERR_EC_POINT_FORMAT = -9703,      // point not 04 | x | y (or 06/07 with the parity of y)
    ERR_EC_CURVE_UNSUPPORTED = -9802, // curve id or curve identifier not in the curve table
    ERR_EC_KEY_STRUCTURE = -9803,     // EC key DER or private scalar malformed
    ERR_EC_KEY_VERSION = -9804,       // ECPrivateKey version other than 1
    ERR_EC_KEY_MISSING = -9805,       // ECPrivateKey without its [0] curve or [1] public key
    ERR_DRBG_RESEED_REQUIRED = -17205,
    ERR_DRBG_BAD_KEY_LENGTH = -17207,
    ERR_DRBG_BAD_BLOCK_LENGTH = -17208,
    ERR_DRBG_REQUEST_TOO_LONG = -17209,
    ERR_DRBG_BAD_ENTROPY_LENGTH = -17210,
    ERR_RANDOM_KIND_UNKNOWN = -7203,  // random context of a kind this library does not make
};
