// Runs the built flowdeal binary and captures everything it shows.
#pragma once

#include <string>
#include <vector>

struct run_result {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or 128 + signal
};

struct run_options {
    std::string stdin_path;     // empty: /dev/null
    std::string directory;      // empty: the test's own
    long open_files_limit = 0;  // 0: unchanged
    long memory_limit = 0;      // bytes of address space; 0: unchanged
    bool as_nobody = false;     // when root, drop to user nobody before running
    std::vector<std::pair<std::string, std::string>> environment;  // set in the child
};

inline run_options in_dir(const std::string &directory, const std::string &stdin_path = "") {
    run_options o;
    o.directory = directory;
    o.stdin_path = stdin_path;
    return o;
}

run_result run_flowdeal(const std::vector<std::string> &args, const run_options &options = {});
std::string flowdeal_binary();
