// alert: the source-line echo. With -L every line read is shown as
// "%6d:\t%s" (with a message format: "%d:%s"), after a heading with the file
// name and the current function whenever either changes.
#include "plover.h"

static std::string alert_last_file;   // file of the last heading
static std::string alert_last_func;   // function of the last heading
static bool alert_any;                // a heading has been shown

void lex_echo_line()
{
    std::string func = decl_function ? decl_function->name : std::string();
    if (!alert_any || alert_last_file != lex_file || alert_last_func != func) {
        if (func.empty())
            msg_print("%s:\n", lex_file.c_str());
        else
            msg_print("%s: %s()\n", lex_file.c_str(), func.c_str());
        alert_any = true;
        alert_last_file = lex_file;
        alert_last_func = func;
    }
    std::string text = lex_line_start ? lex_line_start : "";
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (opt.format)
        msg_print("%u:%s\n", lex_line, text.c_str());
    else
        msg_print("%6u:\t%s\n", lex_line, text.c_str());
}
