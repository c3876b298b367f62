// Object output of the assembler.
//
// Pass 2 collects the psects' bytes in TEXT chunks, each followed by the
// RELOC record that patches it; symbols, call-graph information and the
// other records are gathered and written after the text. The module opens
// with IDENT (little-endian maps, version 3.5: the version that carries
// delta, space and with-psect in XPSECT) and the PSECT and XPSECT records.
#include "osprey.h"

#include <algorithm>
#include <cstring>

// Longest relocation program accepted for one field.
static const unsigned RELOC_CODE_LIMIT = 400;
// Longest symbol, psect or class name: three of them (an XPSECT record) fit
// one record, and a TEXT record keeps room for data beside its psect name.
static const unsigned NAME_LIMIT = 160;
// Longest file name of a file symbol (alone in its SYM entry).
static const unsigned FILE_NAME_LIMIT = 400;

bool emit_name_fits(const std::string &name, bool file_name)
{
    unsigned limit = file_name ? FILE_NAME_LIMIT : NAME_LIMIT;
    if (name.size() <= limit)
        return true;
    msg_report(1435, name.c_str(), static_cast<int>(limit));
    return false;
}

struct text_chunk {
    int psect = -1;
    unsigned long start = 0;       // byte offset in the psect
    std::vector<uint8_t> data;
    std::vector<uint8_t> relocs;   // RELOC body
};

// Records of the text part, in order.
static std::vector<std::pair<unsigned, std::vector<uint8_t>>> text_records;
// The chunk being filled.
static text_chunk chunk;
// Symbol entries of file and line symbols, in source order.
static std::vector<obj_sym_entry> debug_syms;
// Owned names for debug_syms.
static std::vector<std::unique_ptr<std::string>> debug_names;
static std::vector<std::vector<uint8_t>> fninfo_entries;
static std::vector<std::vector<uint8_t>> reserve_entries;
static std::vector<std::pair<std::string, unsigned>> signats;
static std::vector<std::string> fnconf;
// Functions that share one parameter area, merged where lists share a name.
static std::vector<std::vector<std::string>> align_groups;
// Byte offset in the chunk of the unit emitted last.
static unsigned last_unit_offset;
static unsigned last_unit_size;
std::vector<unsigned> emit_line_units;

void emit_begin_module()
{
    text_records.clear();
    chunk = text_chunk();
    debug_syms.clear();
    debug_names.clear();
    fninfo_entries.clear();
    reserve_entries.clear();
    signats.clear();
    fnconf.clear();
    align_groups.clear();
}

static unsigned unit_bytes(const asm_psect &p) { return p.delta == 2 ? 2 : 1; }

static void flush_chunk()
{
    if (chunk.psect < 0)
        return;
    if (!chunk.data.empty()) {
        obj_builder b;
        build_start(b, order_little);
        build_u32(b, static_cast<uint32_t>(chunk.start));
        build_name(b, as.psects[chunk.psect].name.c_str());
        build_bytes(b, chunk.data.data(), static_cast<unsigned>(chunk.data.size()));
        text_records.push_back({REC_TEXT, std::vector<uint8_t>(b.body, b.body + b.length)});
        if (!chunk.relocs.empty())
            text_records.push_back({REC_RELOC, chunk.relocs});
    }
    chunk = text_chunk();
}

static unsigned chunk_capacity(int psect) { return OBJ_MAX_BODY - 5 - static_cast<unsigned>(as.psects[psect].name.size()); }

// Code, data or a label outside any psect: once per source line (a label
// and its instruction on one line are one mistake).
void report_outside_psect()
{
    static unsigned last_line;
    static int last_pass;
    if (last_line == src_line && last_pass == as.pass)
        return;
    last_line = src_line;
    last_pass = as.pass;
    msg_report(1411);
}

void emit_unit(unsigned value)
{
    asm_psect *p = as.current >= 0 ? &as.psects[as.current] : nullptr;
    if (!p) {
        report_outside_psect();
        return;
    }
    if (p->flags & OBJ_BIT_PSECT) {
        msg_report(1427, p->name.c_str());
        return;
    }
    unsigned n = unit_bytes(*p);
    unsigned long at = static_cast<unsigned long>(p->loc) * p->delta;
    if (as.pass == 2) {
        if (chunk.psect != as.current || chunk.start + chunk.data.size() != at ||
            chunk.data.size() + n > chunk_capacity(as.current)) {
            flush_chunk();
            chunk.psect = as.current;
            chunk.start = at;
        }
        emit_line_units.push_back(value);
        last_unit_offset = static_cast<unsigned>(chunk.data.size());
        last_unit_size = n;
        chunk.data.push_back(static_cast<uint8_t>(value));
        if (n == 2)
            chunk.data.push_back(static_cast<uint8_t>(value >> 8));
    }
    p->loc++;
    if (p->loc > p->high)
        p->high = p->loc;
}

void emit_reloc(unsigned kind, unsigned byte_offset, const expr_ptr &e)
{
    if (as.pass != 2)
        return;
    std::vector<uint8_t> code;
    if (!expr_postfix(e, code) || code.size() > RELOC_CODE_LIMIT) {
        msg_report(1420, expr_text(e).c_str());
        return;
    }
    code.push_back(0);
    if (chunk.relocs.size() + 3 + code.size() > OBJ_MAX_BODY) {
        // Move the unit that needs this relocation into a chunk of its own.
        std::vector<uint8_t> unit(chunk.data.end() - last_unit_size, chunk.data.end());
        chunk.data.resize(chunk.data.size() - last_unit_size);
        int psect = chunk.psect;
        unsigned long at = chunk.start + chunk.data.size();
        flush_chunk();
        chunk.psect = psect;
        chunk.start = at;
        chunk.data = unit;
        last_unit_offset = 0;
    }
    uint8_t off[2];
    put_u16(off, static_cast<uint16_t>(last_unit_offset + byte_offset), order_little);
    chunk.relocs.insert(chunk.relocs.end(), off, off + 2);
    chunk.relocs.push_back(static_cast<uint8_t>(kind));
    chunk.relocs.insert(chunk.relocs.end(), code.begin(), code.end());
}

void emit_space(long units)
{
    if (as.current < 0) {
        report_outside_psect();
        return;
    }
    asm_psect &p = as.psects[as.current];
    p.loc += units;
    if (p.loc > p.high)
        p.high = p.loc;
}

static const char *keep_name(const std::string &s)
{
    debug_names.push_back(std::make_unique<std::string>(s));
    return debug_names.back()->c_str();
}

void emit_file_symbol(const std::string &file)
{
    if (as.pass == 2 && !as.strip_locals && emit_name_fits(file, true))
        debug_syms.push_back({0, SK_FILE, 0, "", keep_name(file)});
}

void emit_line_symbol(long line)
{
    if (as.pass != 2 || as.strip_locals || as.current < 0)
        return;
    debug_syms.push_back({static_cast<uint32_t>(asm_here()), SK_LINE, 0,
                          keep_name(as.psects[as.current].name), keep_name(std::to_string(line))});
}

void emit_reserve(unsigned space, unsigned long start, unsigned long length)
{
    if (as.pass != 2)
        return;
    std::vector<uint8_t> e(9);
    e[0] = static_cast<uint8_t>(space);
    put_u32(&e[1], static_cast<uint32_t>(start), order_little);
    put_u32(&e[5], static_cast<uint32_t>(length), order_little);
    reserve_entries.push_back(e);
}

void emit_fninfo(const std::vector<uint8_t> &entry)
{
    if (as.pass == 2)
        fninfo_entries.push_back(entry);
}

void emit_fnconf(const std::string &psect, const std::string &auto_prefix, const std::string &arg_prefix)
{
    if (as.pass == 2 && emit_name_fits(psect) && emit_name_fits(auto_prefix) && emit_name_fits(arg_prefix))
        fnconf = {psect, auto_prefix, arg_prefix};
}

void emit_signat(const std::string &name, unsigned value)
{
    if (as.pass == 2 && emit_name_fits(name))
        signats.push_back({name, value});
}

void emit_align_group(const std::vector<std::string> &names)
{
    if (as.pass != 2)
        return;
    for (const std::string &n : names)
        if (!emit_name_fits(n))
            return;
    // A list continued on a new line repeats the last name of the line
    // before: lists that share a name are one group.
    std::vector<std::string> merged = names;
    for (size_t g = 0; g < align_groups.size();) {
        bool shares = false;
        for (const std::string &n : align_groups[g])
            shares |= std::find(merged.begin(), merged.end(), n) != merged.end();
        if (!shares) {
            g++;
            continue;
        }
        for (const std::string &n : align_groups[g])
            if (std::find(merged.begin(), merged.end(), n) == merged.end())
                merged.push_back(n);
        align_groups.erase(align_groups.begin() + static_cast<long>(g));
    }
    align_groups.push_back(merged);
}

// ---------------------------------------------------------------------------
// writing the module
// ---------------------------------------------------------------------------
struct record_writer {
    FILE *f;
    bool ok = true;
    void put(unsigned type, const uint8_t *body, unsigned length)
    {
        ok &= obj_write_record(f, type, body, length) == OBJ_OK;
    }
    void put(unsigned type, const obj_builder &b)
    {
        ok &= !b.overflow;
        put(type, b.body, b.length);
    }
};

// Writes list entries, as many to a record as fit.
static void write_entries(record_writer &w, unsigned type, const std::vector<std::vector<uint8_t>> &entries)
{
    std::vector<uint8_t> body;
    for (const std::vector<uint8_t> &e : entries) {
        if (body.size() + e.size() > OBJ_MAX_BODY) {
            w.put(type, body.data(), static_cast<unsigned>(body.size()));
            body.clear();
        }
        body.insert(body.end(), e.begin(), e.end());
    }
    if (!body.empty())
        w.put(type, body.data(), static_cast<unsigned>(body.size()));
}

static std::vector<uint8_t> sym_entry_bytes(const obj_sym_entry &e)
{
    obj_builder b;
    build_start(b, order_little);
    build_sym_entry(b, e, false);
    return std::vector<uint8_t>(b.body, b.body + b.length);
}

// The symbol entries of the module: globals, local labels, references.
static std::vector<std::vector<uint8_t>> symbol_entries()
{
    std::vector<std::vector<uint8_t>> out;
    // Evaluating a value enters the names it uses into the table, so the
    // order grows during the walk: walk it by index, never by reference.
    for (size_t i = 0; i < as.symbol_order.size(); i++) {
        const asm_symbol &s = *asm_find(as.symbol_order[i]);
        long v;
        if (s.kind == AS_LABEL) {
            if (s.global || !as.strip_locals)
                out.push_back(sym_entry_bytes({static_cast<uint32_t>(s.offset),
                                               static_cast<uint16_t>(s.global ? OBJ_GLOBAL : 0), 0,
                                               as.psects[s.psect].name.c_str(), s.name.c_str()}));
        } else if (s.kind == AS_VALUE && s.global) {
            if (expr_constant(s.value, &v)) {
                out.push_back(sym_entry_bytes({static_cast<uint32_t>(v), OBJ_GLOBAL, 0, "", s.name.c_str()}));
                continue;
            }
            // symbol + constant: an indirect definition the linker resolves
            expr_ptr base = s.value;
            long add = 0;
            if (base->kind == EX_BINARY && base->op == '+' && expr_constant(base->right, &add))
                base = base->left;
            if (base->kind == EX_SYM) {
                const asm_symbol *t = asm_find(base->name);
                if (t && t->kind == AS_LABEL)
                    out.push_back(sym_entry_bytes({static_cast<uint32_t>(t->offset + add), OBJ_GLOBAL, 0,
                                                   as.psects[t->psect].name.c_str(), s.name.c_str()}));
                else
                    out.push_back(sym_entry_bytes({static_cast<uint32_t>(add), OBJ_GLOBAL | SK_INDIRECT, 0,
                                                   base->name.c_str(), s.name.c_str()}));
            } else {
                msg_report(1428, s.name.c_str());
            }
        } else if (s.kind == AS_UNDEFINED && s.global) {
            out.push_back(sym_entry_bytes({0, OBJ_GLOBAL | SK_UNDEFINED, 0, "", s.name.c_str()}));
        }
    }
    for (const obj_sym_entry &e : debug_syms)
        out.push_back(sym_entry_bytes(e));
    return out;
}

static void write_psects(record_writer &w)
{
    for (const asm_psect &p : as.psects) {
        obj_builder b;
        build_start(b, order_little);
        build_u16(b, static_cast<uint16_t>(p.flags));
        build_name(b, p.name.c_str());
        w.put(REC_PSECT, b);
        build_start(b, order_little);
        build_u32(b, static_cast<uint32_t>(p.size));
        build_u16(b, static_cast<uint16_t>(p.reloc));
        build_u16(b, 0);
        build_u8(b, static_cast<uint8_t>(p.space));
        build_u8(b, static_cast<uint8_t>(p.delta));
        build_u8(b, 0);
        build_u8(b, 0);
        build_name(b, p.name.c_str());
        build_name(b, p.class_name.c_str());
        if (!p.with.empty())
            build_name(b, p.with.c_str());
        w.put(REC_XPSECT, b);
    }
}

// Every psect's size, as a TEXT record without data at its end.
static void write_sizes(record_writer &w)
{
    for (const asm_psect &p : as.psects) {
        if (p.high == 0 || (p.flags & OBJ_ABSOLUTE))
            continue;
        obj_builder b;
        build_start(b, order_little);
        build_u32(b, static_cast<uint32_t>(p.high * p.delta));
        build_name(b, p.name.c_str());
        w.put(REC_TEXT, b);
    }
}

// Every name the records will hold fits them.
static bool names_fit()
{
    bool ok = true;
    for (const std::string &name : as.symbol_order)
        ok &= emit_name_fits(name);
    for (const asm_psect &p : as.psects)
        ok &= emit_name_fits(p.name) && emit_name_fits(p.class_name) && emit_name_fits(p.with);
    return ok;
}

bool emit_write_object(const char *path)
{
    flush_chunk();
    if (!names_fit())
        return false;
    FILE *f = fopen(path, "wb");
    if (!f) {
        msg_report(1415, path);
        return false;
    }
    record_writer w{f};
    obj_builder b;
    build_start(b, order_little);
    const char *machine = as.family == FAM_BASELINE ? "PIC12" : as.family == FAM_MIDRANGE ? "PIC14" : "PIC16";
    build_ident(b, order_little, machine, {3, 5});
    w.put(REC_IDENT, b);
    write_psects(w);
    for (auto &r : text_records)
        w.put(r.first, r.second.data(), static_cast<unsigned>(r.second.size()));
    write_sizes(w);
    write_entries(w, REC_SYM, symbol_entries());
    std::vector<std::vector<uint8_t>> sig;
    for (auto &s : signats) {
        std::vector<uint8_t> e(2);
        put_u16(e.data(), static_cast<uint16_t>(s.second), order_little);
        e.insert(e.end(), s.first.begin(), s.first.end());
        e.push_back(0);
        sig.push_back(e);
    }
    write_entries(w, REC_SIGNAT, sig);
    if (!fnconf.empty()) {
        build_start(b, order_little);
        for (const std::string &n : fnconf)
            build_name(b, n.c_str());
        w.put(REC_FNCONF, b);
    }
    write_entries(w, REC_FNINFO, fninfo_entries);
    for (const std::vector<std::string> &g : align_groups) {
        // Numbered from the first name, so that groups of different
        // modules rarely share a number. A long group goes into several
        // records of the same number, which the linker joins.
        uint16_t number = static_cast<uint16_t>(1 + hash_string(g[0].c_str()) % 0x7FFF);
        build_start(b, order_little);
        build_u16(b, number);
        for (size_t i = 0; i < g.size(); i++) {
            if (i > 0 && b.length + g[i].size() + 1 > OBJ_MAX_BODY) {
                w.put(REC_INDIRLIST, b);
                build_start(b, order_little);
                build_u16(b, number);
            }
            build_name(b, g[i].c_str());
        }
        w.put(REC_INDIRLIST, b);
    }
    write_entries(w, REC_RESERVE, reserve_entries);
    if (!as.start_symbol.empty()) {
        asm_symbol *s = asm_find(as.start_symbol);
        if (!s || s->kind != AS_LABEL) {
            msg_report(1408, as.start_symbol.c_str());
        } else {
            // The linker adds the psect's base in address units, so the
            // offset is one too (unlike TEXT offsets, which count bytes).
            build_start(b, order_little);
            build_u32(b, static_cast<uint32_t>(s->offset));
            build_name(b, as.psects[s->psect].name.c_str());
            w.put(REC_START, b);
        }
    }
    build_start(b, order_little);
    build_u16(b, 0);
    w.put(REC_END, b);
    bool ok = w.ok && fclose(f) == 0;
    if (!ok)
        msg_report(1415, path);
    return ok;
}
