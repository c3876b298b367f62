// printf: checks of calls to functions marked by #pragma printf_check.
// A literal format is scanned specifier by specifier: each conversion
// names the argument type it expects and sets its feature bits; the
// feature mask of all calls tells the code generator (and through it the
// driver) which parts of printf the program needs. Without a literal
// format the mask gets every feature the argument types could need.
#include "plover.h"

#include <cstring>

enum { ARG_NONE, ARG_INT, ARG_LONG, ARG_LLONG, ARG_DOUBLE, ARG_PTR_CHAR, ARG_PTR, ARG_PTR_INT,
       ARG_PTR_LONG };

static tree_t *printf_strip(tree_t *e)
{
    while (e && e->op == O_CONV)
        e = e->left;
    return e;
}

// Feature bits for an argument when the format is not known.
static uint32_t printf_unknown_bits(tree_t *a)
{
    tree_t *e = printf_strip(a);
    if (type_is_ptr(e->type)) {
        int b = type_base_code(type_unfold(e->type)->sub);
        return (b & ~1) == B_CHAR ? 0x5C008 : 0x1C008;
    }
    int b = type_base_code(e->type);
    if (b == B_FLOAT || b == B_DOUBLE)
        return 0x1B86A;
    if ((b & ~1) == B_LONG || (b & ~1) == B_SHORTLONG)
        return 0x6185BD;
    return 0x6B85AD;
}

static void printf_check_arg(int want, tree_t *a)
{
    tree_t *e = printf_strip(a);
    int b = type_base_code(e->type);
    bool ptr = type_is_ptr(e->type);
    switch (want) {
    case ARG_INT:
        if (ptr || !type_is_integer(e->type) || type_size(e->type) > type_size(type_base(B_INT)))
            msg_report(328);
        break;
    case ARG_LONG:
        if (ptr || (b & ~1) != B_LONG)
            msg_report(326);
        break;
    case ARG_LLONG:
        if (ptr || (b & ~1) != B_LLONG)
            msg_report(327);
        break;
    case ARG_DOUBLE:
        if (ptr || (b != B_FLOAT && b != B_DOUBLE))
            msg_report(329);
        break;
    case ARG_PTR_CHAR:
        if (!ptr || (type_base_code(type_unfold(e->type)->sub) & ~1) != B_CHAR)
            msg_report(330, "char");
        break;
    case ARG_PTR_INT:
        if (!ptr || (type_base_code(type_unfold(e->type)->sub) & ~1) != B_INT)
            msg_report(330, "int");
        break;
    case ARG_PTR_LONG:
        if (!ptr || (type_base_code(type_unfold(e->type)->sub) & ~1) != B_LONG)
            msg_report(330, "long");
        break;
    case ARG_PTR:
        if (!ptr)
            msg_report(330, "void");
        break;
    default:
        break;
    }
}

// One conversion specifier starting after '%'; appends the expected
// argument kinds; returns the index after it. A specifier that cannot be
// read sets *bad: the argument kinds after it are not known.
static size_t printf_conversion(const std::string &f, size_t i, uint32_t *mask, std::vector<int> &want,
                                bool *bad)
{
    static const struct { char c; uint32_t bit; } flags[] = {
        {' ', 0x1}, {'+', 0x2}, {'0', 0x4}, {'-', 0x8}, {'#', 0x20},
    };
    for (bool more = true; more && i < f.size();) {
        more = false;
        for (const auto &fl : flags)
            if (f[i] == fl.c) {
                *mask |= fl.bit;
                i++;
                more = true;
            }
    }
    if (i < f.size() && f[i] == '*') {
        *mask |= 0x28000;
        want.push_back(ARG_INT);
        i++;
    }
    while (i < f.size() && isdigit((unsigned char)f[i])) {
        *mask |= 0x8000;
        i++;
    }
    if (i < f.size() && f[i] == '.') {
        i++;
        if (i < f.size() && f[i] == '*') {
            *mask |= 0x30000;
            want.push_back(ARG_INT);
            i++;
        }
        while (i < f.size() && isdigit((unsigned char)f[i])) {
            *mask |= 0x10000;
            i++;
        }
    }
    int longs = 0, shorts = 0, others = 0;
    while (i < f.size() && strchr("hlbBLjztq", f[i])) {
        char m = f[i++];
        if (m == 'b' || m == 'B') {
            // the byte modifier of other libraries: the standard spells it hh
            msg_report(1299, std::string(1, m).c_str(), "hh");
            *mask |= 0x2000000;
            if (longs)
                msg_report(974);
            shorts += 2;
        } else if (m == 'h' || m == 'l') {
            if ((m == 'h' && longs) || (m == 'l' && shorts))
                msg_report(974);
            (m == 'h' ? shorts : longs)++;
        } else {
            others++;
        }
    }
    if (longs)
        *mask |= 0x10;
    if (i >= f.size()) {
        msg_report(969);
        *bad = true;
        return i;
    }
    char c = f[i++];
    int int_kind = longs >= 2 ? ARG_LLONG : longs ? ARG_LONG : ARG_INT;
    switch (c) {
    case 'd': case 'i': case 'o': case 'u': case 'x': case 'X':
        if (others)
            msg_report(972);
        *mask |= c == 'd' || c == 'i' ? 0x80 : c == 'o' ? 0x100 : c == 'u' ? 0x400
               : c == 'x' ? 0x400000 : 0x200000;
        want.push_back(int_kind);
        break;
    case 'c': *mask |= 0x80000; want.push_back(ARG_INT); break;
    case 's': *mask |= 0x40000; want.push_back(ARG_PTR_CHAR); break;
    case 'p': *mask |= 0x4000; want.push_back(ARG_PTR); break;
    case 'n':
        if (shorts || others)
            msg_report(973);
        *mask |= 0x200;
        want.push_back(longs ? ARG_PTR_LONG : ARG_PTR_INT);
        break;
    case 'e': case 'E': case 'f': case 'g': case 'G':
        if (longs || shorts || others)
            msg_report(971);
        *mask |= c == 'e' ? 0x800 : c == 'E' ? 0x840 : c == 'f' ? 0x2000 : c == 'g' ? 0x1000 : 0x1040;
        want.push_back(ARG_DOUBLE);
        break;
    default:
        // a flag, width or precision character after its place
        if (strchr(" +0-#*.123456789", c))
            msg_report(970);
        else
            msg_report(975);
        *bad = true;
        break;
    }
    return i;
}

uint32_t expr_printf_check(tree_t *format, std::vector<tree_t *> &args)
{
    tree_t *f = printf_strip(format);
    uint32_t mask = 0;
    if (!f || f->op != O_STRING) {
        mask = 0x100200;
        for (tree_t *a : args)
            mask |= printf_unknown_bits(a);
        return mask;
    }
    const std::string &text = f->text;
    std::vector<int> want;
    bool bad = false;
    for (size_t i = 0; i < text.size() && !bad;) {
        if (text[i++] != '%')
            continue;
        if (i < text.size() && text[i] == '%') {
            mask |= 0x100000;
            i++;
            continue;
        }
        i = printf_conversion(text, i, &mask, want, &bad);
    }
    if (bad) {
        msg_report(325);
        return mask;
    }
    size_t n = want.size() < args.size() ? want.size() : args.size();
    for (size_t k = 0; k < n; k++)
        printf_check_arg(want[k], args[k]);
    if (args.size() > want.size())
        msg_report(324);
    else if (args.size() < want.size())
        msg_report(331);
    return mask;
}
