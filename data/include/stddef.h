/* Types and macros every part of the C library uses.
 *
 * A data pointer is one byte for now, yet sizeof yields an unsigned int,
 * so sizes are two bytes. offsetof works from a null pointer's member
 * address, which the parser folds to a constant. There are no wide
 * characters, so no wchar_t.
 */
#ifndef __STDDEF_H
#define __STDDEF_H

typedef unsigned int size_t;
typedef int ptrdiff_t;

#ifndef NULL
#define NULL ((void *)0)
#endif

#define offsetof(type, member) ((size_t)&((type *)0)->member)

#endif
