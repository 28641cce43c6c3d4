#include "support/run.h"
#include "support/traces.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

std::string flowdeal_binary() {
    return FLOWDEAL_BINARY;
}

run_result run_flowdeal(const std::vector<std::string> &args, const run_options &options) {
    scratch_dir capture;
    const std::string out_path = capture / "stdout";
    const std::string err_path = capture / "stderr";
    const std::string binary = flowdeal_binary();
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(binary.c_str()));
    for (const std::string &a : args) {
        argv.push_back(const_cast<char *>(a.c_str()));
    }
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        const std::string in_path = options.stdin_path.empty() ? "/dev/null" : options.stdin_path;
        const int in = open(in_path.c_str(), O_RDONLY);
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
            _exit(127);
        }
        if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) {
            _exit(127);
        }
        for (const auto &[name, value] : options.environment) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        if (options.open_files_limit > 0) {
            // The leak checker of a sanitizer build needs descriptors of its own at exit.
            setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            const rlimit r{static_cast<rlim_t>(options.open_files_limit), static_cast<rlim_t>(options.open_files_limit)};
            setrlimit(RLIMIT_NOFILE, &r);
        }
        if (options.memory_limit > 0) {
            const rlimit r{static_cast<rlim_t>(options.memory_limit), static_cast<rlim_t>(options.memory_limit)};
            setrlimit(RLIMIT_AS, &r);
        }
        if (options.as_nobody && getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(127);
        }
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    run_result r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    const auto out_bytes = read_file(out_path);
    const auto err_bytes = read_file(err_path);
    r.out.assign(out_bytes.begin(), out_bytes.end());
    r.err.assign(err_bytes.begin(), err_bytes.end());
    return r;
}
