// Standard output redirected to a temporary file for the length of a call.
#include "support/capture_stdout.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "support/temp_dir.h"

std::string capture_stdout(const std::function<void()>& write_something) {
  TempDir capture;
  const std::string file = capture.at("stdout");
  std::fflush(stdout);
  const int saved = dup(1);
  const int target = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(target, 1);
  close(target);
  write_something();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  return read_file(file);
}
