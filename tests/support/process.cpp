#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

std::string bin_path(const std::string &program)
{
    return std::string(LUMI_BIN_DIR) + "/" + program;
}

// Forks and execs `argv` with standard output and error on `out` and `err`
// and standard input from /dev/null. Returns the PID or -1. The child only
// makes system calls: tests fork from several threads at once.
static int spawn(const std::vector<std::string> &argv, int out, int err, const std::string &cwd = "")
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    dup2(out, 1);
    dup2(err, 2);
    dup2(open("/dev/null", O_RDONLY), 0);
    for (int fd = 3; fd < 1024; ++fd)
        close(fd);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0)
        _exit(126);
    execvp(args[0], args.data());
    _exit(127);
}

static int open_log(const std::string &path)
{
    return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

ProcessResult run_program(const std::string &program, const std::vector<std::string> &args,
                          double timeout_seconds, const std::vector<std::string> &prefix, const std::string &cwd)
{
    std::vector<std::string> argv = prefix;
    argv.push_back(program);
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string dir = make_temp_dir();
    const int out = open_log(dir + "/out"), err = open_log(dir + "/err");
    const int pid = spawn(argv, out, err, cwd);
    close(out);
    close(err);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_seconds);
    int status = -1;
    while (pid > 0 && waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline)
            kill(pid, SIGKILL);
        usleep(1000);
    }
    ProcessResult result = {read_text_file(dir + "/out"), read_text_file(dir + "/err"), -1};
    if (status != -1 && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    remove_tree(dir);
    return result;
}

int start_background(const std::vector<std::string> &argv, const std::string &log_path)
{
    const int log = open_log(log_path);
    const int pid = log < 0 ? -1 : spawn(argv, log, log);
    close(log);
    return pid;
}

void stop_background(int pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i, usleep(10000)) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
    }
    kill(pid, SIGKILL);  // not yet reaped, so still ours
    waitpid(pid, nullptr, 0);
}

std::string make_temp_dir()
{
    char pattern[] = "/tmp/lumitest.XXXXXX";
    const char *dir = mkdtemp(pattern);
    return dir ? dir : "";
}

void remove_tree(const std::string &path)
{
    if (path.rfind("/tmp/lumitest.", 0) != 0)
        return;  // never anything this helper did not make
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    waitpid(spawn({"rm", "-rf", path}, null, null), nullptr, 0);
    close(null);
}

std::string read_text_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool write_text_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}
