// Runs the built imgchk and collects everything it wrote.
#pragma once

#include <string>
#include <vector>

struct RunResult {
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error, byte for byte
  int status;       // exit status, or 128 + signal number
};

// Runs imgchk with `args` (not including the program name) in `cwd`.
// With `stdout_path`, standard output goes to that file instead of `out`.
RunResult run_imgchk(const std::vector<std::string>& args, const std::string& cwd = ".",
                     const std::string& stdout_path = "");

// The same for any program, found on PATH when `program` has no slash.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd = ".", const std::string& stdout_path = "");

// The path of the imgchk binary under test.
const char* imgchk_path();
