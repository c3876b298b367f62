// The link tests' fixture: chips from the shipped database.
#include "link_support.h"

void link_fixture_chip(const char *chip, const char *database)
{
    messages_for_test();
    memory_model_reset();
    memory_model_start();
    chipinfo_lookup(database, chip);
    options_set_defaults();
    settings = driver_settings{};
    opts.errors = 0;
    memory_model_finish(chip_selected, opts.debugger, opts.runtime);
    bs.linker_opts = vec_new_default();
    bs.errors = 0;
    osc_calibration = 0;
    placement_reset();
    symt_free();
    symt_init();
}

void link_fixture_end()
{
    symt_free();
    settings = driver_settings{};
    options_set_defaults();
}

std::string joined_args(arglist *a)
{
    vector_t *texts = arglist_texts(a);
    std::string s;
    for (uint32_t i = 0; i < vec_count(texts); i++)
        s += (i ? " " : "") + std::string(static_cast<const char *>(vec_get(texts, i)));
    vec_free(texts);
    arglist_free(a);
    return s;
}

void load_symbols(const std::string &text)
{
    tool_write("link_test.sym", text);
    symt_free();
    symt_init();
    symt_read("link_test.sym");
    remove("link_test.sym");
}
