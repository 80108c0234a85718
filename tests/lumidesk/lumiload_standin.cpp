// Stand-in for lumiload in the desk tests. It is copied
// into a scratch directory as ./lumiload, where the window finds it. It
// never touches the network.
//
// Every run appends one line to calls.log: "start <pid>" and its arguments,
// each in brackets ("[-s ][127.0.0.1]"), and "end <pid>" when it ends
// normally. It then plays a script chosen by its arguments:
//   script-<address>.txt  when "-d <address>" is given and the file exists,
//   upload.txt            when "-f" is given,
//   check.txt, locate.txt when "-N", "-L" is given,
//   discover.txt          otherwise.
// A missing script prints nothing and exits with status 1.
//
// Script lines:
//   out TEXT   writes TEXT in one write; \n \r \t \\ are escapes
//   err TEXT   the same on standard error
//   sleep MS   pauses
//   exit N     ends with status N
//   crash      dies from SIGKILL
//   wait-stop MS  reads standard input for the line "stop" for up to MS,
//              and logs "stop <pid>" to calls.log when it came
//   # ...      comment
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <poll.h>
#include <unistd.h>

static void write_all(const std::string &text, int fd = STDOUT_FILENO)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

static std::string unescape(const std::string &text)
{
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            result += text[i];
            continue;
        }
        char next = text[++i];
        result += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
    }
    return result;
}

static void log_line(const std::string &line)
{
    std::ofstream log("calls.log", std::ios::app);
    log << line << '\n';
}

static bool file_exists(const std::string &path)
{
    return access(path.c_str(), R_OK) == 0;
}

int main(int argc, char **argv)
{
    std::string call = "start " + std::to_string(getpid()) + " ";
    std::string destination;
    bool upload = false;
    std::string tool;   // the script of a check or a locate
    for (int i = 1; i < argc; ++i) {
        call += "[" + std::string(argv[i]) + "]";
        if (std::strcmp(argv[i], "-d") == 0 && i + 1 < argc)
            destination = argv[i + 1];
        if (std::strcmp(argv[i], "-f") == 0)
            upload = true;
        if (std::strcmp(argv[i], "-N") == 0 || std::strcmp(argv[i], "-L") == 0)
            tool = argv[i][1] == 'N' ? "check.txt" : "locate.txt";
    }
    log_line(call);

    std::string script = !tool.empty() ? tool : upload ? "upload.txt" : "discover.txt";
    if (!destination.empty() && file_exists("script-" + destination + ".txt"))
        script = "script-" + destination + ".txt";
    std::ifstream in(script);
    if (!in)
        return 1;

    int status = 0;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("out ", 0) == 0 || line.rfind("err ", 0) == 0) {
            write_all(unescape(line.substr(4)), line[0] == 'o' ? STDOUT_FILENO : STDERR_FILENO);
        } else if (line.rfind("sleep ", 0) == 0) {
            usleep(useconds_t(std::atoi(line.c_str() + 6)) * 1000);
        } else if (line.rfind("exit ", 0) == 0) {
            status = std::atoi(line.c_str() + 5);
            break;
        } else if (line.rfind("wait-stop ", 0) == 0) {
            pollfd input = {STDIN_FILENO, POLLIN, 0};
            char text[5] = {};
            if (poll(&input, 1, std::atoi(line.c_str() + 10)) > 0 && read(STDIN_FILENO, text, 4) == 4 &&
                std::string(text) == "stop")
                log_line("stop " + std::to_string(getpid()));
        } else if (line == "crash") {
            kill(getpid(), SIGKILL);
        }
    }
    log_line("end " + std::to_string(getpid()));
    return status;
}
