// Turning input files into library modules.
//
// An object module is stored as it is; its directory symbol list names the
// global symbols it defines and those it only refers to, so the linker can
// pick the modules a program needs without reading them. An intermediate-code
// module keeps its version line plain and scrambles every later byte with a
// counter and a fixed key; its symbol list holds the external functions and
// variables it defines and uses, which the code generator reads the same way.
#include "rook.h"

#include <cstring>

std::string rook_module_name(const char *file)
{
    return os_path_basename(file);
}

static bool rook_read_file(const char *file, std::vector<uint8_t> &out)
{
    FILE *f = fopen(file, "rb");
    if (!f) {
        msg_report(1481, "input", file);
        return false;
    }
    uint8_t buf[8192];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.insert(out.end(), buf, buf + n);
    bool ok = !ferror(f);
    fclose(f);
    if (!ok)
        msg_report(1481, "input", file);
    return ok;
}

// Adds name to the list unless present; a definition replaces a reference.
static void rook_add_symbol(std::vector<lib_symbol> &syms, const std::string &name, uint8_t flag)
{
    for (lib_symbol &s : syms)
        if (s.name == name) {
            if (flag == 0)
                s.flag = 0;
            return;
        }
    syms.push_back({flag, name});
}

// ---------------------------------------------------------------------------
// object modules
// ---------------------------------------------------------------------------
static bool rook_bad_object(const char *file, const char *why)
{
    msg_report(1483, file, why);
    return false;
}

bool rook_object_module(const char *file, rook_module *out)
{
    if (!rook_read_file(file, out->body))
        return false;
    const std::vector<uint8_t> &b = out->body;
    byte_order order = order_little;
    bool ended = false;
    size_t pos = 0;
    while (pos < b.size()) {
        if (ended)
            return rook_bad_object(file, "data after the end record");
        if (b.size() - pos < OBJ_HEADER_SIZE)
            return rook_bad_object(file, "truncated record header");
        unsigned length = get_le16(&b[pos]);
        unsigned type = b[pos + 2];
        if (!obj_type_valid(type))
            return rook_bad_object(file, "unknown record type");
        if (length > OBJ_MAX_BODY || b.size() - pos - OBJ_HEADER_SIZE < length)
            return rook_bad_object(file, "record longer than the file or the format allows");
        const uint8_t *body = &b[pos + OBJ_HEADER_SIZE];
        if (type == REC_IDENT) {
            obj_ident id;
            bool valid;
            if (!decode_ident(body, length, &id, &valid) || !valid)
                return rook_bad_object(file, "bad byte-order maps");
            order = id.order;
        } else if (type == REC_SYM) {
            obj_cursor c = cur_open(body, length, order);
            while (!cur_at_end(c)) {
                obj_sym_entry e;
                if (!decode_sym_entry(c, false, &e))
                    return rook_bad_object(file, "bad symbol record");
                unsigned kind = e.flags & OBJ_KIND_MASK;
                if (!(e.flags & OBJ_GLOBAL) || kind == SK_LINE || kind == SK_FILE)
                    continue;
                rook_add_symbol(out->entry.symbols, e.name, (e.flags & 6) == 0 ? 0 : 1);
            }
        } else if (type == REC_END) {
            ended = true;
        }
        pos += OBJ_HEADER_SIZE + length;
    }
    if (!ended)
        return rook_bad_object(file, "no end record");
    out->entry.name = rook_module_name(file);
    out->entry.length = static_cast<uint32_t>(b.size());
    return true;
}

// ---------------------------------------------------------------------------
// intermediate-code modules
// ---------------------------------------------------------------------------
void rook_scramble(std::vector<uint8_t> &body)
{
    size_t start = 0;
    while (start < body.size() && body[start] != '\n')
        start++;
    uint8_t counter = 0;
    for (size_t i = start + 1; i < body.size(); i++) {
        counter++;
        body[i] ^= scramble_mask(counter);
    }
}

// Splits a record line into its blank-separated fields.
static std::vector<std::string> rook_fields(const std::string &line)
{
    std::vector<std::string> f;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            i++;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            i++;
        if (i > start)
            f.push_back(line.substr(start, i - start));
    }
    return f;
}

// Reads the names from the records: "[v name type count storage ...]" gives
// an external (storage word starting with 'e') variable or function; a
// function is defined by its entry label "[e :U name ]", a variable by a
// nonzero count.
static void rook_intermediate_symbols(const std::string &text, std::vector<lib_symbol> &syms)
{
    std::vector<std::string> defined_funcs;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.compare(0, 5, "[e :U") == 0) {
            std::vector<std::string> f = rook_fields(line);
            if (f.size() >= 3 && f[2] != "]" && !isdigit(static_cast<unsigned char>(f[2][0])))
                defined_funcs.push_back(f[2]);
            continue;
        }
        if (line.compare(0, 3, "[v ") != 0)
            continue;
        std::vector<std::string> f = rook_fields(line);
        if (f.size() < 5)
            continue;
        // The count may be an expression ("-> 0 `x"): the storage word is
        // the first field after it that starts with a class letter.
        size_t w = 4;
        if (f[3] == "->")
            w = 6;
        if (w >= f.size() || (f[w][0] != 'e' && f[w][0] != 'E'))
            continue;
        bool function = f[2].size() > 1 && f[2][1] == '(';
        bool defined = !function && f[3] != "0" && !(f[3] == "->" && f.size() > 4 && f[4] == "0");
        rook_add_symbol(syms, f[1], defined ? 0 : 1);
    }
    for (const std::string &name : defined_funcs)
        rook_add_symbol(syms, name, 0);
}

bool rook_intermediate_module(const char *file, rook_module *out)
{
    if (!rook_read_file(file, out->body))
        return false;
    std::string text(out->body.begin(), out->body.end());
    if (text.compare(0, 8, "Version ") != 0 || text.find('\n') == std::string::npos) {
        msg_report(1485, file);
        return false;
    }
    rook_intermediate_symbols(text, out->entry.symbols);
    rook_scramble(out->body);
    out->entry.name = rook_module_name(file);
    out->entry.length = static_cast<uint32_t>(out->body.size());
    return true;
}
