// Private header of wren, the C preprocessor.
//
// wren reads one C source and writes the text the parser reads: source lines
// with macros expanded, line markers ("# <line> "<file>""), #pragma lines and
// #asm/#endasm blocks. All text is held as 16-bit characters; the output is
// written as the low bytes. Input comes from one stack of streams (files and
// texts); a macro expansion is simply a new text stream on top of the stack.
// Marker characters inside expansion texts carry what the C rules need
// (parameters, # and ##, names that must not expand again, expansion ends and
// boundaries between tokens) and never reach the output. An argument is
// macro-expanded by itself before it replaces its parameter, then rescanned
// with the rest of the replacement.
//
// Units: main (start-up, options, main loop), output (line markers, owed
// newlines, dependency list), input (streams and tokenizer), directive
// (directives, conditionals, include search), macro (table, #define,
// expansion, pasting), ifexpr (#if expressions and the type size table),
// alert (source-line echo under messages).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../common/common.h"

typedef char16_t wch;
typedef std::u16string wstr;

// Marker characters: inside macro bodies and expansion streams only.
enum : wch {
    CH_STRINGIZE = 0x7F1C, // next character is the parameter to stringize
    CH_NOEXPAND = 0x7F1D,  // prefix: the identifier never matches a macro
    CH_PASTE = 0x7F1E,     // ## (white space for the classifier)
    CH_ENDEXP = 0x7F1F,    // end of an expansion, returned once per stream; inside
                           // a collected text, a boundary between two tokens
    CH_PARAM = 0x7F7F,     // CH_PARAM + k: parameter k (0 to 31)
};
const int CH_EOF = -1;
const int MAX_PARAMS = 31;

inline bool ch_is_param(int c) { return c >= CH_PARAM && c < CH_PARAM + 32; }
inline bool ch_is_marker(int c) { return c == CH_STRINGIZE || c == CH_NOEXPAND || c == CH_PASTE || c == CH_ENDEXP; }

// ---------------------------------------------------------------------------
// macro: table, definition and expansion
// ---------------------------------------------------------------------------
enum {
    MAC_OBJECT = -1, // parameter count of an object-like macro
    MAC_LINE = -2,   // __LINE__
    MAC_FILE = -3,   // __FILE__
};

struct macro_rec {
    wstr body;       // replacement text with marker characters
    bool has_body;   // false: defined without a body (absent, not empty)
    int nparams;     // -1 object-like, 0..31 function-like, -2 / -3 built-ins
    int in_use;      // expansions of this macro being read
    wstr name;
};

macro_rec *mac_find(const wstr &name);
macro_rec *mac_define(const wstr &name);
bool mac_undefine(const wstr &name);
void mac_define_text(const char *name, const char *value);
void mac_make_predefined();
void mac_do_define();
macro_rec *mac_lookup_enabled(const wstr &name);
bool mac_expand(macro_rec *m);
bool mac_try_paste(wstr &token);

// How mac_take_token treats an identifier: expand an enabled macro it names;
// paint one whose macro is being expanded (the no-expand prefix).
enum { TAKE_EXPAND = 1, TAKE_PAINT = 2 };
bool mac_take_token(int c, wstr &tok, int how);

// ---------------------------------------------------------------------------
// input: stream stack and tokenizer
// ---------------------------------------------------------------------------
enum stream_kind {
    IN_FILE = 0,      // a source file, read a line at a time
    IN_EXPANSION = 1, // a macro's expansion
    IN_ARGUMENT = 2,  // one argument of the expansion below it
    IN_TEXT = 3,      // a pasted token or a text given back
    IN_ISOLATED = 4,  // an argument expanded by itself: its end ends the input
};

struct input_stream {
    size_t pos;                  // next character in buf
    int64_t saved_line;          // line counter while a stream above is read
    bool end_seen;               // CH_ENDEXP already returned
    input_stream *enclosing;     // stream below on the stack
    wstr name;                   // file name, or the macro's name
    macro_rec *macro;            // expansion of this macro
    std::vector<wstr> args;      // argument texts of that expansion
    wstr line_name;              // displayed name set by #line
    bool has_line_name;          // line_name is in force
    int carried_count;           // expansion count carried from popped streams
    FILE *file;                  // file streams only
    wstr buf;                    // current line (files) or the whole text
    int kind;                    // stream_kind
    std::vector<wch> pushback;   // characters given back, last one on top
    uint32_t serial;             // unique per stream, to recognise it later
};

extern input_stream *in_top;   // top of the stream stack
extern int64_t in_line;        // current line of the current file (checked
                               // against in_line_max when a line begins)
extern wstr in_main_name;      // name of the main file, kept after it ends
extern wstr in_name_buf;       // last identifier read
extern unsigned in_ident_limit; // identifier length limit
extern bool in_raw;            // no comments or splices while set
extern bool in_keep_comments;  // -C
extern bool in_directive;      // reading a directive line
extern bool in_line_echoed;    // current source line already echoed
extern int in_file_depth;      // file streams on the stack
extern uint32_t in_lines_read; // lines read from files so far
extern int in_expansion_depth; // expansions and isolated arguments on the stack
const int64_t in_line_max = 0x7FFFFFFF; // largest line number

enum char_class { CC_OTHER, CC_IDENT, CC_DIGIT, CC_OPERATOR, CC_QUOTE, CC_DOT, CC_WHITE, CC_BACKSLASH, CC_END };
int in_class(int c);
bool in_is_ident_char(int c);
void in_push_file(FILE *f, const wstr &name);
void in_push_text(const wstr &text, int kind, const wstr &name);
int in_getc();
void in_ungetc(int c);
int in_next_nonblank();
int in_getc_nomarkers();
void in_skip_line();
void in_read_ident(int first);
void in_copy_number(int first, wstr &out);
void in_copy_literal(int quote, wstr &out);
void in_copy_punctuator(int c, wstr &out);
input_stream *in_file_stream();
bool in_top_is_file();
void in_drop_to_file();
void in_end_isolated();
int in_line_for_report();

// ---------------------------------------------------------------------------
// output: text, line markers, owed newlines, dependency list
// ---------------------------------------------------------------------------
extern FILE *out_file;           // preprocessed text; null with -L alone
extern int out_owed;             // newlines owed to the output
extern bool out_marker_needed;   // a line marker must come before the next line
extern bool out_in_asm;          // inside #asm
extern hash_t *out_included;     // every file opened by #include
extern bool out_blank_pending;   // white space seen since the last token
extern bool out_line_open;       // a line has been begun and not ended

void out_char(wch c);
void out_text(const wstr &s);
void out_ascii(const char *s);
void out_begin_line();
void out_marker();
void out_finish();
void out_record_include(const char *name);
bool out_is_included(const char *name);
void out_write_deps();
void out_make_included_table();

// ---------------------------------------------------------------------------
// main: settings and the line loop
// ---------------------------------------------------------------------------
extern bool pp_deps_only;      // -L alone: only the dependency list
extern int pp_format_mode;     // -E<digit>
extern std::vector<std::string> pp_include_dirs;
extern char *pp_deps_name;     // -L<file> / -LM-<file>
extern bool pp_deps_make;      // -LM-
extern char *pp_source_name;   // -F, else the input name
extern FILE *pp_deps_file;     // where the list goes

void pp_copy_tokens();
void pp_check_input(const char *path);

// ---------------------------------------------------------------------------
// directive: control lines, conditional stack, include search
// ---------------------------------------------------------------------------
extern bool dir_active;        // lines are being emitted

int dir_handle();
void dir_check_open_groups();

// ---------------------------------------------------------------------------
// ifexpr: #if expressions and type sizes
// ---------------------------------------------------------------------------
int32_t ifx_evaluate();
void ifx_size_option(const char *arg);

// ---------------------------------------------------------------------------
// alert: message echo
// ---------------------------------------------------------------------------
void alert_init();
std::string alert_narrow(const wstr &s);
wstr alert_widen(const char *s);
