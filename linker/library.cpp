// Libraries: choosing the modules to take in, then reading them in every pass
// like plain object modules.
//
// In pass 0 the directory is read and checked against the file size; a
// module is taken when it defines a symbol that is still undefined and that
// no other module has been asked for. Taking a module enters every name it
// lists, so its own references can pull in later modules; rounds repeat until
// one takes nothing. Passes 1 and 2 read exactly the modules taken, each from
// its computed start, never past its computed end.
#include "heron.h"

const unsigned LIB_MAX_ROUNDS = 10;   // more rounds than this: badly ordered

// The first symbol the module defines that is still wanted; null when none.
static symbol *lib_wanted_symbol(const lib_module &m)
{
    for (const lib_symbol &ls : m.symbols) {
        if (ls.flag != 0)
            continue;
        symbol *s = find_symbol(ls.name.c_str(), OBJ_GLOBAL);
        if (s && sym_kind(s) == SK_UNDEFINED && !(s->marks & MARK_REQUESTED))
            return s;
    }
    return nullptr;
}

// Takes module i: every name it lists becomes known, those it defines are
// marked as asked for.
static void lib_take(input_file &in, unsigned i)
{
    const lib_module &m = in.dir.modules[i];
    in.taken[i] = true;
    if (in.modules.empty())
        in.modules.assign(in.dir.modules.size(), nullptr);
    module_rec *mod = new module_rec{};
    mod->name = m.name;
    mod->file_index = (uint16_t)input_index;
    mod->module_index = (uint16_t)i;
    in.modules[i] = mod;
    for (const lib_symbol &ls : m.symbols) {
        symbol *s = sym_enter(ls.name.c_str(), OBJ_GLOBAL | SK_UNDEFINED);
        if (ls.flag == 0)
            s->marks |= MARK_REQUESTED;
    }
}

static void lib_choose(input_file &in)
{
    unsigned rounds = 0;
    bool changed;
    do {
        changed = false;
        rounds++;
        for (unsigned i = 0; i < in.dir.modules.size(); i++) {
            if (in.taken[i])
                continue;
            if (symbol *s = lib_wanted_symbol(in.dir.modules[i])) {
                s->marks |= MARK_REQUESTED;
                lib_take(in, i);
                changed = true;
            }
        }
    } while (changed);
    if (rounds > LIB_MAX_ROUNDS)
        msg_report(522, in.name.c_str());
}

// Reads every taken module from its own place in the file, bounded by its
// length.
static void lib_read_taken(FILE *f, input_file &in)
{
    for (unsigned i = 0; i < in.dir.modules.size(); i++) {
        if (!in.taken[i])
            continue;
        const lib_module &m = in.dir.modules[i];
        if (fseek(f, (long)m.start, SEEK_SET) != 0)
            msg_report(417, in.name.c_str());
        current_file = m.name;
        current_mod = in.modules[i];
        record_limit_set(m.length);
        read_module_from(f);
        record_limit_clear();
        current_mod = nullptr;
    }
    current_file.clear();
}

void open_library(FILE *f)
{
    input_file &in = inputs[input_index];
    current_library = in.name;
    current_file.clear();
    current_mod = nullptr;
    if (pass == 0) {
        lib_status st = lib_read_directory(f, &in.dir);
        if (st != LIB_OK) {
            msg_report(507);
            in.dir.modules.clear();
        }
        in.taken.assign(in.dir.modules.size(), false);
        lib_choose(in);
    }
    if (pass == 2 && opt.map)
        map_printf("\n%s\n", in.name.c_str());
    lib_read_taken(f, in);
    current_library.clear();
}
