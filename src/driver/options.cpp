// Option parsing: exact, case-sensitive matches; the last mode option wins.
#include "driver/options.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "catalogue/run_mode.h"
#include "driver/audit_run.h"
#include "driver/rebuild_options.h"
#include "report/messages.h"
#include "walk/exclusion.h"

#ifndef IMGCHK_VERSION
#error "IMGCHK_VERSION comes from the project version in CMakeLists.txt"
#endif

int g_worker_count = 0;
bool g_json_output = false;
bool g_cache_wanted = false;
const char* g_cache_file = "";
bool g_recheck = false;
bool g_strict = false;

namespace {

struct Option {
  const char* text;
  RunMode mode;
};

constexpr Option mode_options[] = {
    {"-m1", RunMode::M1},
    {"-m2", RunMode::M2},
    {"-pzc", RunMode::Pzc},
};

constexpr int max_workers = 1024;

constexpr char usage_line[] =
    "usage: imgchk [-m1 | -m2 | -pzc] [--json] [-jN] [--cache[=FILE]] [--recheck] [--strict]\n"
    "              [--exclude PATTERN]... [--] file/directory/zip...\n"
    "       imgchk [--dat FILE]... [--fixdat FILE] [--header FILE] [--dir2dat FILE [--md5]]\n"
    "              [--rebuild OUT [--merge nonmerged|split] [--complete-only] [--rebuild-as zip|dir]\n"
    "              [--backup DIR] [--dry-run]]\n"
    "              [--json] [-jN] [--cache[=FILE]] [--recheck] [--strict] [--exclude PATTERN]...\n"
    "              [--] file/directory/zip...\n"
    "       imgchk -h | --help | --version\n";

constexpr char option_lines[] =
    "  -m1          catalogue only 12, 14 and 16 KiB images, with their segment sums\n"
    "  -m2          catalogue only 2 KiB images, with their shift-register checksums\n"
    "  -pzc         list the comments of zip archives, nothing else\n"
    "  --json       write the listing (or the audit) as JSON Lines, for scripts\n"
    "  -jN          read with N workers, 1 to 1024 (default: one per online CPU)\n"
    "  --cache      keep what was read in ~/.cache/imgchk/cache.sqlite, and read\n"
    "               again only files whose size or modification time changed\n"
    "  --cache=FILE the same with the cache in FILE\n"
    "  --recheck    with the cache, read every file and report those whose bytes\n"
    "               changed while their size and modification time did not\n"
    "  --strict     exit with status 4 when a path or entry could not be read\n"
    "  --exclude PATTERN  leave out every folder, file and archive entry whose\n"
    "               name matches the shell pattern (repeatable; --exclude=PATTERN)\n"
    "  --           end of options: every later argument is a path\n"
    "  -h, --help   print this help and exit\n"
    "  --version    print the version and exit\n";

// -jN with N from 1 to 1024, digits only, no leading zero; 0 otherwise.
int parse_workers(const char* arg) {
  if (std::strncmp(arg, "-j", 2) != 0) return 0;
  const char* digits = arg + 2;
  if (*digits < '1' || *digits > '9') return 0;
  int count = 0;
  for (const char* p = digits; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return 0;
    count = count * 10 + (*p - '0');
    if (count > max_workers) return 0;
  }
  return count;
}

// --exclude PATTERN or --exclude=PATTERN, at argv[*index]: 1 when taken
// (*index then at its pattern), 0 when it is another option, -1 when the
// pattern is missing (reported).
int take_exclude_option(int argc, char** argv, int* index) {
  constexpr char name[] = "--exclude";
  constexpr size_t name_size = sizeof name - 1;
  const char* arg = argv[*index];
  if (std::strncmp(arg, name, name_size) != 0 || (arg[name_size] != '\0' && arg[name_size] != '=')) return 0;
  const char* pattern = arg[name_size] == '=' ? arg + name_size + 1 : (*index + 1 < argc ? argv[++*index] : "");
  if (*pattern == '\0') {
    write_option_needs_pattern(name);
    return -1;
  }
  add_excluded_pattern(pattern);
  return 1;
}

const Option* find_mode_option(const char* arg) {
  for (const Option& option : mode_options) {
    if (std::strcmp(arg, option.text) == 0) return &option;
  }
  return nullptr;
}

}  // namespace

void print_usage() {
  std::fwrite(usage_line, 1, sizeof usage_line - 1, stderr);
}

int default_worker_count() {
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  if (online < 1) return 1;
  return online > max_workers ? max_workers : static_cast<int>(online);
}

OptionsOutcome read_options(int argc, char** argv, int* first_path) {
  int next = 1;
  bool options_ended = false;
  const char* mode_option = nullptr;
  for (; next < argc && argv[next][0] == '-'; ++next) {
    const char* arg = argv[next];
    if (std::strcmp(arg, "--") == 0) {
      options_ended = true;
      ++next;
      break;
    }
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(usage_line, stdout);
      std::fputs(option_lines, stdout);
      std::fputs(audit_option_lines, stdout);
      std::fputs(rebuild_option_lines, stdout);
      return OptionsOutcome::ExitOk;
    }
    if (std::strcmp(arg, "--version") == 0) {
      std::fputs("imgchk " IMGCHK_VERSION "\n", stdout);
      return OptionsOutcome::ExitOk;
    }
    if (const Option* mode = find_mode_option(arg)) {
      g_mode = mode->mode;
      mode_option = mode->text;
    } else if (std::strcmp(arg, "--json") == 0) {
      g_json_output = true;
    } else if (std::strcmp(arg, "--cache") == 0) {
      g_cache_wanted = true;
      g_cache_file = "";
    } else if (std::strncmp(arg, "--cache=", 8) == 0 && arg[8] != '\0') {
      g_cache_wanted = true;
      g_cache_file = arg + 8;
    } else if (std::strcmp(arg, "--recheck") == 0) {
      g_cache_wanted = true;
      g_recheck = true;
    } else if (std::strcmp(arg, "--strict") == 0) {
      g_strict = true;
    } else if (const int exclude = take_exclude_option(argc, argv, &next); exclude != 0) {
      if (exclude > 0) continue;
      print_usage();
      return OptionsOutcome::UsageError;
    } else if (const int workers = parse_workers(arg)) {
      g_worker_count = workers;
    } else if (const AuditOptionUse use = read_audit_option(argc, argv, &next); use != AuditOptionUse::NotAuditOption) {
      if (use == AuditOptionUse::Taken) continue;
      print_usage();
      return OptionsOutcome::UsageError;
    } else if (const AuditOptionUse rebuild_use = read_rebuild_option(argc, argv, &next);
               rebuild_use != AuditOptionUse::NotAuditOption) {
      if (rebuild_use == AuditOptionUse::Taken) continue;
      print_usage();
      return OptionsOutcome::UsageError;
    } else {
      write_unknown_argument(arg);
      print_usage();
      return OptionsOutcome::UsageError;
    }
  }
  // No arguments at all, "--" with nothing after it, or an audit of nothing
  // (a rebuild walks its output folder).
  if (argc <= 1 || (options_ended && next == argc) || !check_audit_options(mode_option) ||
      !check_rebuild_options(is_auditing()) || (is_auditing() && next == argc && g_rebuild.out_path == nullptr)) {
    print_usage();
    return OptionsOutcome::UsageError;
  }
  *first_path = next;
  return OptionsOutcome::Walk;
}
