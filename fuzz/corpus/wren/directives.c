#define CAT_(a, b) a ## b
#define CAT(a, b) CAT_(a, b)
#define STR_(x) #x
#define STR(x) STR_(x)
#define MAX(a, b) ((a) > (b) ? (a) : (b))
#define VA(fmt, ...) f(fmt, __VA_ARGS__)
#if defined(_16F877A) && (3 * 4 % 5 == 2) || !defined(X)
int CAT(reg, CAT(_, 0)) = MAX(1, 2);
const char *s = STR(CAT(a, b));
#elif 0x10 >> 2 == 4
#error no
#else
#line 40 "other.c"
#endif
#ifdef __LINE__
int line = __LINE__;
#endif
#undef MAX
#pragma inline
#include <limits.h>
