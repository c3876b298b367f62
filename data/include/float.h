/* The characteristics of the floating types. float and double are each
 * either the 24-bit form (sign, 8-bit exponent, 15-bit fraction under a
 * hidden 1: the default) or IEEE single (--float=32, --double=32); long
 * double is double. Neither form has denormals: the smallest positive
 * number is the smallest normal. Operations round to nearest.
 */
#ifndef __FLOAT_H
#define __FLOAT_H

#define FLT_RADIX 2
#define FLT_ROUNDS 1
#define FLT_EVAL_METHOD 0

#if sizeof(float) == 4
#define FLT_MANT_DIG 24
#define FLT_DIG 6
#define FLT_EPSILON 1.19209290e-7F
#define FLT_MAX 3.40282347e+38F
#else
#define FLT_MANT_DIG 16
#define FLT_DIG 4
#define FLT_EPSILON 3.0517578125e-5F
#define FLT_MAX 3.40277175e+38F
#endif
#define FLT_MIN_EXP (-125)
#define FLT_MIN_10_EXP (-37)
#define FLT_MAX_EXP 128
#define FLT_MAX_10_EXP 38
#define FLT_MIN 1.1754943508223e-38F

#if sizeof(double) == 4
#define DBL_MANT_DIG 24
#define DBL_DIG 6
#define DBL_EPSILON 1.19209290e-7
#define DBL_MAX 3.40282347e+38
#define DECIMAL_DIG 9
#else
#define DBL_MANT_DIG 16
#define DBL_DIG 4
#define DBL_EPSILON 3.0517578125e-5
#define DBL_MAX 3.40277175e+38
#define DECIMAL_DIG 6
#endif
#define DBL_MIN_EXP (-125)
#define DBL_MIN_10_EXP (-37)
#define DBL_MAX_EXP 128
#define DBL_MAX_10_EXP 38
#define DBL_MIN 1.1754943508223e-38

#define LDBL_MANT_DIG DBL_MANT_DIG
#define LDBL_DIG DBL_DIG
#define LDBL_EPSILON DBL_EPSILON
#define LDBL_MAX DBL_MAX
#define LDBL_MIN DBL_MIN
#define LDBL_MIN_EXP DBL_MIN_EXP
#define LDBL_MIN_10_EXP DBL_MIN_10_EXP
#define LDBL_MAX_EXP DBL_MAX_EXP
#define LDBL_MAX_10_EXP DBL_MAX_10_EXP

#endif
