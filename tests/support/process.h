// Programs of the build run as real child processes, and the files around
// them, for tests that drive lumiload, vfixture and Wine from outside.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
    std::string out;   // standard output
    std::string err;   // standard error
    int status = -1;   // exit status, or -1 when killed or not started
};

// Path of a program in the build's bin/ folder.
std::string bin_path(const std::string &program);

// Runs `prefix` (say "nsenter --net=FILE") + `program` + `args` in `cwd`
// (empty: here), input from /dev/null; killed after `timeout_seconds`.
ProcessResult run_program(const std::string &program, const std::vector<std::string> &args,
                          double timeout_seconds = 60, const std::vector<std::string> &prefix = {},
                          const std::string &cwd = "");

// A child with both output streams in `log_path`, stopped by SIGTERM to its
// PID and SIGKILL a second later. Returns the PID, or -1.
int start_background(const std::vector<std::string> &argv, const std::string &log_path);
void stop_background(int pid);

// A fresh folder under /tmp; remove_tree removes only such folders.
std::string make_temp_dir();
void remove_tree(const std::string &path);
struct TempDir {
    std::string path = make_temp_dir();
    ~TempDir() { remove_tree(path); }
};
std::string read_text_file(const std::string &path);
bool write_text_file(const std::string &path, const std::string &text);
