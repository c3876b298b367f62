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
#include <string>

// Where a line of the header's option list is broken.
constexpr size_t HEADER_WIDTH = 70;

// The line of the header that names the stage: the only line in which the
// two stages' files differ when their bodies are the same.
static const char *startup_stage_line(bool prelink)
{
    return prelink ? "\t; Auto-generated runtime startup code for prelink stage.\n"
                   : "\t; Auto-generated runtime startup code for final link stage.\n";
}

// The comment header of a start-up file: the compiler, the stage and the
// options of the run, broken into lines of about 70 characters.
void write_startup_header(FILE *f, bool prelink)
{
    fprintf(f, "\n\t; Vormak C Compiler for PIC10/12/16 MCUs V%s\n", bs.version);
    fprintf(f, "\t; Zeph toolchain for 8-bit PIC microcontrollers\n");
    fprintf(f, "\n%s\n\t;\n\t; Compiler options:\n\t;\n\t;", startup_stage_line(prelink));
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

// The body the prelink assembled, kept so that the final stage can tell
// whether its start-up object would come out the same.
static std::string prelink_body;

// The stage's start-up body as text; false when no memory stream can be
// had (the body is then written straight into the file).
static bool startup_body_text(bool prelink, std::string &text)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *m = open_memstream(&buf, &len);
    if (!m)
        return false;
    write_startup_body(m, prelink);
    fclose(m);
    text.assign(buf, len);
    free(buf);
    return true;
}

// The kept listing of the prelink's start-up file made the final stage's:
// the assembler lists a comment line as it is, so the two listings differ
// in the stage line alone. False (nothing changed) when that line is not
// found exactly once.
static bool relabel_listing(const char *base)
{
    char *name = zeph_asprintf("%slst", base);
    std::string text;
    bool ok = false;
    if (FILE *f = fopen(name, "rb")) {
        char buf[8192];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        ok = !ferror(f);
        fclose(f);
    }
    std::string from = startup_stage_line(true), to = startup_stage_line(false);
    size_t at = text.find(from);
    ok = ok && at != std::string::npos && text.find(from, at + 1) == std::string::npos;
    if (ok) {
        text.replace(at, from.size(), to);
        FILE *f = fopen(name, "wb");
        ok = f && fwrite(text.data(), 1, text.size(), f) == text.size();
        if (f && fclose(f) != 0)
            ok = false;
    }
    free(name);
    return ok;
}

// Writes the stage's start-up file: the header, then the body's text, or
// the body itself when it has no text.
static bool write_startup_file(const char *source, bool prelink, const std::string *body)
{
    FILE *f = fopen(source, "w");
    if (!f) {
        msg_report(141, "runtime startup", source);
        return false;
    }
    write_startup_header(f, prelink);
    if (body)
        fwrite(body->data(), 1, body->size(), f);
    else
        write_startup_body(f, prelink);
    fclose(f);
    return true;
}

// Writes and assembles the stage's start-up file; false when it cannot be
// written. A failed assembly ends the run. When the final stage's body is
// the prelink's, its object is the prelink's: the files differ only in the
// stage line of the header comment, which leaves no trace in the object.
// The final file is still written, and a kept listing relabelled, so that
// what is kept is the final stage's as always.
static bool make_startup(const char *base, bool prelink)
{
    bool keep = opts.runtime & RT_KEEP;
    std::string body;
    bool text = startup_body_text(prelink, body);
    char *source = zeph_asprintf("%sas", base);
    bool same = !prelink && text && !prelink_body.empty() && body == prelink_body;
    prelink_body = prelink && text ? body : std::string();
    if (!write_startup_file(source, prelink, text ? &body : nullptr)) {
        free(source);
        return false;
    }
    if (same && (!keep || relabel_listing(base))) {
        free(source);
        return true;
    }
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
