// The symbol-file module (key "vormak"): the linker's symbol file read into
// the model and the model written back in that layout.
//
// A symbol file has symbol lines "name value [offset [class]]", the lines
// of each module's symbols after a line naming its object or source file,
// line records "line address offset class" named by a decimal number, the
// linker's psect bounds (__L, __H, __B and __I before a psect's name), a
// "%segments" section "name low high class load" and, after "%locals", the
// local symbols. An object file's line leads to that module's SDB file.
// Lines may be of any length (names of hundreds of characters are legal).
#include "egret.h"

#include <cctype>
#include <cstring>

// A line with its newline, as the probe wants it: false for none, or for
// a line the end of the input cut short.
static bool complete_line(FILE *in, std::string &line)
{
    line.clear();
    int c;
    while ((c = getc(in)) != EOF && c != '\n')
        line += (char)c;
    if (c == EOF)
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

static std::vector<std::string> split_fields(const std::string &line)
{
    std::vector<std::string> fields;
    size_t pos = 0;
    while ((pos = line.find_first_not_of(" \t", pos)) != std::string::npos) {
        size_t end = line.find_first_of(" \t", pos);
        fields.push_back(line.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        pos = end;
    }
    return fields;
}

// An optional sign and hex digits only (a sign alone counts).
static bool is_hex_field(const std::string &f)
{
    size_t i = (!f.empty() && (f[0] == '-' || f[0] == '+')) ? 1 : 0;
    if (i == 0 && f.empty())
        return false;
    for (; i < f.size(); i++)
        if (!isxdigit((unsigned char)f[i]))
            return false;
    return true;
}

static uint32_t hex_field(const std::string &f)
{
    bool minus = f[0] == '-';
    const char *p = f.c_str() + ((f[0] == '-' || f[0] == '+') ? 1 : 0);
    uint32_t v = (uint32_t)strtoull(p, nullptr, 16);
    return minus ? 0u - v : v;
}

static bool symfile_probe(FILE *in)
{
    std::string line;
    if (!complete_line(in, line))
        return false;
    if (line == "%locals" || line == "%segments")
        return true;
    std::vector<std::string> f = split_fields(line);
    return f.size() >= 3 && is_hex_field(f[1]) && is_hex_field(f[2]);
}

// ---------------------------------------------------------------------------
// reading
// ---------------------------------------------------------------------------

struct symfile_reader {
    const char *input;
    unsigned line_number;
    uint32_t file;             // current file number, 0 at the start
    sdb_entry *module;         // SDB module of the current object file
    bool segments;             // inside "%segments"
    bool locals;               // after "%locals"
    bool bad;                  // a line had to be dropped
};

static bool is_file_line(const std::string &line)
{
    for (const char *ext : {".obj", ".OBJ", ".c", ".C", ".as", ".AS"})
        if (line.find(ext) != std::string::npos)
            return true;
    return false;
}

static void read_file_line(symfile_reader &r, const std::string &line)
{
    r.file = model_add_file(line.c_str());
    if (line.find(".obj") != std::string::npos || line.find(".OBJ") != std::string::npos) {
        r.module = sdb_load(line.c_str());
        return;
    }
    // The source of a module without debug information is all it records.
    if (r.module && r.module->kind == SC_NODEBUG) {
        sdb_entry *f = new sdb_entry();
        f->name = xstrdup(line.c_str());
        f->kind = SC_FILENAME;
        r.module->entries.push_back(f);
    }
}

// The segment standing for a class: created at its first mention, its
// group its own number.
static uint32_t class_segment(const std::string &name)
{
    if (uint32_t n = model_segment_number(name.c_str()))
        return n;
    uint32_t n = (uint32_t)vec_count(model.segments) + 1;
    return model_add_segment(name.c_str(), 0, 0, 0, n);
}

static void read_bounds(const std::string &name, uint32_t value)
{
    std::string psect = name.substr(3);
    psect_bounds *b = model_find_psect_bounds(psect.c_str());
    if (!b)
        b = model_add_psect_bounds(psect.c_str(), 0, 0, 0, 0);
    switch (name[2]) {
    case 'L': b->low = value; break;
    case 'H': b->high = value; break;
    case 'B': b->base = value; break;
    default: b->ivalue = value; break;
    }
}

static bool is_bounds_name(const std::string &name)
{
    return name.size() > 3 && name[0] == '_' && name[1] == '_' && strchr("LHBI", name[2]);
}

static void read_symbol_line(symfile_reader &r, const std::string &line)
{
    std::vector<std::string> f = split_fields(line);
    if (f.size() < 2)
        return;
    // Register and stack symbols carry no address.
    if (f[1] == "reg" || f[1] == "stk")
        return;
    if (!is_hex_field(f[1]) || (f.size() > 2 && !is_hex_field(f[2])) ||
        (r.segments && f.size() > 4 && !is_hex_field(f[4]))) {
        msg_report(1606, r.input, r.line_number);
        r.bad = true;
        return;
    }
    if (!r.file)
        r.file = model_add_file(r.input);
    uint32_t value = hex_field(f[1]);
    uint32_t third = f.size() > 2 ? hex_field(f[2]) : 0;
    bool absolute = f.size() < 4 || f[3] == "ABS";
    uint32_t segment = absolute ? 0 : class_segment(f[3]);
    if (r.segments) {
        uint32_t load = f.size() > 4 ? hex_field(f[4]) : value;
        uint32_t size = f.size() > 2 && third >= value ? third - value + 1 : 0;
        model_add_segment(f[0].c_str(), value, size, load, segment);
    } else if (isdigit((unsigned char)f[0][0])) {
        uint32_t number = (uint32_t)strtoul(f[0].c_str(), nullptr, 10);
        model_add_line(number, value, segment, r.file, 2);
    } else if (is_bounds_name(f[0])) {
        read_bounds(f[0], value);
    } else {
        model_add_symbol(f[0].c_str(), value, segment, r.file,
                         (absolute ? SYMF_ABSOLUTE : 0) | (r.locals ? SYMF_LOCAL : 0));
    }
}

// Each symbol gets the psect whose bounds hold its value (the last such).
static void assign_bounds()
{
    for (uint32_t b = 0; b < vec_count(model.bounds); b++) {
        psect_bounds *pb = (psect_bounds *)vec_get(model.bounds, b);
        for (uint32_t i = 0; i < vec_count(model.symbols); i++) {
            model_symbol *s = (model_symbol *)vec_get(model.symbols, i);
            if (pb->low <= s->value && s->value <= pb->high)
                s->bounds = pb;
        }
    }
}

static bool symfile_read(FILE *in, const char *name)
{
    symfile_reader r = {name, 0, 0, nullptr, false, false, false};
    std::string line;
    while (os_read_line(in, line)) {
        r.line_number++;
        if (line == "%segments") {
            r.segments = true;
        } else if (line == "%locals") {
            r.segments = false;
            r.locals = true;
        } else if (is_file_line(line)) {
            read_file_line(r, line);
        } else {
            read_symbol_line(r, line);
        }
    }
    assign_bounds();
    return !r.bad;
}

// ---------------------------------------------------------------------------
// writing
// ---------------------------------------------------------------------------

static int compare_symbols(const void *a, const void *b)
{
    const model_symbol *x = *(model_symbol *const *)a;
    const model_symbol *y = *(model_symbol *const *)b;
    if (x->file != y->file)
        return x->file < y->file ? -1 : 1;
    if (x->segment != y->segment)
        return x->segment < y->segment ? -1 : 1;
    return x->value < y->value ? -1 : x->value > y->value;
}

static int compare_lines(const void *a, const void *b)
{
    const model_line *x = *(model_line *const *)a;
    const model_line *y = *(model_line *const *)b;
    if (x->file != y->file)
        return x->file < y->file ? -1 : 1;
    if (x->segment != y->segment)
        return x->segment < y->segment ? -1 : 1;
    return x->address < y->address ? -1 : x->address > y->address;
}

static const char *segment_name(uint32_t n)
{
    model_segment *s = model_segment_at_number(n);
    return s ? s->name : "";
}

// Before the first item of file n: "%locals" once, then the names of the
// files not yet written, up to n.
static void write_files_up_to(FILE *out, uint32_t n, uint32_t *written)
{
    if (n == 0 || n <= *written)
        return;
    if (*written == 0)
        fputs("%locals\n", out);
    while (*written < n) {
        model_file *f = model_file_at(++*written);
        fprintf(out, "%s\n", f ? f->name : "");
    }
}

static void symfile_write(FILE *out, const char *)
{
    vec_sort(model.symbols, compare_symbols);
    vec_sort(model.lines, compare_lines);
    uint32_t written = 0;
    uint32_t si = 0, li = 0;
    uint32_t ns = vec_count(model.symbols), nl = vec_count(model.lines);
    while (si < ns || li < nl) {
        model_symbol *s = si < ns ? (model_symbol *)vec_get(model.symbols, si) : nullptr;
        model_line *l = li < nl ? (model_line *)vec_get(model.lines, li) : nullptr;
        bool line_first = l && (!s || l->file < s->file || (l->file == s->file && l->segment < s->segment) ||
                                (l->file == s->file && l->segment == s->segment && l->address < s->value));
        if (line_first) {
            write_files_up_to(out, l->file, &written);
            fprintf(out, "%lu %lX %X", (unsigned long)l->line, (unsigned long)l->address, (unsigned)l->segment);
            if (l->segment)
                fprintf(out, " %s", segment_name(l->segment));
            fputc('\n', out);
            li++;
            continue;
        }
        write_files_up_to(out, s->file, &written);
        if (s->flags & SYMF_ABSOLUTE) {
            fprintf(out, "%s %lX\n", s->name, (unsigned long)s->value);
        } else {
            fprintf(out, "%s %lX %X", s->name, (unsigned long)s->value, (unsigned)s->segment);
            if (s->segment)
                fprintf(out, " %s", segment_name(s->segment));
            fputc('\n', out);
        }
        si++;
    }
}

// probe, read, write, dump, name, key, extension, binary
const format_desc symfile_format = {symfile_probe, symfile_read, symfile_write, dump_none,
                                    "Vormak Software", "vormak", "sym", false};
