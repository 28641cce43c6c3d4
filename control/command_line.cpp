// The argument vector becomes the run's settings; anything unacceptable ends the run.
#include "control/control.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

const char *program_name = "flowdeal";  // argv[0] once the command line is read

// A number read the way atoi reads it (leading white space, a sign, digits,
// anything after ignored), but without its overflow: the magnitude is exact
// below 2^32 and otherwise flagged, and its low bits stay exact regardless.
struct decimal {
    bool negative;
    bool huge;
    uint64_t magnitude;
};

decimal read_decimal(const char *text) {
    decimal d{false, false, 0};
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) {
        ++text;
    }
    if (*text == '-' || *text == '+') {
        d.negative = *text == '-';
        ++text;
    }
    for (; *text >= '0' && *text <= '9'; ++text) {
        d.magnitude = d.magnitude * 10 + static_cast<uint64_t>(*text - '0');  // wraps: low bits stay exact
        if (d.magnitude > UINT32_MAX) {
            d.huge = true;
        }
    }
    if (d.magnitude == 0 && !d.huge) {
        d.negative = false;  // "-0" is 0
    }
    return d;
}

void check_write_pattern(char *pattern) {
    const char *percent = std::strchr(pattern, '%');
    if (percent == nullptr) {
        std::fprintf(stderr, "bad write file format (1): %s\n", pattern);
        std::fprintf(stderr, " format must contain %%d\n");
        std::exit(1);
    }
    if (percent[1] != 'd') {
        std::fprintf(stderr, "bad write format (2):\n");
        std::fprintf(stderr, " format must not contain arguments other ");
        std::fprintf(stderr, "than %%d\n");
        std::exit(1);
    }
    if (std::strchr(percent + 1, '%') != nullptr) {
        std::fprintf(stdout, "bad write format (3):\n");
        std::fprintf(stdout, " too many arugments in format\n");
        std::exit(1);
    }
}

// 0 (or no digits) means "not given", so a later argument may supply it.
void take_num_files(const char *text) {
    const decimal d = read_decimal(text);
    if (d.negative || d.huge || d.magnitude > MAX_OUTPUT_FILES) {
        fatal("flowdeal only supports %d output files\n", MAX_OUTPUT_FILES);
    }
    num_files = static_cast<uint16_t>(d.magnitude);
}

void take_positional(char *argument) {
    if (readfile == nullptr) {
        readfile = argument;
    } else if (writespec == nullptr) {
        check_write_pattern(argument);
        writespec = argument;
    } else if (num_files == 0) {
        take_num_files(argument);
    } else {
        show_usage(program_name);
    }
}

}  // namespace

void show_usage(const char *name) {
    std::fprintf(stderr, "usage: %s [options] readfile writespec num_files\n", name);
    std::fprintf(stderr, "  the \"writespec\" must contain a %%d, indicating ");
    std::fputs("where to insert the file number\n", stderr);
    std::fputs("  options:\n", stderr);
    std::fputs("    --p4 X    use /X prefix when splittng v4 packets\n", stderr);
    std::fputs("    --p6 X    use /X prefix when splittng v6 packets\n", stderr);
    std::fputs("    -d        classify deterministically\n", stderr);
    std::fputs("    -h        usage instructions\n", stderr);
    std::fputs("    --notcp   only use IP addresses in classification\n", stderr);
    std::fputs("    --version version information\n", stderr);
    std::exit(1);
}

uint16_t parse_prefix(const char *text, int full_bits) {
    const decimal d = read_decimal(text);
    // Two's complement keeps the low three bits of a negative value's magnitude.
    if ((d.magnitude & 7) != 0) {
        fatal("prefix must be in 8-bit increments\n");
    }
    if (d.negative || d.huge || d.magnitude >= static_cast<uint64_t>(full_bits)) {
        fatal("prefix must be less than full address length\n");
    }
    return static_cast<uint16_t>(d.magnitude / 8);
}

void parse_command_line(int argc, char **argv) {
    if (argc > 0 && argv[0] != nullptr) {
        program_name = argv[0];
    }
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool has_value = i + 1 < argc;
        if (argument == "-h") {
            show_usage(program_name);
        } else if (argument == "--version") {
            std::printf("flowdeal v%s\n", FLOWDEAL_VERSION);
            std::exit(0);
        } else if (argument == "--notcp") {
            use_ports = 0;
        } else if (argument == "--p4" && has_value) {
            v4_prefix_bytes = parse_prefix(argv[++i], 32);
            use_ports = 0;
        } else if (argument == "--p6" && has_value) {
            v6_prefix_bytes = parse_prefix(argv[++i], 128);
            use_ports = 0;
        } else if (argument == "-d") {
            deterministic = 1;
        } else {
            take_positional(argv[i]);
        }
    }
    if (readfile == nullptr || writespec == nullptr || num_files == 0) {
        show_usage(program_name);
    }
}
