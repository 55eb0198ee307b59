// Fuzz target: CA_MGMT_keyBlobToKey on arbitrary bytes. A blob that reads must write back,
// and what it writes must read and write again to the very same bytes; a deep copy of the
// key writes the same blob too.
#include "crypto/keys/key_holder.h"

#include <cstdint>
#include <cstring>

namespace {

struct Blob {
    uint8_t *bytes = nullptr;
    uint32_t length = 0;
    ~Blob()
    {
        if (bytes)
            CA_MGMT_freeKeyBlob(&bytes, length);
    }
};

struct Key {
    KeyHolder h{KEY_TYPE_EMPTY, nullptr};
    ~Key() { CA_MGMT_freeKey(&h); }
};

bool same(const Blob &a, const Blob &b)
{
    return a.length == b.length && std::memcmp(a.bytes, b.bytes, a.length) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Key key;
    if (CA_MGMT_keyBlobToKey(data, uint32_t(size), &key.h) != OK)
        return 0;
    if (key.h.type != KEY_TYPE_RSA && key.h.type != KEY_TYPE_EC)
        __builtin_trap();
    // Writing may still fail: a private RSA key given with p < q is completed anew first.
    Blob written;
    if (CA_MGMT_keyToKeyBlob(&key.h, &written.bytes, &written.length) != OK)
        return 0;
    Key again, copy;
    Blob rewritten, copied;
    if (CA_MGMT_keyBlobToKey(written.bytes, written.length, &again.h) != OK ||
        CA_MGMT_keyToKeyBlob(&again.h, &rewritten.bytes, &rewritten.length) != OK || !same(written, rewritten))
        __builtin_trap(); // the library's own blob must round-trip exactly
    if (CA_MGMT_copyKey(&copy.h, &key.h) != OK || CA_MGMT_keyToKeyBlob(&copy.h, &copied.bytes, &copied.length) != OK ||
        !same(written, copied))
        __builtin_trap();
    return 0;
}
