// Option parsing: exact, case-sensitive matches; the last option wins.
#include "driver/options.h"

#include <cstdio>
#include <cstring>

#include "catalogue/run_mode.h"
#include "walk/messages.h"

namespace {

struct Option {
  const char* text;
  RunMode mode;
};

constexpr Option options[] = {
    {"-m1", RunMode::M1},
    {"-m2", RunMode::M2},
    {"-pzc", RunMode::Pzc},
};

constexpr char usage_line[] = "usage: imgchk [-m1] [-m2] [-pzc] file/directory/zip\n";

}  // namespace

void print_usage() { std::fwrite(usage_line, 1, sizeof usage_line - 1, stderr); }

int read_options(int argc, char** argv) {
  if (argc <= 1) {
    print_usage();
    return -1;
  }
  int next = 1;
  for (; next < argc && argv[next][0] == '-'; ++next) {
    const Option* match = nullptr;
    for (const Option& option : options) {
      if (std::strcmp(argv[next], option.text) == 0) match = &option;
    }
    if (match == nullptr) {
      report_failure("imgchk: unknown argument '%s'\n", argv[next]);
      print_usage();
      return -1;
    }
    g_mode = match->mode;
  }
  return next;
}
