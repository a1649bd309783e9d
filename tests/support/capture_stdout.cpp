// Standard output and error redirected to temporary files for one call.
#include "support/capture_stdout.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "support/temp_dir.h"

namespace {

struct Redirect {
  int fd;
  int saved;
  Redirect(int target_fd, const std::string& file) : fd(target_fd), saved(dup(target_fd)) {
    const int target = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(target, fd);
    close(target);
  }
  ~Redirect() {
    dup2(saved, fd);
    close(saved);
  }
};

}  // namespace

CapturedOutput capture_output(const std::function<void()>& write_something) {
  TempDir capture;
  std::fflush(stdout);
  std::fflush(stderr);
  {
    const Redirect out(1, capture.at("stdout"));
    const Redirect err(2, capture.at("stderr"));
    write_something();
    std::fflush(stdout);
    std::fflush(stderr);
  }
  return CapturedOutput{read_file(capture.at("stdout")), read_file(capture.at("stderr"))};
}

std::string capture_stdout(const std::function<void()>& write_something) {
  return capture_output(write_something).out;
}
