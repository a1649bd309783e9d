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
RunResult run_imgchk(const std::vector<std::string>& args, const std::string& cwd = ".");

// The same for any program, found on PATH when `program` has no slash.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd = ".");

// The path of the imgchk binary under test.
const char* imgchk_path();
