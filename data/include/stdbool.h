/* bool as a byte. The compiler has no _Bool: a value stored in a bool is
 * not reduced to 0 or 1 (write `b = x != 0` where x may be other than 0
 * or 1).
 */
#ifndef __STDBOOL_H
#define __STDBOOL_H

#define bool unsigned char
#define true 1
#define false 0
#define __bool_true_false_are_defined 1

#endif
