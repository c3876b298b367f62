// The argument reader: splits a command text, an option file's text or lines
// of standard input into an argument array.
//
// Blanks separate arguments; a ' or " quotes (blanks included) up to the same
// quote character, which is dropped, and may start anywhere in an argument.
// From a file or a pipe every line of standard input is read; from a terminal
// the prompt "tool> " is shown and a line ending in a backslash continues on
// the next one. Lines are read whole, whatever their length, so a long line
// is never split into two arguments.
#include "common.h"

#include <cstring>
#include <vector>

int getargs_count;

// Longest argument kept; characters beyond it are dropped after message 917.
static const size_t ARG_LIMIT = 255;
// A standard-input line this long has overrun the classic line buffer.
static const size_t LINE_WARN = 8191;

// Stream read instead of standard input (tests), and whether it counts as a
// terminal (-1: ask the system).
static FILE *args_input;
static int args_input_tty = -1;

void getargs_set_input(FILE *in, int is_terminal)
{
    args_input = in;
    args_input_tty = in ? is_terminal : -1;
}

struct args_reader {
    std::string text;  // current text (a given text or the last line read)
    size_t pos;        // current character
    bool from_stdin;   // lines come from standard input
    bool terminal;     // standard input is a terminal
    bool at_eof;       // standard input is exhausted
    FILE *in;
    const char *prompt;
};

static bool args_read_line(args_reader &r)
{
    if (r.at_eof)
        return false;
    if (r.terminal) {
        fprintf(stderr, "%s> ", r.prompt ? r.prompt : "");
        fflush(stderr);
    }
    std::string line;
    if (!os_read_line(r.in, line)) {
        r.at_eof = true;
        return false;
    }
    if (line.size() >= LINE_WARN)
        msg_report(337);
    r.text = line + "\n";
    r.pos = 0;
    return true;
}

// Moves to a new line where the text asks for one: a backslash at the end of
// a line continues it; from a file or pipe the end of a line leads on to the
// next. Returns the current character, 0 at the end.
static int args_fill(args_reader &r)
{
    while (r.from_stdin) {
        bool at_end = r.pos >= r.text.size();
        bool continued = !at_end && r.text[r.pos] == '\\' &&
                         (r.pos + 1 >= r.text.size() || r.text[r.pos + 1] == '\n' || r.text[r.pos + 1] == '\r');
        if (!continued && !(at_end && !r.terminal))
            break;
        if (!args_read_line(r)) {
            r.text.clear();
            r.pos = 0;
            return 0;
        }
    }
    return r.pos < r.text.size() ? static_cast<unsigned char>(r.text[r.pos]) : 0;
}

static int args_peek(args_reader &r) { return args_fill(r); }

static int args_next(args_reader &r)
{
    int c = args_fill(r);
    if (c)
        r.pos++;
    return c;
}

static bool args_blank(int c) { return c == ' ' || c == '\t' || c == '\n'; }

// Reads one argument starting at a non-blank character.
static std::string args_read_one(args_reader &r)
{
    std::string arg;
    int quote = 0;
    bool too_long = false;
    for (int c; (c = args_peek(r));) {
        if (!quote && args_blank(c))
            break;
        args_next(r);
        if (quote && c == quote) {
            quote = 0;
            continue;
        }
        if (!quote && (c == '\'' || c == '"')) {
            quote = c;
            continue;
        }
        if (arg.size() >= ARG_LIMIT) {
            if (!too_long)
                msg_report(917);
            too_long = true;
            continue;
        }
        arg += static_cast<char>(c);
    }
    return arg;
}

char **getargs(char *text, const char *prompt)
{
    args_reader r{};
    r.prompt = prompt;
    r.in = args_input ? args_input : stdin;
    if (text) {
        // The given text loses its leading and trailing blanks in place.
        char *end = text + strlen(text);
        while (end > text && (end[-1] == ' ' || end[-1] == '\r'))
            *--end = 0;
        r.text = text + strspn(text, " ");
    } else {
        r.from_stdin = true;
        r.text = "\\";
        r.terminal = args_input_tty >= 0 ? args_input_tty != 0 : os_isatty(r.in);
    }
    std::vector<char *> args;
    args.push_back(xstrdup(""));
    for (;;) {
        int c;
        while ((c = args_peek(r)) && args_blank(c))
            args_next(r);
        if (!c)
            break;
        args.push_back(xstrdup(args_read_one(r).c_str()));
    }
    getargs_count = static_cast<int>(args.size());
    char **out = static_cast<char **>(xmalloc(sizeof(char *) * (args.size() + 1)));
    std::copy(args.begin(), args.end(), out);
    return out;
}
