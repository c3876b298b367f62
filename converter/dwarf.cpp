// DWARF 2 generation for the ELF writer: ".debug_abbrev", ".debug_info" and
// ".debug_line" built from the SDB tree and the model's line records.
//
// Each module of the global scope becomes one compilation unit and one
// line-number program; all units share one abbreviation table, whose
// entries are made the first time a DIE of their shape is written.
//
// A unit is laid out as: header, unit DIE, the type DIEs, the DIEs of the
// scope walk, a closing 0. Type DIEs are made on demand while the scopes
// are walked: asking for the DIE of a type gives a number at once and
// queues the type; queued types are built one after the other, each as a
// whole subtree in its own growing buffer, so a structure that points to
// itself, or types nested to any depth, cost neither recursion nor a
// fixed buffer. References are recorded by type number and patched once
// every offset in the unit is known.
//
// Addresses are the model's own units (program words on a PIC), in the
// run's byte order, 2 bytes wide unless some segment or symbol lies above
// 0xFFFF. The line program keeps every row: rows are split into sequences
// only where code is not contiguous, and each sequence ends with
// DW_LNE_end_sequence one past the last instruction of its last row.
#include "egret.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

namespace {

enum : uint16_t {
    TAG_array_type = 0x01, TAG_enumeration_type = 0x04, TAG_formal_parameter = 0x05, TAG_member = 0x0D,
    TAG_pointer_type = 0x0F, TAG_compile_unit = 0x11, TAG_structure_type = 0x13, TAG_subroutine_type = 0x15,
    TAG_typedef = 0x16, TAG_union_type = 0x17, TAG_subrange_type = 0x21, TAG_base_type = 0x24,
    TAG_const_type = 0x26, TAG_enumerator = 0x28, TAG_subprogram = 0x2E, TAG_variable = 0x34,
    TAG_volatile_type = 0x35,
};
enum : uint16_t {
    AT_sibling = 0x01, AT_location = 0x02, AT_name = 0x03, AT_byte_size = 0x0B, AT_bit_offset = 0x0C,
    AT_bit_size = 0x0D, AT_stmt_list = 0x10, AT_low_pc = 0x11, AT_high_pc = 0x12, AT_language = 0x13,
    AT_const_value = 0x1C, AT_upper_bound = 0x2F, AT_producer = 0x25, AT_data_member_location = 0x38,
    AT_decl_file = 0x3A, AT_decl_line = 0x3B, AT_encoding = 0x3E, AT_external = 0x3F, AT_frame_base = 0x40,
    AT_type = 0x49,
};
enum : uint16_t {
    FORM_addr = 0x01, FORM_block1 = 0x0A, FORM_data2 = 0x05, FORM_data4 = 0x06, FORM_string = 0x08,
    FORM_data1 = 0x0B, FORM_flag = 0x0C, FORM_sdata = 0x0D, FORM_udata = 0x0F, FORM_ref4 = 0x13,
};
enum : uint8_t {
    OP_addr = 0x03, OP_plus_uconst = 0x23, OP_reg29 = 0x6D, OP_regx = 0x90, OP_fbreg = 0x91,
};
enum : uint8_t {
    LNS_copy = 1, LNS_advance_pc = 2, LNS_advance_line = 3, LNS_set_file = 4, LNS_const_add_pc = 8,
    LNE_end_sequence = 1, LNE_set_address = 2,
};
const int LINE_BASE = -5, LINE_RANGE = 15, OPCODE_BASE = 10;
const uint16_t LANG_C89 = 1, LANG_ASSEMBLER = 0x8001;
const char *const PRODUCER = "Egret - Vormak Software";

using bytes = std::vector<uint8_t>;

void put8(bytes &b, uint8_t v) { b.push_back(v); }
void put16(bytes &b, uint16_t v) { bytes_put16(b, v); }
void put32(bytes &b, uint32_t v) { bytes_put32(b, v); }
void put_uleb(bytes &b, uint64_t v)
{
    uint8_t t[10];
    b.insert(b.end(), t, leb128_write_unsigned(t, v));
}
void put_sleb(bytes &b, int64_t v)
{
    uint8_t t[10];
    b.insert(b.end(), t, leb128_write_signed(t, v));
}
void put_string(bytes &b, const std::string &s)
{
    b.insert(b.end(), s.begin(), s.end());
    b.push_back(0);
}
void patch32(bytes &b, size_t at, uint32_t v) { byteorder_write32(&b[at], v); }

// The run's address size, and an address in it.
unsigned address_size = 2;
void put_address(bytes &b, uint32_t v)
{
    if (address_size == 2)
        put16(b, (uint16_t)v);
    else
        put32(b, v);
}

// ---------------------------------------------------------------------------
// abbreviations and DIEs
// ---------------------------------------------------------------------------

using attr_list = std::vector<std::pair<uint16_t, uint16_t>>;

struct abbrev_key {
    uint16_t tag;
    bool children;
    attr_list attrs;
    auto operator<=>(const abbrev_key &) const = default;
};

// The shared abbreviation table: shape -> code, and its bytes.
std::map<abbrev_key, uint32_t> abbrevs;
bytes abbrev_bytes;

uint32_t abbrev_code(const abbrev_key &key)
{
    auto found = abbrevs.find(key);
    if (found != abbrevs.end())
        return found->second;
    uint32_t code = (uint32_t)abbrevs.size() + 1;
    abbrevs[key] = code;
    put_uleb(abbrev_bytes, code);
    put_uleb(abbrev_bytes, key.tag);
    put8(abbrev_bytes, key.children ? 1 : 0);
    for (const auto &[at, form] : key.attrs) {
        put_uleb(abbrev_bytes, at);
        put_uleb(abbrev_bytes, form);
    }
    put8(abbrev_bytes, 0);
    put8(abbrev_bytes, 0);
    return code;
}

// A reference waiting for the offset of a type's DIE (type >= 0), or for
// the end of the subtree it lies in (type -1, DW_AT_sibling).
struct ref_fixup {
    size_t at;
    int type;
};

// One DIE being built: its shape and its values side by side.
struct die {
    abbrev_key key;
    bytes values;
    std::vector<ref_fixup> refs;

    die(uint16_t tag, bool children) : key{tag, children, {}} {}
    void attr(uint16_t at, uint16_t form) { key.attrs.push_back({at, form}); }
    void string(uint16_t at, const std::string &s) { attr(at, FORM_string), put_string(values, s); }
    void data1(uint16_t at, uint8_t v) { attr(at, FORM_data1), put8(values, v); }
    void data2(uint16_t at, uint16_t v) { attr(at, FORM_data2), put16(values, v); }
    void data4(uint16_t at, uint32_t v) { attr(at, FORM_data4), put32(values, v); }
    void udata(uint16_t at, uint64_t v) { attr(at, FORM_udata), put_uleb(values, v); }
    void flag(uint16_t at, bool v) { attr(at, FORM_flag), put8(values, v ? 1 : 0); }
    void address(uint16_t at, uint32_t v) { attr(at, FORM_addr), put_address(values, v); }
    // A size in the smallest data form that holds it.
    void size(uint16_t at, uint32_t v)
    {
        if (v <= 0xFF)
            data1(at, (uint8_t)v);
        else if (v <= 0xFFFF)
            data2(at, (uint16_t)v);
        else
            data4(at, v);
    }
    void block(uint16_t at, const bytes &b)
    {
        attr(at, FORM_block1);
        put8(values, (uint8_t)b.size());
        values.insert(values.end(), b.begin(), b.end());
    }
    void ref(uint16_t at, int type)
    {
        attr(at, FORM_ref4);
        refs.push_back({values.size(), type});
        put32(values, 0);
    }
};

// A byte area of the unit and the references in it.
struct area {
    bytes b;
    std::vector<ref_fixup> refs;

    size_t put(const die &d)
    {
        size_t start = b.size();
        put_uleb(b, abbrev_code(d.key));
        size_t base = b.size();
        b.insert(b.end(), d.values.begin(), d.values.end());
        for (const ref_fixup &r : d.refs)
            refs.push_back({base + r.at, r.type});
        return start;
    }
    void close() { put8(b, 0); }
};

// ---------------------------------------------------------------------------
// the unit being built
// ---------------------------------------------------------------------------

// A type asked for: the chain and the entry its DIE stands for.
struct type_job {
    const type_chain *chain;
    size_t index;
    uint32_t file;            // unit file current when first asked for
    size_t offset = SIZE_MAX; // in the type area, once built
};

struct unit_file {
    std::string name;         // without directory
    uint32_t directory;
    uint32_t model_file;
};

struct unit_state {
    area types;               // type DIEs, whole subtrees
    area scope;               // DIEs of the scope walk
    std::vector<type_job> jobs;
    size_t built = 0;         // jobs built so far
    std::map<std::string, int> type_ids;
    std::vector<unit_file> files;          // from index 1
    std::vector<std::string> directories;  // from index 1
    uint32_t current_file = 0;
    uint32_t low = UINT32_MAX, high = 0;
    long frame_base = 0;
    std::string function;     // SDB name of the function walked, "" outside
    std::vector<std::unique_ptr<type_chain>> enum_chains;   // made for enum entries, kept while jobs point to them
};

unit_state *u;

void widen(uint32_t low, uint32_t high)
{
    u->low = std::min(u->low, low);
    u->high = std::max(u->high, high);
}

// The key of a chain's entries 0..index: every field that tells types apart.
std::string type_key(const type_chain *chain, size_t index)
{
    std::string key;
    for (size_t i = 0; i <= index; i++) {
        const type_entry &e = chain->entries[i];
        key += str_printf("%d:%s:%llu:%u:%p;", e.kind, e.text.c_str(), (unsigned long long)e.value, e.extra,
                          (const void *)e.tag);
    }
    return key;
}

// The number of the DIE standing for entries 0..index of a chain, or -1
// when the type has none (void, no chain).
int type_of(const type_chain *chain, long index)
{
    if (!chain || index < 0 || (size_t)index >= chain->entries.size())
        return -1;
    const type_entry &e = chain->entries[index];
    if (e.kind == TK_BASIC && e.value == 0)
        return -1;
    if (e.kind == TK_QUALIFIER && !(e.value & (0x40000 | 0x2)))
        return type_of(chain, index - 1);
    if ((e.kind == TK_STRUCT || e.kind == TK_ENUM) && !e.tag)
        return -1;
    if (e.kind < TK_BASIC || e.kind > TK_QUALIFIER)
        return -1;
    std::string key = type_key(chain, (size_t)index);
    auto found = u->type_ids.find(key);
    if (found != u->type_ids.end())
        return found->second;
    int id = (int)u->jobs.size();
    u->jobs.push_back({chain, (size_t)index, u->current_file});
    u->type_ids[key] = id;
    return id;
}

// The outermost entry that is not a qualifier.
long outer_index(const type_chain *chain)
{
    if (!chain)
        return -1;
    for (size_t i = chain->entries.size(); i-- > 0;)
        if (chain->entries[i].kind != TK_QUALIFIER)
            return (long)i;
    return -1;
}

const char *base_type_name(const type_entry &e)
{
    static const struct {
        const char *code, *name;
    } names[] = {
        {"c", "char"},           {"s", "short int"},         {"i", "int"},
        {"m", "short long int"}, {"l", "long int"},          {"uc", "unsigned char"},
        {"us", "short unsigned int"}, {"ui", "unsigned int"}, {"um", "short long unsigned int"},
        {"ul", "long unsigned int"},  {"f", "float"},         {"d", "double"},
    };
    for (const auto &n : names)
        if (e.text == n.code)
            return n.name;
    return e.text.c_str();
}

uint8_t base_encoding(const type_entry &e)
{
    switch (e.value) {
    case 1: return e.text == "c" ? 6 : 5;   // signed char, signed
    case 2: return e.text == "uc" ? 8 : 7;  // unsigned char, unsigned
    case 3: return 4;                       // float
    default: return 2;                      // boolean
    }
}

void add_decl(die &d, uint32_t file, unsigned line)
{
    if (!file)
        return;   // no line table file to name
    d.udata(AT_decl_file, file);
    d.udata(AT_decl_line, line);
}

// A subtree of the type area: the sibling reference points past it.
void put_subtree(area &sub)
{
    size_t base = u->types.b.size();
    for (ref_fixup &r : sub.refs) {
        if (r.type == -1)
            patch32(sub.b, r.at, (uint32_t)(base + sub.b.size()));   // type-area offset, made unit-relative later
        u->types.refs.push_back({base + r.at, r.type == -1 ? -2 : r.type});
    }
    u->types.b.insert(u->types.b.end(), sub.b.begin(), sub.b.end());
}

void build_struct(const sdb_entry *s, uint32_t file, area &sub)
{
    die d(s->is_union ? TAG_union_type : TAG_structure_type, true);
    d.ref(AT_sibling, -1);
    if (s->alias)
        d.string(AT_name, s->alias);
    d.size(AT_byte_size, (uint32_t)std::max(0L, s->size));
    add_decl(d, file, s->line);
    sub.put(d);
    for (const sdb_member &m : s->members) {
        int type = type_of(m.type, outer_index(m.type) < 0 ? -1 : (long)m.type->entries.size() - 1);
        if (type < 0) {
            msg_report(1650, m.name.c_str());
            continue;
        }
        die member(TAG_member, false);
        if (!m.name.empty())
            member.string(AT_name, m.name);
        member.ref(AT_type, type);
        if (m.bits[0]) {
            // The storage unit's bits counted from its most significant
            // bit down to the field's: little-endian numbering turned round.
            long unit_bits = m.numbers[0] * 8;
            member.size(AT_byte_size, (uint32_t)std::max(0L, m.numbers[0]));
            member.size(AT_bit_size, (uint32_t)m.bits[0]);
            member.size(AT_bit_offset, (uint32_t)std::max(0L, unit_bits - m.bits[1] - m.bits[0]));
        }
        if (!s->is_union) {
            bytes where = {OP_plus_uconst};
            put_uleb(where, (uint64_t)std::max(0L, m.numbers[1]));
            member.block(AT_data_member_location, where);
        }
        sub.put(member);
    }
    sub.close();
}

void build_enum(const sdb_entry *e, area &sub)
{
    die d(TAG_enumeration_type, true);
    d.ref(AT_sibling, -1);
    if (e->alias && *e->alias)
        d.string(AT_name, e->alias);
    d.size(AT_byte_size, (uint32_t)std::max(0L, e->size));
    sub.put(d);
    for (const enum_member &m : e->enum_members) {
        die item(TAG_enumerator, false);
        item.string(AT_name, m.name);
        item.data4(AT_const_value, (uint32_t)m.value);
        sub.put(item);
    }
    sub.close();
}

void build_array(const type_chain *chain, size_t index, area &sub)
{
    size_t first = index;
    while (first > 0 && chain->entries[first - 1].kind == TK_ARRAY)
        first--;
    die d(TAG_array_type, true);
    d.ref(AT_sibling, -1);
    int element = type_of(chain, (long)first - 1);
    if (element >= 0)
        d.ref(AT_type, element);
    sub.put(d);
    for (size_t i = index + 1; i-- > first;) {
        die range(TAG_subrange_type, false);
        uint64_t count = chain->entries[i].value;
        range.data4(AT_upper_bound, count ? (uint32_t)(count - 1) : 0);
        sub.put(range);
    }
    sub.close();
}

// Builds the DIE (subtree) of one queued type into the type area.
void build_type(size_t job)
{
    const type_chain *chain = u->jobs[job].chain;
    size_t index = u->jobs[job].index;
    const type_entry &e = chain->entries[index];
    area sub;
    switch (e.kind) {
    case TK_BASIC: {
        die d(TAG_base_type, false);
        d.string(AT_name, base_type_name(e));
        d.size(AT_byte_size, e.extra);
        d.data1(AT_encoding, base_encoding(e));
        sub.put(d);
        break;
    }
    case TK_FUNCTION: {
        die d(TAG_subroutine_type, false);
        int returned = type_of(chain, (long)index - 1);
        if (returned >= 0)
            d.ref(AT_type, returned);
        sub.put(d);
        break;
    }
    case TK_POINTER: {
        die d(TAG_pointer_type, false);
        int to = type_of(chain, (long)index - 1);
        if (to >= 0)
            d.ref(AT_type, to);
        d.size(AT_byte_size, machine_type_size(chain, index));
        sub.put(d);
        break;
    }
    case TK_ENUM: build_enum(e.tag, sub); break;
    case TK_STRUCT: build_struct(e.tag, u->jobs[job].file, sub); break;
    case TK_ARRAY: build_array(chain, index, sub); break;
    case TK_QUALIFIER: {
        // const, then volatile over it: the type is the outer one.
        int below = type_of(chain, (long)index - 1);
        bool is_const = e.value & 0x40000, is_volatile = e.value & 0x2;
        if (is_const) {
            die d(TAG_const_type, false);
            if (below >= 0)
                d.ref(AT_type, below);
            if (is_volatile) {
                // The const DIE gets a number of its own for the volatile one to refer to.
                int inner = (int)u->jobs.size();
                u->jobs.push_back({chain, index, u->jobs[job].file, SIZE_MAX});
                size_t base = u->types.b.size();
                area c;
                c.put(d);
                put_subtree(c);
                u->jobs[inner].offset = base;
                below = inner;
            } else {
                sub.put(d);
                break;
            }
        }
        die v(TAG_volatile_type, false);
        if (below >= 0)
            v.ref(AT_type, below);
        sub.put(v);
        break;
    }
    default: break;
    }
    u->jobs[job].offset = u->types.b.size();
    put_subtree(sub);
}

void build_queued_types()
{
    while (u->built < u->jobs.size()) {
        size_t job = u->built++;
        if (u->jobs[job].offset == SIZE_MAX)
            build_type(job);
    }
}

// ---------------------------------------------------------------------------
// the scope walk
// ---------------------------------------------------------------------------

bool frame_symbol_machine()
{
    machine_shape s = machine_current->shape;
    return s != SHAPE_DSPIC && s != SHAPE_PIC32;
}

void add_unit_file(const char *name)
{
    const char *base = os_path_basename(name);
    for (size_t i = 0; i < u->files.size(); i++)
        if (u->files[i].name == base) {
            u->current_file = (uint32_t)i + 1;
            return;
        }
    uint32_t directory = 0;
    if (base != name) {
        char *dir = os_path_dirname(name);
        std::string text = dir ? dir : "";
        free(dir);
        if (!text.empty() && text != ".") {
            auto at = std::find(u->directories.begin(), u->directories.end(), text);
            directory = (uint32_t)(at - u->directories.begin()) + 1;
            if (at == u->directories.end())
                u->directories.push_back(text);
        }
    }
    model_file *f = model_find_file(name);
    u->files.push_back({base, directory, f ? f->number : 0});
    u->current_file = (uint32_t)u->files.size();
}

// The C name: a global's without the code generator's leading '_', a
// frame variable's without the "_<function>_" the code generator puts
// before it.
std::string c_name(const sdb_entry *e)
{
    std::string name = e->name ? e->name : "";
    bool global = e->kind == SC_EXTERN || e->kind == SC_GLOBAL || e->kind == SC_STATIC;
    std::string prefix = u->function + "_";
    if (!global && !u->function.empty() && name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
        return name.substr(prefix.size());
    return global && name.size() > 1 && name[0] == '_' ? name.substr(1) : name;
}

void emit_variable(sdb_entry *e, const std::vector<sdb_entry *> &path)
{
    if (!e->type || sdb_is_function(e->type))
        return;
    resolved_address at;
    if (!machine_resolve(e, path, &at)) {
        if (e->kind == SC_EXTERN || e->kind == SC_GLOBAL || e->kind == SC_STATIC)
            msg_report(1651, e->name ? e->name : "");
        return;
    }
    int type = type_of(e->type, (long)e->type->entries.size() - 1);
    if (type < 0) {
        msg_report(1650, e->name ? e->name : "");
        return;
    }
    die d(e->kind == SC_PARAM ? TAG_formal_parameter : TAG_variable, false);
    d.string(AT_name, c_name(e));
    add_decl(d, u->current_file, e->line);
    d.ref(AT_type, type);
    if (e->kind == SC_EXTERN)
        d.flag(AT_external, true);
    // A bit variable's address counts bits: DWARF 2 cannot place it.
    if (!sdb_is_bit(e->type)) {
        bytes where;
        if (e->kind == SC_REG) {
            put8(where, OP_regx);
            put_uleb(where, at.value);
        } else if ((e->kind == SC_AUTO || e->kind == SC_PARAM) && !frame_symbol_machine()) {
            put8(where, OP_fbreg);
            put_sleb(where, (int64_t)at.value - u->frame_base);
        } else {
            put8(where, OP_addr);
            put_address(where, at.value);
        }
        d.block(AT_location, where);
    }
    u->scope.put(d);
}

void walk_scope(sdb_entry *scope, std::vector<sdb_entry *> &path);

void emit_function(sdb_entry *block, std::vector<sdb_entry *> &path)
{
    sdb_entry *fn = block->function;
    if (!fn || !fn->name)
        return;
    die d(TAG_subprogram, !block->entries.empty());
    d.string(AT_name, c_name(fn));
    long outer = outer_index(fn->type);
    int returned = type_of(fn->type, outer - 1);
    if (returned >= 0)
        d.ref(AT_type, returned);
    d.flag(AT_external, fn->kind == SC_EXTERN);
    add_decl(d, u->current_file, fn->line);
    uint32_t low, segment, end;
    if (model_symbol_value(fn->name, &low, &segment)) {
        if (!model_symbol_value((std::string("__end_of") + fn->name).c_str(), &end, &segment) || end <= low)
            end = low + 1;
        d.address(AT_low_pc, low);
        d.address(AT_high_pc, end);
        widen(low, end);
    }
    if (!frame_symbol_machine())
        d.block(AT_frame_base, {OP_reg29});
    u->scope.put(d);
    u->frame_base = block->numbers[0];
    std::string enclosing = u->function;
    u->function = fn->name;
    path.push_back(block);
    walk_scope(block, path);
    path.pop_back();
    u->function = enclosing;
    if (!block->entries.empty())
        u->scope.close();
}

void walk_scope(sdb_entry *scope, std::vector<sdb_entry *> &path)
{
    for (sdb_entry *e : scope->entries) {
        switch (e->kind) {
        case SC_EXTERN:
        case SC_GLOBAL:
        case SC_STATIC:
        case SC_AUTO:
        case SC_PARAM:
        case SC_REG: emit_variable(e, path); break;
        case SC_TYPEDEF: {
            int type = e->type ? type_of(e->type, (long)e->type->entries.size() - 1) : -1;
            if (type < 0) {
                msg_report(1650, e->name ? e->name : "");
                break;
            }
            die d(TAG_typedef, false);
            d.string(AT_name, e->name ? e->name : "");
            add_decl(d, u->current_file, e->line);
            d.ref(AT_type, type);
            u->scope.put(d);
            break;
        }
        case SC_BLOCK:
            path.push_back(e);
            walk_scope(e, path);
            path.pop_back();
            break;
        case SC_FUNC: emit_function(e, path); break;
        case SC_ENUM: {
            u->enum_chains.push_back(std::make_unique<type_chain>());
            type_chain *chain = u->enum_chains.back().get();
            chain->entries.push_back({TK_ENUM, e->name ? e->name : "", 0, 0, e});
            type_of(chain, 0);
            break;
        }
        case SC_FILENAME: add_unit_file(e->name ? e->name : ""); break;
        default: break;
        }
    }
}

// ---------------------------------------------------------------------------
// the line program
// ---------------------------------------------------------------------------

struct line_row {
    uint32_t address, end, line, file;
};

// A row's line program state: address, file, line.
struct line_state {
    uint32_t address = 0, file = 1;
    int64_t line = 1;
};

void put_special(bytes &b, int64_t line_delta, uint32_t advance)
{
    put8(b, (uint8_t)((line_delta - LINE_BASE) + LINE_RANGE * advance + OPCODE_BASE));
}

void put_end_sequence(bytes &b, line_state &st, uint32_t end)
{
    if (end > st.address) {
        put8(b, LNS_advance_pc);
        put_uleb(b, end - st.address);
    }
    put8(b, 0);
    put_uleb(b, 1);
    put8(b, LNE_end_sequence);
    st = line_state();
}

// The rows of the unit's files in program memory, by address and line.
std::vector<line_row> unit_rows()
{
    std::vector<line_row> rows;
    for (uint32_t i = 0; i < vec_count(model.lines); i++) {
        const model_line *l = (const model_line *)vec_get(model.lines, i);
        model_segment *s = model_segment_at_number(l->segment);
        if (!settings.classes.empty() && (!s || !model_in_program_class(s)))
            continue;
        for (size_t k = u->files.size(); k-- > 0;)
            if (u->files[k].model_file && u->files[k].model_file == l->file) {
                rows.push_back({l->address, std::max(l->end, l->address), l->line, (uint32_t)k + 1});
                break;
            }
    }
    std::sort(rows.begin(), rows.end(), [](const line_row &a, const line_row &b) {
        return a.address != b.address ? a.address < b.address : a.line < b.line;
    });
    // A row ends before the next row of the unit, whatever came between.
    for (size_t i = 0; i + 1 < rows.size(); i++)
        if (rows[i + 1].address > rows[i].address)
            rows[i].end = std::min(rows[i].end, rows[i + 1].address - 1);
    return rows;
}

// The first row of a sequence sets its address; the others advance.
void put_row(bytes &b, line_state &st, const line_row &r, bool first)
{
    if (r.file != st.file) {
        put8(b, LNS_set_file);
        put_uleb(b, r.file);
        st.file = r.file;
    }
    int64_t d = (int64_t)r.line - st.line;
    if (first) {
        put8(b, LNS_advance_line);
        put_sleb(b, d);
        put8(b, 0);
        put_uleb(b, address_size + 1);
        put8(b, LNE_set_address);
        put_address(b, r.address);
        put8(b, LNS_copy);
    } else {
        uint32_t a = r.address - st.address, advance;
        if (a < 16) {
            advance = a;
        } else if (a < 32) {
            put8(b, LNS_const_add_pc);   // adds (255 - 10) / 15 = 16
            advance = a - 16;
        } else {
            put8(b, LNS_advance_pc);
            put_uleb(b, a);
            advance = 0;
        }
        if (d < LINE_BASE || d >= LINE_BASE + LINE_RANGE) {
            put8(b, LNS_advance_line);
            put_sleb(b, d);
            d = 0;
        }
        put_special(b, d, advance);
    }
    st.address = r.address;
    st.line = r.line;
}

void write_line_program(bytes &line)
{
    size_t start = line.size();
    put32(line, 0);
    put16(line, 2);
    size_t header_at = line.size();
    put32(line, 0);
    put8(line, 1);                       // minimum_instruction_length
    put8(line, 1);                       // default_is_stmt
    put8(line, (uint8_t)(int8_t)LINE_BASE);
    put8(line, LINE_RANGE);
    put8(line, OPCODE_BASE);
    for (uint8_t n : {0, 1, 1, 1, 1, 0, 0, 0, 1})
        put8(line, n);
    for (const std::string &dir : u->directories)
        put_string(line, dir);
    put8(line, 0);
    for (const unit_file &f : u->files) {
        put_string(line, f.name);
        put_uleb(line, f.directory);
        put_uleb(line, 0);
        put_uleb(line, 0);
    }
    put8(line, 0);
    patch32(line, header_at, (uint32_t)(line.size() - header_at - 4));

    std::vector<line_row> rows = unit_rows();
    line_state st;
    bool open = false;
    uint32_t end = 0;
    for (const line_row &r : rows) {
        // A gap in the code ends the sequence; the next starts afresh.
        if (open && r.address > end + 1) {
            put_end_sequence(line, st, end + 1);
            open = false;
        }
        if (!open)
            st = line_state();
        put_row(line, st, r, !open);
        open = true;
        end = std::max(end, r.end);
        widen(r.address, r.end + 1);
    }
    if (open)
        put_end_sequence(line, st, end + 1);
    patch32(line, start, (uint32_t)(line.size() - start - 4));
}

// ---------------------------------------------------------------------------
// units
// ---------------------------------------------------------------------------

void write_unit(sdb_entry *module, bytes &info, bytes &line)
{
    unit_state state;
    u = &state;
    uint32_t stmt_list = (uint32_t)line.size();
    std::vector<sdb_entry *> path = {module};
    walk_scope(module, path);
    build_queued_types();
    write_line_program(line);

    bool children = !u->types.b.empty() || !u->scope.b.empty();
    die cu(TAG_compile_unit, children);
    cu.data4(AT_stmt_list, stmt_list);
    cu.string(AT_producer, PRODUCER);
    cu.data2(AT_language, module->kind == SC_NODEBUG ? LANG_ASSEMBLER : LANG_C89);
    cu.string(AT_name, module->name ? module->name : "");
    bool ranged = u->low <= u->high && u->low != UINT32_MAX;
    cu.address(AT_low_pc, ranged ? u->low : 0);
    cu.address(AT_high_pc, ranged ? u->high : 0);

    bytes unit;
    put32(unit, 0);
    put16(unit, 2);
    put32(unit, 0);
    put8(unit, (uint8_t)address_size);
    put_uleb(unit, abbrev_code(cu.key));
    unit.insert(unit.end(), cu.values.begin(), cu.values.end());
    size_t types_base = unit.size();
    size_t scope_base = types_base + u->types.b.size();
    unit.insert(unit.end(), u->types.b.begin(), u->types.b.end());
    unit.insert(unit.end(), u->scope.b.begin(), u->scope.b.end());
    if (children)
        put8(unit, 0);
    auto patch = [&](const area &a, size_t base) {
        for (const ref_fixup &r : a.refs) {
            if (r.type == -2)   // a sibling: a type-area offset already
                patch32(unit, base + r.at, (uint32_t)(types_base + byteorder_read32(&unit[base + r.at])));
            else if (r.type >= 0)
                patch32(unit, base + r.at, (uint32_t)(types_base + u->jobs[(size_t)r.type].offset));
        }
    };
    patch(u->types, types_base);
    patch(u->scope, scope_base);
    patch32(unit, 0, (uint32_t)(unit.size() - 4));
    info.insert(info.end(), unit.begin(), unit.end());
    u = nullptr;
}

// 2 bytes an address unless something lies above 0xFFFF.
unsigned choose_address_size()
{
    uint64_t top = model.entry;
    for (uint32_t k = 0; k < vec_count(model.segments); k++) {
        const model_segment *s = (const model_segment *)vec_get(model.segments, k);
        top = std::max<uint64_t>(top, (uint64_t)s->address + s->size);
    }
    for (uint32_t i = 0; i < vec_count(model.symbols); i++)
        top = std::max<uint64_t>(top, ((const model_symbol *)vec_get(model.symbols, i))->value + 1ull);
    for (uint32_t i = 0; i < vec_count(model.lines); i++)
        top = std::max<uint64_t>(top, ((const model_line *)vec_get(model.lines, i))->address + 1ull);
    if (machine_current && (machine_current->shape == SHAPE_PIC32 || machine_current->shape == SHAPE_ARM))
        return 4;
    return top > 0x10000 ? 4 : 2;
}

} // namespace

void bytes_put16(std::vector<uint8_t> &b, uint16_t v)
{
    uint8_t t[2];
    byteorder_write16(t, v);
    b.insert(b.end(), t, t + 2);
}

void bytes_put32(std::vector<uint8_t> &b, uint32_t v)
{
    uint8_t t[4];
    byteorder_write32(t, v);
    b.insert(b.end(), t, t + 4);
}

std::vector<dwarf_section> dwarf_generate()
{
    std::vector<dwarf_section> out;
    if (!sdb_global || !machine_current)
        return out;
    abbrevs.clear();
    abbrev_bytes.clear();
    address_size = choose_address_size();
    bytes info, line;
    for (sdb_entry *e : sdb_global->entries)
        if (e->kind == SC_MODULE || e->kind == SC_NODEBUG)
            write_unit(e, info, line);
    put8(abbrev_bytes, 0);
    out.push_back({".debug_abbrev", abbrev_bytes});
    out.push_back({".debug_info", info});
    out.push_back({".debug_line", line});
    return out;
}
