// Symbol output: one symbol at a time to the symbol file and, as SYM or XSYM
// entries, to the output object.
//
// The symbol file has three forms: the short one (-D: value and name of
// ordinary and undefined symbols), the full one (-H: name, value and the
// psect's load offset, file names on lines of their own) and the full one
// with class names (-H+). The global symbols are written in table order at
// the end of placement, the module symbols during pass 2.
#include "heron.h"

#include <cstring>

FILE *sym_file;                    // the symbol file, null when none
static std::string last_file;      // file name written last into the symbol file

static void symfile_write(const char *name, uint32_t value, unsigned kind, symbol *P)
{
    if (opt.sym_short && !opt.sym_full) {
        if (kind == SK_ORDINARY || kind == SK_UNDEFINED)
            fprintf(sym_file, "%4.4lX %s\n", (unsigned long)value, name);
        return;
    }
    if (avmap_loaded) {
        if (P)
            fprintf(sym_file, "SY %s %s:%lX\n", name, avmap_lookup(P->name),
                    (unsigned long)(long)(int32_t)(value / psect_delta(P->ps)));
        else
            fprintf(sym_file, "AS %s %s:%lX\n", name, avmap_lookup(""), (unsigned long)value);
        return;
    }
    if (!current_file.empty() && current_file != last_file) {
        fprintf(sym_file, "%s\n", current_file.c_str());
        last_file = current_file;
    }
    switch (kind) {
    case SK_REGISTER:
        fprintf(sym_file, "%s reg %lX\n", name, (unsigned long)value);
        break;
    case SK_STACK:
        fprintf(sym_file, "%s stk %ld\n", name, (long)(int32_t)value);
        break;
    case SK_FILE:
        fprintf(sym_file, "%s\n", name);
        break;
    default:
        fprintf(sym_file, "%s %X", name, (unsigned)value);
        if (P) {
            fprintf(sym_file, " %X", (unsigned)(P->ps->load - P->ps->link));
            if (opt.sym_classes)
                fprintf(sym_file, " %s", P->ps->class_sym ? P->ps->class_sym->name : "ABS");
        }
        fputc('\n', sym_file);
        break;
    }
}

static void object_write(const char *name, uint32_t value, uint32_t flags, symbol *P)
{
    bool extended = opt.selector_given;
    const char *psect = (P && !opt.symbols_only) ? P->name : "";
    unsigned size = 4 + 2 + (extended ? 2 : 0) + (unsigned)strlen(psect) + 1 + (unsigned)strlen(name) + 1;
    if (size > OBJ_MAX_BODY) {
        msg_report(1391, name);
        return;
    }
    uint8_t *p = reserve_output_entry(extended ? REC_XSYM : REC_SYM, size);
    put_u32(p, value);
    put_u16(p + 4, (uint16_t)flags);
    p += 6;
    if (extended) {
        put_u16(p, (uint16_t)(P ? P->ps->selector : 0));
        p += 2;
    }
    memcpy(p, psect, strlen(psect) + 1);
    p += strlen(psect) + 1;
    memcpy(p, name, strlen(name) + 1);
}

void write_symbol(const char *name, uint32_t value, uint32_t flags, symbol *P)
{
    if (P && P->ps) {
        value /= psect_delta(P->ps);
        P = psect_of(P);
    }
    if (sym_file && strncmp(name, "fast_interrupt", 14) != 0)
        symfile_write(name, value, flags & OBJ_KIND_MASK, P);
    if (opt.binary || (opt.symbols_only && (flags & 6)))
        return;
    object_write(name, value, flags, P);
}

// The global symbols, in the order of the table's slots.
void write_global_symbols()
{
    for (unsigned i = 0; i < SYM_TABLE_SIZE; i++) {
        symbol *s = sym_table[i];
        if (s && is_plain_symbol(s))
            write_symbol(s->name, s->value, s->flags & 0xFFFF, s->psect && s->psect->ps ? s->psect : nullptr);
    }
}
