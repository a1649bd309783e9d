// Running a program with its output captured in temporary files.
#include "support/run_imgchk.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "support/temp_dir.h"

const char* imgchk_path() { return IMGCHK_PATH; }

namespace {

RunResult run_with_limit(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                         const std::string& stdout_path, uint64_t address_space_bytes) {
  TempDir capture;
  const std::string out_path = stdout_path.empty() ? capture.at("stdout") : stdout_path;
  const std::string err_path = capture.at("stderr");

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || chdir(cwd.c_str()) != 0) _exit(126);
    const rlimit limit{address_space_bytes, address_space_bytes};
    if (address_space_bytes != 0 && setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int wait_status = 0;
  while (waitpid(child, &wait_status, 0) < 0) {
  }
  RunResult result;
  result.out = stdout_path.empty() ? read_file(out_path) : "";
  result.err = read_file(err_path);
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  return result;
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, const std::string& stdout_path) {
  return run_with_limit(program, args, cwd, stdout_path, 0);
}

RunResult run_imgchk_limited(const std::vector<std::string>& args, const std::string& cwd,
                             uint64_t address_space_bytes) {
  return run_with_limit(imgchk_path(), args, cwd, "", address_space_bytes);
}

RunResult run_imgchk(const std::vector<std::string>& args, const std::string& cwd,
                     const std::string& stdout_path) {
  return run_program(imgchk_path(), args, cwd, stdout_path);
}
