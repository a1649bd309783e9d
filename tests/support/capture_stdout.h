// Collects what a piece of code writes to standard output and error.
#pragma once

#include <functional>
#include <string>

std::string capture_stdout(const std::function<void()>& write_something);

struct CapturedOutput {
  std::string out;
  std::string err;
};
CapturedOutput capture_output(const std::function<void()>& write_something);
