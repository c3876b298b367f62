// Messages under an echo of the source line.
//
// Before every numbered report the location is taken from the top input
// stream: inside a macro expansion the "file" is the expansion, named after
// the macro, and its "line" the expansion text. In the plain layout an error
// or warning whose position lies on the current line is printed under an echo
// of that line (once per line, the file name once per file) with a caret at
// the column of the last character read; the message system then formats the
// bare "(n) text" and the output hook lays it out beside the caret.
#include "wren.h"

#include <cstring>

static std::string alert_file;        // narrowed name of the current stream
static unsigned alert_line_no;        // line number given to the message system
static std::string alert_line_text;   // narrowed text of the current line
static const char *alert_start;       // start of alert_line_text
static const char *alert_pos;         // current position in it
static bool alert_caret;              // the next report goes beside a caret
static int alert_column;              // display column of the last character read
static std::string alert_last_echoed; // file name of the last echo
static uint32_t alert_text_serial;    // stream whose line alert_line_text holds
static uint32_t alert_text_lines;     // and in_lines_read then: a long line with
                                      // many reports is narrowed once

std::string alert_narrow(const wstr &s)
{
    std::string out(s.size(), ' ');
    for (size_t i = 0; i < s.size(); i++)
        out[i] = (char)(s[i] & 0xFF);
    return out;
}

wstr alert_widen(const char *s)
{
    wstr out;
    for (; *s; s++)
        out += (wch)(unsigned char)*s;
    return out;
}

// Display column of the character before position pos (tabs every 8).
static int alert_display_column(const wstr &line, size_t pos)
{
    int c = 0;
    for (size_t i = 0; i + 1 < pos && i < line.size(); i++)
        c = line[i] == '\t' ? (c / 8 + 1) * 8 : c + 1;
    return c;
}

static void alert_prereport()
{
    alert_caret = false;
    input_stream *s = in_top;
    if (!s) {
        // After the end of the input (an #if or a macro call left open) the
        // report names the last line of the main file.
        if (in_main_name.empty()) {
            msg_set_location(nullptr, nullptr, nullptr, nullptr);
            return;
        }
        alert_file = alert_narrow(in_main_name);
        alert_line_no = in_line > 1 ? (unsigned)in_line_for_report() - 1 : 1;
        msg_set_location(alert_file.c_str(), &alert_line_no, nullptr, nullptr);
        return;
    }
    alert_file = alert_narrow(s->name);
    alert_line_no = (unsigned)in_line_for_report();
    // A newline just read ends the line still in the buffer, which the
    // counter has already left: a directive missing its argument is
    // reported at its own line.
    if (s->kind == IN_FILE && s->pushback.empty() && s->pos > 0 && s->pos <= s->buf.size() &&
        s->buf[s->pos - 1] == '\n' && alert_line_no > 1)
        alert_line_no--;
    // Marker characters of an expansion text have no 8-bit form.
    if (s->serial != alert_text_serial || in_lines_read != alert_text_lines) {
        alert_text_serial = s->serial;
        alert_text_lines = in_lines_read;
        alert_line_text = alert_narrow(s->buf);
        for (size_t i = 0; i < s->buf.size(); i++)
            if (s->buf[i] > 0xFF)
                alert_line_text[i] = '?';
    }
    size_t pos = s->pos < s->buf.size() ? s->pos : s->buf.size();
    alert_start = alert_line_text.c_str();
    alert_pos = alert_start + pos;
    if (pp_format_mode == 0 && pos > 0) {
        alert_caret = true;
        alert_column = alert_display_column(s->buf, pos);
        msg_set_location(nullptr, nullptr, nullptr, nullptr);
        return;
    }
    msg_set_location(alert_file.c_str(), &alert_line_no, &alert_start, &alert_pos);
}

// The source line once, preceded by the file name when that changed.
static void echo_source_line(const std::string &line, const std::string &name)
{
    if (in_line_echoed)
        return;
    if (name != alert_last_echoed) {
        fprintf(stderr, "%s:\n", name.c_str());
        alert_last_echoed = name;
    }
    fprintf(stderr, "%6u:\t%s", alert_line_no, line.c_str());
    if (line.empty() || line.back() != '\n')
        fputc('\n', stderr);
    in_line_echoed = true;
}

static void alert_output(const char *line)
{
    if (!alert_caret) {
        fputs(line, stderr);
        fflush(stderr);
        return;
    }
    alert_caret = false;
    echo_source_line(alert_line_text, alert_file);
    std::string text = line;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    static const char suffix[] = " (warning)";
    size_t n = sizeof suffix - 1;
    bool warning = text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
    if (warning)
        text.resize(text.size() - n);
    int c = alert_column;
    if ((int)text.size() < c - 1)
        fprintf(stderr, "\t%*s ^", c - 1, text.c_str());
    else
        fprintf(stderr, "\t%*c %s", c + 1, '^', text.c_str());
    if (warning)
        fputs(suffix, stderr);
    fputc('\n', stderr);
    fflush(stderr);
}

void alert_init()
{
    msg_set_prereport_hook(alert_prereport);
    msg_set_output_hook(alert_output);
}
