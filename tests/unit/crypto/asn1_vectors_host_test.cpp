// The shared DER corpus (vectors/der: ok.json must parse, err.json must be refused), read with
// the rules this parser documents. Where they knowingly differ from strict DER an entry is
// skipped with its reason: the parser tolerates BER forms (long-form and non-minimal lengths,
// non-minimal INTEGERs, any non-zero BOOLEAN), never examines string content, is not a typed
// decoder, and takes at most 4 length octets within a 32-bit stream.
#include "crypto/der/asn1.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/unit/crypto/asn1_test_helpers.h"

namespace {

using namespace asn1test;
using nlohmann::json;

json load_corpus(const char *file)
{
    std::ifstream in(std::string(BM_SHARED_DIR) + "/vectors/der/" + file);
    return in ? json::parse(in, nullptr, false) : json();
}

// Every entry with its category ("length", "object", or the type of a "typed" entry).
std::vector<std::pair<std::string, json>> entries(const json &doc)
{
    std::vector<std::pair<std::string, json>> out;
    for (const auto &[key, list] : doc.items()) {
        if (key != "typed") {
            for (const json &e : list)
                out.emplace_back(key, e);
            continue;
        }
        for (const auto &[type, typed] : list.items())
            for (const json &e : typed)
                out.emplace_back(type, e);
    }
    return out;
}

// A length-only entry: its octets become the length of an OCTET STRING with that much
// content, when the content fits in memory; longer contents are past the end of the stream.
std::unique_ptr<Parsed> parse_length(const std::vector<uint8_t> &octets, uint64_t length)
{
    std::vector<uint8_t> der{0x04};
    der.insert(der.end(), octets.begin(), octets.end());
    der.resize(der.size() + (length <= (1u << 24) ? length : 0));
    return parseBytes(der);
}

// Why an entry of err.json is accepted by design here, or null when it must be refused.
const char *accepted_by_design(const std::string &category, const std::string &name, const std::vector<uint8_t> &der)
{
    if (name.find("invalid tag") != std::string::npos)
        return "an ordinary element of another type; the parser is not a typed decoder";
    if (category == "length" && der.size() > 1 && der[0] > 0x80 &&
        (((der[0] & 0x7F) == 1 && der[1] < 0x80) || ((der[0] & 0x7F) > 1 && der[1] == 0)))
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

TEST(Asn1Vectors, AcceptedCorpus)
{
    json doc = load_corpus("ok.json");
    if (!doc.is_object())
        GTEST_SKIP() << "vectors/der not present";
    int checked = 0;
    for (const auto &[category, e] : entries(doc)) {
        const std::string name = e.value("name", "?");
        const auto der = e.value("bytes", std::vector<uint8_t>{});
        if (category == "length") {
            if (!e.contains("value") || !e["value"].is_number())
                continue; // truncated-length entries carry no value
            const uint64_t length = e["value"].get<uint64_t>();
            auto p = parse_length(der, length);
            if (der.size() > 5) {
                EXPECT_EQ(ERR_DER_LENGTH_TOO_LONG, p->status) << name; // over 4 length octets
            } else if (length > (1u << 24)) {
                EXPECT_NE(OK, p->status) << name; // content past the end of the stream
            } else {
                EXPECT_EQ(OK, p->status) << name;
                EXPECT_EQ(length, p->top() ? p->top()->length : ~0u) << name;
            }
            ++checked;
            continue;
        }
        auto p = parseBytes(der);
        ASSERT_EQ(OK, p->status) << category << ": " << name;
        const Asn1Element *top = p->top();
        EXPECT_EQ(der.size(), size_t{top->headerLength} + top->length) << name;
        if (e.contains("value") && e["value"].is_array()) {
            const uint8_t *content = p->stream.ops->map(p->stream.obj, top->contentOffset, top->length);
            ASSERT_TRUE(content || top->length == 0) << name;
            EXPECT_EQ(e["value"].get<std::vector<uint8_t>>(), std::vector<uint8_t>(content, content + top->length)) << name;
        }
        if (category == "integer" && e.contains("uint") && top->length <= 4) {
            EXPECT_EQ(e["uint"].get<uint64_t>(), top->value) << name;
        }
        if (e.contains("sequence")) {
            EXPECT_EQ(int(e["sequence"].size()), childCount(top)) << name;
        }
        ++checked;
    }
    EXPECT_GE(checked, 38); // every entry of the corpus as published was looked at
}

TEST(Asn1Vectors, RefusedCorpus)
{
    json doc = load_corpus("err.json");
    if (!doc.is_object())
        GTEST_SKIP() << "vectors/der not present";
    int refused = 0;
    for (const auto &[category, e] : entries(doc)) {
        const std::string name = e.value("name", "?");
        const auto der = e.value("bytes", std::vector<uint8_t>{});
        if (const char *why = accepted_by_design(category, name, der)) {
            std::printf("skipped %s: %s (%s)\n", category.c_str(), name.c_str(), why);
            continue;
        }
        uint64_t length = 0; // the content the octets announce, when they announce any
        if (category == "length" && der.size() >= 2 && der[0] > 0x80 && der[0] <= 0x84)
            for (size_t i = 1; i < der.size(); ++i)
                length = (length << 8) | der[i];
        EXPECT_NE(OK, (category == "length" ? parse_length(der, length) : parseBytes(der))->status)
            << category << ": " << name;
        ++refused;
    }
    EXPECT_GE(refused, 20);
}

} // namespace
