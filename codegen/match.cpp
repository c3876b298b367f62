// Pattern lookup and the tree-pattern matcher.
//
// The tables map a (goal, operator) pair to its candidate run through a hash
// at goal x operator with linear probing; a run lists pattern numbers and
// ends with a negated one. The matcher is first-fit with backtracking: for a
// node and a goal it tries the candidates in run order; a candidate holds when
// its modes and predicates hold, the registers it destroys and the scratch
// registers it needs are free, and its operands match their goals with the
// registers left over. Operator records consume the node's operator at level
// 0; chain records add a level over the same node. Register availability
// travels down as sets; a failure says whether registers were short (2) or
// could not be arranged (4), and leaves the registers it lacked in the
// shortage set for the caller.
#include "select.h"

#include <cctype>
#include <cstring>
#include <vector>

const pattern_tables *patterns = &generated_patterns;
// Print each pattern tried and matched (to the message stream).
bool match_trace;
// Registers the last failed attempt was short of.
objset *match_shortage;
// The reachable registers of an address were not available.
bool match_unreachable;
// Registers of the current function: available for code, and written by it.
regset *func_available;
regset *func_used;
// Nesting of pattern_match calls.
static int match_depth;
// (node, goal) pairs being matched now: a chain rule never re-enters one.
static std::vector<std::pair<tree_node *, uint32_t>> active_goals;

// ---------------------------------------------------------------------------
// lookup
// ---------------------------------------------------------------------------
const pattern_record *pattern_at(uint32_t r)
{
    KASSERT(r < patterns->record_count);
    return &patterns->records[r];
}

// Steps: a pattern goal names its record directly; otherwise probe from the
// home row (goal x op) mod rows until the pair or an empty row.
int pattern_lookup(uint32_t goal, uint32_t op)
{
    if (goal >= GOAL_PATTERN) {
        uint32_t r = goal - GOAL_PATTERN;
        if (r == 0 || r >= patterns->record_count)
            return 0;
        uint32_t rop = patterns->records[r].op;
        return rop > 92 || rop == op ? -(int)r : 0;
    }
    uint32_t row = goal * op % PATTERN_HASH_ROWS;
    for (uint32_t probes = 0; probes < PATTERN_HASH_ROWS; probes++) {
        const pattern_hash_row &h = patterns->hash[row];
        if (h.list == 0)
            return 0;
        if ((uint32_t)h.goal == goal && (uint32_t)h.op == op)
            return h.list;
        row = row + 1 == PATTERN_HASH_ROWS ? 0 : row + 1;
    }
    return 0;
}

const char *pattern_result_text(uint32_t r, uint32_t k)
{
    const pattern_record *rec = pattern_at(r);
    if (rec->result_count == 0 || !rec->result)
        return "";
    if (rec->result_count == 1)
        return rec->result[0];
    uint32_t i = 0;
    while (i < k && rec->result[i + 1])
        i++;
    return rec->result[i];
}

// The candidates of a lookup result, in run order.
static std::vector<uint32_t> candidates_of(int l)
{
    std::vector<uint32_t> out;
    if (l < 0)
        out.push_back((uint32_t)-l);
    for (uint32_t i = (uint32_t)l; l > 0 && i < patterns->list_count; i++) {
        int16_t e = patterns->lists[i];
        out.push_back((uint32_t)(e < 0 ? -e : e));
        if (e < 0)
            break;
    }
    return out;
}

// ---------------------------------------------------------------------------
// register helpers
// ---------------------------------------------------------------------------
// An owned set, freed when the holder goes out of scope.
struct set_holder {
    objset *s;
    set_holder() : s(objset_new()) {}
    explicit set_holder(const objset *from) : s(from ? objset_copy(from) : objset_new()) {}
    ~set_holder() { objset_free(s); }
    set_holder(const set_holder &) = delete;
    set_holder &operator=(const set_holder &) = delete;
};

// Takes ownership of a set made elsewhere.
struct owned_set {
    objset *s;
    ~owned_set() { objset_free(s); }
};

static bool is_real_reg(uint32_t r)
{
    return r > 0 && r < REG_TEMP_BASE;
}

static void note_shortage(const objset *s)
{
    if (objset_is_empty(match_shortage))
        objset_union_with(match_shortage, s);
}

static uint32_t top_result(tree_node *n)
{
    return n && n->level_count ? n->result_reg[n->level_count - 1] : 0;
}

// The register of a REG node or a register variable, else 0.
static uint32_t own_register(tree_node *n)
{
    if (n->op == OP_REG)
        return (uint32_t)n->value;
    if (n->op == OP_ID && n->sym && n->sym->storage == ST_REGISTER)
        return n->sym->reg;
    return 0;
}

objset *operand_wish(const objset *preferred, uint32_t wish, tree_node *node)
{
    objset *out = objset_new();
    if (wish >= REG_TEMP_BASE) {
        if (preferred)
            objset_union_with(out, preferred);
        objset_union_with(out, node->sets[SET_NAMED]);
        return out;
    }
    const regset *w = wish ? regset_of(wish) : nullptr;
    if (preferred && !objset_is_empty(preferred) && w && objset_intersects(preferred, w)) {
        objset_assign(out, preferred);
        objset_intersect_with(out, w);
    } else if (w) {
        objset_union_with(out, w);
    }
    return out;
}

// The register holding the value of the pattern at the node's top level: by
// the kind of its result text (left or right operand's result, scratch,
// second scratch) or the node's own register.
uint32_t result_register(tree_node *node)
{
    int lv = node->level_count - 1;
    KASSERT(lv >= 0);
    const pattern_record *rec = pattern_at((uint32_t)node->pattern[lv]);
    if ((rec->flags & PK_MASK) == PK_inreg)
        return own_register(node);
    const char *t = rec->result_count ? rec->result[0] : "";
    if (*t == '~')
        t++;
    switch (*t) {
    case 'X':
    case 'Y': {
        uint32_t r = *t == 'X' ? node->scratch_reg[lv] : node->third_reg[lv];
        if (!r)
            msg_report(704);
        return r;
    }
    case 'L':
        return lv > 0 ? node->result_reg[lv - 1] : top_result(node->left);
    case 'R':
        return top_result(node->right);
    case 'G':
        if (!own_register(node))
            msg_report(703);
        return own_register(node);
    default:
        return 0;
    }
}

// The registers a result text names by their names, as whole words.
static void add_named_registers(objset *into, const char *text)
{
    for (uint32_t r = 1; r <= REG_ALLREG; r++) {
        const char *name = register_name(r);
        size_t len = strlen(name);
        for (const char *p = strstr(text, name); len && p; p = strstr(p + 1, name)) {
            bool starts = p == text || !(isalnum((unsigned char)p[-1]) || p[-1] == '_');
            bool ends = !(isalnum((unsigned char)p[len]) || p[len] == '_' || p[len] == '+');
            if (starts && ends) {
                regset_add_reg(into, r);
                break;
            }
        }
    }
}

// Rebuilds the node's used and result sets after a level was recorded.
void result_sets(tree_node *node)
{
    int lv = node->level_count - 1;
    const pattern_record *rec = pattern_at((uint32_t)node->pattern[lv]);
    uint32_t f = rec->flags;
    objset *used = node->sets[SET_USED], *res = node->sets[SET_RESULT];
    tree_node *below = lv > 0 ? nullptr : node->left;
    set_holder below_used(below ? below->sets[SET_USED] : used);
    set_holder below_res(below ? below->sets[SET_RESULT] : res);
    uint32_t below_reg = lv > 0 ? node->result_reg[lv - 1] : top_result(node->left);
    objset_clear(used);
    objset_clear(res);
    if (f & PF_offer_left) {
        objset_union_with(used, below_used.s);
        objset_union_with(res, below_res.s);
    }
    if ((f & PF_left_result) && below_reg)
        regset_add_reg(res, below_reg);
    if ((f & PF_offer_right) && node->right && lv == 0) {
        objset_union_with(used, node->right->sets[SET_USED]);
        objset_union_with(res, node->right->sets[SET_RESULT]);
    }
    if ((f & PF_right_result) && top_result(node->right))
        regset_add_reg(res, top_result(node->right));
    if ((f & PF_scratch_result) && is_real_reg(node->scratch_reg[lv])) {
        regset_add_reg(res, node->scratch_reg[lv]);
        regset_add_reg(used, node->scratch_reg[lv]);
    }
    if ((f & PF_busy_down) && is_real_reg(node->third_reg[lv]))
        regset_add_reg(res, node->third_reg[lv]);
    if ((f & PF_own_reg) && own_register(node))
        regset_add_reg(res, own_register(node));
    if ((f & PF_result_text_regs) && rec->result_count)
        add_named_registers(res, rec->result[0]);
    if (lv == 1 && node->call_token)
        objset_add(used, node->call_token);
}

// ---------------------------------------------------------------------------
// matching
// ---------------------------------------------------------------------------
bool predicates_hold(const pattern_record *rec, tree_node *node)
{
    for (uint32_t p : rec->pred) {
        if (!p)
            return true;
        bool want = !(p & PRED_NEGATED);
        if (predicate_eval(p & ~(uint32_t)PRED_NEGATED, node) != want)
            return false;
    }
    return true;
}

static void trace(const char *label, tree_node *node, uint32_t goal, uint32_t r, const char *what)
{
    if (!match_trace)
        return;
    const char *g = goal >= GOAL_FIRST && goal <= GOAL_LAST ? patterns->goal_names[goal - GOAL_FIRST] : "";
    int line = patterns->lines ? patterns->lines[r] : 0;
    msg_print("%*s%s%s %s pattern %u (line %d) %s", match_depth, "", label, op_spelling[node->op], g, r,
              line, what);
}

// Whether the operands can reach the goals the record asks (step 7.2).
static bool operands_fit(const pattern_record *rec, tree_node *node)
{
    if (rec->op > 91)
        return true;
    if (rec->left_goal) {
        if (!node->left || !pattern_lookup(rec->left_goal, node->left->op))
            return false;
        if (rec->left_goal >= GOAL_PATTERN &&
            !predicates_hold(pattern_at(rec->left_goal - GOAL_PATTERN), node->left))
            return false;
    }
    return !rec->right_goal || (node->right && pattern_lookup(rec->right_goal, node->right->op));
}

// Picks a member of a scratch class from a set; 0 when none is free.
static uint32_t pick_member(const objset *from, uint32_t cls)
{
    if (cls >= REG_TEMP_BASE)
        return cls;
    return reg_class_member(from, cls);
}

// The state of one candidate being tried.
struct attempt {
    tree_node *node;
    const pattern_record *rec;
    uint32_t r;
    const objset *available, *busy, *preferred;
    uint32_t scratch = 0, scratch2 = 0;
    int bits = 0;
};

static void clear_levels(tree_node *node)
{
    node->level_count = 0;
    objset_clear(node->sets[SET_USED]);
    objset_clear(node->sets[SET_RESULT]);
    objset_clear(node->sets[SET_WRITTEN]);
}

// Matches one operand for its goal; reports the operand's failure bits.
static int match_operand(tree_node *op, uint32_t goal, const objset *avail, const objset *busy,
                         const objset *offer, const char *label)
{
    return pattern_match(op, goal, avail, busy, objset_is_empty(offer) ? nullptr : offer, label);
}

// Both operands in one order: first, then second with the first's result
// registers taken away.
static int match_pair(attempt &a, bool left_first, const objset *lav, const objset *rav,
                      const objset *loffer, const objset *roffer)
{
    tree_node *n = a.node;
    tree_node *first = left_first ? n->left : n->right, *second = left_first ? n->right : n->left;
    uint32_t g1 = left_first ? a.rec->left_goal : a.rec->right_goal;
    uint32_t g2 = left_first ? a.rec->right_goal : a.rec->left_goal;
    const objset *av1 = left_first ? lav : rav, *av2 = left_first ? rav : lav;
    const objset *of1 = left_first ? loffer : roffer, *of2 = left_first ? roffer : loffer;
    int r = match_operand(first, g1, av1, a.busy, of1, left_first ? "LEFT " : "RIGHT ");
    if (r)
        return r;
    set_holder av(av2), busy(a.busy);
    objset_subtract_with(av.s, first->sets[SET_RESULT]);
    objset_union_with(busy.s, first->sets[SET_RESULT]);
    return match_operand(second, g2, av.s, busy.s, of2, left_first ? "RIGHT " : "LEFT ");
}

static bool sets_meet(tree_node *a, int sa, tree_node *b, int sb)
{
    return objset_intersects(a->sets[sa], b->sets[sb]);
}

// Step 7.12 for an operator record: the operands in a working order.
static int match_operands(attempt &a, const objset *lav, const objset *rav, const objset *loffer,
                          const objset *roffer)
{
    tree_node *n = a.node;
    clear_levels(n);
    if (!a.rec->left_goal)
        return 0;
    if (!a.rec->right_goal)
        return match_operand(n->left, a.rec->left_goal, lav, a.busy, loffer, "LEFT ");
    if (op_attr[n->op] & OA_SEQUENCE)
        n->flags |= NF_ORDER_FIXED;
    uint32_t kind = a.rec->flags & PK_MASK;
    bool fixed = n->flags & NF_ORDER_FIXED;
    bool left_first = fixed ? (n->flags & NF_LEFT_FIRST) != 0 : kind == PK_left_first;
    int r = match_pair(a, left_first, lav, rav, loffer, roffer);
    if (r && !fixed && kind != PK_left_first && kind != PK_right_first) {
        left_first = !left_first;
        r = match_pair(a, left_first, lav, rav, loffer, roffer);
    }
    if (r)
        return r;
    n->flags &= ~(uint32_t)(NF_LEFT_FIRST | NF_RIGHT_FIRST);
    n->flags |= left_first ? NF_LEFT_FIRST : NF_RIGHT_FIRST;
    bool both_free = (a.rec->flags & PF_scratch_to_left) && (a.rec->flags & PF_scratch_to_right);
    if (fixed || n->op == OP_COLON || both_free || kind == PK_left_first || kind == PK_right_first)
        return 0;
    if (!sets_meet(n->right, SET_RESULT, n->left, SET_USED) &&
        !sets_meet(n->right, SET_USED, n->left, SET_WRITTEN))
        n->flags &= ~(uint32_t)(NF_LEFT_FIRST | NF_RIGHT_FIRST);
    else if (!(n->flags & NF_NEVER_LEFT) && !sets_meet(n->left, SET_RESULT, n->right, SET_USED) &&
             !sets_meet(n->left, SET_USED, n->right, SET_WRITTEN))
        n->flags = (n->flags & ~(uint32_t)NF_RIGHT_FIRST) | NF_LEFT_FIRST;
    return 0;
}

// Steps 7.4-7.10: registers the record destroys and the scratch registers it
// takes. Returns false (with a.bits set) when they are not to be had.
static bool take_registers(attempt &a)
{
    const pattern_record *rec = a.rec;
    const regset *clob = regset_from_mask(rec->clobber);
    if (rec->clobber && !objset_includes(a.available, clob)) {
        set_holder lack(clob);
        objset_subtract_with(lack.s, a.available);
        objset_union_with(match_shortage, lack.s);
        a.bits |= MATCH_SHORT;
        return false;
    }
    if (rec->scratch && rec->scratch < REG_TEMP_BASE && !objset_intersects(a.available, regset_of(rec->scratch))) {
        note_shortage(regset_of(rec->scratch));
        a.bits |= objset_intersects(a.busy, regset_of(rec->scratch)) ? MATCH_ARRANGE : MATCH_SHORT;
        return false;
    }
    uint32_t own = own_register(a.node);
    if ((rec->flags & PK_MASK) == PK_inreg && own && objset_contains(a.available, own) && a.preferred &&
        !regset_has(a.preferred, own)) {
        a.bits |= MATCH_ARRANGE;
        return false;
    }
    if (rec->scratch2) {
        set_holder free_regs(a.available);
        objset_subtract_with(free_regs.s, a.busy);
        a.scratch2 = pick_member(free_regs.s, rec->scratch2);
        if (!a.scratch2) {
            objset_assign(free_regs.s, a.available);
            objset_subtract_with(free_regs.s, a.node->sets[SET_RESULT]);
            a.scratch2 = pick_member(free_regs.s, rec->scratch2);
        }
        if (!a.scratch2) {
            a.bits |= MATCH_ARRANGE;
            return false;
        }
    }
    if (rec->scratch) {
        bool offered = (rec->flags & PK_MASK) == PK_offered && a.preferred;
        a.scratch = pick_member(offered ? a.preferred : a.available, rec->scratch);
        if (!a.scratch) {
            note_shortage(regset_of(rec->scratch));
            a.bits |= objset_intersects(a.busy, regset_of(rec->scratch)) ? MATCH_ARRANGE : MATCH_SHORT;
            return false;
        }
    }
    return true;
}

// Records the candidate as the node's next level (steps 7.14-7.17); false
// when the result does not land where the parent wants it.
static bool record_level(attempt &a)
{
    tree_node *n = a.node;
    if (n->level_count >= NODE_LEVELS) {
        a.bits |= MATCH_ARRANGE;
        return false;
    }
    int lv = n->level_count++;
    n->pattern[lv] = (int16_t)a.r;
    n->scratch_reg[lv] = a.scratch;
    n->third_reg[lv] = a.scratch2;
    n->result_reg[lv] = result_register(n);
    uint32_t res = n->result_reg[lv];
    if (a.rec->left_wish >= REG_TEMP_BASE && is_real_reg(res)) {
        n->level_count--;
        return false;
    }
    result_sets(n);
    if (lv == 1) {
        for (tree_node *op : {n->left, n->right})
            if (op && op_arity((int)n->op) != OA_NOT_EXPR && op_arity((int)n->op) >= OA_UNARY)
                objset_union_with(n->sets[SET_WRITTEN], op->sets[SET_WRITTEN]);
    }
    if (a.preferred && !objset_is_empty(a.preferred) && is_real_reg(res) && !regset_has(a.preferred, res)) {
        note_shortage(a.preferred);
        n->level_count--;
        a.bits |= MATCH_ARRANGE;
        return false;
    }
    objset_union_with(n->sets[SET_WRITTEN], regset_from_mask(a.rec->clobber));
    if (is_real_reg(a.scratch))
        regset_add_reg(n->sets[SET_WRITTEN], a.scratch);
    objset_union_with(n->sets[SET_WRITTEN], n->sets[SET_NAMED]);
    if (lv == 0 && op_arity((int)n->op) == OA_BINARY)
        for (tree_node *op : {n->left, n->right})
            if (op)
                objset_union_with(n->sets[SET_WRITTEN], op->sets[SET_WRITTEN]);
    if (lv == 0 && op_arity((int)n->op) == OA_UNARY && n->left)
        objset_union_with(n->sets[SET_WRITTEN], n->left->sets[SET_WRITTEN]);
    for (uint32_t i = 0; n->op == OP_CALLARGS && n->args && i < vec_count(n->args); i++) {
        tree_node *arg = (tree_node *)vec_get(n->args, i);
        for (int s : {SET_WRITTEN, SET_USED, SET_RESULT})
            objset_union_with(n->sets[s], arg->sets[s]);
    }
    return true;
}

// One candidate, steps 7.1-7.17.
static bool try_candidate(attempt &a, uint32_t goal)
{
    tree_node *n = a.node;
    const pattern_record *rec = a.rec;
    if ((rec->mode_mask & run.mode_word) != rec->mode_mask || !operands_fit(rec, n) ||
        !predicates_hold(rec, n)) {
        a.bits |= MATCH_NONE;
        return false;
    }
    if (!take_registers(a))
        return false;
    bool chain = rec->op > 91;
    // the parent's preferred set reaches an operand only when the record says so
    const objset *lpref = (rec->flags & PF_offer_left) ? a.preferred : nullptr;
    const objset *rpref = (rec->flags & PF_offer_right) ? a.preferred : nullptr;
    owned_set loffer_h{operand_wish(lpref, rec->left_wish, n)};
    owned_set roffer_h{operand_wish(rpref, rec->right_wish, n)};
    set_holder lav(a.available), rav(a.available);
    for (objset *s : {lav.s, rav.s})
        objset_union_with(s, n->sets[SET_NAMED]);
    if (!(rec->flags & PF_scratch_to_left))
        for (uint32_t r : {a.scratch, a.scratch2})
            if (is_real_reg(r))
                objset_subtract_with(lav.s, regset_of(r));
    if (!(rec->flags & PF_scratch_to_right))
        for (uint32_t r : {a.scratch, a.scratch2})
            if (is_real_reg(r))
                objset_subtract_with(rav.s, regset_of(r));
    int r;
    if (chain) {
        trace("NONT ", n, goal, a.r, "tried");
        r = pattern_match(n, rec->op, lav.s, a.busy, objset_is_empty(loffer_h.s) ? nullptr : loffer_h.s,
                          "NONT ");
    } else {
        r = match_operands(a, lav.s, rav.s, loffer_h.s, roffer_h.s);
    }
    if (r) {
        a.bits |= r;
        return false;
    }
    return record_level(a);
}

// Step 4: the elements of an argument list, each for the same goal; an
// element short of registers makes the earlier ones give theirs up.
static int match_list(tree_node *node, uint32_t goal, const objset *available, const objset *busy)
{
    set_holder av(available), bz(busy);
    for (uint32_t i = 0; i < vec_count(node->args); i++) {
        tree_node *arg = (tree_node *)vec_get(node->args, i);
        int r = pattern_match(arg, goal, av.s, bz.s, nullptr, "LIST ");
        if (r == MATCH_SHORT) {
            for (uint32_t j = 0; j < i; j++) {
                tree_node *prev = (tree_node *)vec_get(node->args, j);
                if (objset_intersects(prev->sets[SET_RESULT], match_shortage)) {
                    prev->flags |= NF_ARG_PLACED;
                    objset_subtract_with(bz.s, prev->sets[SET_RESULT]);
                    objset_union_with(av.s, prev->sets[SET_RESULT]);
                }
            }
            objset_clear(match_shortage);
            r = pattern_match(arg, goal, av.s, bz.s, nullptr, "LIST ");
        }
        if (r)
            return r;
        objset_union_with(bz.s, arg->sets[SET_RESULT]);
        objset_subtract_with(av.s, arg->sets[SET_RESULT]);
    }
    return 0;
}

// Steps 1-3 and 6: what must hold before any candidate is tried.
static int node_fits(tree_node *node, const objset *available, const objset *preferred)
{
    const objset *needed = node->sets[SET_NEEDED];
    if (!objset_is_empty(needed) && !objset_includes(available, needed)) {
        set_holder with_named(available);
        objset_union_with(with_named.s, node->sets[SET_NAMED]);
        if (objset_is_empty(node->sets[SET_NAMED]) || !objset_includes(with_named.s, needed)) {
            // the registers the node needs and cannot have are the shortage
            set_holder lack(needed);
            objset_subtract_with(lack.s, available);
            objset_assign(match_shortage, lack.s);
            return MATCH_SHORT;
        }
    }
    if (node->call_token && !objset_contains(available, node->call_token))
        return MATCH_SHORT;
    if (preferred) {
        set_holder p(preferred);
        objset_remove(p.s, REG_ALLREG);
        if (!objset_is_empty(p.s) && !objset_intersects(p.s, available) &&
            !objset_intersects(p.s, node->sets[SET_NEEDED])) {
            note_shortage(p.s);   // what the parent wants the value in is short
            return MATCH_SHORT;
        }
    }
    return 0;
}

// The result of a run in which no candidate held (step 8).
static int failure_bits(tree_node *node, int bits, const objset *busy, const objset *preferred)
{
    if (!bits)
        bits = MATCH_NONE | MATCH_SHORT | MATCH_ARRANGE;
    else if (bits & ~MATCH_NONE)
        bits &= ~MATCH_NONE;
    if (objset_is_empty(busy) && preferred) {
        bits &= ~MATCH_ARRANGE;
        if (!bits)
            bits = MATCH_SHORT;
    }
    if (node->op == OP_ADDR && node->left && !objset_is_empty(node->left->sets[SET_NAMED])) {
        if (own_register(node->left))
            objset_assign(match_shortage, node->left->sets[SET_NAMED]);
        else
            objset_union_with(match_shortage, node->left->sets[SET_NAMED]);
    }
    return bits;
}

static int match_candidates(tree_node *node, uint32_t goal, const objset *available, const objset *busy,
                            const objset *preferred, const char *label)
{
    int l = pattern_lookup(goal, node->op);
    if (!l)
        return MATCH_NONE;
    if (int r = node_fits(node, available, preferred))
        return r;
    int bits = 0;
    for (uint32_t r : candidates_of(l)) {
        attempt a{node, pattern_at(r), r, available, busy, preferred};
        bool ok = try_candidate(a, goal);
        bits |= a.bits;
        trace(label, node, goal, r, ok ? "matched" : "failed");
        if (ok)
            return MATCH_OK;
    }
    return failure_bits(node, bits, busy, preferred);
}

int pattern_match(tree_node *node, uint32_t goal, const objset *available, const objset *busy,
                  const objset *preferred, const char *label)
{
    if (!match_shortage)
        match_shortage = objset_new();
    if (match_depth++ > 1000)
        msg_report(701);
    for (auto &[n, g] : active_goals)
        if (n == node && g == goal) {
            match_depth--;
            return MATCH_ARRANGE;
        }
    active_goals.emplace_back(node, goal);
    set_holder empty;
    int r = 0;
    if (node->args && vec_count(node->args))
        r = match_list(node, goal, available, busy ? busy : empty.s);
    if (!r)
        r = match_candidates(node, goal, available, busy ? busy : empty.s, preferred, label);
    active_goals.pop_back();
    match_depth--;
    return r;
}

// The registers the REG leaves of a tree name.
static void collect_named(tree_node *n, objset *into)
{
    if (!n)
        return;
    objset_clear(n->sets[SET_NAMED]);
    int arity = op_arity((int)n->op);
    if (arity == OA_UNARY || arity == OA_BINARY) {
        collect_named(n->left, n->sets[SET_NAMED]);
        if (arity == OA_BINARY)
            collect_named(n->right, n->sets[SET_NAMED]);
    }
    for (uint32_t i = 0; n->args && i < vec_count(n->args); i++)
        collect_named((tree_node *)vec_get(n->args, i), n->sets[SET_NAMED]);
    if (uint32_t r = own_register(n))
        regset_add_reg(n->sets[SET_NAMED], r);
    objset_union_with(into, n->sets[SET_NAMED]);
}

// A call token of a tree: the parameter area of a function it calls.
static tree_node *collect_call_tokens(void *into, tree_node *n, int, int, int, long *)
{
    if (n->call_token)
        objset_add((objset *)into, n->call_token);
    return n;
}

int cg_match_tree(tree_node *tree, uint32_t goal, const regset *available)
{
    if (tree->op == OP_ASM)
        return 0;
    node_set_position(tree);
    set_holder named, busy;
    collect_named(tree, named.s);
    objset_union_with(busy.s, named.s);
    // a statement's own calls have their parameter areas free: no other
    // call of the statement holds arguments in them
    set_holder avail(available);
    long result = 0;
    tree_walk(WALK_PREORDER, avail.s, tree, collect_call_tokens, 0, 0, 0, &result);
    available = avail.s;
    if (!match_shortage)
        match_shortage = objset_new();
    objset_clear(match_shortage);
    match_unreachable = false;
    match_depth = 0;
    active_goals.clear();   // a match cut short by a fatal message leaves none behind
    return pattern_match(tree, goal, available, busy.s, nullptr, "ROOT ");
}

void cg_statement(tree_node *tree, int line)
{
    if (tree->op == OP_EMPTY)
        return;
    if (!func_available)
        match_reset();
    if (cg_match_tree(tree, GOAL_STATEMENT, func_available)) {
        msg_report_once(712);
        return;
    }
    cg_emit_tree(tree, line);
}

void match_reset()
{
    if (!match_shortage)
        match_shortage = objset_new();
    objset_clear(match_shortage);
    match_unreachable = false;
    match_trace = false;
    match_depth = 0;
    active_goals.clear();
    patterns = &generated_patterns;
    if (!func_available)
        func_available = objset_new();
    if (!func_used)
        func_used = objset_new();
    objset_clear(func_used);
    objset_assign(func_available, regset_of(REG_ALLREG));
}
