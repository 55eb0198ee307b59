// Memory stream: the ByteStream operations over a caller-owned buffer.
#include "crypto/der/stream.h"

#include <cstring>
#include <limits>

namespace {

MemStream *asMem(void *obj)
{
    return static_cast<MemStream *>(obj);
}

bool readable(const MemStream *m)
{
    return m->position >= 0 && m->position < m->size;
}

MSTATUS memGetByte(void *obj, uint8_t *byte)
{
    MemStream *m = asMem(obj);
    if (!m || !byte)
        return ERR_NULL_POINTER;
    if (!readable(m))
        return ERR_STREAM_RANGE;
    *byte = m->data[m->position++];
    return OK;
}

// The buffer belongs to the caller and may be read-only (a key inside a const image), so
// putting back never writes: it only steps back over the byte that is already there. A
// different byte, or a position with no byte before it, is refused.
MSTATUS memUngetByte(void *obj, uint8_t byte)
{
    MemStream *m = asMem(obj);
    if (!m)
        return ERR_NULL_POINTER;
    if (m->position <= 0 || m->position > m->size)
        return ERR_STREAM_RANGE;
    if (m->data[m->position - 1] != byte)
        return ERR_STREAM_RANGE;
    m->position--;
    return OK;
}

MSTATUS memTell(void *obj, int32_t *position)
{
    MemStream *m = asMem(obj);
    if (!m || !position)
        return ERR_NULL_POINTER;
    *position = m->position;
    return OK;
}

// A target outside 0..size is refused but still taken as the new position, so that every
// later read fails too; the target is computed in 64 bits and saturated, never wrapped.
MSTATUS memSeek(void *obj, int32_t offset, int32_t mode)
{
    MemStream *m = asMem(obj);
    if (!m)
        return ERR_NULL_POINTER;
    int64_t target;
    switch (mode) {
    case STREAM_SEEK_SET:
        target = offset;
        break;
    case STREAM_SEEK_CUR:
        target = int64_t{m->position} + offset;
        break;
    case STREAM_SEEK_END:
        target = int64_t{m->size} - offset;
        break;
    default:
        // The position stays; reporting success would let the caller read from the wrong place.
        return ERR_STREAM_RANGE;
    }
    constexpr int64_t lo = std::numeric_limits<int32_t>::min();
    constexpr int64_t hi = std::numeric_limits<int32_t>::max();
    m->position = static_cast<int32_t>(target < lo ? lo : (target > hi ? hi : target));
    if (target < 0 || target > m->size)
        return ERR_STREAM_RANGE;
    return OK;
}

MSTATUS memAtEnd(void *obj, bool *end)
{
    MemStream *m = asMem(obj);
    if (!m || !end)
        return ERR_NULL_POINTER;
    *end = !readable(m);
    return OK;
}

// All or nothing: fewer than length bytes left reads nothing and fails.
MSTATUS memRead(void *obj, uint8_t *buffer, uint32_t length)
{
    MemStream *m = asMem(obj);
    if (!m || (!buffer && length != 0))
        return ERR_NULL_POINTER;
    if (m->position < 0 || m->position > m->size)
        return ERR_STREAM_RANGE;
    if (length > static_cast<uint32_t>(m->size - m->position))
        return ERR_STREAM_RANGE;
    if (length != 0)
        std::memcpy(buffer, m->data + m->position, length);
    m->position += static_cast<int32_t>(length);
    return OK;
}

const uint8_t *memMap(void *obj, int32_t offset, uint32_t length)
{
    const MemStream *m = asMem(obj);
    if (!m || !m->data || offset < 0)
        return nullptr;
    if (int64_t{offset} + length > m->size)
        return nullptr;
    return m->data + offset;
}

void memUnmap(void *, const uint8_t *)
{
}

constexpr ByteStreamOps kMemStreamOps = {
    memGetByte, memUngetByte, memTell, memSeek, memAtEnd, memRead, memMap, memUnmap,
};

} // namespace

MSTATUS MEMSTREAM_init(ByteStream *stream, MemStream *mem, const uint8_t *data, uint32_t length)
{
    if (!stream || !mem || (!data && length != 0))
        return ERR_NULL_POINTER;
    if (length > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
        return ERR_BAD_LENGTH;
    mem->data = data;
    mem->size = static_cast<int32_t>(length);
    mem->position = 0;
    stream->obj = mem;
    stream->ops = &kMemStreamOps;
    return OK;
}
