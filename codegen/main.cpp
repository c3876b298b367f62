// kestrel: the code generator. Start-up and the order of the phases.
//
// The run reads the whole program (every intermediate-code input and the
// library modules it needs) into one model before anything is generated;
// an error anywhere in the input stops the run before code generation.
#include "kestrel.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

int options_parse(int argc, char **argv);
void open_files(int argc, char **argv, int first);
void printf_mark_results();

void tool_exit(int status)
{
    exit(status);
}

static void on_interrupt(int)
{
    _Exit(151);
}

// The argument vector from the command line, an "@" file or standard input.
static char **read_arguments(int *argc, char **argv)
{
    if (*argc > 1 && !(*argc == 2 && argv[1][0] == '@'))
        return argv;
    if (*argc == 2 && !freopen(argv[1] + 1, "r", stdin))
        cg_fatal(141, "command", argv[1] + 1);
    char **args = getargs(nullptr, "KESTREL");
    *argc = getargs_count;
    return args;
}

int main(int argc, char **argv)
{
    msg_set_tool_name("kestrel");
    msg_init();
    msg_set_error_limit(10);                 // the default until --emax= says otherwise
    argv = read_arguments(&argc, argv);
    kestrel_reset();                         // the external tables, symbol table, memory spaces
    int first = options_parse(argc, argv);   // left to right, as given
    msg_set_location(cur_file, (const unsigned *)&cur_line, nullptr, nullptr);
    open_files(argc, argv, first);           // the output, then the SDB file
    if (!run.printf_pass) {
        emit_title_line();
        emit_asm_header();                   // completes the mode word from the chip family
        sdb_write_header();
    } else if (run.sdb) {
        fclose(run.sdb);                     // the feature pass writes no debug records
        run.sdb = nullptr;
    }
    types_init();                            // the basic types, before any type string
    mark_helper_routines();                  // after the modes: IEEE sizes of float and double
    if (signal(SIGINT, on_interrupt) == SIG_IGN)
        signal(SIGINT, SIG_IGN);
    if (run.many_inputs)
        ic_read_inputs(argc - first, argv + first);
    else
        ic_read_inputs(0, nullptr);
    // The whole program is read: no new symbols after this point.
    if (msg_exit_status() == 0) {
        if (run.printf_pass) {
            printf_mark_results();
            printf_feature_list();
        } else if (optim_whole_program() == 0 && msg_exit_status() == 0) {
            data_output();                   // the objects, in the banks placement chose
            emit_epilogue();                 // frame psect, bank macro, end
        }
    }
    if (run.sdb)
        fclose(run.sdb);
    if (fclose(stdout) != 0)
        msg_report(739);
    return msg_exit_status();
}
