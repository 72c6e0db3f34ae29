#include "support/child_program.h"

#include <cstdio>

#include <chrono>
#include <csignal>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quill::testing {

ChildProgramEnd runChildProgram(const std::string& program, const std::vector<std::string>& args,
                                 long long killAfterMicros) {
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("no pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ChildProgramEnd end;
    bool killSent = false;
    char buffer[256];
    for (;;) {
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        end.output.append(buffer, static_cast<std::size_t>(n));
        if (killAfterMicros >= 0 && !killSent && end.output.find("ready\n") != std::string::npos) {
            std::this_thread::sleep_for(std::chrono::microseconds(killAfterMicros));
            ::kill(pid, SIGKILL);
            killSent = true;
        }
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    end.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    end.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return end;
}

std::string outputOf(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        ::pclose(pipe);
    }
    return out;
}

}  // namespace quill::testing
