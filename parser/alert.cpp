// alert: messages under an echo of the source line.
//
// In the plain layout an error or warning whose read position lies on the
// current line is shown under that line (echoed once per line, after a
// heading with the file and the current function whenever either changes),
// with a caret at the column of the last character read. The pre-report hook
// takes the location away from the message system for such a report, so it
// formats the bare "(n) text"; the output hook then lays that out beside the
// caret. Messages of kind M and reports without a position keep the plain
// "file: line: text" layout. -L echoes every line as it is read.
#include "plover.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

bool lex_line_echoed;                 // the current line was echoed
static std::string alert_last_file;   // file of the last heading
static std::string alert_last_func;   // function of the last heading
static bool alert_any;                // a heading has been shown
static bool alert_caret;              // the report being built goes beside a caret
static int alert_column;              // display column of the last character read
// An echo under a message shows at most this much of the line (the -L
// listing shows lines whole); a message placed further along the line takes
// the plain layout, so no report is wider than the echo.
static const size_t ALERT_ECHO_MAX = 512;

static bool alert_format_mode()
{
    return opt.format != 0 || os_getenv("VRK_ERR_FORMAT") || os_getenv("VRK_WARN_FORMAT");
}

void lex_echo_line()
{
    if (lex_line_echoed)
        return;
    lex_line_echoed = true;
    std::string func = decl_function ? decl_function->name : std::string();
    bool fmt = alert_format_mode();
    if (!opt.echo_lines && (!alert_any || alert_last_file != lex_file || alert_last_func != func)) {
        fprintf(stderr, "%s%s:%s%s%s\n", opt.format >= 2 ? "F" : "", lex_file.c_str(),
                func.empty() ? "" : " ", func.c_str(), func.empty() ? "" : "()");
        alert_any = true;
        alert_last_file = lex_file;
        alert_last_func = func;
    }
    std::string text = lex_line_start ? lex_line_start : "";
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (!opt.echo_lines && text.size() > ALERT_ECHO_MAX)
        text = text.substr(0, ALERT_ECHO_MAX) + "...";
    if (fmt)
        fprintf(stderr, "%s%u:%s\n", opt.format >= 2 ? "L" : "", lex_line, text.c_str());
    else
        fprintf(stderr, "%6u:\t%s\n", lex_line, text.c_str());
}

static void alert_prereport()
{
    alert_caret = false;
    if (lex_file.empty()) { // before the input is open: no place to name
        msg_set_location(nullptr, nullptr, nullptr, nullptr);
        return;
    }
    msg_set_location(lex_file.c_str(), &lex_line, &lex_line_start, &lex_pos);
    if (alert_format_mode() || !lex_line_start || !lex_pos || lex_pos <= lex_line_start ||
        lex_pos > lex_line_start + strnlen(lex_line_start, ALERT_ECHO_MAX))
        return;
    int c = 0;
    for (const char *p = lex_line_start; p + 1 < lex_pos; p++)
        c = *p == '\t' ? (c / 8 + 1) * 8 : c + 1;
    alert_column = c;
    alert_caret = true;
    msg_set_location(nullptr, nullptr, nullptr, nullptr);
}

// A numbered report starts with "(n) "; messages of kind M do not.
static bool alert_numbered(const std::string &text)
{
    size_t i = 1;
    if (text.empty() || text[0] != '(')
        return false;
    while (i < text.size() && isdigit((unsigned char)text[i]))
        i++;
    return i > 1 && i + 1 < text.size() && text[i] == ')' && text[i + 1] == ' ';
}

static void alert_output(const char *line)
{
    std::string text = line;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (!alert_caret || !alert_numbered(text)) {
        if (alert_caret) // a message: the plain layout, with its place
            fprintf(stderr, "%s: %u: ", lex_file.c_str(), lex_line);
        alert_caret = false;
        fprintf(stderr, "%s\n", text.c_str());
        fflush(stderr);
        return;
    }
    alert_caret = false;
    lex_echo_line();
    static const char suffix[] = " (warning)";
    size_t n = sizeof suffix - 1;
    bool warning = text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
    if (warning)
        text.resize(text.size() - n);
    int c = alert_column;
    if ((int)text.size() < c)
        fprintf(stderr, "\t%*s ^", c - 1, text.c_str());
    else
        fprintf(stderr, "\t%*c %s", c + 1, '^', text.c_str());
    fprintf(stderr, "%s\n", warning ? suffix : "");
    fflush(stderr);
}

void alert_init()
{
    msg_set_prereport_hook(alert_prereport);
    msg_set_output_hook(alert_output);
}
