// The link, in two stages.
//
// The prelink stage links the program with a start-up file written while
// nothing is known of the program's data; the symbol file it leaves tells
// the final stage how large each data psect is, so that the final start-up
// file initialises and clears exactly that memory. Each stage writes its
// start-up file (a comment header here, the body by the start-up generator),
// assembles it, and runs the linker with the placement and class-range
// arguments, the start-up object, the program's objects and the libraries.
#include "zeph.h"

#include <cctype>
#include <cstring>

// Where a line of the header's option list is broken.
constexpr size_t HEADER_WIDTH = 70;

// The comment header of a start-up file: the compiler, the stage and the
// options of the run, broken into lines of about 70 characters.
void write_startup_header(FILE *f, bool prelink)
{
    fprintf(f, "\n\t; Vormak C Compiler for PIC10/12/16 MCUs V%s\n", bs.version);
    fprintf(f, "\t; Zeph toolchain for 8-bit PIC microcontrollers\n");
    fprintf(f, "\n\t; Auto-generated runtime startup code for %s stage.\n\n\t;\n\t; Compiler options:\n\t;\n\t;",
            prelink ? "prelink" : "final link");
    size_t running = 0;
    for (uint32_t i = 1; i < vec_count(bs.command_line); i++) {
        auto *arg = static_cast<const char *>(vec_get(bs.command_line, i));
        size_t len = strlen(arg) + 1;
        if (running > 0 && running + len > HEADER_WIDTH) {
            fprintf(f, " \\\n\t;");
            running = 0;
        }
        // A line break inside an argument would end the comment and put the
        // rest of the argument into the assembly: control characters are
        // written as blanks.
        fputc(' ', f);
        for (const char *p = arg; *p; p++)
            fputc(iscntrl(static_cast<unsigned char>(*p)) ? ' ' : *p, f);
        running += len;
    }
    fprintf(f, "\n\t;\n\n\n");
}

// Appends the strings of v, then frees them and v.
static void append_strings(arglist *a, vector_t *v)
{
    arglist_append_strings(a, v);
    free_strings(v);
}

// Writes and assembles the stage's start-up file; false when it cannot be
// written. A failed assembly ends the run.
static bool make_startup(const char *base, bool prelink)
{
    bool keep = opts.runtime & RT_KEEP;
    char *source = zeph_asprintf("%sas", base);
    FILE *f = fopen(source, "w");
    if (!f) {
        msg_report(141, "runtime startup", source);
        free(source);
        return false;
    }
    write_startup_header(f, prelink);
    write_startup_body(f, prelink);
    fclose(f);
    uint32_t asmlist = opts.asmlist;
    opts.asmlist = keep;
    bool ok = phase_assemble(base, source, keep);
    opts.asmlist = asmlist;
    free(source);
    if (!ok)
        tool_exit(1);
    return true;
}

// The user's extra linker options, less the "name=" forms that only
// suppress a default.
static void append_user_options(arglist *a)
{
    for (uint32_t i = 0; i < vec_count(bs.linker_opts); i++) {
        auto *o = static_cast<const char *>(vec_get(bs.linker_opts, i));
        size_t n = strlen(o);
        if (n && o[n - 1] == '=')
            continue;
        arglist_append_copy(a, o);
    }
}

static void append_libraries(arglist *a)
{
    append_strings(a, linker_library_list());
    if (opts.runtime & RT_CLIB)
        for (uint32_t i = 0; i < vec_count(bs.libnames); i++) {
            char *stem = library_stem(static_cast<const char *>(vec_get(bs.libnames, i)));
            char *file = zeph_asprintf("%s.lib", stem);
            arglist_append(a, install_lookup(INST_LIB, file, "library"));
            free(stem);
            free(file);
        }
    append_strings(a, linker_library_list_2());
}

static bool link_stage(bool prelink, const char *startup_base)
{
    static const char *const styles[] = {"-cs", "-cn", "-cc", "-cf"};
    stage_timer("Linker");
    arglist *a = arglist_new(TOOL_HERON);
    arglist_append_copy(a, styles[opts.callgraph & 3]);
    arglist_append_output(a, "-h+", xstrdup(bs.symbol_file));
    arglist_append_copy(a, "-z");
    if (prelink) {
        arglist_append_copy(a, "-w9");
        if (!settings.debug_build)
            arglist_append_copy(a, "--norlf");
    }
    arglist_appendf(a, "-Q%s", chip_selected->name);
    // The prelink's output is never read, but without a name the linker
    // would write it to the current directory.
    arglist_appendf(a, "-o%s", link_object());
    append_user_options(a);
    arglist_append_output(a, "-M", xstrdup(bs.map_file));
    if (settings.ide_format)
        arglist_append_copy(a, "-E1");
    if (prelink) {
        symt_init();
        remove(bs.symbol_file);
    } else {
        symt_free();
        symt_init();
        symt_read(bs.symbol_file);
    }
    absolute_function_args(a);
    class_range_args(memory_code_space, a);
    if (memory_data_space != memory_code_space)
        class_range_args(memory_data_space, a);
    bool startup = !(opts.runtime & RT_NOSTARTUP);
    if (startup) {
        if (!make_startup(startup_base, prelink)) {
            arglist_free(a);
            return false;
        }
        (prelink ? placement_args : placement_args_final)(a);
    } else {
        placement_args_final(a);
    }
    stage_timer("Linker");
    if (opts.runtime && startup)
        arglist_appendf(a, "%sobj", startup_base);
    for (uint32_t i = 0; i < vec_count(bs.objects); i++)
        arglist_append_copy(a, static_cast<const char *>(vec_get(bs.objects, i)));
    append_libraries(a);
    return run_phase(a);
}

// Prelink (unless there is no start-up file), then the final link; on
// success the final symbol file is what the symbol table holds.
bool phase_link()
{
    // The start-up files are the run's own, so that links side by side in
    // one directory never read each other's; kept, they become products
    // in the object directory when the run succeeds.
    char *base = run_file("startup.");
    if (opts.runtime & RT_KEEP)
        for (const char *ext : {"as", "obj", "lst"})
            publish_on_success(zeph_asprintf("%s%s", base, ext), object_file_name("startup", ext));
    bool ok = (opts.runtime & RT_NOSTARTUP) || link_stage(true, base);
    ok = ok && link_stage(false, base);
    if (ok) {
        symt_free();
        symt_init();
        symt_read(bs.symbol_file);
    }
    free(base);
    return ok;
}
