// Commands whose register-area support is still being brought up.
#include <cstdio>

#include "tool.h"

int cmd_check(int /*argc*/, char ** /*argv*/) {
    printf("check: not available in this build\n");
    return -1;
}
