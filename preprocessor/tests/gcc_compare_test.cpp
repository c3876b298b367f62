#include "wren_test.h"
