// The command line, checked on the built binary: exact output streams and status.
#include "support/run.h"
#include "support/traces.h"

#include <gtest/gtest.h>

namespace {

std::string usage_text() {
    return "usage: " + flowdeal_binary() +
           " [options] readfile writespec num_files\n"
           "  the \"writespec\" must contain a %d, indicating where to insert the file number\n"
           "  options:\n"
           "    --p4 X    use /X prefix when splittng v4 packets\n"
           "    --p6 X    use /X prefix when splittng v6 packets\n"
           "    -d        classify deterministically\n"
           "    -h        usage instructions\n"
           "    --notcp   only use IP addresses in classification\n"
           "    --version version information\n";
}

const std::string USAGE = "<usage>";
const std::string TOO_MANY = "flowdeal only supports 256 output files\n";
const std::string INCREMENTS = "prefix must be in 8-bit increments\n";
const std::string TOO_LONG = "prefix must be less than full address length\n";
const std::string PATTERN_1 = "bad write file format (1): out\n format must contain %d\n";
const std::string PATTERN_2 = "bad write format (2):\n format must not contain arguments other than %d\n";
const std::string PATTERN_3 = "bad write format (3):\n too many arugments in format\n";
// Parsing passed when the run gets as far as opening the (absent) input.
const std::string NO_INPUT = "error opening tracefile nofile: nofile: No such file or directory\n";

struct command_case {
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
};

void PrintTo(const command_case &c, std::ostream *os) {
    *os << "flowdeal";
    for (const std::string &a : c.args) {
        *os << " '" << a << "'";
    }
}

class command_line : public testing::TestWithParam<command_case> {};

TEST_P(command_line, prints_exactly_and_exits) {
    const command_case &c = GetParam();
    const run_result r = run_flowdeal(c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err == USAGE ? usage_text() : c.err);
    EXPECT_EQ(r.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    table, command_line,
    testing::Values(
        command_case{{}, "", USAGE, 1},
        command_case{{"-h"}, "", USAGE, 1},
        command_case{{"nofile", "out%d", "2", "-h"}, "", USAGE, 1},
        command_case{{"--version"}, "flowdeal v0.3\n", "", 0},
        command_case{{"-d", "--p4", "8", "--version", "-h"}, "flowdeal v0.3\n", "", 0},
        command_case{{"-h", "--version"}, "", USAGE, 1},
        command_case{{"nofile", "out%d", "4", "extra"}, "", USAGE, 1},
        command_case{{"nofile", "out%d"}, "", USAGE, 1},
        command_case{{"nofile"}, "", USAGE, 1},
        // Words that only look like options are positional.
        command_case{{"-x", "out%d", "2"}, "", "error opening tracefile -x: -x: No such file or directory\n", 1},
        command_case{{"-dd", "out%d", "2"}, "", "error opening tracefile -dd: -dd: No such file or directory\n", 1},
        // Write patterns; the third error goes to standard output.
        command_case{{"nofile", "out", "4"}, "", PATTERN_1, 1},
        command_case{{"nofile", "out%s", "4"}, "", PATTERN_2, 1},
        command_case{{"nofile", "out%5d", "4"}, "", PATTERN_2, 1},
        command_case{{"nofile", "out%%", "4"}, "", PATTERN_2, 1},
        command_case{{"nofile", "out%", "4"}, "", PATTERN_2, 1},
        command_case{{"nofile", "out%d%d", "4"}, PATTERN_3, "", 1},
        command_case{{"nofile", "out%d%", "4"}, PATTERN_3, "", 1},
        command_case{{"nofile", "out", "4", "--version"}, "", PATTERN_1, 1},
        // Output counts, read as atoi reads them but range-checked in full.
        command_case{{"nofile", "out%d", "256"}, "", NO_INPUT, 1},
        command_case{{"nofile", "out%d", "1"}, "", NO_INPUT, 1},
        command_case{{"nofile", "out%d", " +3xyz"}, "", NO_INPUT, 1},
        command_case{{"nofile", "out%d", "257"}, "", TOO_MANY, 1},
        command_case{{"nofile", "out%d", "-1"}, "", TOO_MANY, 1},
        command_case{{"nofile", "out%d", "65537"}, "", TOO_MANY, 1},
        command_case{{"nofile", "out%d", "65536"}, "", TOO_MANY, 1},
        command_case{{"nofile", "out%d", "-65535"}, "", TOO_MANY, 1},
        command_case{{"nofile", "out%d", "99999999999"}, "", TOO_MANY, 1},
        command_case{{"nofile", "out%d", "18446744073709551617"}, "", TOO_MANY, 1},
        command_case{{"nofile", "out%d", "0"}, "", USAGE, 1},
        command_case{{"nofile", "out%d", "-0"}, "", USAGE, 1},
        command_case{{"nofile", "out%d", "abc"}, "", USAGE, 1},
        command_case{{"nofile", "out%d", "0", "3"}, "", NO_INPUT, 1},
        command_case{{"nofile", "out%d", "abc", "3", "4"}, "", USAGE, 1},
        // Prefixes: the multiple-of-8 test first, then the range.
        command_case{{"--p4", "24", "nofile", "out%d", "2"}, "", NO_INPUT, 1},
        command_case{{"--p4", "0", "nofile", "out%d", "2"}, "", NO_INPUT, 1},
        command_case{{"--p6", "120", "nofile", "out%d", "2"}, "", NO_INPUT, 1},
        command_case{{"--p4", "-d", "nofile", "out%d", "2"}, "", NO_INPUT, 1},
        command_case{{"--p4", "12", "nofile", "out%d", "2"}, "", INCREMENTS, 1},
        command_case{{"--p4", "-12", "nofile", "out%d", "2"}, "", INCREMENTS, 1},
        command_case{{"--p4", "32", "nofile", "out%d", "2"}, "", TOO_LONG, 1},
        command_case{{"--p4", "-8", "nofile", "out%d", "2"}, "", TOO_LONG, 1},
        command_case{{"--p4", "65544", "nofile", "out%d", "2"}, "", TOO_LONG, 1},
        command_case{{"--p4", "4294967304", "nofile", "out%d", "2"}, "", TOO_LONG, 1},
        command_case{{"--p6", "128", "nofile", "out%d", "2"}, "", TOO_LONG, 1},
        command_case{{"--p6", "7", "nofile", "out%d", "2"}, "", INCREMENTS, 1},
        command_case{{"nofile", "out%d", "2", "--p4", "32", "-h"}, "", TOO_LONG, 1},
        // A prefix option with no value after it is positional.
        command_case{{"nofile", "out%d", "--p4"}, "", USAGE, 1},
        command_case{{"nofile", "out%d", "--p4", "3"}, "", INCREMENTS, 1},
        command_case{{"-d", "--notcp", "nofile", "-d", "out%d", "2", "-d"}, "", NO_INPUT, 1}));

}  // namespace
