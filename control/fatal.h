// The one way any subsystem ends the run on an error.
#pragma once

// Prints the formatted message to standard error and exits with status 1.
[[noreturn]] void fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));
