// The line editor against what the operator types and what the terminal must show: each case
// is the keys typed, the line that results and the exact echo. Keys come from a pipe, so the
// end of the typed keys is also the end of console input.
#include "rescue/console.h"
#include "rescue/line_editor.h"
#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <unistd.h>

namespace {

struct EditCase {
    const char *name;
    std::string keys;
    std::string line;
    std::string echo;
};

constexpr size_t CAPACITY = 128;

const std::string BS = "\b", BEL = "\a";

const EditCase CASES[] = {
    {"CR and LF end the line without storing it", "ab\rcd", "ab", "ab\n"},
    {"insertion in the middle echoes the tail and backs up over it", "abc\x02\x02X\r", "aXbc",
     "abc" + BS + BS + "Xbc" + BS + BS + "\n"},
    {"Ctrl-A to the start", "abc\x01Z\r", "Zabc", "abc" + BS + BS + BS + "Zabc" + BS + BS + BS + "\n"},
    {"backspace and DEL close the gap and blank the last cell", "abc\x02\x08\x7f\r", "c",
     "abc" + BS + BS + "c " + BS + BS + BS + "c " + BS + BS + "\n"},
    {"Ctrl-D removes under the cursor", "abc\x01\x04\r", "bc", "abc" + BS + BS + BS + "bc " + BS + BS + BS + "\n"},
    {"nothing to do at the ends", "\x08\x02" "a\x04\x06\r", "a", "a\n"},
    {"cursor keys, with parameters too", "ab\x1b[D\x1b[D\x1b[C\x1b[1;5CZ\r", "abZ",
     "ab" + BS + BS + "abZ\n"},
    {"other escapes are ignored, ESC x inserts x", "a\x1b[A\x1b[3~\x1bx\r", "ax", "ax\n"},
    {"ESC then backspace deletes", "ab\x1b\x7f\r", "a", "ab" + BS + " " + BS + "\n"},
    {"control keys and an interrupt's key 0 ring the bell", std::string("a\x05\x00\x10\r", 5), "a",
     "a" + BEL + BEL + BEL + "\n"},
    {"bytes above 127 are printable", "\xe9\r", "\xe9", "\xe9\n"},
    {"Ctrl-C ends with the partial line", "ab\x03zz", "ab", "ab <break>\n"},
    {"the end of input ends the line", "12", "12", "12\n"},
    {"127 characters fit, the 128th rings", std::string(128, 'k') + "\r", std::string(127, 'k'),
     std::string(127, 'k') + BEL + "\n"},
};

class LineEditorTest : public ::testing::TestWithParam<EditCase> {
protected:
    void TearDown() override
    {
        dup2(saved_in_, STDIN_FILENO);
        close(saved_in_);
    }
    void type(const std::string &keys)
    {
        int fds[2];
        ASSERT_EQ(0, pipe(fds));
        ASSERT_EQ(ssize_t(keys.size()), write(fds[1], keys.data(), keys.size()));
        close(fds[1]);
        dup2(fds[0], STDIN_FILENO);
        close(fds[0]);
    }
    int saved_in_ = dup(STDIN_FILENO);
};

TEST_P(LineEditorTest, TypedKeysGiveTheLineAndTheEcho)
{
    const EditCase &c = GetParam();
    type(c.keys);
    std::string buffer(CAPACITY + 8, '#');
    StdoutCapture out;
    char *line = console_edit_line(buffer.data(), CAPACITY);
    EXPECT_EQ(buffer.data(), line);
    EXPECT_EQ(c.echo, out.take());
    EXPECT_EQ(c.line, std::string(line));
    // Zeroed to the end of its capacity, untouched beyond.
    EXPECT_EQ(std::string(CAPACITY - c.line.size(), '\0'), buffer.substr(c.line.size(), CAPACITY - c.line.size()));
    EXPECT_EQ(std::string(8, '#'), buffer.substr(CAPACITY));
}

INSTANTIATE_TEST_SUITE_P(Keys, LineEditorTest, ::testing::ValuesIn(CASES),
                         [](const auto &info) {
                             std::string name;
                             for (char ch : std::string(info.param.name))
                                 name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return name;
                         });

} // namespace
