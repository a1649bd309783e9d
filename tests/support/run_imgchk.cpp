// Running a program with its output captured in temporary files.
#include "support/run_imgchk.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "support/temp_dir.h"

const char* imgchk_path() {
  return IMGCHK_PATH;
}
const char* imgchk_test_hooks_path() {
  return IMGCHK_TEST_HOOKS_PATH;
}

namespace {

std::vector<char*> argument_vector(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// In the child: adds the environment and runs the program, or exits 127.
[[noreturn]] void exec_with(std::vector<char*>& argv, const std::vector<std::string>& environment) {
  for (const std::string& setting : environment) putenv(const_cast<char*>(setting.c_str()));
  execvp(argv[0], argv.data());
  _exit(127);
}

int exit_status(pid_t child) {
  int wait_status = 0;
  while (waitpid(child, &wait_status, 0) < 0) {
  }
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

RunResult run_captured(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                       const std::string& stdout_path, const std::vector<std::string>& environment,
                       int limited_resource, uint64_t limit) {
  TempDir capture;
  const std::string out_path = stdout_path.empty() ? capture.at("stdout") : stdout_path;
  const std::string err_path = capture.at("stderr");

  std::vector<char*> argv = argument_vector(program, args);
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || chdir(cwd.c_str()) != 0) _exit(126);
    const rlimit lowered{limit, limit};
    if (limit != 0 && setrlimit(limited_resource, &lowered) != 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    exec_with(argv, environment);
  }
  RunResult result;
  result.status = exit_status(child);
  result.out = stdout_path.empty() ? read_file(out_path) : "";
  result.err = read_file(err_path);
  return result;
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                      const std::string& stdout_path, const std::vector<std::string>& environment) {
  return run_captured(program, args, cwd, stdout_path, environment, RLIMIT_AS, 0);
}

RunResult run_imgchk_limited(const std::vector<std::string>& args, const std::string& cwd,
                             uint64_t address_space_bytes) {
  return run_captured(imgchk_path(), args, cwd, "", {}, RLIMIT_AS, address_space_bytes);
}

RunResult run_imgchk_with_open_files(const std::vector<std::string>& args, const std::string& cwd,
                                     uint64_t open_files) {
  return run_captured(imgchk_path(), args, cwd, "", {}, RLIMIT_NOFILE, open_files);
}

RunResult run_on_terminal(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                          const std::vector<std::string>& environment, int columns, int signal_number,
                          bool (*signal_when)(const std::string& err)) {
  TempDir capture;
  const std::string out_path = capture.at("stdout");
  std::vector<char*> argv = argument_vector(program, args);
  int terminal = -1;
  int program_side = -1;
  winsize size{};
  size.ws_row = 24;
  size.ws_col = static_cast<unsigned short>(columns);
  if (openpty(&terminal, &program_side, nullptr, nullptr, &size) != 0) throw std::runtime_error("openpty failed");

  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = open("/dev/null", O_RDONLY);
    if (out < 0 || in < 0 || chdir(cwd.c_str()) != 0) _exit(126);
    close(terminal);
    dup2(in, 0);
    dup2(out, 1);
    dup2(program_side, 2);
    close(program_side);
    exec_with(argv, environment);
  }
  close(program_side);
  RunResult result;
  // Read until the last holder of the program's side is gone (EIO on Linux).
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(terminal, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    result.err.append(buffer, static_cast<size_t>(got));
    if (signal_number != 0 && signal_when(result.err)) {
      kill(child, signal_number);
      signal_number = 0;
    }
  }
  close(terminal);
  result.status = exit_status(child);
  result.out = read_file(out_path);
  return result;
}

RunResult run_imgchk(const std::vector<std::string>& args, const std::string& cwd, const std::string& stdout_path) {
  return run_program(imgchk_path(), args, cwd, stdout_path);
}
