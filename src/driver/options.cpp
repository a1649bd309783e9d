// Option parsing: exact, case-sensitive matches; the last mode option wins.
#include "driver/options.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "catalogue/run_mode.h"
#include "driver/audit_run.h"
#include "report/messages.h"

#ifndef IMGCHK_VERSION
#error "IMGCHK_VERSION comes from the project version in CMakeLists.txt"
#endif

int g_worker_count = 0;
bool g_json_output = false;
bool g_cache_wanted = false;
const char* g_cache_file = "";
bool g_recheck = false;

namespace {

constexpr int max_workers = 1024;

constexpr char usage_line[] = "usage: imgchk [-m1] [-m2] [-pzc] file/directory/zip\n";

constexpr char option_lines[] =
    "  -m1          catalogue only 12, 14 and 16 KiB images, with their segment sums\n"
    "  -m2          catalogue only 2 KiB images, with their shift-register checksums\n"
    "  -pzc         list the comments of zip archives, nothing else\n"
    "  --json       write the listing as JSON Lines, one object per image, for scripts\n"
    "  -jN          read with N workers, 1 to 1024 (default: one per online CPU)\n"
    "  --cache      keep what was read in ~/.cache/imgchk/cache.sqlite, and read\n"
    "               again only files whose size or modification time changed\n"
    "  --cache=FILE the same with the cache in FILE\n"
    "  --recheck    with the cache, read every file and report those whose bytes\n"
    "               changed while their size and modification time did not\n"
    "  --           end of options: every later argument is a path\n"
    "  -h, --help   print this help and exit\n"
    "  --version    print the version and exit\n"
    "  --dat FILE   audit against the DAT FILE instead of listing (repeatable)\n"
    "  --fixdat FILE   write the ROMs the audit finds missing as a DAT\n"
    "  --dir2dat FILE  write what the run catalogues as a DAT\n"
    "  --header FILE   read copier headers by these rules, not the built-in ones\n"
    "  --md5        give the ROMs of --dir2dat their MD5 too\n";

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

// How an option is written and what it does.
enum class OptionKind : uint8_t {
  EndOfOptions,   // "--"
  Help,           // print the help and exit
  Version,        // print the version and exit
  Mode,           // sets the run mode; the last one given wins
  Flag,           // exactly the name
  Value,          // "NAME VALUE" or "NAME=VALUE"; a missing or empty value is a usage error
  AttachedValue,  // the name with a value that is not empty right after it
  Workers,        // -jN
};

struct OptionSpec {
  const char* name;
  OptionKind kind;
  RunMode mode;                      // Mode
  void (*apply)(const char* value);  // Flag (with null), Value and AttachedValue
};

void set_json(const char* /*unused*/) {
  g_json_output = true;
}

void set_default_cache(const char* /*unused*/) {
  g_cache_wanted = true;
  g_cache_file = "";
}

void set_cache_file(const char* file) {
  g_cache_wanted = true;
  g_cache_file = file;
}

void set_recheck(const char* /*unused*/) {
  g_cache_wanted = true;
  g_recheck = true;
}

void set_md5(const char* /*unused*/) {
  audit_settings().md5 = true;
}

void add_dat(const char* file) {
  audit_settings().dat_paths.push_back(file);
}

void set_fixdat(const char* file) {
  audit_settings().fixdat_path = file;
}

void set_dir2dat(const char* file) {
  audit_settings().dir2dat_path = file;
}

void set_header(const char* file) {
  audit_settings().header_path = file;
}

// Every option, tried in this order.
constexpr OptionSpec option_table[] = {
    {"--", OptionKind::EndOfOptions, RunMode::All, nullptr},
    {"--help", OptionKind::Help, RunMode::All, nullptr},
    {"-h", OptionKind::Help, RunMode::All, nullptr},
    {"--version", OptionKind::Version, RunMode::All, nullptr},
    {"-m1", OptionKind::Mode, RunMode::M1, nullptr},
    {"-m2", OptionKind::Mode, RunMode::M2, nullptr},
    {"-pzc", OptionKind::Mode, RunMode::Pzc, nullptr},
    {"--json", OptionKind::Flag, RunMode::All, set_json},
    {"--cache", OptionKind::Flag, RunMode::All, set_default_cache},
    {"--cache=", OptionKind::AttachedValue, RunMode::All, set_cache_file},
    {"--recheck", OptionKind::Flag, RunMode::All, set_recheck},
    {"-j", OptionKind::Workers, RunMode::All, nullptr},
    {"--md5", OptionKind::Flag, RunMode::All, set_md5},
    {"--dat", OptionKind::Value, RunMode::All, add_dat},
    {"--fixdat", OptionKind::Value, RunMode::All, set_fixdat},
    {"--dir2dat", OptionKind::Value, RunMode::All, set_dir2dat},
    {"--header", OptionKind::Value, RunMode::All, set_header},
};

// Whether `arg` is a Value option's name, alone (its value is the next
// argument) or with "=VALUE"; the value in *value, null when missing.
bool matches_value_option(const char* arg, const char* name, int argc, char** argv, int* index, const char** value) {
  const size_t name_size = std::strlen(name);
  if (std::strncmp(arg, name, name_size) != 0) return false;
  *value = nullptr;
  if (arg[name_size] == '=') {
    if (arg[name_size + 1] != '\0') *value = arg + name_size + 1;
    return true;
  }
  if (arg[name_size] != '\0') return false;
  if (*index + 1 < argc) *value = argv[++*index];
  return true;
}

// The table's entry for argv[*index], or null; a Value option's value in
// *value (null when missing), and *index moved past it.
const OptionSpec* find_option(int argc, char** argv, int* index, const char** value) {
  const char* arg = argv[*index];
  for (const OptionSpec& option : option_table) {
    switch (option.kind) {
      case OptionKind::Value:
        if (matches_value_option(arg, option.name, argc, argv, index, value)) return &option;
        break;
      case OptionKind::AttachedValue:
        if (std::strncmp(arg, option.name, std::strlen(option.name)) == 0 && arg[std::strlen(option.name)] != '\0') {
          *value = arg + std::strlen(option.name);
          return &option;
        }
        break;
      case OptionKind::Workers:
        if (parse_workers(arg) != 0) return &option;
        break;
      default:
        if (std::strcmp(arg, option.name) == 0) return &option;
        break;
    }
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
    const char* value = nullptr;
    const OptionSpec* option = find_option(argc, argv, &next, &value);
    if (option == nullptr) {
      write_unknown_argument(arg);
      print_usage();
      return OptionsOutcome::UsageError;
    }
    switch (option->kind) {
      case OptionKind::EndOfOptions:
        options_ended = true;
        break;
      case OptionKind::Help:
        std::fputs(usage_line, stdout);
        std::fputs(option_lines, stdout);
        return OptionsOutcome::ExitOk;
      case OptionKind::Version:
        std::fputs("imgchk " IMGCHK_VERSION "\n", stdout);
        return OptionsOutcome::ExitOk;
      case OptionKind::Mode:
        g_mode = option->mode;
        mode_option = option->name;
        break;
      case OptionKind::Workers:
        g_worker_count = parse_workers(arg);
        break;
      case OptionKind::Value:
        if (value == nullptr) {
          write_option_needs_file(option->name);
          print_usage();
          return OptionsOutcome::UsageError;
        }
        option->apply(value);
        break;
      case OptionKind::Flag:
      case OptionKind::AttachedValue:
        option->apply(value);
        break;
    }
    if (options_ended) {
      ++next;
      break;
    }
  }
  // No arguments at all, or "--" with nothing after it.
  if (argc <= 1 || (options_ended && next == argc) || !check_audit_options(mode_option)) {
    print_usage();
    return OptionsOutcome::UsageError;
  }
  *first_path = next;
  return OptionsOutcome::Walk;
}
