// String constants, initialisers and pragma records of the intermediate code,
// and the merging of strings that are the tail of a longer string.
//
// "[a n b b b ... ]" gives string n (moved past earlier inputs' strings) its
// bytes; its label STR_<n> becomes a const char array. "[i name ...]" keeps
// an object's initial value(s) for data placement, dropping initialisers that
// are all zero. "[p ...]" holds sub-records chosen by the first letter of a
// token; each takes a fixed number of tokens, and a token left over is read
// as a sub-record of its own.
#include "kestrel.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

long string_record_number(long n);
void statement_to_function(tree_node *t);
void generate_outside(tree_node *t);

// Strings that keep their own storage, and strings merged into a host.
vector_t *strings_kept;
vector_t *strings_merged;
// Pending switch kind of the "w" pragma (0 auto, 1 simple, 2 search, 3 direct).
int switch_kind;
// Return offset of the "r" pragma.
uint8_t return_offset = 4;
// Interrupt-level mask of the "l" pragmas; bit 0 is the main level.
uint32_t intlevel_mask = 1;
// Set by the "mainexit" pragma.
bool main_exit_flag;
// Registers for variables ("v" pragma): always empty.
regset *var_regs;
// Psect renamings of the "s" pragma: "old=new" cut into two names.
struct psect_rename { char *old_name; char *new_name; };
static psect_rename psect_table[30];
// Stack size of "USR_MODE" or "SYS_MODE" given already.
static bool mode_stack_given;
// Byte buffer of "[a" records, kept for the next record.
static uint8_t *string_bytes;
static uint32_t string_bytes_size;

static const int TOKEN_SIZE = 511;

// "[a": one string constant.
void read_a_record()
{
    char tok[TOKEN_SIZE + 1];
    if (!ic_read_token(tok)) {
        msg_report(714);
        return;
    }
    long number = string_record_number(atol(tok));
    if (!string_bytes) {
        string_bytes_size = 256;
        string_bytes = (uint8_t *)xmalloc(string_bytes_size);
    }
    uint32_t length = 0;
    for (;;) {
        if (!ic_read_token(tok)) {
            msg_report(714);
            return;
        }
        if (tok[0] == ']')
            break;
        if (length == string_bytes_size) {
            string_bytes_size *= 2;
            string_bytes = (uint8_t *)xrealloc(string_bytes, string_bytes_size);
        }
        string_bytes[length++] = (uint8_t)atoi(tok);
    }
    string_rec *r = (string_rec *)xmalloc(sizeof(string_rec));
    r->number = number;
    r->length = length;
    r->bytes = (uint8_t *)xmalloc(length + 1);
    memcpy(r->bytes, string_bytes, length);
    std::string name = str_printf("STR_%ld", number);
    int saved = scope_level;
    scope_level = 0;
    cg_symbol *s = sym_new(name.c_str());
    scope_level = saved;
    sym_insert(s);
    s->cls = 'F';
    s->storage = ST_STATIC;
    s->flags |= SF_STRING;
    type_desc *t = type_derive(type_qualify(basic_type_named("c"), Q_CONST), TY_ARRAY);
    type_unqualify(t)->count = length;
    s->type = t;
    r->label = s;
    if (!strings_kept)
        strings_kept = vec_new(32);
    vec_push(strings_kept, r);
}

// An initialiser expression that is a zero constant (through one conversion).
static bool zero_element(tree_node *t)
{
    return t && t->op != OP_LABEL && t->op != OP_EMPTY && is_zero_const(t);
}

// Reads the element lines of an aggregate initialiser into a list.
static vector_t *read_aggregate(tree_node *first, uint32_t *bytes, bool *all_zero)
{
    vector_t *list = vec_new(16);
    int depth = 0;
    tree_node *t = first;
    for (;;) {
        if (!t)
            break;
        vec_push(list, t);
        if (t->op == OP_LABEL)
            depth++;
        else if (t->op == OP_EMPTY)
            depth--;
        else {
            *bytes += node_size(t);
            if (!zero_element(t))
                *all_zero = false;
        }
        if (depth <= 0)
            break;
        t = ic_read_expr();
    }
    return list;
}

// "[i name expressions ]": the initial value of a static object.
void read_i_record()
{
    char tok[TOKEN_SIZE + 1];
    if (!ic_read_token(tok)) {
        msg_report(714);
        return;
    }
    FILE *sdb = run.sdb;
    run.sdb = nullptr;
    cg_symbol *s = sym_lookup(tok);
    s->flags &= ~SF_UNDEF;
    tree_node *t = ic_read_expr();
    while (t && t->op == OP_ASM) {
        generate_outside(t);
        t = ic_read_expr();
    }
    bool is_const = type_qualifiers(s->type) & Q_CONST;
    if (!is_const && zero_element(t)) {
        tree_free(t);
    } else if (t) {
        if (type_qualifiers(s->type) & Q_PERSISTENT)
            msg_report(1081, s->src_name);
        if (!type_is_aggregate(s->type)) {
            s->init_value = t;
            s->init_list = vec_new(1);
            vec_push(s->init_list, t);
        } else {
            uint32_t bytes = 0;
            bool all_zero = true;
            s->init_list = read_aggregate(t, &bytes, &all_zero);
            type_desc *at = type_unqualify(s->type);
            if (at->kind == TY_ARRAY && !at->count) {
                uint32_t esize = type_size(at->sub);
                if (!esize)
                    msg_report(1082);
                else
                    at->count = (bytes + esize - 1) / esize;
            }
            if (!is_const && all_zero) {
                for (uint32_t i = 0; i < vec_count(s->init_list); i++)
                    tree_free((tree_node *)vec_get(s->init_list, i));
                vec_free(s->init_list);
                s->init_list = nullptr;
            }
        }
    }
    run.sdb = sdb;
    ic_expect_close();
}

// Highest message number a message file can describe.
static const unsigned MESSAGE_MAX = 10000;

// Reads the numbers of a message list (separated by , ( ) :) and gives each
// the state; the list ends at the first number that reads as 0. Numbers no
// message can have are passed over, so they cannot grow the state tables.
static void message_list(const char *list, int state)
{
    const char *p = list;
    for (;;) {
        while (*p && strchr(",():", *p))
            p++;
        unsigned long n = strtoul(p, nullptr, 10);
        if (!n)
            return;
        if (n <= MESSAGE_MAX)
            msg_state_op((unsigned)n, state);
        while (*p && !strchr(",():", *p))
            p++;
    }
}

// Reads a name token and gives its symbol; null at the end of the record.
static cg_symbol *pragma_symbol(char *tok)
{
    if (!ic_read_token(tok) || tok[0] == ']')
        return nullptr;
    return sym_lookup(tok);
}

static long pragma_constant()
{
    tree_node *t = ic_read_expr();
    long v = t && t->op == OP_CONST ? t->value : 0;
    tree_free(t);
    return v;
}

// "b": stack size; the token is cut into a name and a hexadecimal value.
static void pragma_stack_size(const char *tok)
{
    size_t cut = strcspn(tok, " ,\r\t()");
    if (!tok[cut]) {
        msg_report(735, tok);
        return;
    }
    std::string name(tok, cut);
    if (name == "USR_MODE" || name == "SYS_MODE") {
        if (mode_stack_given) {
            msg_report(736);
            return;
        }
        mode_stack_given = true;
    }
    unsigned long v = strtoul(tok + cut + 1, nullptr, 16);
    if (!run.printf_pass)
        printf("\tGLOBAL __%s\n\t__%s\tEQU 0%lxh\n", name.c_str(), name.c_str(), v);
}

static void pragma_switch(const char *word)
{
    static const char *const kinds[] = {"auto", "simple", "search", "direct"};
    for (int k = 0; k < 4; k++)
        if (!strcmp(word, kinds[k])) {
            switch_kind = k;
            return;
        }
    msg_report(737, word);
}

static void pragma_psect(const char *text)
{
    if (!run.printf_pass)
        printf(";\tpragma psect %s\n", text);
    const char *eq = strchr(text, '=');
    if (!eq) {
        msg_report(733, text);
        return;
    }
    for (psect_rename &r : psect_table)
        if (!r.old_name) {
            r.old_name = xstrdup(std::string(text, (size_t)(eq - text)).c_str());
            r.new_name = xstrdup(eq + 1);
            return;
        }
    msg_report(734);
}

const char *psect_map_name(const char *name)
{
    for (psect_rename &r : psect_table)
        if (r.old_name && !strcmp(r.old_name, name))
            return r.new_name;
    return name;
}

// One sub-record chosen by the letter; false when the record ended.
static bool pragma_sub_record(char letter, char *tok)
{
    cg_symbol *s;
    switch (letter) {
    case 'a':
        if (!(s = pragma_symbol(tok)))
            return false;
        for (uint32_t *size : {&s->call_autos, &s->call_params}) {
            long v = pragma_constant();
            if (v > (long)*size)
                *size = (uint32_t)v;
        }
        return true;
    case 'b':
        if (!ic_read_token(tok) || tok[0] == ']')
            return false;
        pragma_stack_size(tok);
        return true;
    case 'c':
        if (!(s = pragma_symbol(tok)) || !ic_read_token(tok) || tok[0] == ']')
            return false;
        s->call_name = xstrdup(tok);
        return true;
    case 'e': case 'g': case 'n': case 'y': {
        if (!ic_read_token(tok))
            return false;
        if (tok[0] == ']') {
            if (letter == 'n' || letter == 'y')
                msg_state_op(0, letter == 'n' ? 7 : 8);
            return false;
        }
        int state = letter == 'e' ? 3 : letter == 'g' ? 2 : letter == 'n' ? 1 : 0;
        message_list(tok, state);
        return true;
    }
    case 'f':
        if (!(s = pragma_symbol(tok)))
            return false;
        s->printf_mask |= (uint32_t)pragma_constant();
        return true;
    case 'i':
        if (!(s = pragma_symbol(tok)))
            return false;
        s->flags |= SF_INLINE;
        objset_clear(s->used_regs);
        return true;
    case 'k': case 'o':
        return true;
    case 'l':
        intlevel_mask |= 1u << (pragma_constant() & 7);
        return true;
    case 'p':
        pragma_constant();
        struct_packing = 0;
        return true;
    case 'r': {
        long v = pragma_constant();
        if (v > 255)
            msg_report(738, (int)return_offset);
        return_offset = (uint8_t)v;
        return true;
    }
    case 's':
        if (!ic_read_token(tok) || tok[0] == ']')
            return false;
        pragma_psect(tok);
        return true;
    case 'u':
        if (!(s = pragma_symbol(tok)) || !ic_read_token(tok) || tok[0] == ']')
            return false;
        if (regset *r = regset_parse_list(tok)) {
            objset_assign(s->used_regs, r);
            objset_free(r);
        }
        return true;
    case 'v':
        if (!ic_read_token(tok) || tok[0] == ']')
            return false;
        if (regset *r = regset_parse_list(tok)) {
            objset_intersect_with(r, regset_of(0));
            objset_free(var_regs);
            var_regs = r;
        }
        return true;
    case 'w':
        if (!ic_read_token(tok) || tok[0] == ']')
            return false;
        pragma_switch(tok);
        return true;
    default:
        msg_report(715, letter);
        return true;
    }
}

void read_p_record()
{
    char tok[TOKEN_SIZE + 1];
    while (ic_read_token(tok)) {
        if (tok[0] == ']')
            return;
        char letter = tok[0];
        if (letter == 'm') {
            if (!strcmp(tok, "mainexit")) {
                main_exit_flag = true;
                continue;
            }
            letter = 'w';
        }
        if (!pragma_sub_record(letter, tok))
            return;
    }
    msg_report(714);
}

// Sort order of tail merging: bytes compared from the last backwards as
// signed 8-bit values, larger first; a string that goes on comes first.
static int tail_compare(const void *pa, const void *pb)
{
    const string_rec *a = *(string_rec *const *)pa, *b = *(string_rec *const *)pb;
    uint32_t i = a->length, j = b->length;
    while (i && j) {
        int x = (int8_t)a->bytes[--i], y = (int8_t)b->bytes[--j];
        if (x != y)
            return x > y ? -1 : 1;
    }
    if (i || j)
        return i ? -1 : 1;
    return 0;
}

void strings_merge_tails()
{
    strings_merged = vec_new(16);
    if (!strings_kept || vec_count(strings_kept) < 2)
        return;
    uint32_t n = vec_count(strings_kept);
    os_qsort(strings_kept->items, n, sizeof(void *), tail_compare);
    vector_t *kept = vec_new(n);
    string_rec *host = (string_rec *)vec_get(strings_kept, 0);
    vec_push(kept, host);
    for (uint32_t k = 1; k < n; k++) {
        string_rec *s = (string_rec *)vec_get(strings_kept, k);
        uint32_t v = host->length, w = s->length;
        bool fits = w <= v && (w || !v);
        if (fits && !memcmp(s->bytes, host->bytes + (v - w), w)) {
            s->host = host;
            s->offset = v - w;
            vec_push(strings_merged, s);
        } else {
            host = s;
            vec_push(kept, s);
        }
    }
    vec_free(strings_kept);
    strings_kept = kept;
}

void records_reset()
{
    strings_kept = strings_merged = nullptr;
    switch_kind = 0;
    return_offset = 4;
    intlevel_mask = 1;
    main_exit_flag = false;
    mode_stack_given = false;
    for (psect_rename &r : psect_table)
        r = {};
}
