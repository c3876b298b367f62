// The driver's chip database reader as a program for the fuzz target: the
// listing walks every section, then the lookup of one chip builds its
// memory model and its psect catalogue, as the driver does for --chip.
#include "chip.h"

#include <cstdlib>

void tool_exit(int status) { exit(status); }

int chipinfo_main(int argc, char **argv)
{
    msg_set_tool_name("zeph");
    msg_init();
    if (argc < 2)
        return 2;
    memory_model_start();
    chipinfo_list(argv[1], 1, stdout);
    chip_record *chip = chipinfo_lookup(argv[1], "16F877A");
    memory_model_finish(chip, 0, 0);
    define_psect_catalogue(chip);
    return msg_exit_status();
}
