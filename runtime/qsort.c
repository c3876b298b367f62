// Sorts nmemb objects of size bytes into the order compar gives, by a
// shell sort: no recursion (the code generator lays out one static frame
// per function) and no memory beyond a byte to swap through. The gaps
// halve down to 1, where the pass is a plain insertion sort; offsets are
// counted in bytes, so no product is taken inside the loops.
#include <stdlib.h>

void qsort(void *base, size_t nmemb, size_t size, int (*compar)(const void *, const void *))
{
    unsigned char *b = base;
    unsigned char *p, *q, t;
    size_t total = nmemb * size, gap, step, i, j, k;
    for (gap = nmemb / 2; gap; gap /= 2) {
        step = gap * size;
        for (i = step; i < total; i += size)
            for (j = i; j >= step; j -= step) {
                p = b + (j - step);
                q = b + j;
                if (compar(p, q) <= 0)
                    break;
                for (k = 0; k < size; k++) {
                    t = p[k];
                    p[k] = q[k];
                    q[k] = t;
                }
            }
    }
}
