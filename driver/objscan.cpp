// The scan of the object and library inputs.
//
// Before the code generator runs, the driver reads the objects and
// libraries given on the command line (nothing is relocated): the global
// symbols each module defines, the symbols its complex relocations refer
// to, the call pairs and function sizes of its FNINFO records and the psect
// bounds. The code generator then learns of the symbols that those modules
// leave undefined (-B), of their functions' sizes (-N) and of their calls
// (-Q). The modules are also put in an order in which modules that refer to
// one another stand together: each module is a node of a graph with an edge
// to every module defining a symbol it refers to; starting from the modules
// with the most edges, each group of reachable modules is laid out from the
// middle outwards. Objects take that order in the file list; libraries get
// their modules reordered by the librarian and follow the objects.
//
// Every body is taken apart through the bounded cursor of the object-file
// library, so a malformed record is reported and never read past.
#include "zeph.h"

#include "objfile.h"

#include <cstring>
#include <string>

struct obj_module {
    char *name;          // file path, or module name inside a library
    vector_t *defines;   // obj_symbol records it defines
    vector_t *refs;      // obj_symbol records it refers to (unique)
    dag_node *node;      // its node in the scan's graph
    obj_module *library; // the library record of a library module
    vector_t *order;     // library record: its module names in the new order
    uint8_t is_library;  // 1 for the record standing for a whole library
};

struct obj_symbol {
    char *name;         // owned
    char *psect;        // psect of its definition, owned
    uint32_t flags;     // 0x16 until defined; defined when flags & 6 is 0
    uint32_t value;     // value of the definition
    obj_module *module; // defining module
};

struct obj_psect_bound {
    char *name;     // owned
    char *cls;      // owned, or null
    uint32_t flags; // OR of every record's flags
    uint32_t low;   // lowest address
    uint32_t size;  // bytes
};

struct obj_call_pair {
    char *caller; // owned
    char *callee; // owned
};

struct obj_function_record {
    char *name;     // owned
    uint32_t first; // the two sizes of the FNINFO entry
    uint32_t second;
};

// Symbols and psect bounds by name (100 buckets each).
static hash_t *scan_symbols;
static hash_t *scan_psects;
// FNINFO call pairs and function records, in reading order.
static vector_t *call_pairs;
static vector_t *function_records;
// Byte order of the multi-byte fields: the first IDENT record's maps.
static byte_order scan_order = order_little;
static bool scan_order_set;
// The graph of the scan; its nodes' data are the modules.
static vector_t *universe;
// Placed-in-order mark of the graph nodes.
constexpr uint32_t NODE_PLACED = 0x1;

// ---------------------------------------------------------------------------
// tables
// ---------------------------------------------------------------------------

static void tables_create()
{
    if (!scan_symbols)
        scan_symbols = hash_new(100, hash_str_hash, hash_str_compare);
    if (!scan_psects)
        scan_psects = hash_new(100, hash_str_hash, hash_str_compare);
}

static obj_symbol *symbol_get(const char *name)
{
    auto *s = static_cast<obj_symbol *>(hash_lookup(scan_symbols, name));
    if (s)
        return s;
    s = static_cast<obj_symbol *>(xmalloc(sizeof(obj_symbol)));
    s->name = xstrdup(name);
    s->flags = 0x16;
    hash_insert(scan_symbols, s->name, s);
    return s;
}

static bool symbol_defined(const obj_symbol *s) { return (s->flags & 6) == 0; }

static obj_module *module_new(const char *name, obj_module *library)
{
    auto *m = static_cast<obj_module *>(xmalloc(sizeof(obj_module)));
    m->name = xstrdup(name);
    m->defines = vec_new_default();
    m->refs = vec_new_default();
    m->library = library;
    m->node = dag_new_node(universe, m);
    return m;
}

// A psect bound: a new entry, or the union, the larger or the sum of the
// sizes by the overlay bits of the new flags.
static void psect_bound(const char *name, const char *cls, uint32_t flags, uint32_t low, uint32_t high)
{
    auto *p = static_cast<obj_psect_bound *>(hash_lookup(scan_psects, name));
    if (!p) {
        p = static_cast<obj_psect_bound *>(xmalloc(sizeof(obj_psect_bound)));
        p->name = xstrdup(name);
        p->cls = cls && *cls ? xstrdup(cls) : nullptr;
        p->flags = flags;
        p->low = low;
        p->size = high - low;
        hash_insert(scan_psects, p->name, p);
        return;
    }
    p->flags |= flags;
    uint32_t size = high - low;
    if ((flags & 0xC0) == 0xC0) {
        uint32_t end = std::max(p->low + p->size, high);
        p->low = std::min(p->low, low);
        p->size = end - p->low;
    } else if (flags & 0x40) {
        p->size = std::max(p->size, size);
    } else {
        p->size += size;
    }
}

// ---------------------------------------------------------------------------
// record handlers
// ---------------------------------------------------------------------------

// A body that ends inside an entry or a name: reported, never read past.
static void report_malformed(const obj_record &r) { msg_report(506, 3, static_cast<int>(r.length)); }

static bool complex_kind(unsigned kind)
{
    unsigned high = kind & 0xF0;
    return high == 0x30 || high == 0x70 || high == 0xF0;
}

// One complex expression: psects named by opcode 16 and used by opcode 2
// enter the psect table; in an expression marked by opcode 19 every symbol
// of opcode 32 is a reference of the module.
static void read_expression(obj_cursor &c, obj_module *m)
{
    std::string psect;
    bool marked = false;
    while (!c.bad) {
        unsigned op = cur_u8(c);
        if (c.bad || op == 0 || op == 18)
            return;
        switch (op) {
        case 1: case 4: case 5: case 6: case 7: case 8: case 9: case 10: case 11: case 12: case 13: case 14:
        case 15: case 17: case 21: case 22: case 23:
            break;
        case 2:
            if (!psect.empty())
                psect_bound(psect.c_str(), nullptr, 0x100000, 0, 0);
            break;
        case 3: cur_u32(c); break;
        case 16: psect = cur_name(c); break;
        case 19: cur_name(c); marked = true; break;
        case 32: {
            const char *name = cur_name(c);
            if (marked && !c.bad)
                vec_push_unique(m->refs, symbol_get(name));
            break;
        }
        case 20: case 80: case 96: case 144: case 160: cur_name(c); break;
        default: msg_report(512, op); break;
        }
    }
}

static void handle_reloc(const obj_record &r, obj_module *m)
{
    obj_cursor c = cur_open(r.body, r.length, scan_order);
    while (!cur_at_end(c) && !c.bad) {
        cur_u16(c);
        unsigned kind = cur_u8(c);
        if (complex_kind(kind))
            read_expression(c, m);
        else
            cur_name(c);
    }
    if (c.bad)
        report_malformed(r);
}

static void handle_sym(const obj_record &r, obj_module *m)
{
    obj_cursor c = cur_open(r.body, r.length, scan_order);
    while (!cur_at_end(c)) {
        obj_sym_entry e;
        if (!decode_sym_entry(c, false, &e)) {
            report_malformed(r);
            return;
        }
        unsigned kind = e.flags & OBJ_KIND_MASK;
        if (!(e.flags & OBJ_GLOBAL) || (kind != SK_ORDINARY && kind != SK_UNDEFINED))
            continue;
        obj_symbol *s = symbol_get(e.name);
        if (symbol_defined(s) || (e.flags & 6))
            continue;
        vec_push(m->defines, s);
        s->module = m;
        free(s->psect);
        s->psect = xstrdup(e.psect);
        s->flags = e.flags & 0x1F;
        s->value = e.value;
    }
}

// The first IDENT record of the scan gives the byte order; a later one
// with other maps is an error for each byte that differs.
static void handle_ident(const obj_record &r, obj_module *)
{
    obj_ident id;
    bool valid = false;
    if (!decode_ident(r.body, r.length, &id, &valid) || !valid) {
        report_malformed(r);
        return;
    }
    if (!scan_order_set) {
        scan_order = id.order;
        scan_order_set = true;
        return;
    }
    for (int i = 0; i < 4; i++)
        if (id.order.map32[i] != scan_order.map32[i])
            msg_report(503);
    for (int i = 0; i < 2; i++)
        if (id.order.map16[i] != scan_order.map16[i])
            msg_report(503);
}

static void add_call_pair(const char *caller, const char *callee)
{
    if (!call_pairs)
        call_pairs = vec_new_default();
    auto *p = static_cast<obj_call_pair *>(xmalloc(sizeof(obj_call_pair)));
    p->caller = xstrdup(caller);
    p->callee = xstrdup(callee);
    vec_push(call_pairs, p);
}

static void add_function_record(const char *name, uint32_t first, uint32_t second)
{
    if (!function_records)
        function_records = vec_new_default();
    auto *f = static_cast<obj_function_record *>(xmalloc(sizeof(obj_function_record)));
    f->name = xstrdup(name);
    f->first = first;
    f->second = second;
    vec_push(function_records, f);
}

// Call pairs (kind 1) and function sizes (kind 5); the other kinds are
// passed over by their layouts, and an unknown kind ends the record.
static void handle_fninfo(const obj_record &r, obj_module *)
{
    obj_cursor c = cur_open(r.body, r.length, scan_order);
    while (!cur_at_end(c) && !c.bad) {
        unsigned kind = cur_u8(c);
        switch (kind) {
        case 1: {
            std::string caller = cur_name(c);
            std::string callee = cur_name(c);
            if (!c.bad)
                add_call_pair(caller.c_str(), callee.c_str());
            break;
        }
        case 5: {
            std::string name = cur_name(c);
            uint32_t first = cur_u32(c);
            uint32_t second = cur_u32(c);
            if (!c.bad)
                add_function_record(name.c_str(), first, second);
            break;
        }
        case 2: case 9: cur_name(c); cur_name(c); break;
        case 3: case 7: cur_name(c); cur_u16(c); break;
        case 4: case 6: cur_name(c); break;
        case 8: cur_u16(c); cur_u16(c); break;
        default: return;
        }
    }
    if (c.bad)
        report_malformed(r);
}

static void handle_psectbound(const obj_record &r, obj_module *)
{
    obj_cursor c = cur_open(r.body, r.length, scan_order);
    unsigned names = cur_u8(c);
    uint32_t flags = cur_u16(c);
    uint32_t low = cur_u32(c);
    uint32_t high = cur_u32(c);
    if (c.bad || names > r.length) {
        report_malformed(r);
        return;
    }
    obj_cursor n = cur_open(r.body + names, r.length - names, scan_order);
    std::string psect = cur_name(n);
    std::string cls = cur_name(n);
    if (n.bad) {
        report_malformed(r);
        return;
    }
    psect_bound(psect.c_str(), cls.c_str(), flags, low, high);
}

static void handle_skip(const obj_record &, obj_module *) {}

typedef void (*record_handler)(const obj_record &r, obj_module *m);

// Handlers by record type (END ends the module before its handler).
static const record_handler record_handlers[OBJ_MAX_TYPE + 1] = {
    /* 0           */ handle_skip,
    /* 1 TEXT      */ handle_skip,
    /* 2 PSECT     */ handle_skip,
    /* 3 RELOC     */ handle_reloc,
    /* 4 SYM       */ handle_sym,
    /* 5 START     */ handle_skip,
    /* 6 END       */ handle_skip,
    /* 7 IDENT     */ handle_ident,
    /* 8 XPSECT    */ handle_skip,
    /* 9 SEGMENT   */ handle_skip,
    /* 10 XSYM     */ handle_skip,
    /* 11 SIGNAT   */ handle_skip,
    /* 12 FNINFO   */ handle_fninfo,
    /* 13 FNCONF   */ handle_skip,
    /* 14 SEGSTART */ handle_skip,
    /* 15 PSECTLIM */ handle_skip,
    /* 16 LISTRELOC*/ handle_skip,
    /* 17 CONDEXPR */ handle_skip,
    /* 18 LISTFIX  */ handle_skip,
    /* 19 CONDITION*/ handle_skip,
    /* 20 RESERVE  */ handle_skip,
    /* 21 SPACELIM */ handle_skip,
    /* 22 INDIRLIST*/ handle_skip,
    /* 23 PSECTBOUND*/ handle_psectbound,
};

// ---------------------------------------------------------------------------
// reading files
// ---------------------------------------------------------------------------

static obj_module *obj_read_module(FILE *f, const char *name, obj_module *library)
{
    obj_module *m = module_new(name, library);
    static obj_record r;
    for (;;) {
        obj_status st = obj_read_header(f, &r);
        if (st != OBJ_OK) {
            msg_report(505);
            break;
        }
        if (!obj_type_valid(r.type))
            msg_report(380, static_cast<int>(r.type));
        if (r.length > OBJ_MAX_BODY) {
            msg_report(506, 3, static_cast<int>(r.length));
            break;
        }
        if (obj_read_body(f, &r) != OBJ_OK) {
            msg_report(1044);
            break;
        }
        if (r.type == REC_END)
            break;
        if (obj_type_valid(r.type))
            record_handlers[r.type](r, m);
    }
    return m;
}

// A library: its directory, then each module from the offset the module
// lengths before it give.
static obj_module *obj_read_library(FILE *f, const char *path)
{
    uint8_t header[4];
    if (fread(header, 1, 4, f) != 4)
        msg_report(300);
    uint32_t directory_size = get_le16(header);
    uint32_t count = get_le16(header + 2);
    obj_module *lib = module_new(path, nullptr);
    lib->is_library = 1;
    vec_free(lib->defines);
    lib->defines = nullptr;
    lib->order = vec_new_default();
    std::string directory(directory_size, '\0');
    if (fread(directory.data(), 1, directory_size, f) != directory_size)
        msg_report(300);
    obj_cursor c = cur_open(reinterpret_cast<const uint8_t *>(directory.data()), directory_size);
    uint32_t offset = 4 + directory_size;
    for (uint32_t i = 0; i < count; i++) {
        cur_le16(c);
        unsigned symbols = cur_le16(c);
        uint32_t length = cur_le32(c);
        cur_skip(c, 4);
        std::string name = cur_name(c);
        for (unsigned s = 0; s < symbols && !c.bad; s++) {
            cur_u8(c);
            cur_name(c);
        }
        // A directory entry that runs past the directory is a cut library.
        if (c.bad)
            msg_report(300);
        if (fseek(f, static_cast<long>(offset), SEEK_SET) != 0)
            msg_report(300);
        obj_read_module(f, name.c_str(), lib);
        offset += length;
    }
    return lib;
}

static void obj_read_file(const char *path, vector_t *libraries)
{
    FILE *f = fopen(path, "rb");
    if (!f) {
        msg_report(141, "object", path);
        return;
    }
    // Every message about the file's contents names the file.
    struct location_scope {
        explicit location_scope(const char *file) { msg_set_location(file, nullptr, nullptr, nullptr); }
        ~location_scope() { msg_set_location(nullptr, nullptr, nullptr, nullptr); }
    } scope(path);
    if (has_extension(path, ".lib"))
        vec_push(libraries, obj_read_library(f, path));
    else
        obj_read_module(f, path, nullptr);
    fclose(f);
}

// ---------------------------------------------------------------------------
// ordering
// ---------------------------------------------------------------------------

static uint32_t edge_count(const dag_node *n) { return vec_count(n->edges); }

static int more_edges_first(const void *a, const void *b)
{
    uint32_t ea = edge_count(*static_cast<dag_node *const *>(a));
    uint32_t eb = edge_count(*static_cast<dag_node *const *>(b));
    return ea > eb ? -1 : ea < eb ? 1 : 0;
}

static obj_module *module_of(const dag_node *n) { return static_cast<obj_module *>(n->data); }

// Edges from each module to the modules defining what it refers to.
static void add_reference_edges()
{
    for (uint32_t i = 0; i < vec_count(universe); i++) {
        auto *node = static_cast<dag_node *>(vec_get(universe, i));
        obj_module *m = module_of(node);
        for (uint32_t j = 0; j < vec_count(m->refs); j++) {
            auto *s = static_cast<obj_symbol *>(vec_get(m->refs, j));
            if (symbol_defined(s) && s->module)
                dag_add_edge(node, s->module->node, 0, 1);
        }
    }
}

// Each group of modules reachable from one start, laid out from the middle:
// alternately at the front and the back.
static void place_group(dag_node *start, vector_t *order)
{
    vector_t *reach = dag_sorted_nodes(start, 0, 0);
    vec_sort(reach, more_edges_first);
    vector_t *group = vec_new_default();
    bool front = true;
    for (uint32_t i = 0; i < vec_count(reach); i++) {
        auto *n = static_cast<dag_node *>(vec_get(reach, i));
        if (n->marks & NODE_PLACED)
            continue;
        n->marks |= NODE_PLACED;
        if (front)
            vec_insert_at(group, n, 0);
        else
            vec_push(group, n);
        front = !front;
    }
    for (uint32_t i = 0; i < vec_count(group); i++) {
        obj_module *m = module_of(static_cast<dag_node *>(vec_get(group, i)));
        vec_push(m->library ? m->library->order : order, xstrdup(m->name));
    }
    vec_free(group);
    vec_free(reach);
}

// An object the build names that no program wrote: nothing runs under
// --noexec or --getoption, and a switched-off assembler writes nothing.
static bool never_written(const char *path)
{
    return (opts.noexec || settings.getoption || tool_switched_off(TOOL_OSPREY)) && !os_file_exists(path);
}

void obj_scan_files(vector_t *files)
{
    tables_create();
    universe = dag_new_universe();
    vector_t *libraries = vec_new_default();
    for (uint32_t i = 0; i < vec_count(files); i++) {
        auto *path = static_cast<const char *>(vec_get(files, i));
        if (never_written(path))
            continue;
        obj_read_file(path, libraries);
    }
    add_reference_edges();
    vector_t *nodes = vec_dup(universe);
    vec_sort(nodes, more_edges_first);
    vector_t *order = vec_new_default();
    for (uint32_t i = 0; i < vec_count(nodes); i++) {
        auto *n = static_cast<dag_node *>(vec_get(nodes, i));
        if (!(n->marks & NODE_PLACED) && !module_of(n)->is_library && edge_count(n))
            place_group(n, order);
    }
    for (uint32_t i = 0; i < vec_count(nodes); i++) {
        auto *n = static_cast<dag_node *>(vec_get(nodes, i));
        obj_module *m = module_of(n);
        if ((n->marks & NODE_PLACED) || m->is_library)
            continue;
        n->marks |= NODE_PLACED;
        if (!m->library)
            vec_push(order, xstrdup(m->name));
    }
    vec_free(nodes);
    // Names of files the scan skipped keep their place after the others.
    for (uint32_t i = 0; i < vec_count(files); i++) {
        auto *path = static_cast<char *>(vec_get(files, i));
        if (never_written(path) && !has_extension(path, ".lib"))
            vec_push(order, xstrdup(path));
    }
    for (uint32_t i = 0; i < vec_count(files); i++)
        free(vec_get(files, i));
    vec_clear(files);
    vec_append(files, order);
    vec_free(order);
    for (uint32_t i = 0; i < vec_count(libraries); i++) {
        auto *lib = static_cast<obj_module *>(vec_get(libraries, i));
        if (vec_count(lib->order))
            phase_library_order(lib->name, lib->order);
        vec_push(files, xstrdup(lib->name));
    }
    vec_free(libraries);
}

// Objects and libraries given beside C sources are scanned before the code
// generator reads the program.
void obj_scan()
{
    if (vec_count(bs.objects) && vec_count(bs.intermediates) && !settings.pre && !opts.scandep)
        obj_scan_files(bs.objects);
}

// ---------------------------------------------------------------------------
// what the code generator learns
// ---------------------------------------------------------------------------

static vector_t *obj_symbols() { return scan_symbols ? hash_values(scan_symbols) : vec_new_default(); }

vector_t *obj_symbol_args()
{
    vector_t *args = vec_new_default();
    vector_t *symbols = obj_symbols();
    for (uint32_t i = 0; i < vec_count(symbols); i++) {
        auto *s = static_cast<obj_symbol *>(vec_get(symbols, i));
        if ((s->flags & 6) && s->name[0] == '_' && strcmp(s->name, "_main") != 0)
            vec_push(args, zeph_asprintf("-B%s", s->name));
    }
    vec_free(symbols);
    for (uint32_t i = 0; function_records && i < vec_count(function_records); i++) {
        auto *f = static_cast<obj_function_record *>(vec_get(function_records, i));
        vec_push(args, zeph_asprintf("-N%s:%lu:%lu", f->name, static_cast<unsigned long>(f->first),
                                 static_cast<unsigned long>(f->second)));
    }
    for (uint32_t i = 0; call_pairs && i < vec_count(call_pairs); i++) {
        auto *p = static_cast<obj_call_pair *>(vec_get(call_pairs, i));
        vec_push(args, zeph_asprintf("-Q%s:%s", p->caller, p->callee));
    }
    return args;
}

// Forgets everything a scan found (tests run several scans).
void obj_scan_reset()
{
    scan_symbols = nullptr;
    scan_psects = nullptr;
    call_pairs = nullptr;
    function_records = nullptr;
    scan_order = order_little;
    scan_order_set = false;
    universe = nullptr;
}
