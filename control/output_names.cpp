// Output names from the pattern, and the guard that no output is the input trace.
#include "control/control.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

namespace {

char *name_buffer = nullptr;  // names are formatted here, one at a time
size_t name_buffer_size = 0;

// The input's file identity, so that no output can overwrite it.
bool input_is_file = false;
dev_t input_device = 0;
ino_t input_inode = 0;

}  // namespace

void note_input_identity(int fd) {
    struct stat st{};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        input_is_file = true;
        input_device = st.st_dev;
        input_inode = st.st_ino;
    }
}

// writespec holds exactly one "%d" (checked by the command line); it is
// replaced by the output's number, or by "weird" for the unclassified output.
const char *output_name(int output) {
    if (name_buffer == nullptr) {
        name_buffer_size = std::strlen(writespec) + 16;
        name_buffer = static_cast<char *>(std::malloc(name_buffer_size));
        if (name_buffer == nullptr) {
            fatal("open_trace_files() memory allocation problem\n");
        }
    }
    const char *percent = std::strchr(writespec, '%');
    const int prefix_len = static_cast<int>(percent - writespec);
    if (output == UNPLACED) {
        std::snprintf(name_buffer, name_buffer_size, "%.*s%s%s", prefix_len, writespec, "weird", percent + 2);
    } else {
        std::snprintf(name_buffer, name_buffer_size, "%.*s%d%s", prefix_len, writespec, output, percent + 2);
    }
    return name_buffer;
}

void refuse_input_as_output(const char *name) {
    struct stat st{};
    if (input_is_file && stat(name, &st) == 0 && st.st_dev == input_device && st.st_ino == input_inode) {
        fatal("cannot open %s for writing: it is the input trace\n", name);
    }
}
