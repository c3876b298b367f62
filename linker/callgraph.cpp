// The call graph: overlaying the fixed automatic-variable and argument blocks
// of functions that can never be active at the same time.
//
// Each function with call information has two nodes: its argument node, whose
// first child is its automatic node. A call makes the callee's argument node
// a child of the caller's automatic (or argument) node; indirect calls go
// through list nodes; the roots hang under one root-list node. Walking from
// each root gives every block the lowest offset above all blocks of its
// callers, so blocks of functions on different call paths share memory, and
// roots never share it with each other. The offsets become the block
// symbols (prefix + function name) in the configured psect.
#include "heron.h"

#include <algorithm>
#include <cstring>
#include <map>

// Node flags.
const uint16_t CG_ARG = 0x1;        // argument node
const uint16_t CG_ON_PATH = 0x2;    // on the current walk path
const uint16_t CG_SHOWN = 0x4;      // already in a recursion report
const uint16_t CG_LIST = 0x8;       // indirect-call list node
const uint16_t CG_ROOTS = 0x10;     // the root list
const uint16_t CG_REACHED = 0x20;   // reached from a root
const uint16_t CG_DONE = 0x40;      // block symbol defined
const uint16_t CG_IGNORED = 0x100;  // a size-0 recursion
const uint16_t CG_CRITICAL = 0x200; // on a critical path
const uint16_t CG_BUSY = 0x400;     // on the current listing path
const uint16_t CG_LISTED = 0x800;   // already listed

struct cg_node {
    symbol *fn;                       // function, null for list and root nodes
    uint16_t flags;
    std::vector<cg_node *> children;
    uint32_t size;
    uint32_t offset;
    uint32_t extent;
    unsigned list;                    // list number of a list node
    unsigned root;                    // root index it was reached from
    cg_node *parent;                  // during a walk
};

// The two nodes of a function and the roots it may be reached from.
struct cg_func {
    cg_node *arg;
    cg_node *autos;
    std::vector<unsigned> breaks;     // FNBREAK: allowed root indexes
};

static std::map<symbol *, cg_func *> functions;          // functions with nodes, by symbol
static std::map<unsigned, cg_node *> lists;               // list number -> its argument node
static std::map<unsigned, std::vector<symbol *>> groups;  // INDIRLIST groups
static cg_node root_list = {nullptr, 0x50, {}, 0, 0, 0, 0, 0, nullptr};
static std::string conf_psect;       // FNCONF: psect of the blocks
static std::string conf_auto;        // prefix of automatic blocks
static std::string conf_arg;         // prefix of argument blocks
static unsigned conf_depth;          // maximum call depth, 0 none
static bool conf_seen;

static cg_node *node_new(symbol *fn, uint16_t flags)
{
    return new cg_node{fn, flags, {}, 0, 0, 0, 0, 0, nullptr};
}

static void add_child(cg_node *parent, cg_node *child)
{
    if (std::find(parent->children.begin(), parent->children.end(), child) == parent->children.end())
        parent->children.push_back(child);
}

static cg_func *call_nodes_of(symbol *s)
{
    auto found = functions.find(s);
    if (found != functions.end())
        return found->second;
    cg_func *f = new cg_func{node_new(s, CG_ARG), node_new(s, 0), {}};
    f->arg->children.push_back(f->autos);
    functions[s] = f;
    return f;
}

// which = 1: the list's argument node; 0: its member node.
static cg_node *indirect_list(unsigned number, int which)
{
    cg_node *&arg = lists[number];
    if (!arg) {
        arg = node_new(nullptr, CG_LIST | CG_ARG);
        arg->list = number;
        cg_node *member = node_new(nullptr, CG_LIST);
        member->list = number;
        arg->children.push_back(member);
    }
    return which ? arg : arg->children[0];
}

static unsigned add_root(const char *name)
{
    symbol *s = find_symbol(name, OBJ_GLOBAL);
    if (!s) {
        msg_report(469, name);
        return 0;
    }
    cg_node *arg = call_nodes_of(s)->arg;
    auto at = std::find(root_list.children.begin(), root_list.children.end(), arg);
    if (at != root_list.children.end())
        return (unsigned)(at - root_list.children.begin());
    root_list.children.push_back(arg);
    return (unsigned)root_list.children.size() - 1;
}

// A function named in an FNINFO sub-record; null (and the message) when unknown.
static cg_func *named_function(const char *name, unsigned message)
{
    symbol *s = find_symbol(name, OBJ_GLOBAL);
    if (!s) {
        msg_report(message, name);
        return nullptr;
    }
    return call_nodes_of(s);
}

// One FNINFO sub-record at the cursor; false when the record is malformed.
static bool fninfo_entry(obj_cursor &c)
{
    unsigned kind = cur_u8(c);
    bool calls = !opt.no_callgraph;
    switch (kind) {
    case 1: case 2: {
        const char *caller = cur_name(c), *callee = cur_name(c);
        if (c.bad || !calls)
            break;
        cg_func *a = named_function(caller, 468), *b = named_function(callee, 468);
        if (a && b)
            add_child(kind == 1 ? a->autos : a->arg, b->arg);
        break;
    }
    case 3: case 7: {
        const char *name = cur_name(c);
        unsigned n = cur_u16(c);
        if (c.bad || !calls)
            break;
        if (cg_func *f = named_function(name, 466))
            add_child(kind == 3 ? f->autos : f->arg, indirect_list(n, 1));
        break;
    }
    case 4: {
        const char *name = cur_name(c);
        if (c.bad)
            break;
        if (cg_func *f = named_function(name, 467))
            add_child(indirect_list(f->arg->fn->signature, 0), f->arg);
        break;
    }
    case 5: {
        const char *name = cur_name(c);
        uint32_t s1 = cur_u32(c), s2 = cur_u32(c);
        if (c.bad)
            break;
        if (cg_func *f = named_function(name, 470)) {
            f->autos->size = std::max(f->autos->size, s1);
            f->arg->size = std::max(f->arg->size, s2);
            if (!calls)
                add_root(name);
        }
        break;
    }
    case 6: {
        const char *name = cur_name(c);
        if (!c.bad && calls)
            add_root(name);
        break;
    }
    case 8: {
        unsigned n1 = cur_u16(c), n2 = cur_u16(c);
        if (!c.bad)
            add_child(indirect_list(n1, 1), indirect_list(n2, 1));
        break;
    }
    case 9: {
        const char *name = cur_name(c), *root = cur_name(c);
        if (c.bad)
            break;
        cg_func *f = named_function(name, 465);
        if (f && find_symbol(root, OBJ_GLOBAL)) {
            unsigned r = add_root(root);
            if (std::find(f->breaks.begin(), f->breaks.end(), r) == f->breaks.end())
                f->breaks.push_back(r);
        } else if (f) {
            msg_report(465, root);
        }
        break;
    }
    default:
        msg_report(375, kind);
        return false;
    }
    return !c.bad;
}

void fninfo_record()
{
    obj_cursor c = cur_of(rec);
    while (!cur_at_end(c))
        if (!fninfo_entry(c))
            break;
    if (c.bad)
        report_bad_record();
}

void fnconf_record()
{
    obj_cursor c = cur_of(rec);
    const char *names[3] = {cur_name(c), cur_name(c), cur_name(c)};
    unsigned depth = 0;
    if (version_at_least(cur_version, 3, 4) && cur_left(c) >= 2)
        depth = cur_u16(c);
    if (c.bad) {
        report_bad_record();
        return;
    }
    std::string *conf[3] = {&conf_psect, &conf_auto, &conf_arg};
    for (int i = 0; i < 3; i++) {
        if (!conf_seen)
            *conf[i] = names[i];
        else if (*conf[i] != names[i])
            msg_report(475);
    }
    if (!conf_seen)
        sym_enter(conf_psect.c_str(), OBJ_PSECT | OBJ_GLOBAL);   // known from the module that names it
    conf_seen = true;
    conf_depth = depth;
}

void indirlist_record()
{
    obj_cursor c = cur_of(rec);
    unsigned n = cur_u16(c);
    while (!c.bad && !cur_at_end(c)) {
        const char *name = cur_name(c);
        if (!c.bad)
            groups[n].push_back(sym_enter(name, OBJ_GLOBAL));
    }
    if (c.bad)
        report_bad_record();
}

// ---------------------------------------------------------------------------
// Offsets
// ---------------------------------------------------------------------------
static void report_cycle(cg_node *n)
{
    std::string text;
    cg_node *p = n;
    do {
        if (p->flags & CG_SHOWN) {
            text += "...";
            break;
        }
        p->flags |= CG_SHOWN;
        if (p->flags & CG_LIST)
            text += str_printf("indirect(%u) -> ", p->list);
        else if (p->flags & CG_ARG)
            text += str_printf("ARG(%s) -> ", p->fn->name);
        else
            text += str_printf("%s -> ", p->fn->name);
        p = p->parent;
    } while (p && p != n);
    msg_report(471);
    msg_print_part(1, "%s", text.c_str());
}

static const char *root_name(unsigned r)
{
    if (r >= root_list.children.size())
        return "";
    return root_list.children[r]->fn->name;
}

static cg_func *func_of(const cg_node *n)
{
    auto found = n->fn ? functions.find(n->fn) : functions.end();
    return found == functions.end() ? nullptr : found->second;
}

static uint32_t assign_offsets(cg_node *n, uint32_t base, unsigned r, bool flag)
{
    if (n->flags & CG_IGNORED)
        return 0;
    cg_func *f = func_of(n);
    if (f && !f->breaks.empty() && std::find(f->breaks.begin(), f->breaks.end(), r) == f->breaks.end())
        return base;
    if (n->flags & CG_ON_PATH) {
        if ((n->flags & CG_SHOWN) || n->size == 0) {
            n->flags |= CG_IGNORED;
        } else {
            report_cycle(n);
            return 0;
        }
    }
    // Walked before from this root, and not raised now: its blocks and all
    // below them already lie above this base, and walking them again would
    // change nothing. Without this every path would be walked, and calls
    // that fan out and join again layer after layer take exponential time.
    if ((n->flags & CG_REACHED) && n->root == r && base <= n->offset && n != &root_list)
        return n->extent;
    n->offset = std::max(n->offset, base);
    if ((n->flags & CG_REACHED) && n->size && n->root != r && n != &root_list)
        msg_report(472, n->fn ? n->fn->name : "", root_name(r), root_name(n->root));
    n->root = r;
    n->flags |= CG_REACHED | CG_ON_PATH;
    uint32_t end = addr_add(n->offset, n->size, n->fn ? n->fn->name : "call graph");
    uint32_t high = end;
    bool critical = n->children.empty();
    for (size_t i = 0; i < n->children.size(); i++) {
        cg_node *c = n->children[i];
        if (flag && (c->flags & CG_SHOWN))
            continue;
        c->parent = n;
        uint32_t got;
        if (n == &root_list) {
            got = assign_offsets(c, high, (unsigned)i, false);
        } else {
            bool other = (n->flags & CG_ARG) && c->fn != n->fn;
            got = assign_offsets(c, end, r, other);
        }
        high = std::max(high, got);
        if (c->offset == (n == &root_list ? c->offset : end) && (c->flags & CG_CRITICAL))
            critical = true;
    }
    n->extent = high;
    if (critical)
        n->flags |= CG_CRITICAL;
    n->flags &= ~CG_ON_PATH;
    return high;
}

// Members of an INDIRLIST group share one argument-block offset.
static void align_groups()
{
    for (auto &g : groups) {
        uint32_t base = 0;
        for (symbol *s : g.second)
            if (functions.count(s))
                base = std::max(base, functions[s]->arg->offset);
        for (symbol *s : g.second) {
            if (!functions.count(s))
                continue;
            cg_node *arg = functions[s]->arg;
            assign_offsets(arg, base, arg->root, false);
            if (arg->offset != base)
                msg_report(1238, s->name);
        }
    }
}

// Defines prefix + function name at the node's offset when the program
// refers to it and it is still undefined.
static void define_block(cg_node *n, symbol *P)
{
    if (n->flags & (CG_ROOTS | CG_DONE))
        msg_report(376);
    n->flags |= CG_DONE;
    std::string name = ((n->flags & CG_ARG) ? conf_arg : conf_auto) + n->fn->name;
    symbol *s = find_symbol(name.c_str(), OBJ_GLOBAL);
    if (s && sym_kind(s) == SK_UNDEFINED)
        define_symbol_pass0(name.c_str(), P, n->offset, s->flags & OBJ_GLOBAL);
}

// ---------------------------------------------------------------------------
// The call graph in the map
// ---------------------------------------------------------------------------
static int list_deepest;          // deepest call depth of the root being listed
static bool list_indeterminate;   // an indirect call through a list without members

static void print_node(cg_node *n, uint32_t mark, bool parent_marked, int level, int depth, int extra)
{
    if (n->flags & CG_BUSY)
        return;
    bool marked = parent_marked && (n->flags & CG_CRITICAL) && (n->offset + n->size >= mark || n->extent == mark);
    if (opt.callgraph_mode == 3 && !marked)
        return;
    map_printf("%s%*s", marked ? "*" : " ", level * 4, "");
    cg_node *shown = n;
    if (n->flags & CG_LIST) {
        map_printf("INDIRECT %u", n->list);
        if (n->children.empty() || ((n->flags & CG_ARG) && n->children[0]->children.empty()))
            list_indeterminate = true;
    } else if ((n->flags & CG_ARG) && n->children.size() == 1 && n->children[0]->fn == n->fn) {
        shown = n->children[0];
        map_printf("%s size %ld,%ld offset %ld", n->fn->name, (long)n->size, (long)shown->size, (long)n->offset);
        depth++;
    } else {
        map_printf("%s %ssize %ld offset %ld", n->fn->name, (n->flags & CG_ARG) ? "ARG " : "", (long)n->size,
                   (long)n->offset);
        if (!(n->flags & CG_ARG))
            depth++;
    }
    if (conf_depth && depth > (int)conf_depth) {
        map_printf(" *** OVERDEEP ***");
        msg_report(521, n->fn ? n->fn->name : "");
    }
    map_printf("\n");
    list_deepest = std::max(list_deepest, depth + extra);
    bool again = shown->flags & CG_LISTED;
    shown->flags |= CG_LISTED;
    if (again && (opt.callgraph_mode == 0 || opt.callgraph_mode == 1))
        return;
    n->flags |= CG_BUSY;
    for (cg_node *c : shown->children)
        if (c != shown)
            print_node(c, mark, marked, level + 1, depth, extra);
    n->flags &= ~CG_BUSY;
}

static void map_call_graph()
{
    static const char *const headings[] = {"Call graph: (short form)\n", "Call graph suppressed\n",
                                           "Call graph: (fully expanded)\n", "Call graph (critical paths only):\n"};
    if (!opt.map || root_list.children.empty())
        return;
    map_printf("%s", headings[opt.callgraph_mode & 3]);
    if (opt.callgraph_mode != 1) {
        for (cg_node *r : root_list.children) {
            const char *name = r->fn->name;
            int extra = strcmp(name, "_main") == 0 || strncmp(name, "intlevel", 8) == 0 ? 0 : 1;
            list_deepest = 0;
            list_indeterminate = false;
            print_node(r, r->extent, true, 0, 0, extra);
            map_printf("\nEstimated maximum call depth: %d\n%s\n", list_deepest - 1,
                       list_indeterminate ? "\tindeterminate indirect call(s) detected -- this may increase call depth"
                                          : "");
        }
    }
    map_printf("\n");
}

static void add_module_functions(std::vector<symbol *> &out, const module_rec *m)
{
    if (m)
        for (symbol *s : m->locals)
            if (functions.count(s))
                out.push_back(s);
}

// Functions with nodes in the slot order of the global table, then those
// local to a module, module by module: the order of the records written
// with -R and of the never-called messages.
static std::vector<symbol *> functions_in_table_order()
{
    std::vector<symbol *> out;
    for (unsigned i = 0; i < SYM_TABLE_SIZE; i++)
        if (sym_table[i] && functions.count(sym_table[i]))
            out.push_back(sym_table[i]);
    for (const input_file &in : inputs) {
        add_module_functions(out, in.module);
        for (const module_rec *m : in.modules)
            add_module_functions(out, m);
    }
    return out;
}

// -R: the collected graph goes back out as FNCONF and FNINFO records, after
// the global symbols, so that a later link knows every function they name
// when it reads them.
void write_call_graph_records()
{
    if (!opt.relocatable)
        return;
    obj_builder b;
    if (conf_seen) {
        build_start(b);
        build_name(b, conf_psect.c_str());
        build_name(b, conf_auto.c_str());
        build_name(b, conf_arg.c_str());
        write_record(REC_FNCONF, b.length, b.body);
    }
    build_start(b);
    auto entry = [&](unsigned kind, const char *a, const char *c, bool sizes, uint32_t s1, uint32_t s2, int list) {
        unsigned need = 1 + (unsigned)strlen(a) + 1 + (c ? (unsigned)strlen(c) + 1 : 0) + (sizes ? 8 : 0) + (list >= 0 ? 2 : 0);
        if (!build_fits(b, need)) {
            write_record(REC_FNINFO, b.length, b.body);
            build_start(b);
        }
        build_u8(b, (uint8_t)kind);
        build_name(b, a);
        if (c)
            build_name(b, c);
        if (sizes) {
            build_u32(b, s1);
            build_u32(b, s2);
        }
        if (list >= 0)
            build_u16(b, (uint16_t)list);
    };
    for (symbol *s : functions_in_table_order()) {
        cg_func *f = functions[s];
        if (f->autos->size || f->arg->size)
            entry(5, s->name, nullptr, true, f->autos->size, f->arg->size, -1);
        for (cg_node *from : {f->autos, f->arg})
            for (cg_node *c : from->children) {
                if (c->flags & CG_LIST)
                    entry(from == f->autos ? 3 : 7, s->name, nullptr, false, 0, 0, (int)c->list);
                else if (c->fn && c->fn != s)
                    entry(from == f->autos ? 1 : 2, s->name, c->fn->name, false, 0, 0, -1);
            }
    }
    for (auto &l : lists)
        for (cg_node *c : l.second->children[0]->children)
            if (c->fn)
                entry(4, c->fn->name, nullptr, false, 0, 0, -1);
    for (cg_node *r : root_list.children)
        entry(6, r->fn->name, nullptr, false, 0, 0, -1);
    if (b.length)
        write_record(REC_FNINFO, b.length, b.body);
}

// The end-of-pass-1 step: offsets, block symbols and the size of their psect.
void print_call_graph()
{
    if (opt.relocatable)
        return;   // written after the global symbols instead
    if (functions.empty())
        return;
    if (!conf_seen) {
        msg_report(474);
        return;
    }
    assign_offsets(&root_list, 0, 0, false);
    align_groups();
    map_call_graph();
    symbol *P = sym_enter(conf_psect.c_str(), OBJ_PSECT | OBJ_GLOBAL);
    psect_rec *p = P->ps;
    if (p->boundary && !(P->flags & OBJ_BOUNDARY_HIGH) && p->size % p->boundary)
        p->size = addr_add(p->size, p->boundary - p->size % p->boundary, P->name);
    uint32_t unreached = 0;
    for (symbol *s : functions_in_table_order()) {
        cg_func *f = functions[s];
        if (f->arg->flags & CG_REACHED) {
            define_block(f->arg, P);
            define_block(f->autos, P);
            continue;
        }
        // Never called: its blocks go after everything reached.
        f->arg->offset = root_list.extent;
        f->autos->offset = addr_add(root_list.extent, f->arg->size, s->name);
        if (f->arg->size)
            define_block(f->arg, P);
        if (f->autos->size)
            define_block(f->autos, P);
        unreached = std::max(unreached, addr_add(f->arg->size, f->autos->size, s->name));
        if (f->breaks.empty())
            msg_report(520, s->name);
        else
            msg_report(473, s->name);
    }
    uint32_t total = addr_add(root_list.extent, unreached, P->name);
    p->common = addr_add(p->common, total, P->name);
    p->pending = p->common;
}
