// The shared DER corpus (vectors/der: ok.json must parse, err.json must be refused), read
// with the rules this parser documents. Where those rules knowingly differ from strict DER
// an entry is skipped with its reason: the parser tolerates BER forms (long-form and
// non-minimal lengths, non-minimal INTEGERs, any non-zero BOOLEAN), never examines string
// content, is not a typed decoder (an entry refused only because a decoder for another
// type was asked to read it is an ordinary element here), and takes at most 4 length
// octets within a 32-bit stream.
#include "crypto/der/asn1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/unit/crypto/asn1_test_helpers.h"

namespace {

using namespace asn1test;

// ---- The corpus's JSON: objects, arrays, strings, numbers, literals.

struct Json {
    bool isNumber = false, isArray = false;
    std::string text; // number (as written) or string
    std::vector<Json> items;
    std::map<std::string, Json> fields;

    const Json *get(const std::string &key) const
    {
        auto it = fields.find(key);
        return it == fields.end() ? nullptr : &it->second;
    }
};

// Reads the value at s[at]; clears `ok` at anything it does not understand.
Json readJson(const std::string &s, size_t &at, bool &ok)
{
    auto next = [&] {
        while (at < s.size() && std::isspace(static_cast<unsigned char>(s[at])))
            ++at;
        return at < s.size() ? s[at] : '\0';
    };
    auto string = [&] {
        std::string out;
        for (++at; at < s.size() && s[at] != '"'; ++at)
            out += s[at] == '\\' ? s[++at] : s[at];
        ok = ok && at++ < s.size();
        return out;
    };
    Json v;
    const char c = next();
    if (c == '{' || c == '[') {
        v.isArray = c == '[';
        ++at;
        while (ok && next() != (v.isArray ? ']' : '}')) {
            if (v.isArray) {
                v.items.push_back(readJson(s, at, ok));
            } else {
                ok = ok && next() == '"';
                std::string key = string();
                ok = ok && next() == ':';
                ++at;
                v.fields[key] = readJson(s, at, ok);
            }
            if (next() == ',')
                ++at;
        }
        ++at;
    } else if (c == '"') {
        v.text = string();
    } else {
        while (at < s.size() && (std::isalnum(static_cast<unsigned char>(s[at])) || s[at] == '-'))
            v.text += s[at++];
        v.isNumber = !v.text.empty() && v.text != "null" && v.text != "true" && v.text != "false";
        ok = ok && !v.text.empty();
    }
    return v;
}

std::unique_ptr<Json> loadCorpus(const char *file)
{
    std::ifstream in(std::string(BM_SHARED_DIR) + "/vectors/der/" + file);
    if (!in)
        return nullptr;
    std::stringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    size_t at = 0;
    bool ok = true;
    auto doc = std::make_unique<Json>(readJson(s, at, ok));
    EXPECT_TRUE(ok) << file << ": JSON not understood";
    return doc;
}

std::vector<uint8_t> bytesOf(const Json &entry)
{
    std::vector<uint8_t> out;
    if (const Json *b = entry.get("bytes"))
        for (const Json &n : b->items)
            out.push_back(static_cast<uint8_t>(std::stoul(n.text)));
    return out;
}

std::string nameOf(const Json &entry)
{
    const Json *n = entry.get("name");
    return n ? n->text : "?";
}

// Every entry of the corpus with its category ("length", "object", "bool", "integer", ...).
std::vector<std::pair<std::string, const Json *>> entries(const Json &doc)
{
    std::vector<std::pair<std::string, const Json *>> out;
    for (const auto &[key, list] : doc.fields) {
        if (key == "typed") {
            for (const auto &[type, typed] : list.fields)
                for (const Json &e : typed.items)
                    out.emplace_back(type, &e);
        } else {
            for (const Json &e : list.items)
                out.emplace_back(key, &e);
        }
    }
    return out;
}

// ---- A stream of a few header bytes followed by `size` zero bytes that are never stored,
// to give the parser lengths of megabytes and gigabytes without the memory.

struct VirtualStream {
    std::vector<uint8_t> head;
    int64_t size;
    int64_t position = 0;
};

VirtualStream *vs(void *obj)
{
    return static_cast<VirtualStream *>(obj);
}

MSTATUS vGetByte(void *obj, uint8_t *b)
{
    VirtualStream *v = vs(obj);
    if (v->position < 0 || v->position >= v->size)
        return ERR_STREAM_RANGE;
    *b = v->position < static_cast<int64_t>(v->head.size()) ? v->head[v->position] : 0;
    v->position++;
    return OK;
}
MSTATUS vUnget(void *, uint8_t) { return ERR_STREAM_RANGE; }
MSTATUS vTell(void *obj, int32_t *p)
{
    *p = static_cast<int32_t>(vs(obj)->position);
    return OK;
}
MSTATUS vSeek(void *obj, int32_t offset, int32_t mode)
{
    if (mode != STREAM_SEEK_SET)
        return ERR_STREAM_RANGE;
    vs(obj)->position = offset;
    return offset < 0 || offset > vs(obj)->size ? ERR_STREAM_RANGE : OK;
}
MSTATUS vAtEnd(void *obj, bool *end)
{
    *end = vs(obj)->position >= vs(obj)->size;
    return OK;
}
MSTATUS vRead(void *, uint8_t *, uint32_t) { return ERR_STREAM_RANGE; }
const uint8_t *vMap(void *obj, int32_t offset, uint32_t length)
{
    const VirtualStream *v = vs(obj);
    if (offset < 0 || int64_t{offset} + length > static_cast<int64_t>(v->head.size()))
        return nullptr;
    return v->head.data() + offset;
}
void vUnmap(void *, const uint8_t *) {}
constexpr ByteStreamOps kVirtualOps = {vGetByte, vUnget, vTell, vSeek, vAtEnd, vRead, vMap, vUnmap};

// Length octets of a long form that a shorter form could have written.
bool nonMinimalLength(const std::vector<uint8_t> &octets)
{
    if (octets.empty() || octets[0] <= 0x80)
        return false;
    size_t count = octets[0] & 0x7F;
    if (count + 1 > octets.size())
        return false;
    return (count == 1 && octets[1] < 0x80) || (count > 1 && octets[1] == 0);
}

// Why an entry of err.json is accepted by design here, or null when it must be refused.
const char *acceptedByDesign(const std::string &category, const std::string &name,
                             const std::vector<uint8_t> &der)
{
    if (name.find("invalid tag") != std::string::npos)
        return "an ordinary element of another type; the parser is not a typed decoder";
    if (category == "length" && nonMinimalLength(der))
        return "BER long-form length where a shorter one would do";
    if (der.size() >= 4 && der[0] == 0x02 && der[1] >= 2 &&
        ((der[2] == 0x00 && der[3] < 0x80) || (der[2] == 0xFF && der[3] >= 0x80)))
        return "non-minimal INTEGER; its content is read as it stands";
    if (der.size() == 3 && der[0] == 0x01 && der[1] == 1 && der[2] != 0x00 && der[2] != 0xFF)
        return "BER BOOLEAN: any non-zero byte is TRUE";
    if (!der.empty() && der[0] == 0x0C && name.find("non-UTF-8") != std::string::npos)
        return "string content is skipped, never examined";
    return nullptr;
}

// Length-only entries: the octets become the length of an OCTET STRING with that much content.
MSTATUS parseWithLength(const std::vector<uint8_t> &octets, uint64_t length, uint32_t *decoded)
{
    VirtualStream v;
    v.head.assign(1 + octets.size(), 0x04);
    std::copy(octets.begin(), octets.end(), v.head.begin() + 1);
    v.size = static_cast<int64_t>(v.head.size() + std::min<uint64_t>(length, uint64_t{1} << 40));
    ByteStream s{&v, &kVirtualOps};
    Asn1Element *root = nullptr;
    MSTATUS status = ASN1_parse(&s, &root);
    if (status == OK) {
        *decoded = root->firstChild->length;
        EXPECT_EQ(v.size, v.position);
    }
    ASN1_freeTree(&root);
    return status;
}

TEST(Asn1Vectors, AcceptedCorpus)
{
    auto doc = loadCorpus("ok.json");
    if (!doc)
        GTEST_SKIP() << "vectors/der not present";
    int checked = 0, limited = 0;
    for (const auto &[category, entry] : entries(*doc)) {
        const std::string name = nameOf(*entry);
        const std::vector<uint8_t> der = bytesOf(*entry);
        const Json *value = entry->get("value");
        if (category == "length") {
            if (!value || !value->isNumber)
                continue; // truncated-length entries carry no bytes and no value
            const uint64_t length = std::stoull(value->text);
            uint32_t decoded = 0;
            MSTATUS status = parseWithLength(der, length, &decoded);
            if (der.size() > 5) {
                // More than 4 length octets is this parser's limit: no 32-bit stream holds it.
                EXPECT_EQ(ERR_DER_LENGTH_TOO_LONG, status) << name;
                ++limited;
            } else if (length + der.size() + 1 > uint64_t{std::numeric_limits<int32_t>::max()}) {
                // Representable, but past any position of a signed 32-bit stream.
                EXPECT_EQ(ERR_STREAM_RANGE, status) << name;
                ++limited;
            } else {
                EXPECT_EQ(OK, status) << name;
                EXPECT_EQ(length, decoded) << name;
                ++checked;
            }
            continue;
        }
        auto p = parseBytes(der);
        ASSERT_EQ(OK, p->status) << category << ": " << name;
        const Asn1Element *e = p->top();
        EXPECT_EQ(der.size(), size_t{e->headerLength} + e->length) << name;
        if (value && value->isArray) {
            std::vector<uint8_t> expected;
            for (const Json &n : value->items)
                expected.push_back(static_cast<uint8_t>(std::stoul(n.text)));
            const uint8_t *content = p->stream.ops->map(p->stream.obj, e->contentOffset, e->length);
            ASSERT_TRUE(content || e->length == 0) << name;
            EXPECT_EQ(expected, std::vector<uint8_t>(content, content + e->length)) << name;
        }
        if (const Json *n = entry->get("uint"); n && category == "integer" && e->length <= 4) {
            EXPECT_EQ(std::stoull(n->text), e->value) << name;
        }
        if (const Json *seq = entry->get("sequence")) {
            EXPECT_EQ(static_cast<int>(seq->items.size()), childCount(e)) << name;
        }
        ++checked;
    }
    EXPECT_GE(checked, 38); // the corpus as published: every entry was looked at
    std::printf("ok.json: %d parsed, %d refused at the documented 32-bit limits\n", checked, limited);
}

TEST(Asn1Vectors, RefusedCorpus)
{
    auto doc = loadCorpus("err.json");
    if (!doc)
        GTEST_SKIP() << "vectors/der not present";
    int refused = 0, skipped = 0;
    for (const auto &[category, entry] : entries(*doc)) {
        const std::string name = nameOf(*entry);
        std::vector<uint8_t> der = bytesOf(*entry);
        if (const char *why = acceptedByDesign(category, name, der)) {
            std::printf("skipped %s: %s (%s)\n", category.c_str(), name.c_str(), why);
            ++skipped;
            continue;
        }
        MSTATUS status;
        if (category == "length") {
            uint32_t decoded = 0;
            // The content the octets announce, when they announce any at all.
            uint64_t length = 0;
            if (der.size() >= 2 && der[0] > 0x80 && der[0] <= 0x84)
                for (size_t i = 1; i < der.size(); ++i)
                    length = (length << 8) | der[i];
            status = parseWithLength(der, length, &decoded);
        } else {
            status = parseBytes(der)->status;
        }
        EXPECT_NE(OK, status) << category << ": " << name;
        ++refused;
    }
    EXPECT_GE(refused, 20);
    std::printf("err.json: %d refused, %d skipped by design\n", refused, skipped);
}

// The fuzzer's seeds are real keys, certificates and DigestInfos made by other software:
// each parses, and a DER seed is exactly one element with nothing after it.
TEST(Asn1Vectors, FuzzSeedCorpus)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(BM_SOURCE_DIR) / "fuzz" / "corpus" / "asn1_parse";
    if (!fs::is_directory(dir))
        GTEST_SKIP() << dir << " not present";
    int seeds = 0;
    for (const fs::directory_entry &f : fs::directory_iterator(dir)) {
        std::ifstream in(f.path(), std::ios::binary);
        std::vector<uint8_t> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto p = parseBytes(der);
        ASSERT_EQ(OK, p->status) << f.path();
        const Asn1Element *top = p->top();
        if (f.path().extension() == ".der") {
            EXPECT_EQ(der.size(), size_t{top->headerLength} + top->length) << f.path();
        }
        EXPECT_EQ(static_cast<int32_t>(der.size()), p->position()) << f.path();
        ++seeds;
    }
    EXPECT_GE(seeds, 10);
}

} // namespace
