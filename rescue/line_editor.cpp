// Line editing on the serial console. The terminal's cursor is kept on the editor's cursor:
// every change echoes the characters it moved and backs up over them with BS.
#include "rescue/line_editor.h"

#include <cstdio>
#include <cstring>

#include "rescue/console.h"

namespace {

constexpr char BS = 8;
constexpr char BEL = 7;
constexpr char ESC = 27;
constexpr char DEL = 127;
constexpr char CTRL_A = 1, CTRL_B = 2, CTRL_C = 3, CTRL_D = 4, CTRL_F = 6;

enum class Escape { NONE, ESC_SEEN, CSI_SEEN }; // ESC, then ESC '['

struct LineEdit {
    char *text;
    size_t capacity;
    size_t length = 0;
    size_t cursor = 0;
    Escape escape = Escape::NONE;
    bool done = false;
};

void put(char c)
{
    console_put_char(static_cast<uint8_t>(c));
}

void put_text(const char *text, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        put(text[i]);
}

void back(size_t count)
{
    for (size_t i = 0; i < count; ++i)
        put(BS);
}

// Removes the character under the cursor. The tail moves left: echo it, blank the character
// left over at the end of the line and come back to the cursor.
void remove_at_cursor(LineEdit &e)
{
    std::memmove(e.text + e.cursor, e.text + e.cursor + 1, e.length - e.cursor); // with the NUL
    --e.length;
    size_t tail = e.length - e.cursor;
    put_text(e.text + e.cursor, tail);
    put(' ');
    back(tail + 1);
}

void move_left(LineEdit &e)
{
    if (e.cursor > 0) {
        --e.cursor;
        put(BS);
    }
}

void move_right(LineEdit &e)
{
    if (e.cursor < e.length)
        put(e.text[e.cursor++]);
}

void backspace(LineEdit &e)
{
    if (e.cursor == 0)
        return;
    --e.cursor;
    put(BS);
    remove_at_cursor(e);
}

void insert(LineEdit &e, char key)
{
    if (e.length + 1 >= e.capacity) { // room for the terminating NUL only
        put(BEL);
        return;
    }
    size_t tail = e.length - e.cursor;
    put(key);
    put_text(e.text + e.cursor, tail);
    back(tail);
    std::memmove(e.text + e.cursor + 1, e.text + e.cursor, tail + 1);
    e.text[e.cursor++] = key;
    ++e.length;
}

// Keys after ESC and after ESC '[': only the cursor keys right and left mean something;
// parameter bytes ("1;5" of a modified arrow) are passed over. Returns true when the key was
// used up here.
bool handle_escape(LineEdit &e, char key)
{
    if (e.escape == Escape::ESC_SEEN) {
        e.escape = Escape::NONE;
        if (key == '[') {
            e.escape = Escape::CSI_SEEN;
            return true;
        }
        if (key == BS || key == DEL) {
            backspace(e);
            return true;
        }
        return false; // the ESC is dropped, the key is an ordinary one
    }
    if ((key >= '0' && key <= '9') || key == ';')
        return true;
    e.escape = Escape::NONE;
    if (key == 'C')
        move_right(e);
    else if (key == 'D')
        move_left(e);
    return true;
}

void handle_key(LineEdit &e, char key)
{
    if (e.escape != Escape::NONE && handle_escape(e, key))
        return;
    switch (key) {
    case CTRL_A:
        while (e.cursor > 0)
            move_left(e);
        break;
    case CTRL_B:
        move_left(e);
        break;
    case CTRL_C:
        put_text(" <break>\n", 9);
        e.cursor = 0;
        e.done = true;
        break;
    case CTRL_D:
        if (e.cursor < e.length)
            remove_at_cursor(e);
        break;
    case CTRL_F:
        move_right(e);
        break;
    case BS:
    case DEL:
        backspace(e);
        break;
    case '\n':
    case '\r':
        put('\n');
        e.done = true;
        break;
    case ESC:
        e.escape = Escape::ESC_SEEN;
        break;
    default:
        if (static_cast<unsigned char>(key) < 32)
            put(BEL);
        else
            insert(e, key);
    }
}

} // namespace

char *console_edit_line(char *buffer, size_t capacity)
{
    if (capacity == 0)
        return buffer;
    std::memset(buffer, 0, capacity);
    LineEdit e{buffer, capacity};
    while (!e.done) {
        uint8_t key = console_get_key();
        // The end of input is no key: the line ends as with Enter, so no caller waits forever.
        if (key == 0 && console_input_ended()) {
            put('\n');
            break;
        }
        handle_key(e, static_cast<char>(key));
    }
    return buffer;
}
