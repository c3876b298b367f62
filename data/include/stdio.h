/* Formatted output. printf and vprintf write each character through
 * putch(), which the program supplies; sprintf and vsprintf write into a
 * buffer and end it with a zero. The code linked carries only the
 * conversions and flags the program's format strings use (a format that is
 * not a string literal brings them all).
 *
 * A data pointer is one byte and cannot tell constant data from RAM: all
 * the format strings of a program must be of one kind (string literals,
 * as a rule), and so must all the strings passed for %s. */
#ifndef _STDIO_H_
#define _STDIO_H_

#include <stdarg.h>

#ifndef NULL
#define NULL ((void *)0)
#endif
#define EOF (-1)

extern void putch(char c);

#pragma printf_check(printf) const
#pragma printf_check(vprintf) const
#pragma printf_check(sprintf) const
#pragma printf_check(vsprintf) const
extern int printf(const char *fmt, ...);
extern int vprintf(const char *fmt, va_list ap);
extern int sprintf(char *buf, const char *fmt, ...);
extern int vsprintf(char *buf, const char *fmt, va_list ap);

#endif
