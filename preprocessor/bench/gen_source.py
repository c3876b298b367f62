#!/usr/bin/env python3
"""Writes a generated C source of about 10,000 lines for timing wren.

Usage: gen_source.py OUT.c [LINES]
then:  time wren -S1,2,2,3,4,3,4 OUT.c OUT.pre
The source mixes object-like and function-like macros, nested calls,
stringizing, pasting, conditional groups and comments, as a chip header and
a program of moderate size would.
"""
import sys

out = sys.argv[1]
lines = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
text = [
    "#define MAX(a, b) ((a) > (b) ? (a) : (b))",
    "#define REG(n) reg_ ## n",
    "#define STR(x) #x",
    "#define BIT(n) (1u << (n))",
]
i = 0
while len(text) < lines:
    text.append("#define VALUE%d %d" % (i, i))
    text.append("/* register %d */" % i)
    text.append("volatile unsigned char REG(r%d) = MAX(VALUE%d, BIT(%d %% 8));" % (i, i, i))
    text.append("#if VALUE%d %% 3 == 0 && defined(VALUE%d)" % (i, i))
    text.append("const char *name%d = STR(REG(r%d));" % (i, i))
    text.append("#else")
    text.append("int skipped%d = MAX(MAX(1, 2), MAX(3, VALUE%d));" % (i, i))
    text.append("#endif")
    i += 1
with open(out, "w") as f:
    f.write("\n".join(text) + "\n")
