// Reading speed: a generated program of 20,000 lines of intermediate code
// (functions with parameters, expression statements and labels) is read
// into the model; the time taken is printed. Run by hand; it should be well
// under a second. Given a file of intermediate code (kestrel_bench FILE),
// reads that instead: bench/scaling.sh measures the reading's time and
// memory so.
#include "kestrel.h"

#include <chrono>
#include <cstdlib>
#include <string>

void tool_exit(int status)
{
    exit(status);
}

// Writes the program: 12 globals, then functions of 17 lines each.
static FILE *make_program(int lines_wanted)
{
    FILE *f = tmpfile();
    fputs("Version 3.2 Vormak Software Intermediate Code\n\"1 bench.c\n", f);
    int lines = 2;
    for (int g = 0; g < 12; g++, lines++)
        fprintf(f, "[v _g%d `i 1 e ]\n", g);
    for (int n = 0; lines < lines_wanted; n++) {
        fprintf(f, "[v _f%d `(i 1 e ]\n{\n[e :U _f%d ]\n[v _a `i 1 r1 ]\n[f ]\n", n, n);
        for (int k = 0; k < 12; k++)
            fprintf(f, "[e = _g%d + _a -> %d `i ]\n", k, k);
        fprintf(f, "[e :UE %d ]\n}\n", n + 1);
        lines += 19;
    }
    rewind(f);
    return f;
}

int main(int argc, char **argv)
{
    msg_set_tool_name("kestrel_bench");
    kestrel_reset();
    types_init();
    FILE *f = argc > 1 ? fopen(argv[1], "r") : make_program(20000);
    if (!f) {
        perror(argv[1]);
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    ic_context ctx = {f, nullptr, -1, false, 0};
    ic_read_one(&ctx);
    auto end = std::chrono::steady_clock::now();
    fclose(f);
    double ms = std::chrono::duration<double, std::milli>(end - start).count();
    printf("read %s, %u functions, in %.1f ms\n", argc > 1 ? argv[1] : "20000 lines",
           vec_count(functions), ms);
    return msg_exit_status();
}
