// The call graph of the whole program: a node per function (and per function
// pointer) in one directed graph, an edge per direct call, walked from _main
// and from the roots of the interrupt levels for every per-function job.
//
// Edges of kind 1 are calls; walks follow them only. A walk visits every
// function reachable from a root once, ordered by its depth below the root
// (the longest call path to it), so that callees come after their callers,
// or before them when a job needs the callees first. The call-graph
// directives FNCALL and FNROOT give the linker the same graph, from which it
// overlays the frames of functions that are never active together.
#include "kestrel.h"
#include "ranges.h"
#include "select.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

// All nodes of the graph (one universe).
static vector_t *universe;
// Functions that have no body here, in order of their first call.
vector_t *called_without_body;
// The interrupt-level groups, in order of creation.
vector_t *intlevel_groups;
// Set once the call graph is complete: no function record is made after.
bool call_graph_completed;

cg_record *callgraph_node_of(cg_symbol *s, uint32_t kind)
{
    if (s->cgraph)
        return s->cgraph;
    if (!universe)
        universe = dag_new_universe();
    cg_record *r = (cg_record *)xmalloc(sizeof(cg_record));
    r->sym = s;
    r->kind = kind ? kind : CGK_POINTER;
    r->node = dag_new_node(universe, r);
    s->cgraph = r;
    return r;
}

// Enters the function in the object's list of callers, once.
void record_caller(cg_symbol *object, cg_symbol *f)
{
    if (!object->callers)
        object->callers = vec_new(4);
    vec_push_unique(object->callers, f);
}

int callgraph_add_call(cg_symbol *caller, cg_symbol *callee, bool indirect)
{
    cg_record *from = callgraph_node_of(caller, sym_is_function(caller) ? CGK_FUNCTION : CGK_POINTER);
    cg_record *to = callgraph_node_of(callee, sym_is_function(callee) ? CGK_FUNCTION : CGK_POINTER);
    if (indirect)
        to->kind |= CGK_INDIRECT;
    if (sym_is_function(callee) && !callee->func) {
        if (!called_without_body)
            called_without_body = vec_new(8);
        vec_push_unique(called_without_body, callee);
    }
    callee->reach_count++;
    record_caller(callee, caller);
    return dag_add_edge(from->node, to->node, 1, CGE_CALL);
}

// The functions whose address the program takes: a call through a pointer
// may reach any of them.
vector_t *pointed_functions()
{
    static vector_t *list;
    if (!list)
        list = vec_new(4);
    vec_clear(list);
    for (uint32_t i = 0; i < vec_count(functions); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(functions, i);
        if (f->func && (f->flags & SF_ADDR_TAKEN) && !(type_qualifiers(f->type) & Q_INTERRUPT))
            vec_push(list, f);
    }
    return list;
}

// Calls through pointers. A pointer may hold any function whose address is
// taken; a call through it reaches those of its shape: the size of the
// value and where each argument lies in the parameter block (a correct
// call and the function it reaches agree on them). The functions of one
// shape share an argument block, the parameter block of a node of its own
// in the call graph, a callee of every function that calls through a
// pointer of that shape and the caller of every function of it, so that
// the linker lays it out above the callers' frames and the functions'
// frames above it. The caller stores the arguments there (the first, when
// it is a byte, waits in FSR for W), and the function's stub in the
// dispatch table copies them into the function's own parameter block
// before it jumps there; a value wider than a byte the stub, which then
// calls the function, copies back into the block (a level more of the
// hardware stack).
struct fp_shape {
    std::string key;
    cg_symbol *block;    // the argument block's node: "?" + its name is the block
    uint32_t args;       // bytes of arguments in the block
    uint32_t value;      // bytes of the value
    bool in_w;           // the first argument is a byte that comes in W
    bool written;        // its frame was given to the linker (a call that is run)
};
static std::vector<fp_shape> fp_shapes;

// The shape of a value of `value` bytes and arguments of these types:
// offsets as the parameters of a function of those types are laid out.
static std::string shape_key(uint32_t value, const std::vector<type_desc *> &types, bool varargs, uint32_t *args,
                             bool *in_w)
{
    std::string key = "v" + std::to_string(value);
    uint32_t offset = 0;
    *in_w = false;
    for (size_t i = 0; i < types.size(); i++) {
        uint32_t size = type_size(types[i]);
        if (i == 0 && size == 1) {
            *in_w = true;
            key += ",w";
            continue;
        }
        uint32_t mask = type_align_mask(types[i]);
        offset = (offset + mask) & ~mask;
        key += "," + std::to_string(offset) + ":" + std::to_string(size);
        offset += size;
    }
    if (varargs)
        key += ",...";
    *args = offset;
    return key;
}

static cg_symbol *shape_block(const std::string &key, uint32_t value, uint32_t args, bool in_w, type_desc *type)
{
    for (fp_shape &s : fp_shapes)
        if (s.key == key)
            return s.block;
    cg_symbol *b = sym_new(str_printf("fpargs%u", (unsigned)fp_shapes.size() + 1).c_str());
    b->cls = 'F';
    b->storage = ST_STATIC;
    b->type = type;
    b->flags |= SF_INTERNAL | SF_NODEBUG | SF_UNPREFIXED;
    b->params_size = std::max(args, value > 1 ? value : 0u);
    if (chip.family == 1)   // the value of any size, the byte for W, the caller's return point
        b->params_size = std::max(args, value) + (in_w ? 1 : 0) + 1;
    fp_shapes.push_back({key, b, args, value, in_w, false});
    return b;
}

static fp_shape *shape_of_block(cg_symbol *b)
{
    for (fp_shape &s : fp_shapes)
        if (s.block == b)
            return &s;
    return nullptr;
}

// A function defined without a prototype takes its arguments promoted, in
// a layout of its own (no byte in W, a char in an int's slot), and a
// variadic one takes arguments past its parameters: a call through a
// pointer, which stores the arguments as their types lay them out into a
// block of their number, would not hand them over. Such functions are
// refused (once each) when the program calls through pointers.
static std::vector<cg_symbol *> refused_targets;

static void refuse_unprototyped_targets()
{
    std::vector<cg_symbol *> &reported = refused_targets;
    vector_t *pointed = pointed_functions();
    for (uint32_t i = 0; i < vec_count(pointed); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(pointed, i);
        if (std::find(reported.begin(), reported.end(), f) != reported.end())
            continue;
        bool differs = false;
        uint32_t offset = 0;
        for (uint32_t k = 0; f->params && k < vec_count(f->params); k++) {
            cg_symbol *p = (cg_symbol *)vec_get(f->params, k);
            uint32_t size = type_size(p->type), mask = type_align_mask(p->type);
            bool in_w = k == 0 && size == 1;
            if (in_w != ((p->flags & SF_INREG) != 0))
                differs = true;
            if (in_w)
                continue;
            offset = (offset + mask) & ~mask;
            if (p->frame_offset != (int16_t)offset)
                differs = true;
            offset += size;
        }
        bool varargs = (f->flags & SF_VARARGS) || (type_unqualify(f->type) && type_unqualify(f->type)->varargs);
        if (differs || varargs || offset != func_layout_params(f)) {
            reported.push_back(f);
            sym_set_position(f);
            msg_report(1490, varargs ? "calls through pointers to functions with a variable argument list"
                                     : "calls through pointers to functions defined without a prototype");
        }
    }
}

cg_symbol *fpblock_for_call(tree_node *call)
{
    refuse_unprototyped_targets();
    std::vector<type_desc *> types;
    for (uint32_t i = 0; call->right && call->right->args && i < vec_count(call->right->args); i++)
        types.push_back(((tree_node *)vec_get(call->right->args, i))->type);
    uint32_t args;
    bool in_w;
    std::string key = shape_key(node_size(call), types, false, &args, &in_w);
    return shape_block(key, node_size(call), args, in_w, call->type);
}

cg_symbol *fpblock_of_function(cg_symbol *f)
{
    type_desc *ft = type_unqualify(f->type);
    std::vector<type_desc *> types;
    for (uint32_t i = 0; f->params && i < vec_count(f->params); i++)
        types.push_back(((cg_symbol *)vec_get(f->params, i))->type);
    uint32_t args, value = ft && ft->kind == TY_FUNCTION ? type_size(ft->sub) : 0;
    bool in_w;
    std::string key = shape_key(value, types, ft && ft->varargs, &args, &in_w);
    return shape_block(key, value, args, in_w, ft && ft->kind == TY_FUNCTION ? ft->sub : nullptr);
}

bool fpblock_is(cg_symbol *s)
{
    return shape_of_block(s) != nullptr;
}

uint32_t fpblock_args(cg_symbol *b)
{
    fp_shape *s = shape_of_block(b);
    return s ? s->args : 0;
}

bool fpblock_calls_function(cg_symbol *b)
{
    fp_shape *s = shape_of_block(b);
    return s && s->value > 1;
}

uint32_t fpblock_value(cg_symbol *b)
{
    fp_shape *s = shape_of_block(b);
    return s ? s->value : 0;
}

// 12-bit core: W cannot wait in FSR (whose bank bits are fixed on chips of
// few banks), so the block holds the byte for W after the arguments and the
// value, and after it the number of the caller's return point.
int32_t fpblock_w_slot(cg_symbol *b)
{
    fp_shape *s = shape_of_block(b);
    return chip.family == 1 && s && s->in_w ? (int32_t)std::max(s->args, s->value) : -1;
}

uint32_t fpblock_return_slot(cg_symbol *b)
{
    fp_shape *s = shape_of_block(b);
    return s ? std::max(s->args, s->value) + (s->in_w ? 1 : 0) : 0;
}

// The functions a call through the block may reach.
vector_t *fpblock_targets(cg_symbol *b)
{
    vector_t *out = vec_new(4);
    vector_t *pointed = pointed_functions();
    for (uint32_t i = 0; i < vec_count(pointed); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(pointed, i);
        if (fpblock_of_function(f) == b)
            vec_push(out, f);
    }
    return out;
}

// A slot of a block (an argument that is not passed in W): the parameter
// at its place in each function the block reaches; empty for any other
// symbol.
vector_t *fpblock_slot_params(cg_symbol *slot)
{
    vector_t *out = vec_new(1);
    if (!slot->owner || slot->storage != ST_PARAM || !fpblock_is(slot->owner) || (slot->flags & SF_INREG))
        return out;
    vector_t *targets = fpblock_targets(slot->owner);
    bool for_w = slot->frame_offset == fpblock_w_slot(slot->owner);
    for (uint32_t i = 0; i < vec_count(targets); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(targets, i);
        if (for_w) {   // the stub loads it into W for the function's first parameter
            if (f->params && vec_count(f->params))
                vec_push(out, vec_get(f->params, 0));
            continue;
        }
        for (uint32_t k = 0; f->params && k < vec_count(f->params); k++) {
            cg_symbol *p = (cg_symbol *)vec_get(f->params, k);
            if (!(p->flags & SF_INREG) && p->frame_offset == slot->frame_offset)
                vec_push(out, p);
        }
    }
    vec_free(targets);
    return out;
}

// A call through a pointer in the function `caller`: an edge to the
// argument block and from the block to each function it may reach.
void fpblock_add_call(cg_symbol *caller, cg_symbol *b)
{
    cg_record *from = callgraph_node_of(caller, CGK_FUNCTION);
    cg_record *block = callgraph_node_of(b, CGK_FUNCTION);
    dag_add_edge(from->node, block->node, 1, CGE_CALL);
    vector_t *targets = fpblock_targets(b);
    for (uint32_t i = 0; i < vec_count(targets); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(targets, i);
        cg_record *to = callgraph_node_of(f, CGK_FUNCTION);
        to->kind |= CGK_INDIRECT;
        f->reach_count++;
        dag_add_edge(block->node, to->node, 1, CGE_CALL);
    }
    vec_free(targets);
}

vector_t *fpblocks_called()
{
    vector_t *out = vec_new(4);
    for (fp_shape &s : fp_shapes)
        if (s.written)
            vec_push(out, s.block);
    return out;
}

// A call node of a statement of the function ctx: an edge to its callee;
// a call through a pointer, an edge to every function a pointer may hold
// (their frames lie above the caller's, as for any callee).
static tree_node *collect_calls_visit(void *ctx, tree_node *n, int, int, int, long *)
{
    if (n->op == OP_DEREF && n->left && indirect_reads_rom(n->left))
        ((cg_symbol *)ctx)->func->reads_tables = true;
    if (n->op != OP_CALL || !n->left)
        return n;
    if (n->left->op == OP_ID && n->left->sym) {
        if (strcmp(n->left->sym->name, "__delay") != 0)   // a delay is code in place
            callgraph_add_call((cg_symbol *)ctx, n->left->sym, false);
        return n;
    }
    if (n->call_target && fpblock_is(n->call_target)) {
        fpblock_add_call((cg_symbol *)ctx, n->call_target);
        return n;
    }
    vector_t *targets = pointed_functions();
    for (uint32_t i = 0; i < vec_count(targets); i++)
        callgraph_add_call((cg_symbol *)ctx, (cg_symbol *)vec_get(targets, i), true);
    return n;
}

void collect_calls(cg_symbol *f)
{
    callgraph_node_of(f, CGK_FUNCTION);
    // a function whose address is taken is made even when no call through
    // a pointer is seen: main stands for the place that holds it
    if (f == sym_find("_main")) {
        vector_t *targets = pointed_functions();
        for (uint32_t i = 0; i < vec_count(targets); i++)
            callgraph_add_call(f, (cg_symbol *)vec_get(targets, i), true);
    }
    long result = 0;
    for (uint32_t i = 0; f->func && f->func->stmts && i < vec_count(f->func->stmts); i++)
        tree_walk(WALK_PREORDER, f, (tree_node *)vec_get(f->func->stmts, i), collect_calls_visit, 0, 0, 0, &result);
}

// Calls the C code does not show: an assembly module's function calling a
// C function (the object scan's call pairs), and C functions named by
// assembly code (the scan's undefined symbols, names in in-line assembly).
// A function named from assembly with no caller the pairs give is taken as
// called from main, as a function whose address is taken is: it is made,
// and its frame lies above main's.
void collect_external_calls(cg_symbol *main_function)
{
    if (run.ext_calls) {
        vector_t *pairs = hash_values(run.ext_calls);
        for (uint32_t i = 0; i < vec_count(pairs); i++) {
            ext_call *e = (ext_call *)vec_get(pairs, i);
            cg_symbol *from = sym_find(e->caller), *to = e->callee ? sym_find(e->callee) : nullptr;
            if (from && to && sym_is_function(from) && sym_is_function(to))
                callgraph_add_call(from, to, false);
        }
        vec_free(pairs);
    }
    if (!main_function)
        return;
    for (uint32_t i = 0; i < vec_count(functions); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(functions, i);
        if (!f->func || f == main_function || (type_qualifiers(f->type) & Q_INTERRUPT))
            continue;
        bool named = (run.ext_refs && hash_lookup(run.ext_refs, f->name)) || asm_name_referenced(f->name);
        if (named && !(f->cgraph && main_function->cgraph &&
                       dag_reaches(main_function->cgraph->node, f->cgraph->node, CGE_CALL)))
            callgraph_add_call(main_function, f, false);
    }
}

// The functions reachable from a root by calls, the root first; by depth,
// ascending, or descending (callees first) when deepest_first is set.
vector_t *callgraph_reached(cg_symbol *root, bool deepest_first)
{
    if (!root || !root->cgraph)
        return vec_new(1);
    vector_t *nodes = dag_sorted_nodes(root->cgraph->node, deepest_first ? 0 : 1, CGE_CALL);
    vector_t *out = vec_new(vec_count(nodes) + 1);
    for (uint32_t i = 0; i < vec_count(nodes); i++)
        vec_push(out, ((cg_record *)((dag_node *)vec_get(nodes, i))->data)->sym);
    vec_free(nodes);
    return out;
}

// Whether a function lies on a cycle of calls (the mark every walk sets).
bool callgraph_on_cycle(cg_symbol *f)
{
    return f->cgraph && (f->cgraph->node->marks & DAG_CYCLE);
}

// The direct callees of a function, in the order of their first call.
vector_t *callgraph_callees(cg_symbol *f)
{
    vector_t *out = vec_new(4);
    if (!f->cgraph)
        return out;
    vector_t *edges = f->cgraph->node->edges;
    for (uint32_t i = 0; i < vec_count(edges); i++) {
        dag_edge *e = (dag_edge *)vec_get(edges, i);
        if (e->kind & CGE_CALL)
            vec_push_unique(out, ((cg_record *)e->target->data)->sym);
    }
    return out;
}

// FNCALL lines of the functions reachable from a root: an edge from every
// written function to every written callee. 1 when anything was written.
int emit_fn_calls(cg_symbol *root)
{
    vector_t *reached = callgraph_reached(root, false);
    int wrote = 0;
    for (uint32_t i = 0; i < vec_count(reached); i++) {
        cg_symbol *f = (cg_symbol *)vec_get(reached, i);
        if (fpblock_is(f)) {   // an argument block: its size, and the functions it reaches
            shape_of_block(f)->written = true;
            printf("\tglobal\t%s\n\tFNSIZE\t%s,0,%u\n", sym_asm_name(f), sym_asm_name(f), f->params_size);
            vector_t *callees = callgraph_callees(f);
            for (uint32_t k = 0; k < vec_count(callees); k++) {
                cg_symbol *g = (cg_symbol *)vec_get(callees, k);
                if (g->func && g->cgraph->generated)
                    printf("\tFNCALL\t%s,%s\n", sym_asm_name(f), sym_asm_name(g));
            }
            vec_free(callees);
            continue;
        }
        if (!f->func || !f->cgraph || !f->cgraph->generated)
            continue;
        wrote = 1;
        vector_t *callees = callgraph_callees(f);
        for (uint32_t k = 0; k < vec_count(callees); k++) {
            cg_symbol *g = (cg_symbol *)vec_get(callees, k);
            if (g->func && !g->cgraph->generated)
                continue;
            printf("\tFNCALL\t%s,%s\n", sym_asm_name(f), sym_asm_name(g));
        }
        vec_free(callees);
    }
    vec_free(reached);
    return wrote;
}

void callgraph_reset()
{
    universe = nullptr;
    called_without_body = nullptr;
    intlevel_groups = nullptr;
    call_graph_completed = false;
    fp_shapes.clear();
    refused_targets.clear();
}
