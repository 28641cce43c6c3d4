// Ends the run with a message: nothing is retried and nothing is cleaned up.
#include "control/fatal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void fatal(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::exit(1);
}
