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

#include <cstring>

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
}
