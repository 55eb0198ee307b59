// Helpers shared by the DER parser tests: bytes from hex text and a parse that keeps its
// input, stream and tree together and releases the tree when it goes out of scope.
#pragma once

#include "crypto/der/asn1.h"

#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace asn1test {

// "30 03 02 01 05" -> bytes; blanks are ignored.
inline std::vector<uint8_t> hex(const std::string &text)
{
    std::vector<uint8_t> out;
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

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
    return parseBytes(hex(text));
}

// DER header for an element of the given identifier octet and content length.
inline std::vector<uint8_t> header(uint8_t identifier, size_t length)
{
    std::vector<uint8_t> out{identifier};
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
    } else {
        std::vector<uint8_t> octets;
        for (size_t v = length; v; v >>= 8)
            octets.insert(octets.begin(), static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(0x80 | octets.size()));
        out.insert(out.end(), octets.begin(), octets.end());
    }
    return out;
}

inline std::vector<uint8_t> wrap(uint8_t identifier, const std::vector<uint8_t> &content)
{
    std::vector<uint8_t> out = header(identifier, content.size());
    out.insert(out.end(), content.begin(), content.end());
    return out;
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
