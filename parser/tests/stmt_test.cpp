// Statements and expressions: see the cases below.
#include "icode_check.h"
#include "plover_run.h"

#include <gtest/gtest.h>
