// setup: installs a build of Zeph from the payload appended to this program,
// and (as the copy left in the installation's resources folder) repairs or
// removes it.
//
// This version locates and checks the payload, reads the manifest and reads
// the whole record stream through to its checked end; the install engine
// that puts the files in place is not part of it yet, so the run stops
// there, says so, and ends with status 2 (never as if it had installed).
#include "setup.h"

#include <cstdlib>

// Exit status of a run that stopped where the install engine would begin.
static const int EXIT_NOT_AVAILABLE = 2;

int main(int argc, char **argv)
{
    // Payload found and checked, manifest parsed, resources extracted,
    // selection resolved (or, for an installed copy, its manifest read).
    setup_start(argc, argv);
    if (!payload_located()) {
        setup_error("Setup", "Repairing and removing an installation is not available yet in this version of setup; "
                             "nothing was changed");
        exit(EXIT_NOT_AVAILABLE);
    }
    // Every feature record read and dropped: the stream is checked to its
    // end (CRC and length) before the run stops.
    select_features_from_components();
    payload_extract_features(nullptr);
    setup_error("Setup", "Installing is not available yet in this version of setup; the installer is intact, "
                         "nothing was installed");
    exit(EXIT_NOT_AVAILABLE);
}
