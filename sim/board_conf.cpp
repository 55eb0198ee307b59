// Single-key access to board.conf (see board_conf.h). The file is small; it is read whole
// and rewritten whole.
#include "sim/board_conf.h"

#include "sim/fsutil.h"

#include <cstdlib>
#include <sstream>

namespace {

// The key of LINE, or "" for a blank or comment line.
std::string line_key(const std::string &line)
{
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#')
        return "";
    size_t end = line.find_first_of(" \t", start);
    return line.substr(start, end == std::string::npos ? end : end - start);
}

std::string line_value(const std::string &line)
{
    size_t start = line.find_first_not_of(" \t");
    size_t blank = line.find_first_of(" \t", start);
    size_t value = blank == std::string::npos ? std::string::npos : line.find_first_not_of(" \t", blank);
    if (value == std::string::npos)
        return "";
    std::string text = line.substr(value);
    size_t comment = text.find('#');
    if (comment != std::string::npos)
        text.erase(comment);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.pop_back();
    return text;
}

} // namespace

int board_conf_get(const std::string &board_dir, const std::string &key, std::string &value)
{
    std::string text;
    if (read_file(board_dir + "/board.conf", text) != 0)
        return -1;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line_key(line) == key) {
            value = line_value(line);
            return 0;
        }
    }
    return -1;
}

int board_conf_set(const std::string &board_dir, const std::string &key, const std::string &value)
{
    std::string path = board_dir + "/board.conf";
    std::string text;
    if (read_file(path, text) != 0)
        return -1;
    std::istringstream lines(text);
    std::string line, out;
    bool replaced = false;
    while (std::getline(lines, line)) {
        if (!replaced && line_key(line) == key) {
            line = key + " " + value;
            replaced = true;
        }
        out += line + "\n";
    }
    if (!replaced)
        out += key + " " + value + "\n";
    return write_file(path, out);
}

int board_usb_delay_ms(const std::string &board_dir)
{
    std::string value;
    if (board_conf_get(board_dir, "usb_delay", value) != 0)
        return USB_DELAY_DEFAULT_MS;
    char *end = nullptr;
    double seconds = strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || seconds != seconds)
        return USB_DELAY_DEFAULT_MS;
    if (seconds < 0)
        return -1;
    return static_cast<int>((seconds > 3600 ? 3600 : seconds) * 1000 + 0.5);
}
