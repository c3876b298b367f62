// Entry points of the parts of the build this driver does not yet carry out:
// the body of the generated start-up file, the link placement options, the
// symbol table of the linked program, the scan of object and library inputs,
// the memory summaries of a link map and the USB descriptor compiler. Each
// one stops the run with a numbered message naming what is missing, so that
// no build ever claims a result it did not produce.
#include "zeph.h"

bool compile_usb(const char *, const char *)
{
    msg_report(1500, "the USB descriptor compiler");
    return false;
}

