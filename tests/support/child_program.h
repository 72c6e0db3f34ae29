// Runs a test's helper program as a child process and, on request, kills it
// with SIGKILL a chosen time after it has written "ready" on its output.
#pragma once

#include <string>
#include <vector>

namespace quill::testing {

struct ChildProgramEnd {
    bool killed = false;  // by SIGKILL
    int exitCode = -1;
    std::string output;
};

ChildProgramEnd runChildProgram(const std::string& program, const std::vector<std::string>& args,
                                 long long killAfterMicros = -1);

// What a shell command prints on its standard output.
std::string outputOf(const std::string& command);

}  // namespace quill::testing
