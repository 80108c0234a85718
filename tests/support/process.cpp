#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char **environ;

std::string bin_path(const std::string &program)
{
    return std::string(LUMI_BIN_DIR) + "/" + program;
}

static std::vector<char *> c_argv(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

ProcessResult run_program(const std::string &program, const std::vector<std::string> &args,
                          double timeout_seconds, const std::vector<std::string> &prefix,
                          const std::string &cwd)
{
    ProcessResult result;
    std::vector<std::string> full = prefix;
    full.push_back(program);
    full.insert(full.end(), args.begin(), args.end());

    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0)
        return result;
    if (pipe(err_pipe) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return result;
    }
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        close(out_pipe[1]);
        close(err_pipe[1]);
        int null_in = open("/dev/null", O_RDONLY);
        if (null_in >= 0)
            dup2(null_in, 0);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        std::vector<char *> argv = c_argv(full);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (pid < 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        return result;
    }

    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open_pipes = 2;
    bool killed = false;
    while (open_pipes > 0) {
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (elapsed > timeout_seconds && !killed) {
            kill(pid, SIGKILL);
            killed = true;
        }
        if (poll(fds, 2, 100) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[65536];
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(got));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_pipes;
            }
        }
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.status = (WIFEXITED(wstatus) && !killed) ? WEXITSTATUS(wstatus) : -1;
    return result;
}

BackgroundProcess start_background(const std::vector<std::string> &args, const std::string &log_path)
{
    BackgroundProcess process;
    pid_t pid = fork();
    if (pid == 0) {
        int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
            close(log);
        }
        int null_in = open("/dev/null", O_RDONLY);
        if (null_in >= 0)
            dup2(null_in, 0);
        std::vector<char *> argv = c_argv(args);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    process.pid = pid;
    return process;
}

int stop_background(BackgroundProcess *process)
{
    if (process->pid <= 0)
        return -1;
    int wstatus = 0;
    kill(process->pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(process->pid, &wstatus, WNOHANG) == process->pid) {
            process->pid = -1;
            return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
        }
        usleep(10000);
    }
    kill(process->pid, SIGKILL);
    waitpid(process->pid, &wstatus, 0);
    process->pid = -1;
    return -1;
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
        return;  // never remove anything this helper did not make
    std::string command = "rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0) {
    }
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
