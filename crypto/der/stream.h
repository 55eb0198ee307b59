// Byte streams of the cryptographic library: a stream object paired with a table of eight
// operations, and the memory stream that reads a caller-owned buffer through that table.
// Relies only on the status codes; the DER parser and the key readers read their input
// exclusively through a ByteStream, never through the buffer behind it.
#pragma once

#include <cstdint>

#include "crypto/common/status.h"

// Seek modes: from the start, from the current position, back from the end.
enum : int32_t {
    STREAM_SEEK_SET = 1,
    STREAM_SEEK_CUR = 2,
    STREAM_SEEK_END = 3,
};

// The eight stream operations, in this order. Each takes the stream object first.
struct ByteStreamOps {
    MSTATUS (*getByte)(void *obj, uint8_t *byte);            // read one byte, advance
    MSTATUS (*ungetByte)(void *obj, uint8_t byte);           // put one byte back, step back
    MSTATUS (*tell)(void *obj, int32_t *position);
    MSTATUS (*seek)(void *obj, int32_t offset, int32_t mode);
    MSTATUS (*atEnd)(void *obj, bool *end);                  // true when no byte is left
    MSTATUS (*read)(void *obj, uint8_t *buffer, uint32_t length); // exactly length bytes
    // length bytes starting at offset, or null when that range is not in the stream
    const uint8_t *(*map)(void *obj, int32_t offset, uint32_t length);
    void (*unmap)(void *obj, const uint8_t *mapped);
};

struct ByteStream {
    void *obj;
    const ByteStreamOps *ops;
};

// A read-only window on a caller-owned buffer; nothing is copied.
struct MemStream {
    const uint8_t *data;
    int32_t size;
    int32_t position;
};

// Sets mem up over data[0, length) at position 0 and points stream at it.
// -6001 for a null stream or mem, or null data with a non-zero length;
// -6003 for a length that does not fit the stream's signed 32-bit size.
MSTATUS MEMSTREAM_init(ByteStream *stream, MemStream *mem, const uint8_t *data, uint32_t length);
