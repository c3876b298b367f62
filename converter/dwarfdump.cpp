// The DWARF dump: after the ELF dump has listed a file's headers, its
// DWARF 2 sections are decoded and listed. Every read goes through a
// cursor that knows where its section (or unit, or program) ends, so a
// zero or lying length, offset or count gives a numbered warning and the
// listing of that section stops; nothing is read past the file.
#include "egret.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

namespace {

struct section_row {
    const char *name, *description;
};

// The sections the dump knows, in the order of its table.
const section_row section_table[] = {
    {".debug_str", "string table"},          {".debug_abbrev", "abbreviation table"},
    {".debug_info", "debug contributions"},  {".debug_line", "line number information"},
    {".debug_frame", "call frame information"}, {".debug_pubnames", "name lookup table"},
    {".debug_pubtypes", "name lookup table"}, {".debug_aranges", "address range table"},
    {".debug_macinfo", "macro information"},  {".debug_loc", "location lists"},
    {".debug_ranges", "address ranges"},
};
enum { S_STR, S_ABBREV, S_INFO, S_LINE, S_FRAME, S_PUBNAMES, S_PUBTYPES, S_ARANGES, S_MACINFO, S_LOC, S_RANGES };
static_assert(std::size(section_table) == S_RANGES + 1, "one row per known section");

struct name_row {
    uint32_t value;
    const char *name;
};

const name_row tag_names[] = {
    {0x01, "array_type"}, {0x02, "class_type"}, {0x03, "entry_point"}, {0x04, "enumeration_type"},
    {0x05, "formal_parameter"}, {0x08, "imported_declaration"}, {0x0A, "label"}, {0x0B, "lexical_block"},
    {0x0D, "member"}, {0x0F, "pointer_type"}, {0x10, "reference_type"}, {0x11, "compile_unit"},
    {0x12, "string_type"}, {0x13, "structure_type"}, {0x15, "subroutine_type"}, {0x16, "typedef"},
    {0x17, "union_type"}, {0x18, "unspecified_parameters"}, {0x19, "variant"}, {0x1A, "common_block"},
    {0x1B, "common_inclusion"}, {0x1C, "inheritance"}, {0x1D, "inlined_subroutine"}, {0x1E, "module"},
    {0x1F, "ptr_to_member_type"}, {0x20, "set_type"}, {0x21, "subrange_type"}, {0x22, "with_stmt"},
    {0x23, "access_declaration"}, {0x24, "base_type"}, {0x25, "catch_block"}, {0x26, "const_type"},
    {0x27, "constant"}, {0x28, "enumerator"}, {0x29, "file_type"}, {0x2A, "friend"}, {0x2B, "namelist"},
    {0x2C, "namelist_item"}, {0x2D, "packed_type"}, {0x2E, "subprogram"}, {0x2F, "template_type_param"},
    {0x30, "template_value_param"}, {0x31, "thrown_type"}, {0x32, "try_block"}, {0x33, "variant_part"},
    {0x34, "variable"}, {0x35, "volatile_type"}, {0x4080, "lo_user"}, {0xFFFF, "hi_user"},
};
const name_row at_names[] = {
    {0x01, "sibling"}, {0x02, "location"}, {0x03, "name"}, {0x09, "ordering"}, {0x0B, "byte_size"},
    {0x0C, "bit_offset"}, {0x0D, "bit_size"}, {0x10, "stmt_list"}, {0x11, "low_pc"}, {0x12, "high_pc"},
    {0x13, "language"}, {0x15, "discr"}, {0x16, "discr_value"}, {0x17, "visibility"}, {0x18, "import"},
    {0x19, "string_length"}, {0x1A, "common_reference"}, {0x1B, "comp_dir"}, {0x1C, "const_value"},
    {0x1D, "containing_type"}, {0x1E, "default_value"}, {0x20, "inline"}, {0x21, "is_optional"},
    {0x22, "lower_bound"}, {0x25, "producer"}, {0x27, "prototyped"}, {0x2A, "return_addr"},
    {0x2C, "start_scope"}, {0x2E, "stride_size"}, {0x2F, "upper_bound"}, {0x31, "abstract_origin"},
    {0x32, "accessibility"}, {0x33, "address_class"}, {0x34, "artificial"}, {0x35, "base_types"},
    {0x36, "calling_convention"}, {0x37, "count"}, {0x38, "data_member_location"}, {0x39, "decl_column"},
    {0x3A, "decl_file"}, {0x3B, "decl_line"}, {0x3C, "declaration"}, {0x3D, "discr_list"},
    {0x3E, "encoding"}, {0x3F, "external"}, {0x40, "frame_base"}, {0x41, "friend"},
    {0x42, "identifier_case"}, {0x43, "macro_info"}, {0x44, "namelist_item"}, {0x45, "priority"},
    {0x46, "segment"}, {0x47, "specification"}, {0x48, "static_link"}, {0x49, "type"},
    {0x4A, "use_location"}, {0x4B, "variable_parameter"}, {0x4C, "virtuality"},
    {0x4D, "vtable_elem_location"}, {0x2000, "lo_user"}, {0x3FFF, "hi_user"},
};
const name_row form_names[] = {
    {0x01, "addr"}, {0x03, "block2"}, {0x04, "block4"}, {0x05, "data2"}, {0x06, "data4"}, {0x07, "data8"},
    {0x08, "string"}, {0x09, "block"}, {0x0A, "block1"}, {0x0B, "data1"}, {0x0C, "flag"}, {0x0D, "sdata"},
    {0x0E, "strp"}, {0x0F, "udata"}, {0x10, "ref_addr"}, {0x11, "ref1"}, {0x12, "ref2"}, {0x13, "ref4"},
    {0x14, "ref8"}, {0x15, "ref_udata"}, {0x16, "indirect"},
};
const name_row lns_names[] = {
    {1, "copy"}, {2, "advance_pc"}, {3, "advance_line"}, {4, "set_file"}, {5, "set_column"},
    {6, "negate_stmt"}, {7, "set_basic_block"}, {8, "const_add_pc"}, {9, "fixed_advance_pc"},
};
const name_row lne_names[] = {{1, "end_sequence"}, {2, "set_address"}, {3, "define_file"}};

struct family {
    const char *prefix;
    const name_row *rows;
    size_t count;
    uint32_t user_low, user_high;   // user range, none when low > high
};
const family TAG = {"TAG", tag_names, std::size(tag_names), 0x4080, 0xFFFF};
const family AT = {"AT", at_names, std::size(at_names), 0x2000, 0x3FFF};
const family FORM = {"FORM", form_names, std::size(form_names), 1, 0};
const family LNS = {"LNS", lns_names, std::size(lns_names), 1, 0};
const family LNE = {"LNE", lne_names, std::size(lne_names), 1, 0};

// A constant's name, "DW_%s_%s" or bare with '_' shown as blanks.
std::string name_of(const family &f, uint64_t value, bool prefixed)
{
    for (size_t i = 0; i < f.count; i++)
        if (f.rows[i].value == value) {
            if (prefixed)
                return str_printf("DW_%s_%s", f.prefix, f.rows[i].name);
            std::string bare = f.rows[i].name;
            std::replace(bare.begin(), bare.end(), '_', ' ');
            return bare;
        }
    std::string text = str_printf("?? 0x%08lX", (unsigned long)value);
    if (f.user_low <= value && value <= f.user_high)
        text += " (user-defined)";
    return text;
}

// ---------------------------------------------------------------------------
// bounded reading
// ---------------------------------------------------------------------------

// A reader over [p, end): every read checks the end and marks the cursor
// bad instead of reading past it.
struct cursor {
    const uint8_t *start, *p, *end;
    bool bad = false;

    cursor(const uint8_t *s, const uint8_t *e) : start(s), p(s), end(e) {}
    size_t offset() const { return (size_t)(p - start); }
    size_t left() const { return bad ? 0 : (size_t)(end - p); }
    bool need(size_t n)
    {
        if (bad || (size_t)(end - p) < n) {
            bad = true;
            p = end;
            return false;
        }
        return true;
    }
    uint64_t u8() { return need(1) ? *p++ : 0; }
    uint64_t u16()
    {
        if (!need(2))
            return 0;
        uint16_t v = byteorder_read16(p);
        p += 2;
        return v;
    }
    uint64_t u32()
    {
        if (!need(4))
            return 0;
        uint32_t v = byteorder_read32(p);
        p += 4;
        return v;
    }
    uint64_t u64()
    {
        if (!need(8))
            return 0;
        uint64_t v = byteorder_read64(p);
        p += 8;
        return v;
    }
    uint64_t sized(unsigned n) { return n == 1 ? u8() : n == 2 ? u16() : n == 4 ? u32() : n == 8 ? u64() : 0; }
    uint64_t uleb()
    {
        if (bad)
            return 0;
        const uint8_t *q = p;
        uint64_t v = leb128_read_unsigned(&q, end);
        p = q;
        return v;
    }
    int64_t sleb()
    {
        if (bad)
            return 0;
        const uint8_t *q = p;
        int64_t v = leb128_read_signed(&q, end);
        p = q;
        return v;
    }
    std::string string()
    {
        if (bad)
            return "";
        const uint8_t *z = (const uint8_t *)memchr(p, 0, (size_t)(end - p));
        if (!z) {
            bad = true;
            p = end;
            return "";
        }
        std::string s((const char *)p, (size_t)(z - p));
        p = z + 1;
        return s;
    }
    void skip(uint64_t n)
    {
        if (need((size_t)std::min<uint64_t>(n, SIZE_MAX)))
            p += n;
    }
};

struct found_section {
    bool present = false;
    uint64_t offset = 0, size = 0;
    const uint8_t *bytes = nullptr;   // null until read (or when unreadable)
};

found_section found[std::size(section_table)];
std::set<uint64_t> line_offsets;   // DW_AT_stmt_list values met

bool read_section(const std::vector<uint8_t> &file, int k)
{
    found_section &s = found[k];
    if (!s.present)
        return false;
    if (s.offset > file.size() || s.size > file.size() - s.offset) {
        msg_report(666, section_table[k].name, section_table[k].description);
        return false;
    }
    s.bytes = file.data() + s.offset;
    return true;
}

void heading(int k)
{
    const char *name = section_table[k].name;
    printf("\n\n%c%s (%s):\n", toupper((unsigned char)name[0]), name + 1, section_table[k].description);
}

// ---------------------------------------------------------------------------
// strings and abbreviations
// ---------------------------------------------------------------------------

void dump_strings()
{
    heading(S_STR);
    cursor c(found[S_STR].bytes, found[S_STR].bytes + found[S_STR].size);
    while (c.left()) {
        size_t at = c.offset();
        std::string s = c.string();
        if (c.bad)
            break;
        printf("0x%08lX: \"%s\"\n", (unsigned long)at, s.c_str());
    }
}

struct abbrev {
    uint64_t tag;
    uint8_t children;
    std::vector<std::pair<uint64_t, uint64_t>> attrs;
};

// The abbreviations of the set at `offset`, by code.
std::map<uint64_t, abbrev> read_abbrevs(uint64_t offset, bool list)
{
    std::map<uint64_t, abbrev> out;
    const found_section &s = found[S_ABBREV];
    if (offset >= s.size)
        return out;
    cursor c(s.bytes + offset, s.bytes + s.size);
    while (c.left()) {
        size_t at = c.offset() + (size_t)offset;
        uint64_t code = c.uleb();
        if (code == 0) {
            if (!list)
                break;   // the end of this unit's set
            continue;
        }
        abbrev a;
        a.tag = c.uleb();
        a.children = (uint8_t)c.u8();
        for (;;) {
            uint64_t at_name = c.uleb(), form = c.uleb();
            if (c.bad || (at_name == 0 && form == 0))
                break;
            a.attrs.push_back({at_name, form});
        }
        if (c.bad)
            break;
        if (list) {
            printf("\n@ 0x%08lX\n%5.5lu(%c): %s\n", (unsigned long)at, (unsigned long)code,
                   a.children == 1 ? 'Y' : a.children == 0 ? 'N' : '?', name_of(TAG, a.tag, true).c_str());
            for (const auto &[n, f] : a.attrs)
                printf("          %-30s %s\n", name_of(AT, n, true).c_str(), name_of(FORM, f, true).c_str());
        }
        out.emplace(code, a);
    }
    return out;
}

// ---------------------------------------------------------------------------
// debug information
// ---------------------------------------------------------------------------

std::string address_text(uint64_t v, unsigned size)
{
    switch (size) {
    case 1: return str_printf("0x%02X", (unsigned)v);
    case 2: return str_printf("0x%04X", (unsigned)v);
    case 4: return str_printf("0x%08lX", (unsigned long)v);
    default: return str_printf("0x%08llX", (unsigned long long)v);
    }
}

// The value of one attribute; false when the form is unknown (the rest of
// the DIE cannot be found then).
bool attribute_value(cursor &c, uint64_t form, unsigned address_size, uint64_t attribute, std::string &out,
                     int depth = 0)
{
    switch (form) {
    case 0x01:
    case 0x10: out += address_text(c.sized(address_size), address_size); break;
    case 0x0B:
    case 0x11: out += str_printf("0x%02X", (unsigned)c.u8()); break;
    case 0x03: {
        uint64_t n = c.u16();
        c.skip(n);
        out += str_printf("0x%04llX", (unsigned long long)n);
        break;
    }
    case 0x04: {
        uint64_t n = c.u32();
        c.skip(n);
        out += str_printf("0x%08llX", (unsigned long long)n);
        break;
    }
    case 0x05:
    case 0x12: out += str_printf("0x%04X", (unsigned)c.u16()); break;
    case 0x06:
    case 0x13: {
        uint64_t v = c.u32();
        if (attribute == 0x10 && !c.bad)
            line_offsets.insert(v);
        out += str_printf("0x%08lX", (unsigned long)v);
        break;
    }
    case 0x07:
    case 0x14: out += str_printf("0x%08llX", (unsigned long long)c.u64()); break;
    case 0x08: out += "\"" + c.string() + "\""; break;
    case 0x09: {
        uint64_t n = c.uleb();
        c.skip(n);
        out += str_printf("0x%04llX", (unsigned long long)n);
        break;
    }
    case 0x0A: {
        uint64_t n = c.u8();
        c.skip(n);
        out += str_printf("0x%02llX", (unsigned long long)n);
        break;
    }
    case 0x0C: out += c.u8() ? "true" : "false"; break;
    case 0x0D: out += str_printf("%lld", (long long)c.sleb()); break;
    case 0x0E: {
        uint64_t at = c.u32();
        const found_section &s = found[S_STR];
        if (s.bytes && at < s.size && memchr(s.bytes + at, 0, s.size - at))
            out += str_printf("\"%s\"", (const char *)s.bytes + at);
        else
            out += str_printf("?? Invalid string table offset: 0x%08lX", (unsigned long)at);
        break;
    }
    case 0x0F: out += str_printf("%llu", (unsigned long long)c.uleb()); break;
    case 0x15: out += str_printf("0x%08llX", (unsigned long long)c.uleb()); break;
    case 0x16: {
        uint64_t inner = c.uleb();
        out += name_of(FORM, inner, false) + ": ";
        if (depth > 4 || inner == 0x16)
            return false;   // an indirect form naming itself
        return attribute_value(c, inner, address_size, attribute, out, depth + 1);
    }
    default: out += str_printf("?? Unknown form 0x%lX", (unsigned long)form); return false;
    }
    return !c.bad;
}

void dump_unit_dies(cursor &c, const std::map<uint64_t, abbrev> &abbrevs, unsigned address_size, size_t unit_start)
{
    int level = 0;
    bool garbage = false;
    while (c.left()) {
        size_t at = c.offset();
        uint64_t code = c.uleb();
        if (code == 0) {
            if (level == 0) {
                // Padding after the unit's DIEs must be zero.
                if (!garbage)
                    while (c.left())
                        if (c.u8()) {
                            msg_report(662);
                            garbage = true;
                            break;
                        }
                break;
            }
            if (settings.verbose >= 4)
                printf("%*s+<NULL ENTRY>\n", 2 * level, "");
            level--;
            continue;
        }
        auto a = abbrevs.find(code);
        if (a == abbrevs.end()) {
            msg_report(658);
            return;
        }
        printf("%*s+%s (%lu) @ 0x%lX (0x%lX)\n", 2 * level, "", name_of(TAG, a->second.tag, false).c_str(),
               (unsigned long)code, (unsigned long)at, (unsigned long)(unit_start + at));
        for (const auto &[name, form] : a->second.attrs) {
            std::string value;
            bool ok = attribute_value(c, form, address_size, name, value);
            printf("%*s %s[%s] = %s\n", 2 * level, "", name_of(AT, name, false).c_str(),
                   name_of(FORM, form, false).c_str(), value.c_str());
            if (!ok) {
                msg_report(1657, (unsigned long)at);
                return;
            }
        }
        if (a->second.children)
            level++;
    }
}

void dump_info()
{
    heading(S_INFO);
    const found_section &s = found[S_INFO];
    cursor c(s.bytes, s.bytes + s.size);
    for (int number = 1; c.left(); number++) {
        size_t start = c.offset();
        printf("\nCompilation Unit %d @ 0x%08lX\n", number, (unsigned long)start);
        uint64_t length = c.u32();
        if (c.bad || length < 7 || length > c.left()) {
            msg_report(659, (unsigned long)length);
            return;
        }
        cursor unit(c.p, c.p + length);
        c.skip(length);
        uint64_t version = unit.u16(), abbrev_offset = unit.u32();
        unsigned address_size = (unsigned)unit.u8();
        printf("size=%lu ver=0x%04X abbrev offset=0x%08lX, addrsize=%u\n\n", (unsigned long)length,
               (unsigned)version, (unsigned long)abbrev_offset, address_size);
        if (abbrev_offset >= found[S_ABBREV].size) {
            msg_report(660, (unsigned long)found[S_ABBREV].size);
            continue;
        }
        if (address_size != 1 && address_size != 2 && address_size != 4 && address_size != 8) {
            msg_report(661, address_size);
            continue;
        }
        // The DIE offsets count from the unit's header.
        cursor dies(unit.p, unit.end);
        dies.start = s.bytes + start;
        dump_unit_dies(dies, read_abbrevs(abbrev_offset, false), address_size, start);
    }
}

// ---------------------------------------------------------------------------
// line programs
// ---------------------------------------------------------------------------

struct line_row {
    size_t opcode;
    uint64_t address, file;
    int64_t line;
    long column;
    bool is_stmt, basic_block;
};

std::string time_text(uint64_t t)
{
    time_t when = (time_t)t;
    std::string text = t ? ctime(&when) : "0";
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

void print_matrix(const std::vector<line_row> &rows)
{
    printf("\nGenerated line number matrix:\n\nstmt    address   file        line        column      is_stmt      "
           "basic_block\n");
    for (const line_row &r : rows)
        printf("%5.5lu:  %016llX  %-10lu  %-10lld  %-10ld  %-5s        %-5s\n", (unsigned long)r.opcode,
               (unsigned long long)r.address, (unsigned long)r.file, (long long)r.line, r.column,
               r.is_stmt ? "true" : "false", r.basic_block ? "true" : "false");
}

// Runs one statement program on the line-number state machine.
void run_program(cursor &c, int64_t line_base, uint64_t line_range, uint64_t opcode_base,
                 const std::vector<uint64_t> &lengths, bool default_is_stmt, uint64_t min_length)
{
    line_row st = {0, 0, 1, 1, 0, default_is_stmt, false};
    std::vector<line_row> rows;
    long sequence = 0;
    bool open = false;
    for (size_t number = 1; c.left(); number++) {
        if (!open) {
            printf("\n\nStatement program sequence %ld\n\n", ++sequence);
            open = true;
        }
        uint64_t op = c.u8();
        printf("%5.5lu:  ", (unsigned long)number);
        bool emit = false, ended = false;
        if (op >= opcode_base) {
            uint64_t adjusted = op - opcode_base;
            uint64_t advance = line_range ? adjusted / line_range : 0;
            int64_t delta = line_base + (int64_t)(line_range ? adjusted % line_range : 0);
            st.address += advance * min_length;
            st.line += delta;
            printf("%-24s", str_printf("SPECIAL(line=%lld, addr=%lld)", (long long)delta,
                                        (long long)(advance * min_length)).c_str());
            emit = true;
        } else if (op == 0) {
            uint64_t length = c.uleb();
            if (length == 0) {
                printf("%-24s\n", "??");
                msg_report(640);
                continue;
            }
            cursor ext(c.p, c.p + std::min<uint64_t>(length, c.left()));
            if (length > c.left()) {
                msg_report(642);
                c.skip(c.left());
                break;
            }
            c.skip(length);
            uint64_t sub = ext.u8();
            printf("%-24s", name_of(LNE, sub, true).c_str());
            if (sub == 1) {
                emit = ended = true;
            } else if (sub == 2) {
                uint64_t n = length - 1;
                if (n != 1 && n != 2 && n != 4 && n != 8)
                    msg_report(641, (long)n);
                else
                    st.address = ext.sized((unsigned)n);
                printf(": 0x%016llX", (unsigned long long)st.address);
            } else if (sub == 3) {
                std::string name = ext.string();
                uint64_t dir = ext.uleb(), time = ext.uleb(), size = ext.uleb();
                printf(": \"%s\" dir: %5lu, time: %s (0x%08lX), %lu %s\n", name.c_str(), (unsigned long)dir,
                       time_text(time).c_str(), (unsigned long)time, (unsigned long)size, size == 1 ? "byte" : "bytes");
            }
            if (ext.bad)
                msg_report(643);
        } else {
            printf("%-24s", name_of(LNS, op, true).c_str());
            switch (op) {
            case 1: emit = true; break;
            case 2:
                st.address += c.uleb() * min_length;
                printf(": 0x%016llX", (unsigned long long)st.address);
                break;
            case 3: {
                int64_t d = c.sleb();
                st.line += d;
                printf(": %lld", (long long)d);
                break;
            }
            case 4:
                st.file = c.uleb();
                printf(": %llu", (unsigned long long)st.file);
                break;
            case 5: {
                uint64_t column = c.uleb();
                st.column = (long)column;
                printf(": %llu", (unsigned long long)column);
                break;
            }
            case 6: st.is_stmt = !st.is_stmt; break;
            case 7: st.basic_block = true; break;
            case 8:
                st.address += line_range ? (255 - opcode_base) / line_range * min_length : 0;
                break;
            case 9:
                st.address += c.u16();
                printf(": 0x%016llX", (unsigned long long)st.address);
                break;
            default: {
                uint64_t n = op - 1 < lengths.size() ? lengths[op - 1] : 0;
                printf(": %llu args", (unsigned long long)n);
                for (uint64_t i = 0; i < n && c.left(); i++)
                    c.uleb();
                break;
            }
            }
        }
        printf("\n");
        if (emit) {
            st.opcode = number;
            rows.push_back(st);
            st.basic_block = false;
        }
        if (ended) {
            print_matrix(rows);
            rows.clear();
            st = {0, 0, 1, 1, 0, default_is_stmt, false};
            open = false;
        }
    }
}

void dump_line_program(uint64_t offset)
{
    const found_section &s = found[S_LINE];
    cursor c(s.bytes + offset, s.bytes + s.size);
    uint64_t length = c.u32();
    if (length > c.left()) {
        msg_report(649, (unsigned long)length);
        return;
    }
    if (length < 14) {
        msg_report(644, (unsigned long)length);
        return;
    }
    cursor program(c.p, c.p + length);
    uint64_t version = program.u16(), header_length = program.u32();
    const uint8_t *header_start = program.p;
    uint64_t min_length = program.u8();
    bool default_is_stmt = program.u8() != 0;
    int64_t line_base = (int8_t)program.u8();
    uint64_t line_range = program.u8(), opcode_base = program.u8();
    printf("size=%lu ver=%u prolog=%lu\n", (unsigned long)length, (unsigned)version, (unsigned long)header_length);
    printf("min_len=%u def_stmt=%s line_base=%d line_range=%u opcode_base=%u\n", (unsigned)min_length,
           default_is_stmt ? "true" : "false", (int)line_base, (unsigned)line_range, (unsigned)opcode_base);
    if (opcode_base == 0) {
        msg_report(645);
        return;
    }
    std::vector<uint64_t> lengths;
    printf("opcode lengths:");
    for (uint64_t i = 1; i < opcode_base; i++) {
        lengths.push_back(program.u8());
        printf(" %u", (unsigned)lengths.back());
    }
    printf("\nIncludes:\n");
    long count = 0;
    for (;;) {
        std::string dir = program.string();
        if (program.bad || dir.empty())
            break;
        printf("%5ld.  \"%s\"\n", ++count, dir.c_str());
    }
    if (!count)
        printf("        None\n");
    printf("Files:\n");
    count = 0;
    for (;;) {
        std::string name = program.string();
        if (program.bad || name.empty())
            break;
        uint64_t dir = program.uleb(), time = program.uleb(), size = program.uleb();
        printf("%5ld.  \"%s\"\n           dir: %5lu, time: %s (0x%08lX), %lu %s\n", ++count, name.c_str(),
               (unsigned long)dir, time_text(time).c_str(), (unsigned long)time, (unsigned long)size,
               size == 1 ? "byte" : "bytes");
    }
    if (!count)
        printf("        None\n");
    uint64_t read = (uint64_t)(program.p - header_start);
    if (program.bad) {
        msg_report(646);
        return;
    }
    if (read != header_length) {
        msg_report(647, (int)header_length, (int)read);
        // The statements start where the header says they do.
        if (header_length > (uint64_t)(program.end - header_start))
            return;
        program.p = header_start + header_length;
    }
    run_program(program, line_base, line_range, opcode_base, lengths, default_is_stmt, min_length ? min_length : 1);
}

void dump_lines()
{
    heading(S_LINE);
    unsigned group = 0;
    for (uint64_t offset : line_offsets) {
        printf("\nGroup %u @ 0x%08lX\n\n", ++group, (unsigned long)offset);
        if (offset >= found[S_LINE].size) {
            msg_report(648, (unsigned long)offset);
            continue;
        }
        dump_line_program(offset);
    }
}

// ---------------------------------------------------------------------------
// name lookup and address range tables
// ---------------------------------------------------------------------------

void dump_pubnames()
{
    heading(S_PUBNAMES);
    const found_section &s = found[S_PUBNAMES];
    cursor c(s.bytes, s.bytes + s.size);
    for (int number = 1; c.left(); number++) {
        printf("\nSet %d @ 0x%08lX\n", number, (unsigned long)c.offset());
        uint64_t length = c.u32();
        if (length < 20 - 4 || length > c.left()) {
            msg_report(663, (unsigned long)length);
            return;
        }
        cursor set(c.p, c.p + length);
        c.skip(length);
        uint64_t version = set.u16(), offset = set.u32(), size = set.u32();
        printf("size=%lu, ver=%u, offs=0x%08lX, debug size=%lu\n", (unsigned long)length, (unsigned)version,
               (unsigned long)offset, (unsigned long)size);
        while (set.left()) {
            uint64_t die = set.u32();
            if (die == 0 || set.bad)
                break;
            printf("  0x%08lX: \"%s\"\n", (unsigned long)die, set.string().c_str());
        }
    }
}

void dump_aranges()
{
    heading(S_ARANGES);
    const found_section &s = found[S_ARANGES];
    cursor c(s.bytes, s.bytes + s.size);
    for (int number = 1; c.left(); number++) {
        size_t start = c.offset();
        printf("\nSet %d @ 0x%08lX\n", number, (unsigned long)start);
        uint64_t length = c.u32();
        if (length < 10 - 4 || length > c.left()) {
            msg_report(664, (unsigned long)length);
            return;
        }
        cursor set(c.p, c.p + length);
        c.skip(length);
        uint64_t version = set.u16(), offset = set.u32();
        unsigned address_size = (unsigned)set.u8(), segment_size = (unsigned)set.u8();
        printf("size=%lu, ver=%u, offs=0x%08lX addrsize=%u, segsize=%u%s\n", (unsigned long)length,
               (unsigned)version, (unsigned long)offset, address_size, segment_size, segment_size ? "" : " (flat)");
        if (address_size != 1 && address_size != 2 && address_size != 4 && address_size != 8) {
            msg_report(661, address_size);
            continue;
        }
        size_t header = set.offset() + 4;
        size_t pad = (2 * address_size - (start + header) % (2 * address_size)) % (2 * address_size);
        set.skip(pad);
        while (set.left()) {
            uint64_t address = set.sized(address_size), size = set.sized(address_size);
            if (set.bad || (address == 0 && size == 0))
                break;
            printf("  0x%08llX..0x%08llX\n", (unsigned long long)address, (unsigned long long)(address + size));
        }
    }
}

} // namespace

void dwarf_dump(const std::vector<uint8_t> &file, const std::vector<elf_section_view> &sections)
{
    for (found_section &f : found)
        f = found_section();
    line_offsets.clear();
    for (const elf_section_view &v : sections) {
        if (!v.named) {
            msg_report(1658);
            continue;
        }
        for (size_t k = 0; k < std::size(section_table); k++)
            if (v.name == section_table[k].name)
                found[k] = {true, v.offset, v.size, nullptr};
    }
    if (!found[S_INFO].present) {
        printf("\n\nNo DWARF found");
        return;
    }
    printf("\n\nDWARF:");
    if (!found[S_ABBREV].present) {
        msg_report(667);
        return;
    }
    auto missing = [](int k) { printf("\n\nNo %s (from %s)\n", section_table[k].name, section_table[k].description); };
    if (settings.verbose > 0) {
        if (read_section(file, S_STR))
            dump_strings();
        else
            missing(S_STR);
    } else {
        read_section(file, S_STR);
    }
    if (!read_section(file, S_ABBREV))
        return;
    heading(S_ABBREV);
    read_abbrevs(0, true);
    if (read_section(file, S_INFO))
        dump_info();
    else
        missing(S_INFO);
    if (line_offsets.empty())
        printf("\nNo references to line number information\n");
    else if (read_section(file, S_LINE))
        dump_lines();
    else
        missing(S_LINE);
    for (int k = S_FRAME; k <= S_RANGES; k++) {
        if (!read_section(file, k)) {
            missing(k);
            continue;
        }
        if (k == S_PUBNAMES)
            dump_pubnames();
        else if (k == S_ARANGES)
            dump_aranges();
        else if (k != S_PUBTYPES && k != S_RANGES)
            msg_report(1659, section_table[k].name);
    }
}
