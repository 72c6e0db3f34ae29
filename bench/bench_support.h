// What every benchmark needs: a screen that shows nothing, and runs of our
// code or of a peer command in a child process, so each peak memory is its own.
#pragma once

#include "workspace/app/screen.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quill::bench {

// Answers Yes, prints error boxes, and remembers whether the main window was closed.
class SilentScreen : public Screen {
public:
    void setStatus(const std::string&) override {}
    void showError(const std::string& text) override { std::fprintf(stderr, "error box: %s\n", text.c_str()); }
    void showInformation(const std::string&) override {}
    bool confirm(const std::string&) override { return true; }
    void processMessages() override {}
    void waitForEvents(std::chrono::milliseconds upTo) override { wait_.waitFor(upTo); }
    void wakeWaiting() override { wait_.wake(); }
    bool endRequested() const override { return false; }
    void setBusyPointer(bool) override {}
    void showProgress() override {}
    void setProgressLabel(const std::string&) override {}
    void setProgressBarVisible(bool) override {}
    void setProgressPosition(int) override {}
    void freeProgress() override {}
    void setInputBlocked(bool) override {}
    void closeMainWindow() override { closed = true; }
    void beginTransfer(bool) override {}
    void showTransfer(std::int64_t, std::int64_t) override {}
    bool transferCancelled() override { return false; }
    void endTransfer() override {}
    bool closed = false;

private:
    WakeableWait wait_;
};

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Run {
    double seconds;
    long peakKiB;
    bool ok;
    double cpuSeconds = 0;  // user + system: steadier than wall time on a busy machine
};

// Runs work in a child process and measures it there.
template <typename Work>
Run inChild(Work work) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        try {
            work();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "failed: %s\n", e.what());
            _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return {secondsSince(start), usage.ru_maxrss, WIFEXITED(status) && WEXITSTATUS(status) == 0, cpu};
}

// Runs a peer command the same way.
inline Run command(const std::vector<std::string>& args) {
    return inChild([&] {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    });
}

}  // namespace quill::bench
