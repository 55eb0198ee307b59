// Helpers shared by the DER parser tests: a parse that keeps its input, stream and tree
// together and releases the tree when it goes out of scope, and tree measurements.
#pragma once

#include "crypto/der/asn1.h"
#include "tests/support/bytes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace asn1test {

struct Parsed {
    std::vector<uint8_t> bytes;
    MemStream mem{};
    ByteStream stream{};
    Asn1Element *root = nullptr;
    MSTATUS status = OK;

    Parsed() = default;
    Parsed(const Parsed &) = delete;
    Parsed &operator=(const Parsed &) = delete;
    ~Parsed() { ASN1_freeTree(&root); }

    const Asn1Element *top() const { return root ? root->firstChild : nullptr; }
    int32_t position()
    {
        int32_t p = -1;
        stream.ops->tell(stream.obj, &p);
        return p;
    }
};

inline std::unique_ptr<Parsed> parseBytes(std::vector<uint8_t> bytes)
{
    auto p = std::make_unique<Parsed>();
    p->bytes = std::move(bytes);
    MEMSTREAM_init(&p->stream, &p->mem, p->bytes.data(), static_cast<uint32_t>(p->bytes.size()));
    p->status = ASN1_parse(&p->stream, &p->root);
    return p;
}

inline std::unique_ptr<Parsed> parseHex(const std::string &text)
{
    return parseBytes(hexBytes(text));
}

inline int treeDepth(const Asn1Element *node)
{
    int deepest = 0;
    for (const Asn1Element *c = node->firstChild; c; c = c->nextSibling) {
        int d = 1 + treeDepth(c);
        deepest = d > deepest ? d : deepest;
    }
    return deepest;
}

inline int childCount(const Asn1Element *node)
{
    int n = 0;
    for (const Asn1Element *c = node->firstChild; c; c = c->nextSibling)
        ++n;
    return n;
}

} // namespace asn1test
