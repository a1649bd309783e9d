// Collects what a piece of code writes to standard output.
#pragma once

#include <functional>
#include <string>

std::string capture_stdout(const std::function<void()>& write_something);
