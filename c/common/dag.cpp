// A small directed graph for call graphs: nodes in a universe (a vector of
// the nodes created together), edges with kind bits and a caller value.
//
// A walk from a start node follows the edges whose kind holds every bit of
// the mask and gives each node it reaches the length of the longest path to
// it (the start is 1): a node is visited again whenever a longer path is
// found, and never through a node already on the current path, so cycles end
// the walk. After the walk every node of the result is searched depth-first
// for cycles through it. Reachable sets are cached per node for the last mask.
#include "ranges.h"

// walk_flags bit of the cycle search: the node has been searched from the
// current start.
constexpr uint32_t DAG_SEARCHED = 0x4000;

vector_t *dag_new_universe()
{
    return vec_new_default();
}

dag_node *dag_new_node(vector_t *universe, void *data)
{
    auto *n = static_cast<dag_node *>(xmalloc(sizeof(dag_node)));
    n->data = data;
    n->edges = vec_new_default();
    n->universe = universe;
    vec_push(universe, n);
    return n;
}

int dag_add_edge(dag_node *from, dag_node *to, int32_t value, uint32_t kind)
{
    if (from->universe != to->universe)
        msg_print("attempt to mix DAG universes");
    for (uint32_t i = 0; i < vec_count(from->edges); i++) {
        auto *e = static_cast<const dag_edge *>(vec_get(from->edges, i));
        if (e->target == to && e->value == value && e->kind == kind)
            return 0;
    }
    auto *e = static_cast<dag_edge *>(xmalloc(sizeof(dag_edge)));
    e->target = to;
    e->value = value;
    e->kind = kind;
    vec_push(from->edges, e);
    to->incoming++;
    return 1;
}

static void dag_visit(vector_t *result, dag_node *node, uint32_t depth, uint32_t mask)
{
    if ((node->walk_flags & DAG_ON_PATH) || node->depth >= depth)
        return;
    vec_push_unique(result, node);
    node->walk_flags |= DAG_ON_PATH;
    node->depth = depth;
    for (uint32_t i = 0; i < vec_count(node->edges); i++) {
        auto *e = static_cast<const dag_edge *>(vec_get(node->edges, i));
        if ((e->kind & mask) == mask)
            dag_visit(result, e->target, depth + 1, mask);
    }
    node->walk_flags &= ~DAG_ON_PATH;
}

// Depth-first over every edge whatever its kind; a node met again while it
// is on the current path lies on a cycle.
static void dag_mark_cycles(dag_node *node)
{
    if (node->walk_flags & DAG_ON_PATH) {
        node->marks |= DAG_CYCLE;
        return;
    }
    if (node->walk_flags & DAG_SEARCHED)
        return;
    node->walk_flags |= DAG_ON_PATH | DAG_SEARCHED;
    for (uint32_t i = 0; i < vec_count(node->edges); i++)
        dag_mark_cycles(static_cast<const dag_edge *>(vec_get(node->edges, i))->target);
    node->walk_flags &= ~DAG_ON_PATH;
}

static void dag_clear_flags(vector_t *universe, bool depth_too)
{
    for (uint32_t i = 0; i < vec_count(universe); i++) {
        auto *n = static_cast<dag_node *>(vec_get(universe, i));
        n->walk_flags = 0;
        if (depth_too)
            n->depth = 0;
    }
}

static int depth_ascending(const void *a, const void *b)
{
    uint32_t da = (*static_cast<dag_node *const *>(a))->depth;
    uint32_t db = (*static_cast<dag_node *const *>(b))->depth;
    return da < db ? -1 : da > db ? 1 : 0;
}

static int depth_descending(const void *a, const void *b)
{
    return depth_ascending(b, a);
}

vector_t *dag_sorted_nodes(dag_node *start, int direction, uint32_t mask)
{
    dag_clear_flags(start->universe, true);
    vector_t *result = vec_new_default();
    dag_visit(result, start, 1, mask);
    vec_sort(result, direction == 1 ? depth_ascending : depth_descending);
    for (uint32_t i = 0; i < vec_count(result); i++) {
        dag_clear_flags(start->universe, false);
        dag_mark_cycles(static_cast<dag_node *>(vec_get(result, i)));
    }
    dag_clear_flags(start->universe, false);
    return result;
}

bool dag_reaches(dag_node *a, dag_node *b, uint32_t mask)
{
    if (!a->reach_cache || a->reach_mask != mask) {
        if (a->reach_cache)
            vec_free(a->reach_cache);
        a->reach_cache = dag_sorted_nodes(a, 1, mask);
        a->reach_mask = mask;
    }
    return vec_index_of(a->reach_cache, b) != UINT32_MAX;
}
