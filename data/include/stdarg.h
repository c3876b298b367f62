/* Variable argument lists. The arguments after the last named parameter
 * follow it in the function's parameter block; va_start points there and
 * va_arg steps over one argument of the type named (after the default
 * promotions: char arguments arrive as int, float as double). */
#ifndef _STDARG_H_
#define _STDARG_H_

typedef unsigned char *va_list;

extern void *__va_start(void);

#define va_start(ap, last) ((ap) = (va_list)__va_start())
#define va_arg(ap, type) (*(type *)(((ap) += sizeof(type)) - sizeof(type)))
#define va_end(ap)
#define va_copy(dst, src) ((dst) = (src))

#endif
