// Runs a program of the build as a real child process and captures what it
// prints, for tests that drive lumiload and its companions from outside.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
    std::string out;   // standard output
    std::string err;   // standard error
    int status = -1;   // exit status, or -1 when killed or not started
    double seconds = 0;
};

// Path of a program in the build's bin/ folder.
std::string bin_path(const std::string &program);

// Runs `program` with `args` (argv[1] onwards) in `cwd` (empty: the
// current directory), optionally through `prefix` (for example
// {"ip", "netns", "exec", "ns"}). Kills it after `timeout_seconds`.
ProcessResult run_program(const std::string &program, const std::vector<std::string> &args,
                          double timeout_seconds = 60, const std::vector<std::string> &prefix = {},
                          const std::string &cwd = "");

// A child left running in the background, stdout and stderr to `log_path`.
struct BackgroundProcess {
    int pid = -1;
};
BackgroundProcess start_background(const std::vector<std::string> &argv, const std::string &log_path);
// Sends SIGTERM, waits up to a second, then SIGKILL. Returns the exit status or -1.
int stop_background(BackgroundProcess *process);

// A fresh temporary directory, removed by remove_tree.
std::string make_temp_dir();
void remove_tree(const std::string &path);
std::string read_text_file(const std::string &path);
bool write_text_file(const std::string &path, const std::string &text);
