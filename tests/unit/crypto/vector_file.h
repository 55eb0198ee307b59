// Reader for the NIST CAVP style vector files (.rsp and friends) used by the digest, AES
// and DRBG tests: "[section]" header lines, blank-line separated records of "Name = hex"
// lines, "#" comments, CRLF or LF line ends.
#pragma once

#include "tests/support/bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct VectorRecord {
    std::vector<std::string> sections; // the "[...]" lines in force, brackets removed
    std::vector<std::pair<std::string, std::string>> fields;

    // The nth value named name, or null.
    const std::string *get(const std::string &name, int nth = 0) const
    {
        for (const auto &[key, value] : fields)
            if (key == name && nth-- == 0)
                return &value;
        return nullptr;
    }

    bool in_section(const std::string &section) const
    {
        for (const std::string &s : sections)
            if (s == section)
                return true;
        return false;
    }
};

inline std::string vector_trim(const std::string &s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// Every record of the file; nullopt when the file cannot be opened.
inline std::optional<std::vector<VectorRecord>> read_vector_file(const std::string &path)
{
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    std::vector<VectorRecord> records;
    std::vector<std::string> sections;
    bool last_was_section = false;
    bool in_record = false;
    std::string line;
    while (std::getline(in, line)) {
        line = vector_trim(line);
        if (line.empty()) {
            in_record = false;
            continue;
        }
        if (line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            if (!last_was_section)
                sections.clear();
            sections.push_back(line.substr(1, line.size() - 2));
            last_was_section = true;
            in_record = false;
            continue;
        }
        last_was_section = false;
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        if (!in_record) {
            records.push_back({sections, {}});
            in_record = true;
        }
        records.back().fields.emplace_back(vector_trim(line.substr(0, eq)),
                                           vector_trim(line.substr(eq + 1)));
    }
    return records;
}

inline std::string shared_vector_path(const std::string &relative)
{
    return std::string(BM_SHARED_DIR) + "/vectors/" + relative;
}

// The records of one section of a file under tests/data; a failure when there are none.
inline std::vector<VectorRecord> data_section(const std::string &file, const std::string &section)
{
    auto records = read_vector_file(std::string(BM_SOURCE_DIR "/tests/data/") + file);
    std::vector<VectorRecord> out;
    for (const VectorRecord &r : records.value_or(std::vector<VectorRecord>{}))
        if (r.in_section(section))
            out.push_back(r);
    EXPECT_FALSE(out.empty()) << file << " [" << section << "]";
    return out;
}
