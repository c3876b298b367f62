// The 32-bit float helpers (IEEE single layout).
#define U fp_u32
#define W 32
#define F 23
#define HI 3
#define TOP_BIT 31
#define TOP_BYTE 24
#define CUT(x) (x)
#define FP_OP(op) __fl##op
#define FP_FROM(k) __##k##tofl
#include "fpcore.h"
