// Reader for the NIST CAVP style vector files (.rsp and friends) used by the digest, AES
// and DRBG tests: "[section]" header lines, blank-line separated records of "Name = hex"
// lines, "#" comments, CRLF or LF line ends.
#pragma once

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

inline std::vector<uint8_t> from_hex(const std::string &hex)
{
    auto nibble = [](char c) -> uint8_t {
        if (c >= '0' && c <= '9')
            return static_cast<uint8_t>(c - '0');
        if (c >= 'a' && c <= 'f')
            return static_cast<uint8_t>(c - 'a' + 10);
        return static_cast<uint8_t>(c - 'A' + 10);
    };
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
    return out;
}

inline std::string to_hex(const uint8_t *p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

inline std::string to_hex(const std::vector<uint8_t> &v) { return to_hex(v.data(), v.size()); }

inline std::string shared_vector_path(const std::string &relative)
{
    return std::string(BM_SHARED_DIR) + "/vectors/" + relative;
}
