// A conformance sweep: portable C89 translation units, each known to be
// valid or invalid, read by the chain's preprocessor and parser (wren and
// plover with the driver's switches) and by the host's
// `gcc -std=c89 -pedantic-errors -fsyntax-only`, the independent reference.
//
// A reader is "clean" on a unit when it exits 0 and says nothing, else it
// "diagnoses" it: C89 asks a diagnostic for every constraint violation, and
// gcc gives some of them as warnings. plover's lint warnings (lint_messages)
// say nothing of validity and do not count.
//
// - valid units: gcc and plover are both clean (gcc agreeing keeps the
//   table's word honest);
// - invalid units: gcc diagnoses, plover reports the numbered message that belongs to the fault;
// - documented differences: units this system's dialect defines otherwise
//   than C89, each with its reason: gcc gives the other verdict, and plover
//   does what the row says. A row that no longer differs fails, so the table
//   lists only what differs;
// - generated units: arrays (named, local, members through `.` and `->`,
//   rows from subscripts and from `*`, parameters) and functions under every
//   operator whose operand decays, one form a line (a message's line names
//   the form): all valid.
#include "plover_run.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <regex>
#include <thread>
#include <vector>

namespace {

// plover's warnings that judge style, not validity: a valid unit may draw them.
const int lint_messages[] = {
    340, // a string that fills its array exactly, without its zero
    343, // implicit return at the end of a function whose every path returns
    345, // unreachable code
    346, // a declaration hides an outer one
    349, // a function declared without a prototype (the driver's #pragma regarg)
    350, // an unused label, tag or typedef
    361, // a function called before any declaration: declared implicitly, as C89 says
    363, // a redundant & or * on a function designator
};

struct unit_case {
    std::string name;
    int message;        // 0: a valid unit; else the message plover reports
    std::string source;
};

// Valid C89: no reader may diagnose them.
const unit_case valid_units[] = {
    {"kr_def", 0, "int f(a, b) int a; char b; { return a + b; }\n"},
    {"kr_implicit_int", 0, "f(a) { return a; }\n"},
    {"proto_unnamed", 0, "int f(int, char *);\n"
                         "int f(int a, char *b) { return a + *b; }\n"},
    {"varargs_decl", 0, "int f(int n, ...);\n"
                        "int g(void) { return f(1, 2, 3); }\n"},
    {"typedef_chain", 0, "typedef int I;\n"
                         "typedef I *IP;\n"
                         "typedef IP A[3];\n"
                         "A a;\n"
                         "int f(void) { return *a[1]; }\n"},
    {"typedef_func", 0, "typedef int F(int);\n"
                        "F g;\n"
                        "int g(int x) { return x; }\n"
                        "F *fp = g;\n"},
    {"enum", 0, "enum e { A, B = 5, C };\n"
                "enum e v = C;\n"
                "int a[C];\n"},
    {"struct_self", 0, "struct n { int v; struct n *next; };\n"
                       "struct n a, b = { 1, &a };\n"},
    {"struct_incomplete", 0, "struct t;\n"
                             "struct t *p;\n"
                             "struct t { int x; };\n"
                             "int f(void) { return p->x; }\n"},
    {"union", 0, "union u { int i; char c[2]; } x;\n"
                 "int f(void) { x.i = 1; return x.c[0]; }\n"},
    {"struct_assign", 0, "struct s { int a, b; } x, y;\n"
                         "void f(void) { x = y; }\n"},
    {"struct_param", 0, "struct s { int a, b; };\n"
                        "int f(struct s v) { return v.a; }\n"},
    {"struct_return", 0, "struct s { char a, b; };\n"
                         "struct s f(void) { struct s r; r.a = 1; r.b = 2; return r; }\n"},
    {"nested_struct", 0, "struct o { struct i { int a; } in; int b; } v;\n"
                         "struct i w;\n"
                         "int f(void) { return v.in.a + w.a; }\n"},
    {"init_nested", 0, "struct p { int x, y; };\n"
                       "struct p pts[2] = { { 1, 2 }, { 3, 4 } };\n"
                       "int m[2][2] = { 1, 2, 3, 4 };\n"},
    {"init_brace_elision", 0, "struct p { int x; int y[2]; } v = { 1, 2, 3 };\n"},
    {"init_string_exact", 0, "char s[2] = \"ab\";\n"},
    {"init_string_braced", 0, "char s[] = { \"ab\" };\n"},
    {"init_scalar_braced", 0, "int x = { 3 };\n"},
    {"init_auto_expr", 0, "int g(void);\n"
                          "int f(void) { int a = g() + 1; int b = a * 2; return b; }\n"},
    {"init_union", 0, "union u { int i; char c; } x = { 3 };\n"},
    {"static_local", 0, "int f(void) { static int n = 0; return ++n; }\n"},
    {"extern_local", 0, "int f(void) { extern int g; return g; }\n"
                        "int g = 2;\n"},
    {"tentative", 0, "int x;\n"
                     "int x;\n"
                     "int x = 3;\n"},
    {"register", 0, "int f(register int a) { register int b = a; return b; }\n"},
    {"auto", 0, "int f(void) { auto int a = 1; return a; }\n"},
    {"const_ptr", 0, "const int c = 3;\n"
                     "const int *pc = &c;\n"
                     "int *const cp = 0;\n"
                     "int f(void) { return *pc; }\n"},
    {"volatile", 0, "volatile int v;\n"
                    "int f(void) { return v; }\n"},
    {"cast_void", 0, "int g(void);\n"
                     "void f(void) { (void)g(); }\n"},
    {"void_ptr", 0, "void *vp;\n"
                    "int x;\n"
                    "void f(void) { int *p; vp = &x; p = vp; *p = 1; }\n"},
    {"func_ptr_array", 0, "int a(void), b(void);\n"
                          "int (*t[2])(void) = { a, b };\n"
                          "int f(void) { return t[1](); }\n"},
    {"func_ptr_return", 0, "int g(int);\n"
                           "int (*sel(void))(int) { return g; }\n"
                           "int f(void) { return sel()(3); }\n"},
    {"ptr_to_array", 0, "int a[3][4];\n"
                        "int (*p)[4] = a;\n"
                        "int f(void) { return p[1][2] + (*p)[1]; }\n"},
    {"abstract_sizeof", 0, "int x = sizeof(int (*)[3]) + sizeof(char *[2]);\n"},
    {"cast_abstract", 0, "int a[4];\n"
                         "int f(void) { return ((int (*)[2])a)[1][0]; }\n"},
    {"switch", 0, "int f(int x) { switch (x) { case 1: return 2; case 2: case 3: x++; break; default: ; } return x; }\n"},
    {"switch_char", 0, "int f(char c) { switch (c) { case 'a': return 1; } return 0; }\n"},
    {"goto", 0, "int f(int x) { again: if (x-- > 0) goto again; return x; }\n"},
    {"label_ns", 0, "int f(void) { int x = 0; x: return x; }\n"},
    {"tag_ns", 0, "struct x { int x; } x;\n"
                  "int f(void) { return x.x; }\n"},
    {"shadow", 0, "int x;\n"
                  "int f(int y) { int x = y; { int x = 2; y += x; } return x + y; }\n"},
    {"loops", 0, "int f(int n) { int i, s = 0; for (i = 0; i < n; i++) { if (i & 1) continue; s += i; } while (s > 100) s -= 3; do s++; while (s < 0); return s; }\n"},
    {"for_empty", 0, "void f(void) { for (;;) break; }\n"},
    {"comma_expr", 0, "int f(int a, int b) { return a++, b++, a + b; }\n"},
    {"cond_void", 0, "void g(void), h(void);\n"
                     "void f(int c) { c ? g() : h(); }\n"},
    {"cond_ptr_null", 0, "int *p;\n"
                         "int *f(int c) { return c ? p : 0; }\n"},
    {"cond_voidp", 0, "int *p; void *v;\n"
                      "void f(int c) { v = c ? v : p; }\n"},
    {"string_concat", 0, "char s[] = \"ab\" \"cd\";\n"
                         "int n = sizeof \"ab\" \"c\";\n"},
    {"escapes", 0, "char s[] = \"\\n\\t\\\\\\\"\\x41\\101\\0\";\n"
                   "int c = '\\'' + '\\377';\n"},
    {"consts", 0, "long a = 123456789L;\n"
                  "unsigned b = 0xFFu;\n"
                  "int c = 017;\n"
                  "long d = 0x7FFFFFFFL;\n"},
    {"float", 0, "double d = 1.5e3;\n"
                 "float g = 2.0f;\n"
                 "int f(void) { return (int)(d * g); }\n"},
    {"float_ops", 0, "double a, b;\n"
                     "int f(void) { a = b / 3.0 + 1; return a < b; }\n"},
    {"long_ops", 0, "long a, b;\n"
                    "int f(void) { a = b % 7 + (b << 3) - ~b; return a > 0; }\n"},
    {"unsigned_mix", 0, "unsigned u; int i;\n"
                        "int f(void) { return u + i > 0; }\n"},
    {"char_arith", 0, "char c; unsigned char uc;\n"
                      "int f(void) { c = uc + 1; return c; }\n"},
    {"compound_ops", 0, "int x;\n"
                        "void f(void) { x += 1; x -= 2; x *= 3; x /= 4; x %= 5; x <<= 1; x >>= 1; x &= 7; x ^= 2; x |= 8; }\n"},
    {"ptr_compound", 0, "int a[4], *p = a;\n"
                        "void f(void) { p += 2; p -= 1; p++; --p; }\n"},
    {"ptr_diff", 0, "int a[4];\n"
                    "int f(void) { int *p = &a[3], *q = a; return p - q; }\n"},
    {"array_param_2d", 0, "int f(int m[][3]) { return m[1][2]; }\n"},
    {"addr_elem", 0, "int a[4];\n"
                     "int *p = &a[2];\n"
                     "int *q = a + 2;\n"},
    {"addr_member", 0, "struct s { int a; int b[2]; } v;\n"
                       "int *p = &v.a;\n"
                       "int *q = v.b;\n"},
    {"sizeof_expr", 0, "int a[4];\n"
                       "int n = sizeof a / sizeof a[0];\n"},
    {"sizeof_struct", 0, "struct s { char c; int i; };\n"
                         "int n = sizeof(struct s);\n"},
    {"neg_unsigned", 0, "unsigned u;\n"
                        "void f(void) { u = -u; }\n"},
    {"logical", 0, "int f(int a, int b) { return !a || (a && !b); }\n"},
    {"shift", 0, "int f(int a) { return (a << 2) >> 1; }\n"},
    {"decl_after_label_block", 0, "int f(void) { { int a = 1; return a; } }\n"},
    {"empty_stmt", 0, "void f(void) { ; ; }\n"},
    {"void_return", 0, "void f(void) { return; }\n"},
    {"proto_scope", 0, "int f(int n, int a[]);\n"},
    {"old_decl_call", 0, "int g();\n"
                         "int f(void) { return g(1, 2); }\n"},
    {"implicit_func", 0, "int f(void) { return g(1); }\n"},
    {"multi_decl", 0, "int a, *b, c[3], (*d)(void), **e;\n"},
    {"qual_order", 0, "int const a = 1;\n"
                      "const volatile int b;\n"
                      "static const int c = 2;\n"},
    {"ptr_qual", 0, "char *const *volatile pp;\n"},
    {"enum_tag_later", 0, "enum e { Q };\n"
                          "enum e g(void) { return Q; }\n"},
    {"char_array_2d", 0, "char names[2][4] = { \"ab\", \"cd\" };\n"},
    {"unary_plus", 0, "int f(int a) { return +a; }\n"},
    {"cast_chain", 0, "int f(long l) { return (int)(char)(unsigned)l; }\n"},
    {"ptr_cast_int", 0, "int *p;\n"
                        "int f(void) { return p == (int *)0; }\n"},
    {"null_cmp", 0, "int *p;\n"
                    "int f(void) { return 0 == p; }\n"},
    {"deref_fn_ptr_member", 0, "struct s { int (*op)(int); } v;\n"
                               "int f(void) { return v.op(1) + (*v.op)(2); }\n"},
    {"array_of_struct_member", 0, "struct s { int a[2]; } t[3];\n"
                                  "int f(void) { return t[1].a[1] + *t[2].a + (*t).a[0]; }\n"},
    {"arrow_on_array", 0, "struct s { int a; } t[3];\n"
                          "int f(void) { return t->a + (t + 1)->a; }\n"},
    {"string_index", 0, "int f(int i) { return \"abc\"[i] + *\"xy\"; }\n"},
    {"incomplete_array_extern", 0, "extern int ext[];\n"
                                   "int f(void) { return ext[2] + *ext; }\n"},
    {"long_identifier", 0, "int a_very_long_identifier_name_with_many_characters_1;\n"},
    {"hex_escape_char", 0, "char c = '\\x7f';\n"},
    {"nested_cond", 0, "int f(int a) { return a > 0 ? a > 5 ? 2 : 1 : 0; }\n"},
    {"assign_chain", 0, "int a, b, c;\n"
                        "void f(void) { a = b = c = 1; }\n"},
    {"paren_declarator", 0, "int (x);\n"
                            "int (f)(void) { return x; }\n"},
    {"unsigned_char_array_init", 0, "unsigned char t[] = { 1, 2, 255 };\n"},
    {"const_expr_array", 0, "int a[2 * 3 + (4 > 3)];\n"},
    {"sizeof_in_case", 0, "int f(int x) { switch (x) { case sizeof(int): return 1; } return 0; }\n"},
    {"local_struct_decl", 0, "int f(void) { struct l { int a; } v; v.a = 1; return v.a; }\n"},
    {"local_typedef", 0, "int f(void) { typedef int T; T a = 1; return a; }\n"},
    {"local_enum", 0, "int f(void) { enum { P = 3 } e = P; return e; }\n"},
    {"ptr_arith_const", 0, "int a[10];\n"
                           "int *p = a + 5;\n"
                           "int *q = &a[9] - 2;\n"},
    {"void_param_ptr", 0, "void g(void *);\n"
                          "int x;\n"
                          "void f(void) { g(&x); }\n"},
    {"char_ptr_str", 0, "const char *s = \"abc\";\n"
                        "int f(void) { return s[1]; }\n"},
    {"main_args", 0, "int main(int argc, char **argv) { return argc + **argv; }\n"},
    {"main_void", 0, "int main(void) { return 0; }\n"},
    {"decl_in_for_body", 0, "int f(void) { int i; for (i = 0; i < 2; i++) { int t = i; (void)t; } return 0; }\n"},
    {"negative_array_index_ptr", 0, "int a[4];\n"
                                    "int f(void) { int *p = a + 2; return p[-1]; }\n"},
    {"struct_ptr_arith", 0, "struct s { int a, b; } t[2];\n"
                            "int f(void) { struct s *p = t; return (p + 1)->b; }\n"},
    {"unsized_init", 0, "int a[] = { 1, 2, 3 };\n"
                        "int n = sizeof a;\n"},
    {"trailing_comma_init", 0, "int a[] = { 1, 2, };\n"},
    {"enum_trailing", 0, "enum e { A, B };\n"},
    {"cast_to_void_ptr", 0, "int x;\n"
                            "void *p = (void *)&x;\n"},
    {"compare_void_ptr", 0, "int *p; void *q;\n"
                            "int f(void) { return p == q; }\n"},
    {"ptr_to_ptr", 0, "int x, *p = &x, **pp = &p;\n"
                      "int f(void) { return **pp; }\n"},
    {"func_returns_ptr", 0, "int x;\n"
                            "int *g(void) { return &x; }\n"
                            "int f(void) { return *g(); }\n"},
    {"array_in_struct_init", 0, "struct s { char n[4]; int v; } t = { \"abc\", 1 };\n"},
    {"octal_escape_str", 0, "char s[] = \"\\1\\12\\123\";\n"},
    {"sizeof_char_const", 0, "int n = sizeof 'a';\n"},
    {"while_assign", 0, "int g(void);\n"
                        "void f(void) { int c; while ((c = g()) != 0) ; }\n"},
    {"unary_ops_chain", 0, "int f(int a) { return - - a + ~ ~a + !!a; }\n"},
    {"div_mod_unsigned", 0, "unsigned f(unsigned a, unsigned b) { return a / b + a % b; }\n"},
    {"external_static", 0, "static int hidden;\n"
                           "static int g(void) { return hidden; }\n"
                           "int f(void) { return g(); }\n"},
    {"hex_float", 0, "double d = 0.5;\n"},
    {"return_struct_member", 0, "struct s { int a; };\n"
                                "struct s g(void);\n"
                                "int f(void) { return g().a; }\n"},
    {"fn_ret_ptr_arr", 0, "int t[2][3];\n"
                          "int (*f(int i))[3] { return t + i; }\n"
                          "int g(void) { return (*f(1))[2] + f(0)[1][1]; }\n"},
    {"complex_decl", 0, "char (*(*x[3])(void))[5];\n"},
    {"signal_decl", 0, "void (*sig(int, void (*)(int)))(int);\n"},
    {"typedef_array_param", 0, "typedef int V[3];\n"
                               "int f(V v) { return v[0] + *v; }\n"},
    {"const_names", 0, "const char *const names[] = { \"a\", \"b\" };\n"
                       "int f(void) { return *names[1]; }\n"},
    {"sizeof_paren_expr", 0, "int x;\n"
                             "int f(void) { return sizeof (x) + 1; }\n"},
    {"cast_fnptr_null", 0, "int (*fp)(void) = (int (*)(void))0;\n"},
    {"ulong_const", 0, "unsigned long u = 4294967295UL;\n"},
    {"neg_enum", 0, "enum { N = -1, M };\n"
                    "int f(void) { return N + M; }\n"},
    {"post_inc_copy", 0, "char *p, *q;\n"
                         "void f(void) { *p++ = *q++; }\n"},
    {"arrow_chain", 0, "struct n { struct n *next; int v; } *h;\n"
                       "int f(void) { return h->next->next->v; }\n"},
    {"paren_lvalue", 0, "int x;\n"
                        "void f(void) { (x) = 1; }\n"},
    {"dot_deref", 0, "struct s { int m; } *p;\n"
                     "void f(void) { (*p).m = 1; }\n"},
    {"addr_deref", 0, "int x, *p;\n"
                      "void f(void) { p = &*p; x = *&x; p = &x; }\n"},
    {"addr_star_array", 0, "int a[3], *p;\n"
                           "void f(void) { p = &*a; p = &a[0]; }\n"},
    {"sizeof_string", 0, "int n = sizeof \"abc\";\n"},
    {"array_sizeof_dim", 0, "int a[sizeof(int)];\n"},
    {"fnptr_struct_array", 0, "struct ops { int (*f[2])(int); } o;\n"
                              "int f(void) { return o.f[1](3) + (*o.f[0])(2); }\n"},
    {"switch_long", 0, "long l;\n"
                       "int f(void) { switch (l) { case 70000L: return 1; default: return 0; } }\n"},
    {"switch_enum", 0, "enum c { R, G };\n"
                       "int f(enum c x) { switch (x) { case R: return 1; case G: return 2; } return 0; }\n"},
    {"ptr_member_compound", 0, "struct s { int a; } *ps;\n"
                               "void f(void) { ps->a += 2; ps->a <<= 1; }\n"},
    {"kr_array_param", 0, "int f(a) int a[]; { return a[0]; }\n"},
    {"void_null_assign", 0, "int *p = (void *)0;\n"
                            "int *q = 0L;\n"},
    {"ptr_truth", 0, "int *p, *q;\n"
                     "int f(void) { if (p) return !q; return p && q; }\n"},
    {"long_double", 0, "long double ld;\n"
                       "double f(void) { return ld; }\n"},
    {"long_int_forms", 0, "short int a; long int b; unsigned short c; unsigned long int d; signed e; unsigned f1; signed char g;\n"},
    {"float_suffix", 0, "float f = 1.5f;\n"
                        "double d = 2.5;\n"
                        "long double e = 3.5L;\n"},
    {"macros", 0, "#define SQ(x) ((x) * (x))\n"
                  "#define CAT(a, b) a##b\n"
                  "#define STR(x) #x\n"
                  "int CAT(va, r) = SQ(3);\n"
                  "const char *s = STR(hello);\n"},
    {"goto_into_block", 0, "int f(int x) { goto in; { int y; in: y = x; return y; } }\n"},
    {"block_hide_struct", 0, "struct s { int a; };\n"
                             "int f(void) { struct s { char b; } v; v.b = 1; return v.b; }\n"},
    {"char_signed_init", 0, "unsigned char c = 255;\n"
                            "signed char s = -128;\n"},
    {"string_embedded_nul", 0, "char s[] = \"a\\0b\";\n"
                               "int n = sizeof s;\n"},
    {"cond_struct", 0, "struct s { int a; } x, y;\n"
                       "int c;\n"
                       "void f(void) { x = c ? x : y; }\n"},
    {"old_to_proto", 0, "int f();\n"
                        "int f(int a) { return a; }\n"},
    {"extern_array_later", 0, "extern int a[];\n"
                              "int a[3] = { 1, 2, 3 };\n"
                              "int n = sizeof a;\n"},
    {"struct_later_complete", 0, "struct t v;\n"
                                 "struct t { int x; };\n"
                                 "int f(void) { return v.x; }\n"},
    {"ptr_to_incomplete", 0, "struct t *p;\n"
                             "int f(void) { return p != 0; }\n"},
    {"incomplete_extern", 0, "extern struct t e;\n"
                             "struct t *p = &e;\n"},
    {"deref_ptr_to_array_param", 0, "int f(int (*m)[2]) { return **m + *m[1] + (*m)[1]; }\n"},
    {"array_of_ptr", 0, "int x, y;\n"
                        "int *ap[2] = { &x, &y };\n"
                        "int f(void) { return **ap + *ap[1]; }\n"},
    {"char_2d_deref", 0, "char grid[2][3];\n"
                         "int f(void) { return **grid + *grid[1] + (*grid)[2]; }\n"},
    {"nested_member_array", 0, "struct in { char c[2]; };\n"
                               "struct out { struct in i[2]; } o;\n"
                               "int f(void) { return *o.i[1].c + *(*o.i).c; }\n"},
    {"deref_cast_array", 0, "int a[4];\n"
                            "int f(void) { return *(char *)a + *(a); }\n"},
    {"deref_in_cond", 0, "int a[2], b[2];\n"
                         "int f(int c) { return *(c ? a : b); }\n"},
    {"deref_comma", 0, "int a[2], b[2];\n"
                       "int f(void) { return *(a, b); }\n"},
    {"deref_assign_ptr", 0, "int a[2], *p;\n"
                            "int f(void) { return *(p = a); }\n"},
    {"sizeof_deref_array", 0, "int a[2][5];\n"
                              "int n = sizeof *a;\n"
                              "int m = sizeof **a;\n"},
    {"static_init_deref_array", 0, "int a[2][5];\n"
                                   "int *p = *a;\n"
                                   "int *q = a[1];\n"},
    {"string_deref_static", 0, "char c = sizeof *\"abc\";\n"},
    {"deref_incdec", 0, "int a[3];\n"
                        "void f(void) { ++*a; (*a)--; *a += 2; }\n"},
    {"bit_ops_long", 0, "long a;\n"
                        "long f(void) { return (a & 0xFFL) | (a ^ 3L) | ~a; }\n"},
    {"unary_minus_uchar", 0, "unsigned char c;\n"
                             "int f(void) { return -c; }\n"},
    {"empty_param_def", 0, "int f() { return 0; }\n"},
    {"implicit_int_def", 0, "f(void) { return 0; }\n"},
    {"static_fn_forward", 0, "static int g(int);\n"
                             "int f(void) { return g(1); }\n"
                             "static int g(int x) { return x; }\n"},
    {"struct_tag_only", 0, "struct s;\n"
                           "struct s { int a; };\n"},
    {"enum_in_array_dim", 0, "enum { SZ = 4 };\n"
                             "int a[SZ];\n"},
    {"const_volatile_ptr", 0, "volatile unsigned char *const port = (volatile unsigned char *)0x20;\n"},
    {"int_to_ptr_cast", 0, "int *p;\n"
                           "void f(void) { p = (int *)0x20; }\n"},
    {"func_param_fnptr_call", 0, "int apply(int (*fn)(int), int v) { return fn(v) + (*fn)(v); }\n"},
    {"array_param_deref", 0, "int f(int a[]) { return *a + *(a + 1); }\n"},
    {"unsigned_compare_const", 0, "unsigned u;\n"
                                  "int f(void) { return u > 10; }\n"},
    {"div_by_const", 0, "int x;\n"
                        "int f(void) { return x / 3 + x % 3; }\n"},
    // pointers to versions of one type that differ in const or volatile
    {"ptr_diff_qualified", 0, "char pool[4], *p, **pp;\n"
                              "const char *cp = pool;\n"
                              "volatile char *vp; const volatile char *cvp;\n"
                              "char *const *pcp;\n"
                              "int d;\n"
                              "void f(void) { d = cp - pool; d = p - cp; d = vp - cvp; d = pp - pcp; }\n"},
    {"ptr_compare_qualified", 0, "char *p, **pp; const char *cp; char *const *pcp;\n"
                                 "int f(void) { return (cp == p) + (p < cp) + (cp >= p) + (pp != pcp); }\n"},
    {"ptr_first_level_qualifier", 0, "void g(char *const *);\n"
                                     "char **pp; char *const *pcp;\n"
                                     "void f(void) { pcp = pp; g(pp); }\n"},
    // NULL as the headers define it, and void * against pointers to pointers
    {"null_to_ptr_ptr", 0, "#define NULL ((void *)0)\n"
                           "long strtol(const char *, char **, int);\n"
                           "char *end;\n"
                           "long f(const char *s) { return strtol(s, NULL, 10) + strtol(s, &end, 10); }\n"},
    {"void_ptr_ptr_ptr", 0, "void *v; const void *cv; char **pp; const char **cpp;\n"
                            "void g(void *), h(char **);\n"
                            "void f(void) { pp = v; v = pp; cv = cpp; g(pp); h(v); }\n"},
    {"null_compare_ptr_ptr", 0, "char **pp; void *v;\n"
                                "int f(void) { return pp == (void *)0 || pp != v || (void *)0 == pp; }\n"},
    {"null_fn_ptr", 0, "int (*fp)(void);\n"
                       "void g(int (*)(void));\n"
                       "int f(void) { fp = (void *)0; g((void *)0); return fp == (void *)0; }\n"},
    {"null_constant_expr", 0, "char **pp; void *v;\n"
                              "void f(void) { pp = (void *)(1 - 1); v = 2 - 2; }\n"},
    {"cond_qualified_arms", 0, "char *p, **pp; const char *cp; void *v;\n"
                               "void f(int c) { cp = c ? p : cp; cp = c ? cp : p; p = c ? v : p; p = c ? p : v;\n"
                               "                pp = c ? v : pp; pp = c ? (void *)0 : pp; pp = c ? pp : 0; }\n"},
    {"cond_qualified_deref", 0, "char pool[4]; const char cpool[4] = \"ab\";\n"
                                "int f(int c) { return *(c ? pool : cpool); }\n"},
};

// Constraint violations and syntax errors, with plover's message.
const unit_case invalid_units[] = {
    {"undeclared", 192, "int f(void) { return y; }\n"},
    {"missing_semi", 314, "int f(void) { return 1 }\n"},
    {"assign_array", 202, "int a[2], b[2];\n"
                          "void f(void) { a = b; }\n"},
    {"break_outside", 243, "void f(void) { break; }\n"},
    {"continue_outside", 243, "void f(void) { continue; }\n"},
    {"two_defaults", 244, "int f(int x) { switch (x) { default: default: return 0; } }\n"},
    {"case_outside", 246, "int f(void) { case 1: return 0; }\n"},
    {"case_nonconst", 188, "int f(int x, int y) { switch (x) { case y: return 0; } return 1; }\n"},
    {"goto_undefined", 254, "void f(void) { goto nowhere; }\n"},
    {"dup_label", 247, "void f(void) { a: ; a: ; }\n"},
    {"redefine_func", 1098, "int f(void) { return 0; }\n"
                            "int f(void) { return 1; }\n"},
    {"conflicting_types", 984, "int x;\n"
                               "char x;\n"},
    {"conflicting_proto", 987, "int f(int);\n"
                               "int f(char *);\n"},
    {"too_many_args", 186, "int g(int);\n"
                           "int f(void) { return g(1, 2); }\n"},
    {"too_few_args", 187, "int g(int, int);\n"
                          "int f(void) { return g(1); }\n"},
    {"call_non_func", 183, "int x;\n"
                           "int f(void) { return x(); }\n"},
    {"deref_int", 981, "int x;\n"
                       "int f(void) { return *x; }\n"},
    {"member_nonstruct", 196, "int x;\n"
                              "int f(void) { return x.a; }\n"},
    {"no_member", 255, "struct s { int a; } v;\n"
                       "int f(void) { return v.b; }\n"},
    {"arrow_nonptr", 981, "struct s { int a; } v;\n"
                          "int f(void) { return v->a; }\n"},
    {"addr_of_rvalue", 201, "int f(int a) { int *p = &(a + 1); return *p; }\n"},
    {"incr_rvalue", 202, "int f(int a) { return (a + 1)++; }\n"},
    {"void_value", 206, "void g(void);\n"
                        "int f(void) { return g(); }\n"},
    {"neg_array_size", 284, "int a[-1];\n"},
    {"zero_array_size", 284, "int a[0];\n"},
    {"nonconst_array_global", 188, "int n = 3;\n"
                                   "int a[n];\n"},
    {"vla", 188, "int f(int n) { int a[n]; return a[0]; }\n"},
    {"incomplete_struct_var", 198, "struct t v;\n"},
    {"sizeof_incomplete", 198, "struct t;\n"
                               "int n = sizeof(struct t);\n"},
    {"sizeof_func", 1530, "int g(void);\n"
                          "int n = sizeof g;\n"},
    {"bitfield_too_wide", 1361, "struct b { unsigned a : 40; } v;\n"},
    {"struct_dup_member", 261, "struct s { int a; int a; };\n"},
    {"enum_redecl", 986, "enum { A };\n"
                         "int A;\n"},
    {"init_too_many", 240, "int a[2] = { 1, 2, 3 };\n"},
    {"init_string_too_long", 240, "char s[2] = \"abc\";\n"},
    {"init_nonconst_static", 238, "int g(void);\n"
                                  "int x = g();\n"},
    {"return_value_void", 204, "void f(void) { return 1; }\n"},
    {"mod_float", 205, "double d;\n"
                       "int f(void) { return d % 2; }\n"},
    {"shift_float", 205, "double d;\n"
                         "int f(void) { return d << 1; }\n"},
    {"bitand_ptr", 207, "int *p;\n"
                        "int f(void) { return (int)(p & 1); }\n"},
    {"ptr_plus_ptr", 207, "int *p, *q;\n"
                          "int f(void) { return *(p + q); }\n"},
    {"struct_arith", 207, "struct s { int a; } v;\n"
                          "int f(void) { return v + 1; }\n"},
    {"struct_cond", 199, "struct s { int a; } v;\n"
                         "int f(void) { if (v) return 1; return 0; }\n"},
    {"cast_to_struct", 191, "struct s { int a; };\n"
                            "int x;\n"
                            "void f(void) { (struct s)x; }\n"},
    {"int_to_ptr", 359, "int *p;\n"
                        "void f(void) { p = 5; }\n"},
    {"ptr_to_int", 209, "int *p; int x;\n"
                        "void f(void) { x = p; }\n"},
    {"incompatible_ptr", 359, "int *p; char *q;\n"
                              "void f(void) { p = q; }\n"},
    {"const_discard", 359, "const int c = 1;\n"
                           "int *p = &c;\n"},
    {"func_returns_array", 282, "typedef int A[2];\n"
                                "A f(void);\n"},
    {"func_returns_func", 281, "typedef int F(void);\n"
                               "F f(void);\n"},
    {"array_of_func", 280, "int a[2](void);\n"},
    {"designated_init", 195, "struct p { int x, y; } v = { .y = 1 };\n"},
    {"designated_array", 195, "int a[4] = { [2] = 1 };\n"},
    {"compound_literal", 195, "struct p { int x; };\n"
                              "int f(void) { return (struct p){ 1 }.x; }\n"},
    {"inline_kw", 314, "inline int f(void) { return 0; }\n"},
    {"restrict_kw", 372, "int *restrict p;\n"},
    {"bool_kw", 370, "_Bool b;\n"},
    {"empty_struct", 1532, "struct e { };\n"},
    {"empty_init", 241, "int a[2] = { };\n"},
    {"flexible_array", 283, "struct s { int n; int d[]; };\n"},
    {"unbalanced_paren", 194, "int f(void) { return (1 + 2; }\n"},
    {"unterminated_block", 300, "int f(void) { return 1;\n"},
    {"stray_char", 228, "int f(void) { return 1 ` 2; }\n"},
    {"bad_token_seq", 269, "int int x;\n"},
    {"signed_unsigned", 273, "signed unsigned int x;\n"},
    {"double_typedef_kw", 268, "typedef typedef int T;\n"},
    {"extern_init_local", 339, "int f(void) { extern int e = 1; return e; }\n"},
    {"static_param", 257, "int f(static int a) { return a; }\n"},
    {"param_init", 279, "int f(int a = 1) { return a; }\n"},
    {"assign_func", 202, "int g(void);\n"
                         "void f(void) { g = 0; }\n"},
    {"string_assign_array", 202, "char s[4];\n"
                                 "void f(void) { s = \"ab\"; }\n"},
    {"dup_param", 278, "int f(int a, int a) { return a; }\n"},
    {"label_at_block_end", 195, "void f(void) { x: }\n"},
    {"dollar_ident", 228, "int a$b;\n"},
    {"missing_type_local", 192, "int f(void) { x = 1; return x; }\n"},
    {"unary_star_void", 206, "void *p;\n"
                             "int f(void) { return *p; }\n"},
    {"sub_ptr_diff_types", 208, "int *p; char *q;\n"
                                "int f(void) { return p - q; }\n"},
    {"sub_ptr_deep_const", 208, "char **pp; const char **cpp;\n"
                                "int f(void) { return pp - cpp; }\n"},
    {"cmp_ptr_int", 209, "int *p;\n"
                         "int f(void) { return p == 5; }\n"},
    {"deref_missing_member", 255, "struct s { int a[2]; } t;\n"
                                  "int f(void) { return *t.b; }\n"},
    {"excess_init_scalar", 316, "int x = { 1, 2 };\n"},
    {"negate_ptr", 207, "int *p;\n"
                        "int f(void) { return (int)-p; }\n"},
    {"not_struct", 199, "struct s { int a; } v;\n"
                        "int f(void) { return !v; }\n"},
    {"sizeof_bitfield", 1531, "struct b { unsigned a : 1; } v;\n"
                              "int n = sizeof v.a;\n"},
    {"addr_bitfield", 201, "struct b { unsigned a : 1; } v;\n"
                           "unsigned *p = &v.a;\n"},
    {"addr_register", 200, "int f(void) { register int r = 1; int *p = &r; return *p; }\n"},
    {"typedef_redefine", 984, "typedef int T;\n"
                              "typedef char T;\n"},
    {"goto_number", 321, "void f(void) { goto 1; }\n"},
    {"kr_param_undeclared", 291, "int f(a) int b; { return b; }\n"},
    {"struct_redefine", 262, "struct s { int a; };\n"
                             "struct s { int b; };\n"},
    {"union_init_too_many", 316, "union u { int i; char c; } x = { 1, 2 };\n"},
    {"return_struct_as_int", 209, "struct s { int a; };\n"
                                  "int f(struct s v) { return v; }\n"},
    {"sizeof_void", 206, "int n = sizeof(void);\n"},
    {"local_incomplete", 198, "struct t;\n"
                              "void f(void) { struct t v; }\n"},
    {"static_incomplete", 198, "static struct t v;\n"},
    {"array_incomplete", 198, "struct t a[3];\n"},
    {"member_incomplete", 198, "struct t;\n"
                               "struct s { struct t m; };\n"},
    {"member_func", 263, "struct s { int f(void); };\n"},
    {"static_static", 268, "static static int x;\n"},
    {"extern_static", 268, "extern static int x;\n"},
    {"dup_const", 258, "const const int x = 1;\n"},
    {"return_void_expr", 204, "void g(void);\n"
                              "void f(void) { return g(); }\n"},
    {"label_before_decl", 249, "void f(void) { l: int x; }\n"},
    {"proto_def_mismatch", 987, "int f(int);\n"
                                "int f(long a) { return 0; }\n"},
    {"param_incomplete_def", 198, "struct t;\n"
                                  "void f(struct t v) { }\n"},
    {"array_of_void", 288, "void a[3];\n"},
    {"deref_void_ptr_assign", 202, "void *p;\n"
                                   "void f(void) { *p = 1; }\n"},
    {"addr_of_constant", 201, "int *p = &3;\n"},
    {"struct_member_access_ptr", 196, "struct s { int a; } *p;\n"
                                      "int f(void) { return p.a; }\n"},
    {"call_with_struct_for_int", 209, "struct s { int a; } v;\n"
                                      "int g(int);\n"
                                      "int f(void) { return g(v); }\n"},
    // const added below the level pointed at, or taken away on any level
    {"deep_const_assign", 359, "char **pp; const char **cpp;\n"
                               "void f(void) { cpp = pp; }\n"},
    {"deep_const_argument", 359, "void g(const char **);\n"
                                 "char **pp;\n"
                                 "void f(void) { g(pp); }\n"},
    {"deep_const_both_levels", 359, "char **pp; const char *const *cpcp;\n"
                                    "void f(void) { cpcp = pp; }\n"},
    {"deep_const_compare", 366, "char **pp; const char **cpp;\n"
                                "int f(void) { return pp == cpp; }\n"},
    {"void_ptr_discards_const", 359, "void *v; const char *cp;\n"
                                     "void f(void) { v = cp; }\n"},
    {"void_ptr_ptr_deep", 359, "void **vv; char **pp;\n"
                               "void f(void) { vv = pp; }\n"},
    {"void_ptr_to_fn_ptr", 359, "int (*fp)(void); void *v;\n"
                                "void f(void) { fp = v; }\n"},
    {"qualified_void_zero", 359, "char **pp;\n"
                                 "void f(void) { pp = (const void *)0; }\n"},
    {"ptr_from_double", 209, "char *p; double d;\n"
                             "void f(void) { p = d; }\n"},
    {"ptr_from_struct", 209, "struct s { int a; } v; int *p;\n"
                             "void f(void) { p = v; }\n"},
    // comparisons with no order or no common type
    {"fn_ptr_compare_void", 366, "int (*fp)(void); void *v;\n"
                                 "int f(void) { return fp == v; }\n"},
    {"ordered_void_ptr", 366, "void *v; char *p;\n"
                              "int f(void) { return v < p; }\n"},
    {"ordered_null", 209, "char *p;\n"
                          "int f(void) { return p < 0; }\n"},
    {"ordered_fn_ptr", 366, "int (*a)(void), (*b)(void);\n"
                            "int f(void) { return a < b; }\n"},
    // the arms of ?: and what the result may be assigned to
    {"cond_discards_const", 359, "char *p; const char *cp;\n"
                                 "void f(int c) { p = c ? p : cp; }\n"},
    {"cond_void_discards_const", 359, "char *p; const void *cv;\n"
                                      "void f(int c) { p = c ? p : cv; }\n"},
    {"cond_ptr_mismatch", 208, "char *p; int *ip;\n"
                               "void f(int c) { p = c ? p : ip; }\n"},
    {"cond_deep_const_mismatch", 208, "char **pp; const char **cpp;\n"
                                      "void f(int c) { pp = c ? pp : cpp; }\n"},
    {"cond_fn_ptr_void", 208, "int (*fp)(void); void *v;\n"
                              "void f(int c) { fp = c ? fp : v; }\n"},
    {"cond_ptr_int", 209, "char *p;\n"
                          "void f(int c) { p = c ? p : 5; }\n"},
    {"cond_struct_mismatch", 209, "struct s { int a; } x; struct t { int a; } y;\n"
                                  "void f(int c) { x = c ? x : y; }\n"},
    {"cond_int_struct", 209, "struct s { int a; } x; int n;\n"
                             "void f(int c) { n = c ? 1 : x; }\n"},
};

struct difference {
    const char *name;
    int message;        // 0: plover accepts what C89 refuses; else plover refuses valid C89 with it
    const char *source;
    const char *reason;
};

// Where this dialect defines C otherwise than C89. Short, and every row has its reason.
const difference differences[] = {
    // the dialect's keywords are not identifiers
    {"keyword_bit", 269, "int bit;\n", "bit is a type (-B): int bit is two types"},
    {"keyword_near", 195, "int near;\nint f(void) { return near; }\n",
     "near is a qualifier (-QN,near): no name to read"},
    {"keyword_far", 195, "int far;\nint f(void) { return far; }\n", "far is a qualifier (-QF,far)"},
    {"keyword_bank1", 195, "int bank1;\nint f(void) { return bank1; }\n",
     "bank0-bank3 are qualifiers (-QP, -QX, -QY, -QZ)"},
    {"keyword_persistent", 195, "int persistent;\nint f(void) { return persistent; }\n",
     "persistent is a qualifier (-QS)"},
    {"keyword_interrupt", 195, "int interrupt;\nint f(void) { return interrupt; }\n",
     "interrupt is a qualifier (-QI)"},
    {"keyword_asm", 285, "int asm;\n", "asm(\"...\") is a statement"},
    // C forms the dialect accepts
    {"mixed_declarations", 0, "int f(void) { int a = 1; a++; int b = a; return b; }\n",
     "declarations may stand wherever a statement may"},
    {"for_declaration", 0, "int f(void) { int s = 0; for (int i = 0; i < 2; i++) s += i; return s; }\n",
     "a for opens a scope with declarations allowed in its first part"},
    {"line_comment", 0, "int x; // a comment\n", "the preprocessor takes // comments"},
    {"binary_constant", 0, "int x = 0b101;\n", "0b constants are the dialect's binary numbers"},
    {"long_long", 0, "long long x;\n", "long long is long without -O"},
    {"short_long", 0, "short long x;\n", "short long is the 24-bit type (-J)"},
    {"empty_declaration", 0, "int;\n", "specifiers alone end at ';'"},
    {"same_block_redeclaration", 0, "int f(void) { int a; int a; a = 1; return a; }\n",
     "a redeclaration at one level with the same class and a compatible type is accepted "
     "(a declaration repeated, not a second object)"},
    {"assign_const", 0, "const int c = 1;\nvoid f(void) { c = 2; }\n",
     "const protects an object only with its -Q row's m flag; the driver "
     "gives it u; the code generator refuses the store to program memory (712)"},
    {"duplicate_case", 0, "int f(int x) { switch (x) { case 1: case 1: return 0; } return 1; }\n",
     "duplicate case values are the code generator's (695)"},
    // valid C89 the dialect diagnoses or refuses
    {"sizeof_in_enumerator", 991, "enum { Z = sizeof(int) };\n",
     "enumerator values are computed by the parser's evaluator, which has no #T "
     "(sizeof of a type is left to the code generator)"},
    {"address_of_array", 362, "int a[4];\nint (*p)[4] = &a;\n",
     "& of an array is its first element's address"},
    {"string_to_char_pointer", 359, "char *s = \"xyz\";\n",
     "strings are const (the driver's -Gstrings,const): their address is a pointer to const char"},
    {"signed_bitfield", 369, "struct b { signed int s : 3; } v;\n",
     "bit-fields are unsigned"},
    {"int_bitfield", 369, "struct b { int s : 3; } v;\n",
     "plain int bit-fields are unsigned too"},
};

// Decaying operands, generated: an array reached one way, under every operator.
struct decay_object {
    const char *name;
    const char *decls;   // file scope
    const char *local;   // inside f
    const char *params;  // f's parameters
    const char *expr;    // the array, as an expression of type array of int
};

const decay_object decay_objects[] = {
    {"global", "int v[4];", "", "void", "v"},
    {"local", "", "int v[4];", "void", "v"},
    {"member", "struct S { char c; int m[4]; } s;", "", "void", "s.m"},
    {"member_arrow", "struct S { char c; int m[4]; } s, *ps = &s;", "", "void", "ps->m"},
    {"row", "int v2[3][4];", "", "void", "v2[1]"},
    {"row_by_star", "int v2[3][4];", "", "void", "*v2"},
    {"row_of_pointer", "int (*pr)[4];", "", "void", "*pr"},
    {"row_of_member", "struct T { int n[2][4]; } t;", "", "void", "t.n[1]"},
    {"parameter", "", "", "int v[]", "v"},
};

// {o} stands for the array; x, p and p2 are int, int * and int *.
const char *const decay_forms[] = {
    "x = *{o};",
    "if (*{o} != 2) x = 1;",
    "x = *({o} + 1);",
    "x = *(1 + {o});",
    "p = {o} + 3; x = p - {o};",
    "x = {o} == p;",
    "x = p < {o};",
    "x = {o} != 0;",
    "x = {o}[1];",
    "x = 1[{o}];",
    "p = {o};",
    "x = !{o};",
    "p = x ? {o} : p;",
    "x = {o} && x;",
    "*{o} = 3;",
    "x = ++*{o};",
    "x = (int)*(char *){o};",
    "x = sizeof *{o} == sizeof(int);",
    "x = take({o});",
    "p = (x, {o});",
};

// Function designators under the operators that decay them.
const char *const function_forms[] = {
    "fp = g;",
    "fp = &g;",
    "x = (*g)(1);",
    "x = (**g)(1);",
    "fp = g; x = fp(2);",
    "fp = g; x = (*fp)(2);",
    "x = fp == g;",
    "x = g != 0;",
    "fp = x ? g : fp;",
    "x = h(g);",
};

std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// One unit per way of reaching an array, and one for functions.
std::vector<unit_case> generated_units()
{
    std::vector<unit_case> units;
    for (const decay_object &o : decay_objects) {
        std::string body;
        for (const char *f : decay_forms)
            body += "    " + replace_all(f, "{o}", o.expr) + "\n";
        units.push_back({std::string("decay.") + o.name, 0,
                         std::string("int take(int *q);\n") + o.decls + "\nint f(" + o.params + ")\n{\n    " +
                             o.local + "\n    int x = 0;\n    int *p = 0;\n" + body +
                             "    return x + (p != 0);\n}\n"});
    }
    std::string body;
    for (const char *f : function_forms)
        body += std::string("    ") + f + "\n";
    units.push_back({"function", 0,
                     "int h(int (*)(int));\nint g(int a) { return a; }\nint (*fp)(int);\n"
                     "int f(void)\n{\n    int x = 0;\n" + body + "    return x + (fp != 0);\n}\n"});
    return units;
}

// What one reader made of a unit.
struct verdict {
    bool clean;
    std::vector<int> messages;  // plover's (lint left out)
    std::string text;           // what it printed
};

// The message numbers plover and wren printed, the echoed source lines left
// out (they may hold "(1)" of their own); lint left out.
std::vector<int> chain_messages(const std::string &errors)
{
    static const std::regex echo(R"(^\s*\d+:\t)");
    static const std::regex number(R"(\((\d+)\))");
    std::vector<int> found;
    std::istringstream in(errors);
    std::string line;
    while (std::getline(in, line)) {
        if (std::regex_search(line, echo))
            continue;
        for (std::sregex_iterator m(line.begin(), line.end(), number), end; m != end; ++m) {
            int n = std::stoi((*m)[1]);
            if (std::find(std::begin(lint_messages), std::end(lint_messages), n) == std::end(lint_messages))
                found.push_back(n);
        }
    }
    return found;
}

verdict plover_verdict(const std::string &source)
{
    plover_result r = plover_chain(source);
    std::vector<int> messages = chain_messages(r.errors);
    return {r.status == 0 && messages.empty(), messages, r.errors};
}

verdict gcc_verdict(const std::string &source)
{
    std::string dir = tool_tempdir("plover_gcc");
    tool_write(dir + "/unit.c", source);
    int status;
    std::string out = tool_run(dir, "gcc -std=c89 -pedantic-errors -fsyntax-only unit.c", &status);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return {status == 0 && out.empty(), {}, out};
}

bool gcc_ready()
{
    return std::system("gcc --version >/dev/null 2>&1") == 0;
}

// Both readers' verdicts on each unit, several units at once.
std::vector<std::pair<verdict, verdict>> judge(const std::vector<std::string> &sources)
{
    std::vector<std::pair<verdict, verdict>> out(sources.size());
    std::atomic<size_t> next{0};
    unsigned n = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
    std::vector<std::thread> workers;
    for (unsigned k = 0; k < n; k++)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < sources.size();)
                out[i] = {plover_verdict(sources[i]), gcc_verdict(sources[i])};
        });
    for (std::thread &t : workers)
        t.join();
    return out;
}

bool reported(const verdict &v, int message)
{
    return std::find(v.messages.begin(), v.messages.end(), message) != v.messages.end();
}

void check_units(const std::vector<unit_case> &units)
{
    std::vector<std::string> sources;
    for (const unit_case &u : units)
        sources.push_back(u.source);
    std::vector<std::pair<verdict, verdict>> v = judge(sources);
    for (size_t i = 0; i < units.size(); i++) {
        const unit_case &u = units[i];
        const verdict &zeph = v[i].first, &gcc = v[i].second;
        if (u.message == 0) {
            EXPECT_TRUE(gcc.clean) << u.name << ": gcc diagnoses a unit the table calls valid\n"
                                   << u.source << gcc.text;
            EXPECT_TRUE(zeph.clean) << u.name << ": plover diagnoses valid C89\n" << u.source << zeph.text;
        } else {
            EXPECT_FALSE(gcc.clean) << u.name << ": gcc is clean on a unit the table calls invalid\n"
                                    << u.source;
            EXPECT_TRUE(reported(zeph, u.message)) << u.name << ": plover does not report " << u.message
                                                   << "\n" << u.source << zeph.text;
        }
    }
}

} // namespace

TEST(ParserConformance, ValidUnitsAreCleanInvalidOnesDiagnosed)
{
    if (!plover_chain_ready() || !gcc_ready())
        GTEST_SKIP() << "no wren or no gcc";
    std::vector<unit_case> units(std::begin(valid_units), std::end(valid_units));
    units.insert(units.end(), std::begin(invalid_units), std::end(invalid_units));
    check_units(units);
}

TEST(ParserConformance, DecayingOperandsAreValidEverywhere)
{
    if (!plover_chain_ready() || !gcc_ready())
        GTEST_SKIP() << "no wren or no gcc";
    check_units(generated_units());
}

TEST(ParserConformance, DocumentedDifferencesStillDiffer)
{
    if (!plover_chain_ready() || !gcc_ready())
        GTEST_SKIP() << "no wren or no gcc";
    std::vector<std::string> sources;
    for (const difference &d : differences)
        sources.push_back(d.source);
    std::vector<std::pair<verdict, verdict>> v = judge(sources);
    for (size_t i = 0; i < std::size(differences); i++) {
        const difference &d = differences[i];
        const verdict &zeph = v[i].first, &gcc = v[i].second;
        if (d.message == 0) {
            EXPECT_FALSE(gcc.clean) << d.name << ": gcc accepts it now; no difference to list";
            EXPECT_TRUE(zeph.clean) << d.name << " (" << d.reason << ")\n" << zeph.text;
        } else {
            EXPECT_TRUE(gcc.clean) << d.name << ": gcc diagnoses it; no difference to list\n" << gcc.text;
            EXPECT_TRUE(reported(zeph, d.message))
                << d.name << " (" << d.reason << "): plover does not report " << d.message << "\n"
                << zeph.text;
        }
    }
}
