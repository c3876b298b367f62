// Relocation: RELOC entries patch the TEXT data read just before them, and
// the relocation expression (a small stack machine) serves complex entries
// and CONDITION records.
//
// A kind byte holds the type in its high nibble and the field size in its low
// nibble (bytes, or bits for the types 0xC-0xF). The value is added to the
// field's sign-extended contents; a result that the field cannot hold is a
// fixup overflow. With -R (relocatable output) symbol references become psect
// references and the entries are kept in the output; with -L / -LM plain
// entries of a psect are kept as well.
#include "heron.h"

#include <cstring>
#include <vector>

static const char *ref_name;     // psect or symbol the current value refers to
static bool ref_symbol;          // ref_name is a symbol (else a psect)
static symbol *ref_psect;        // psect of the reference (placement-failed check)
static std::string range_name;   // name given by opcode 19
static uint8_t *field_data;      // listing fixups: the field patched instead of TEXT data
static unsigned field_length;

const size_t EXPR_STACK_MAX = 64;   // deepest expression stack accepted
const size_t LIST_BUFFER_SIZE = 28672;   // buffer of each listing file

// Value of a psect reference: its base plus this module's offset, in units.
static uint32_t psect_value(symbol *P)
{
    uint32_t v = psect_base(P);
    if (!(P->flags & OBJ_OVERLAID))
        v = addr_add(v, P->ps->size, P->name);
    return v / psect_delta(P->ps);
}

static uint32_t symbol_value(symbol *S)
{
    if (!S->psect || !S->psect->ps)
        return S->value;
    return S->value / psect_delta(S->psect->ps);
}

static symbol *ref_set_psect(const char *name)
{
    symbol *P = sym_enter(name, OBJ_PSECT | OBJ_GLOBAL);
    ref_name = P->name;
    ref_symbol = false;
    ref_psect = P;
    return P;
}

static symbol *ref_set_symbol(const char *name)
{
    symbol *S = sym_enter(name, OBJ_GLOBAL);
    resolve_indirect(S);
    ref_name = S->name;
    ref_symbol = true;
    ref_psect = S->psect && S->psect->ps ? S->psect : nullptr;
    return S;
}

// Rotated-immediate encoding of a value: an 8-bit value and an even rotation.
static uint32_t rotated_immediate(uint32_t value)
{
    if (value < 256)
        return value;
    unsigned n = 0;
    while (!(value & (1u << n)))
        n++;
    if (value & ~(0xFFu << n))
        return 0xFFFF;
    uint32_t v = value >> n;
    unsigned r = 32 - n;
    if (r & 1) {
        v *= 2;
        r++;
        if (v > 0xFF)
            return 0xFFFFFFFF;
    }
    return (r / 2) << 8 | v;
}

// Binary operators: T is the top of the stack and the left operand.
static bool binary_op(unsigned op, uint32_t T, uint32_t N, uint32_t *out)
{
    switch (op) {
    case 4: *out = T + N; return true;
    case 5: *out = T - N; return true;
    case 6: *out = T * N; return true;
    case 7: if (!N) return false; *out = T / N; return true;
    case 8: *out = T << (N & 31); return true;
    case 9: *out = T >> (N & 31); return true;
    case 10: *out = T & N; return true;
    case 11: *out = T | N; return true;
    case 12: *out = T ^ N; return true;
    case 15: *out = (T >> (N & 31)) & ~(1u << ((N >> 16) & 31)); return true;
    case 17: if (!N) return false; *out = T % N; return true;
    case 22: *out = (uint32_t)((int32_t)T >> (N & 31)); return true;
    default: return false;
    }
}

static bool is_binary(unsigned op)
{
    return (op >= 4 && op <= 12) || op == 15 || op == 17 || op == 22;
}

enum eval_result { EVAL_VALUE, EVAL_NO_PATCH, EVAL_BAD };

// Range check (18): the value below the limit must not exceed it.
static eval_result range_check(std::vector<uint32_t> &st, unsigned offset)
{
    if (st.size() != 2) {
        msg_report(511);
        return EVAL_BAD;
    }
    uint32_t T = st[1], N = st[0];
    if ((int32_t)T < (int32_t)N)
        msg_report(478, range_name.c_str(), (unsigned long)(link_location + offset),
                   (unsigned long)link_location, (int)offset, (unsigned long)N, (unsigned long)T);
    return EVAL_NO_PATCH;
}

// Evaluates one expression at the cursor; the cursor ends after opcode 0.
static eval_result eval_reloc_expr(obj_cursor &c, unsigned offset, uint32_t *result)
{
    std::vector<uint32_t> st;
    uint32_t location = link_location + offset;
    range_name.clear();
    for (;;) {
        unsigned op = cur_u8(c);
        if (c.bad)
            return EVAL_BAD;
        if (op == 0)
            break;
        if (is_binary(op)) {
            if (st.size() < 2) {
                msg_report(513);
                return EVAL_BAD;
            }
            uint32_t T = st.back();
            st.pop_back();
            if (!binary_op(op, T, st.back(), &st.back())) {
                msg_report(513);
                return EVAL_BAD;
            }
            continue;
        }
        switch (op) {
        case 1: case 2: case 13: case 14: case 21: case 23:
            if (st.empty()) {
                msg_report(513);
                return EVAL_BAD;
            }
            {
                uint32_t &T = st.back();
                T = op == 1 ? T & 0xFF : op == 2 ? (T >> 8) & 0xFF : op == 13 ? ~T
                    : op == 14 ? 0 - T : op == 21 ? rotated_immediate(T)
                    : (uint32_t)((int32_t)T < 0 ? 0 - T : T);
            }
            break;
        case 3: st.push_back(cur_u32(c)); break;
        case 16: st.push_back(psect_value(ref_set_psect(cur_name(c)))); break;
        case 18: return range_check(st, offset);
        case 19: range_name = cur_name(c); continue;
        case 20: st.push_back(find_symbol(cur_name(c), OBJ_GLOBAL) ? 1 : 0); break;
        case 32: st.push_back(symbol_value(ref_set_symbol(cur_name(c)))); break;
        case 80: st.push_back(psect_value(ref_set_psect(cur_name(c))) - location); break;
        case 96: st.push_back(symbol_value(ref_set_symbol(cur_name(c))) - location); break;
        case 144: {
            symbol *P = ref_set_psect(cur_name(c));
            P->flags |= OBJ_SIGNATURE;
            st.push_back(P->ps->selector);
            break;
        }
        case 160: {
            ref_set_symbol(cur_name(c));
            uint32_t sel = 0;
            if (ref_psect) {
                ref_psect->flags |= OBJ_SIGNATURE;
                sel = ref_psect->ps->selector;
            }
            st.push_back(sel);
            break;
        }
        default:
            msg_report(512, op);
            continue;
        }
        if (c.bad)
            return EVAL_BAD;
        if (st.size() > EXPR_STACK_MAX) {
            msg_report(513);
            return EVAL_BAD;
        }
    }
    if (st.size() != 1) {
        msg_report(513);
        return EVAL_BAD;
    }
    *result = st[0];
    return EVAL_VALUE;
}

// ---------------------------------------------------------------------------
// Patching
// ---------------------------------------------------------------------------
struct field_shape {
    unsigned bytes;   // bytes the field occupies
    uint32_t mask;    // bits of the field
};

static bool field_shape_of(unsigned kind, field_shape *f)
{
    unsigned n = kind & 0xF;
    if ((kind >> 4) >= 0xC) {
        if (n == 0)
            return false;
        f->bytes = (n + 7) / 8;
        f->mask = (1u << n) - 1;
        return true;
    }
    if (n < 1 || n > 4)
        return false;
    f->bytes = n;
    f->mask = n == 4 ? 0xFFFFFFFF : (1u << (8 * n)) - 1;
    return true;
}

static uint32_t field_get(const uint8_t *p, unsigned bytes)
{
    switch (bytes) {
    case 1: return p[0];
    case 2: return get_u16(p);
    case 3: return get_u24(p);
    default: return get_u32(p);
    }
}

static void field_put(uint8_t *p, unsigned bytes, uint32_t v)
{
    switch (bytes) {
    case 1: p[0] = (uint8_t)v; break;
    case 2: put_u16(p, (uint16_t)v); break;
    case 3: put_u24(p, v); break;
    default: put_u32(p, v); break;
    }
}

static void report_overflow(uint32_t r, unsigned bytes, uint32_t location, unsigned offset, bool named)
{
    const char *lib = current_library.c_str();
    const char *colon = current_library.empty() ? "" : ":";
    const char *plural = bytes == 1 ? "" : "s";
    if (const line_entry *e = line_at(location))
        msg_source_position(e->file, e->line);
    if (named)
        msg_report(1267, ref_symbol ? "symbol" : "psect", ref_name, (unsigned long)r, (int)bytes, plural,
                   (unsigned long)location, lib, colon, current_file.c_str(), (int)rec_count, offset);
    else
        msg_report(1268, (unsigned long)r, (int)bytes, plural, (unsigned long)location, lib, colon,
                   current_file.c_str(), (int)rec_count, offset);
    msg_source_position(nullptr, 0);
}

// Adds v into the field at `offset` of the current TEXT data.
static void patch_field(unsigned offset, unsigned kind, uint32_t v, uint32_t psect_flags, bool named)
{
    field_shape f;
    if (!field_shape_of(kind, &f)) {
        msg_report(509, kind);
        return;
    }
    uint8_t *data;
    unsigned length, header;
    text_current_data(&data, &length, &header);
    if (field_data) {
        data = field_data;
        length = field_length;
        header = 0;
    }
    // Bytes already written out (a record in between sent them) can no
    // longer take the value: an error, not a field silently left unpatched.
    unsigned first = field_data ? 0 : text_written();
    if (!data || offset < first || offset + f.bytes > length) {
        msg_report(508, (int)offset, (int)length, (int)header);
        return;
    }
    if (!field_data)
        text_mark_ready(offset + f.bytes);
    uint8_t *p = data + offset;
    uint32_t old = field_get(p, f.bytes);
    uint32_t c = old & f.mask;
    if (c & ~(f.mask >> 1))
        c |= ~f.mask;
    uint32_t r = c + v;
    field_put(p, f.bytes, (old & ~f.mask) | (r & f.mask));
    if (f.bytes == 1 && (psect_flags & 0x600))
        r &= 0xFF;
    if ((r & ~f.mask) && (r | f.mask) != 0xFFFFFFFF) {
        if (!(ref_psect && (ref_psect->marks & MARK_FAILED)))
            report_overflow(r, f.bytes, link_location + offset, offset, named);
    }
}

// Room for an entry {offset, kind, name} in the output's RELOC records,
// made before the field is patched: a full buffer writes the text patched so
// far, so the new entry counts from the TEXT record that follows.
static uint8_t *keep_reserve(const char *name)
{
    return reserve_output_entry(REC_RELOC, 3 + (unsigned)strlen(name) + 1);
}

static void keep_fill(uint8_t *e, unsigned offset, unsigned kind, const char *name)
{
    put_u16(e, (uint16_t)(offset - text_written()));
    e[2] = (uint8_t)kind;
    memcpy(e + 3, name, strlen(name) + 1);
}

// One simple entry: its value, patched, and kept when asked.
static void reloc_simple(unsigned offset, unsigned kind, const char *name)
{
    unsigned type = kind >> 4;
    uint32_t v = 0;
    uint32_t flags = 0;
    symbol *P = nullptr;
    ref_name = name;
    ref_psect = nullptr;
    uint32_t location = link_location + offset;
    switch (type) {
    case 0x0: case 0x8:
        break;
    case 0x1: case 0xD: case 0x4: case 0x5:
        P = ref_set_psect(name);
        v = psect_value(P) - ((type == 4 || type == 5) ? location : 0);
        flags = P->flags;
        break;
    case 0x2: case 0xE: case 0x6: {
        symbol *S = ref_set_symbol(name);
        if (!S->psect)
            return;
        P = ref_psect;
        v = symbol_value(S) - (type == 6 ? location : 0);
        flags = P ? P->flags : 0;
        break;
    }
    case 0x9:
        P = ref_set_psect(name);
        P->flags |= OBJ_SIGNATURE;
        v = P->ps->selector;
        flags = P->flags;
        break;
    case 0xA: {
        ref_set_symbol(name);
        if (!ref_psect)
            return;
        P = ref_psect;
        P->flags |= OBJ_SIGNATURE;
        v = P->ps->selector;
        flags = P->flags;
        break;
    }
    default:
        msg_report(514, kind);
        return;
    }
    bool keep = (kind < 0x80 ? opt.keep_reloc : opt.keep_reloc_high) && P && !(P->flags & OBJ_ABSOLUTE);
    uint8_t *e = keep ? keep_reserve(P->name) : nullptr;
    patch_field(offset, kind, v, flags, type != 0 && type != 8);
    if (e)
        keep_fill(e, offset, kind & 0x8F, P->name);
}

// With -R: symbol references become references to their psect and every
// entry stays in the output. A symbol's field first gets its value less the
// psect's current size, and the psect reference then adds that size back:
// the field holds the symbol's offset in the combined psect.
static void reloc_relocatable(unsigned offset, unsigned kind, const char *name)
{
    std::string kept = name;
    uint32_t v = 0;
    unsigned type = kind >> 4;
    if (type == 0x2 || type == 0x6 || type == 0xA || type == 0xE) {
        symbol *S = sym_enter(name, OBJ_GLOBAL);
        symbol *P = S->psect && S->psect->ps ? S->psect : nullptr;
        if (sym_kind(S) != SK_UNDEFINED && P) {
            if (!((S->flags | P->flags) & OBJ_ABSOLUTE))
                kind = (kind & ~0x30) | 0x10;
            kept = P->name;
            v = S->value - ((P->flags & OBJ_OVERLAID) ? 0 : P->ps->size);
        }
    }
    if (kind < 0x10)
        return;
    uint8_t *e = keep_reserve(kept.c_str());
    type = kind >> 4;
    if (type == 0x1 || type == 0x4 || type == 0x5) {
        symbol *P = sym_enter(kept.c_str(), OBJ_PSECT | OBJ_GLOBAL);
        v += (P->flags & OBJ_OVERLAID) ? 0 : P->ps->size;
    } else if (type >= 0xB) {
        keep_fill(e, offset, kind, kept.c_str());
        msg_report(514, kind);
        return;
    }
    ref_name = kept.c_str();
    ref_psect = nullptr;
    patch_field(offset, kind, v, 0, true);
    keep_fill(e, offset, kind, kept.c_str());
}

static bool is_complex(unsigned kind)
{
    unsigned t = kind >> 4;
    return t == 0x3 || t == 0x7 || t == 0xF;
}

// False when the expression failed: the rest of the record cannot be read.
static bool reloc_complex(obj_cursor &c, unsigned offset, unsigned kind)
{
    if (opt.relocatable || opt.keep_reloc)
        msg_report(510);
    uint32_t v;
    ref_name = nullptr;
    ref_psect = nullptr;
    eval_result r = eval_reloc_expr(c, offset, &v);
    if (r != EVAL_VALUE)
        return r == EVAL_NO_PATCH;
    if ((kind >> 4) == 0x7)
        v -= link_location + offset;
    patch_field(offset, kind, v, 0, false);
    return true;
}

void reloc_record()
{
    obj_cursor c = cur_of(rec);
    while (!cur_at_end(c)) {
        unsigned offset = cur_u16(c);
        unsigned kind = cur_u8(c);
        if (c.bad)
            break;
        if (is_complex(kind)) {
            if (!reloc_complex(c, offset, kind))
                break;
            continue;
        }
        const char *name = cur_name(c);
        if (c.bad)
            break;
        if (opt.relocatable)
            reloc_relocatable(offset, kind, name);
        else
            reloc_simple(offset, kind, name);
    }
    if (c.bad)
        report_bad_record();
}

// CONDITION: a value of 0 skips the rest of the module up to its END.
void condition_record()
{
    obj_cursor c = cur_of(rec);
    uint32_t v;
    unsigned saved = link_location;
    link_location = 0;
    eval_result r = eval_reloc_expr(c, 0, &v);
    link_location = saved;
    if (r == EVAL_VALUE && v == 0)
        skip_flag = true;
    else if (r == EVAL_BAD && c.bad)
        report_bad_record();
}

// ---------------------------------------------------------------------------
// Listing fix-up: the assembler's intermediate listing (text chunks, fixups
// and conditions in record form) becomes the final listing with the linked
// values filled in.
// ---------------------------------------------------------------------------
static void listfix_print(FILE *out, const uint8_t *field, unsigned digits)
{
    uint16_t w = get_u16(field);
    uint32_t l = get_u32(field);
    switch (digits) {
    case 1: fprintf(out, "%1.1X", field[0] & 0xF); break;
    case 2: fprintf(out, "%2.2X", field[0]); break;
    case 3: fprintf(out, "%3.3X", w & 0xFFF); break;
    case 4: fprintf(out, "%4.4X", w); break;
    case 5: fprintf(out, "%5.5lX", (unsigned long)(l & 0xFFFFF)); break;
    case 6: fprintf(out, "%6.6lX", (unsigned long)(l & 0xFFFFFF)); break;
    case 7: fprintf(out, "%7.7lX", (unsigned long)(l & 0xFFFFFFF)); break;
    case 8: fprintf(out, "%8.8lX", (unsigned long)l); break;
    default: break;
    }
}

// One LISTFIX record: the 4-byte field patched by its expression, printed.
static void listfix_record(FILE *out)
{
    if (rec.length < 7) {
        report_bad_record();
        return;
    }
    uint8_t field[4];
    memcpy(field, rec.body, 4);
    unsigned offset = rec.body[4], kind = rec.body[5], digits = rec.body[6];
    obj_cursor c = cur_open(rec.body + 7, rec.length - 7);
    uint32_t v;
    field_data = field;
    field_length = 4;
    if (eval_reloc_expr(c, offset, &v) == EVAL_VALUE) {
        if ((kind >> 4) == 0x7)
            v -= link_location + offset;
        patch_field(offset, kind, v, 0, false);
    }
    field_data = nullptr;
    listfix_print(out, field, digits);
}

static void listing_copy(FILE *in, FILE *out)
{
    bool suppress = false;
    while (read_record_header(in)) {
        if (rec.type == REC_IDENT)
            continue;
        if (rec.type == REC_CONDEXPR) {
            if (!suppress)
                fwrite(rec.body, 1, rec.length, out);
        } else if (rec.type == REC_LISTFIX) {
            if (!suppress)
                listfix_record(out);
        } else if (rec.type == REC_CONDITION) {
            obj_cursor c = cur_of(rec);
            uint32_t v;
            if (eval_reloc_expr(c, 0, &v) == EVAL_VALUE)
                suppress = v != 0;
        } else {
            break;
        }
    }
}

static bool same_file(const std::string &a, const std::string &b)
{
    return a == b || os_same_file(a.c_str(), b.c_str());
}

// The final listing is named by the object, so it may name anything: it
// must never be written over an input (the intermediate listing among them)
// or over another output of the link.
static void listing_check_target(const std::string &from, const std::string &to)
{
    if (same_file(to, from))
        msg_report(398);
    for (const input_file &in : inputs)
        if (same_file(to, in.name))
            msg_report(398);
    if (same_file(to, opt.output_name) || (!opt.map_name.empty() && same_file(to, opt.map_name)) ||
        (sym_file && same_file(to, opt.sym_name)))
        msg_report(378, "list", to.c_str());
}

void fix_listing()
{
    if (opt.norlf || opt.relocatable)
        return;
    obj_cursor c = cur_of(rec);
    std::string from = cur_name(c), to = cur_name(c);
    if (c.bad) {
        report_bad_record();
        return;
    }
    FILE *in = fopen(from.c_str(), "rb");
    if (!in) {
        char *dir = os_path_dirname(inputs[input_index].name.c_str());
        if (dir) {
            from = std::string(dir) + os_dir_sep + from;
            to = std::string(dir) + os_dir_sep + to;
            in = fopen(from.c_str(), "rb");
            free(dir);
        }
        if (!in) {
            msg_report(524, from.c_str());
            return;
        }
    }
    listing_check_target(from, to);
    FILE *out = fopen(to.c_str(), "w");
    if (!out) {
        msg_report(524, to.c_str());
        fclose(in);
        return;
    }
    setvbuf(in, nullptr, _IOFBF, LIST_BUFFER_SIZE);
    setvbuf(out, nullptr, _IOFBF, LIST_BUFFER_SIZE);
    flush_all_text();
    obj_record saved = rec;
    unsigned saved_count = rec_count;
    bool limit = record_limit_pause();
    uint32_t saved_location = link_location;
    link_location = 0;
    listing_copy(in, out);
    link_location = saved_location;
    record_limit_resume(limit);
    rec = saved;
    rec_count = saved_count;
    fclose(in);
    if (ferror(out) | fclose(out))
        msg_report(413, "list file");
}
