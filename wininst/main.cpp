// setup: installs a build of Zeph from the payload appended to this program,
// and (as the copy left in the installation's resources folder) repairs or
// removes it.
//
// This version runs headless only: an install with the agreement switch
// and --dir, a removal with --remove-silently, a repair with
// --setTrue-HeadlessInstall --setTrue-Repair. Without those it says that
// the wizard is not available and ends with status 2, changing nothing.
#include "setup.h"

#include <cstdlib>

// Exit status of a run that asked for what this version does not do.
static const int EXIT_NOT_AVAILABLE = 2;

[[noreturn]] static void refuse(const char *text)
{
    setup_error("Setup", "%s; nothing was changed", text);
    exit(EXIT_NOT_AVAILABLE);
}

int main(int argc, char **argv)
{
    // Payload found and checked, manifest parsed, resources extracted,
    // selection resolved (or, for an installed copy, its manifest read).
    setup_start(argc, argv);
    if (!IsVariableTrue("HeadlessInstall")) {
        // The whole stream is still read and checked (CRC and length), so
        // that a damaged installer says so.
        if (payload_located()) {
            select_features_from_components();
            payload_extract_features(nullptr);
        }
        refuse("The setup wizard is not available in this version of setup; install with "
               "\"--I agree to the terms of the licence\" --dir=<folder>, remove with --remove-silently");
    }
    if (IsVariableTrue("Install")) {
        if (IsVariableTrue("Remove"))
            refuse("Removing is done by the setup in the installation's resources folder, not by the installer");
        if (!IsVariableTrue("LicenceAgreed"))
            refuse("Installing needs the agreement: \"--I agree to the terms of the licence\"");
        return engine_install();
    }
    if (IsVariableTrue("Remove"))
        return engine_remove();
    if (IsVariableTrue("Repair"))
        return engine_repair();
    if (!payload_located())
        refuse("Say what to do with the installation: --remove-silently, or --setTrue-Repair to check it");
    refuse("Nothing to do");
}
