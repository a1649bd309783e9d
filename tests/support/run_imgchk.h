// Runs the built imgchk and collects everything it wrote.
#pragma once

#include <cstdint>
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

// The same with the child's address space limited to `address_space_bytes`
// (RLIMIT_AS), so that memory the run would need beyond it fails to come.
RunResult run_imgchk_limited(const std::vector<std::string>& args, const std::string& cwd,
                             uint64_t address_space_bytes);

// The same with at most `open_files` descriptors open at once (RLIMIT_NOFILE).
RunResult run_imgchk_with_open_files(const std::vector<std::string>& args, const std::string& cwd, uint64_t open_files);

// The same for any program, found on PATH when `program` has no slash, with
// `environment` ("NAME=value") added to the inherited one.
RunResult run_program(const std::string& program, const std::vector<std::string>& args, const std::string& cwd = ".",
                      const std::string& stdout_path = "", const std::vector<std::string>& environment = {});

// As run_program, but with standard error on a pseudo-terminal `columns`
// wide; `err` is every byte the program wrote to it, as the terminal got
// them (the terminal turns "\n" into "\r\n"). With `signal_number`, that
// signal is sent once the terminal has got `signal_when(err)` to say true.
RunResult run_on_terminal(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                          const std::vector<std::string>& environment, int columns, int signal_number = 0,
                          bool (*signal_when)(const std::string& err) = nullptr);

// The path of the imgchk binary under test.
const char* imgchk_path();

// The path of imgchk_test_hooks, the same program reading test settings
// from its environment.
const char* imgchk_test_hooks_path();
