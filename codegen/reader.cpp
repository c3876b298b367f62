// The intermediate-code reader: inputs, bytes, tokens and top-level records.
//
// Every input (a .plover file, or a module of an intermediate-code library)
// is read byte by byte through one context; library modules are unscrambled
// on the way and carriage returns are dropped, so CRLF and LF files read
// alike. Tokens are split at white space; line markers ("12 or "1 file.c)
// only move the current position and never reach the callers. Top-level
// records are dispatched by their tag; declarations go to decl.cpp, pragmas
// and initialisers to records.cpp, expressions are read in prefix order in
// expr.cpp. Labels and string numbers of each input are moved past those of
// the inputs before it, so all inputs form one program.
#include "kestrel.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

// Longest token: one character and 509 more.
static const int TOKEN_MORE = 509;

// The input being read.
static ic_context *in;
// White-space character that ended the last token (0 at end of input).
static int last_term;
// Current source position, shown with every message.
const char *cur_file = "";
int cur_line;
// Interned file names (they outlive the inputs: nodes and symbols keep them).
static hash_t *file_names;
// Comment text carried into the assembly by the next node read.
char *pending_comment;
// Label and string numbers of earlier inputs.
static uint32_t label_base;
static uint32_t string_base;
uint32_t largest_label;
static uint32_t largest_string;
// Per-function state: set by the first "[e" of a body; the function whose
// body is being read (a "[v" met inside a body cannot take its place).
static bool in_function;
static cg_symbol *body_function;
// Records that a rewrite rule carries are being read (they may not declare
// autos: the frame is laid out by then).
bool ic_in_rewrite;
// Intermediate-code libraries named on the command line.
static vector_t *libraries;
// Names wanted from the libraries (string keys).
static hash_t *wanted_names;

uint32_t label_base_value() { return label_base; }

// Byte reader: one byte of the input, or -1 at its end.
static int read_byte()
{
    for (;;) {
        if (in->remaining == 0)
            return -1;
        int c;
        if (in->stream) {
            c = getc(in->stream);
            if (in->remaining > 0)
                in->remaining--;
            if (c == EOF)
                return -1;
        } else {
            c = (unsigned char)*in->text;
            if (!c)
                return -1;
            in->text++;
        }
        if (in->scrambled) {
            in->counter++;
            c ^= scramble_mask(in->counter);
        }
        if (c != '\r')
            return c;
    }
}

static bool is_space(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads a file name after a line marker: blanks allowed inside it.
static void read_marker_file()
{
    int c = read_byte();
    while (c != -1 && is_space(c))
        c = read_byte();
    std::string name;
    while (c != -1 && (!is_space(c) || c == ' ')) {
        name += (char)c;
        c = read_byte();
    }
    last_term = c == -1 ? 0 : c;
    pos_set_file(name.c_str());
}

// Reads one raw token; false at end of input.
static bool read_raw_token(char *buf)
{
    int c = read_byte();
    while (c != -1 && is_space(c))
        c = read_byte();
    if (c == -1) {
        last_term = 0;
        buf[0] = 0;
        return false;
    }
    int n = 0;
    buf[n++] = (char)c;
    last_term = 0;
    while (n <= TOKEN_MORE) {
        c = read_byte();
        if (c == -1)
            break;
        if (is_space(c)) {
            last_term = c;
            break;
        }
        buf[n++] = (char)c;
    }
    buf[n] = 0;
    return true;
}

bool ic_read_token(char *buf)
{
    while (read_raw_token(buf)) {
        if (buf[0] != '"')
            return true;
        cur_line = atoi(buf + 1);
        if (last_term && last_term != '\n')
            read_marker_file();
    }
    return false;
}

void ic_skip_line_record(char *buf, size_t size)
{
    size_t n = 0;
    int c = last_term == '\n' || last_term == 0 ? -1 : read_byte();
    while (c != -1 && c != '\n') {
        if (n + 1 < size)
            buf[n++] = (char)c;
        c = read_byte();
    }
    buf[n] = 0;
    last_term = '\n';
}

void ic_expect_close()
{
    char tok[TOKEN_MORE + 2];
    if (!ic_read_token(tok) || tok[0] != ']')
        msg_report(714);
}

static const char *intern_file(const char *name)
{
    if (!file_names)
        file_names = hash_new(64, hash_str_hash, hash_str_compare);
    if (const char *s = (const char *)hash_lookup(file_names, name))
        return s;
    char *copy = xstrdup(name);
    hash_insert(file_names, copy, copy);
    return copy;
}

void pos_set_file(const char *name)
{
    if (!strcmp(name, cur_file))
        return;
    const char *chosen = name;
    char *source = nullptr;
    if (current_function && (current_function->flags & SF_LIBFUNC) && *name) {
        source = install_path(INST_SOURCES, os_path_basename(name));
        if (source && os_file_exists(source))
            chosen = source;
    }
    cur_file = intern_file(chosen);
    free(source);
    if (!in_function && pending_comment) {
        free(pending_comment);
        pending_comment = nullptr;
    }
    msg_set_location(cur_file, (const unsigned *)&cur_line, nullptr, nullptr);
}

void lib_want(const char *name)
{
    if (!wanted_names)
        wanted_names = hash_new(128, hash_str_hash, hash_str_compare);
    if (!hash_lookup(wanted_names, name))
        hash_insert(wanted_names, xstrdup(name), (void *)1);
}

bool lib_is_wanted(const char *name)
{
    return wanted_names && hash_lookup(wanted_names, name);
}

// Label and string numbers of the inputs, moved past those of the inputs
// before, stay below this: the labels that statement splitting makes count
// from 100,000,000, and internal labels follow the largest input label.
static const long INPUT_NUMBER_LIMIT = 50000000;

// Whether a label or string number, moved by the base, is one the inputs
// may use; a negative or absurdly large one is bad intermediate code.
static bool number_fits(long n, uint32_t base)
{
    if (n >= 0 && n < INPUT_NUMBER_LIMIT - (long)base)
        return true;
    msg_report(714);
    return false;
}

// Moves a number operand past the numbers of earlier inputs and keeps the largest.
static void renumber(tree_node *n, uint32_t base, uint32_t *largest)
{
    if (!n || n->op != OP_CONST || !number_fits(n->value, base))
        return;
    n->value += (int32_t)base;
    if ((uint32_t)n->value > *largest)
        *largest = (uint32_t)n->value;
}

void renumber_label(tree_node *n) { renumber(n, label_base, &largest_label); }
void renumber_string(tree_node *n) { renumber(n, string_base, &largest_string); }

// The number of a "[a" record: moved, without raising the largest (only
// the ":s" operands that use a string do).
long string_record_number(long n) { return number_fits(n, string_base) ? n + (long)string_base : n; }

// Version line: read plain from the stream, before the byte reader starts.
static void read_version_line()
{
    char line[80] = "";
    if (in->stream && fgets(line, sizeof line, in->stream)) {
        if (in->remaining > 0)
            in->remaining -= (long)strlen(line);
    }
    int major = 0, minor = 0;
    if (sscanf(line, "Version %d.%d", &major, &minor) != 2 || major != 3 || minor < 2)
        msg_report(718, 3, 2);
    pos_set_file("");
}

// Adds comment text (a source line) to what the next node carries.
static void add_pending_comment(const char *text)
{
    size_t have = pending_comment ? strlen(pending_comment) : 0;
    if (have > 511)
        return;
    std::string t = pending_comment ? pending_comment : "";
    t += text;
    t += "\n";
    free(pending_comment);
    pending_comment = xstrdup(t.c_str());
}

// A "[;" line: a source comment, or in-line assembly; null for comments.
tree_node *read_text_record()
{
    char line[1536];
    ic_skip_line_record(line, sizeof line);
    const char *p = line;
    while (*p == ' ')
        p++;
    if (*p == ';') {
        if (!run.printf_pass) {
            run.trace_comments = true;
            add_pending_comment(p);
        }
        return nullptr;
    }
    return asm_line_node(line);
}

// A statement outside any function: written at once (in-line assembly only).
void generate_outside(tree_node *t)
{
    if (!t)
        return;
    if (!run.printf_pass && t->op == OP_ASM && t->asm_text)
        printf("%s\n", t->asm_text);
    tree_free(t);
}

// Appends a statement to the current function, or generates it at once.
void statement_to_function(tree_node *t)
{
    if (!t)
        return;
    if (in_function && body_function)
        vec_push(body_function->func->trees, t);
    else
        generate_outside(t);
}

// "[e": one expression statement of the current function.
static void read_e_record()
{
    if (!in_function) {
        if (!current_function || current_function->func) {
            msg_report(714);
            tree_free(ic_read_expr());
            ic_expect_close();
            return;
        }
        new_func(current_function);
        body_function = current_function;
        in_function = true;
    }
    tree_node *t = ic_read_expr();
    if (t)
        vec_push(body_function->func->trees, t);
    ic_expect_close();
}

// "}": leaving a block; back at file level the function body is complete.
static void close_block()
{
    scope_leave();
    if (scope_level != 1 || !in_function)
        return;
    if (body_function) {
        vec_push(functions, body_function);
        body_function->func->end_line = cur_line;
    }
    switch_kind = 0;
    in_function = false;
    body_function = nullptr;
    intlevel_mask = 1;
    current_function = nullptr;
}

void read_a_record();
void read_i_record();
void read_p_record();

// Reads the records of one input until its end.
static void read_records()
{
    char tok[TOKEN_MORE + 2];
    while (ic_read_token(tok)) {
        int op = op_lookup(tok);
        switch (op) {
        case OP_ASM:
            statement_to_function(read_text_record());
            break;
        case OP_REC_A: read_a_record(); break;
        case OP_REC_C: decl_read_enum(); break;
        case OP_REC_E: read_e_record(); break;
        case OP_REC_F: ic_expect_close(); break;
        case OP_REC_I: read_i_record(); break;
        case OP_REC_N: decl_read_names(); break;
        case OP_REC_P: read_p_record(); break;
        case OP_REC_S: decl_read_struct(false); break;
        case OP_REC_U: decl_read_struct(true); break;
        case OP_REC_V: decl_read_var(); break;
        case OP_LBRACE: scope_enter(); break;
        case OP_RBRACE: close_block(); break;
        default: msg_report(714); break;
        }
    }
}

void ic_read_one(ic_context *ctx)
{
    ic_context *outer = in;
    in = ctx;
    input_number++;
    scope_enter();
    read_version_line();
    read_records();
    while (scope_level > 1)
        close_block();
    scope_leave();
    in_function = false;
    body_function = nullptr;
    current_function = nullptr;
    label_base = largest_label;
    string_base = largest_string;
    in = outer;
}

// The declarations a rewrite rule carries (the helper routines its
// replacement calls), read as records at the reader's current place: they
// join the program as if they had been in the input.
void ic_read_rewrite_records(const char *text)
{
    ic_context ctx = {nullptr, text, -1, false, 0};
    ic_context *outer = in;
    const char *file = cur_file;
    int line = cur_line;
    in = &ctx;
    ic_in_rewrite = true;
    read_records();
    ic_in_rewrite = false;
    in = outer;
    cur_file = file;
    cur_line = line;
}

static bool has_library_extension(const char *name)
{
    size_t n = strlen(name);
    return n >= 4 && !strcasecmp(name + n - 4, ".lpp");
}

// A directory opens as a file that reads nothing; it is refused as one
// (errno EISDIR) rather than read as a file of the wrong version or one cut
// short.
FILE *ic_open(const char *path)
{
    if (os_is_directory(path)) {
        errno = EISDIR;
        return nullptr;
    }
    return fopen(path, "rb");
}

void ic_read_inputs(int argc, char **argv)
{
    libraries = vec_new(4);
    if (!argv) {
        ic_context ctx = {stdin, nullptr, -1, false, 0};
        ic_read_one(&ctx);
    }
    for (int i = 0; argv && i < argc; i++) {
        if (has_library_extension(argv[i])) {
            vec_push(libraries, argv[i]);
            continue;
        }
        FILE *f = ic_open(argv[i]);
        if (!f) {
            msg_report(140, "intermediate", argv[i]);
            continue;
        }
        ic_context ctx = {f, nullptr, -1, false, 0};
        ic_read_one(&ctx);
        fclose(f);
    }
    ic_load_libraries(libraries, lib_wanted_test, ic_read_one);
    strings_merge_tails();
}

void reader_reset()
{
    in = nullptr;
    cur_file = "";
    cur_line = 0;
    free(pending_comment);
    pending_comment = nullptr;
    label_base = string_base = largest_label = largest_string = 0;
    in_function = false;
    body_function = nullptr;
    ic_in_rewrite = false;
    if (wanted_names)
        hash_free(wanted_names);
    wanted_names = nullptr;
}
