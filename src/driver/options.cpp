// One loop over the arguments, each matched against the option table; the
// usage errors between options are checked after the last one, in a fixed
// order.
#include "driver/options.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/same_file.h"
#include "driver/option_table.h"
#include "report/messages.h"

#ifndef IMGCHK_VERSION
#error "IMGCHK_VERSION comes from the project version in CMakeLists.txt"
#endif

namespace {

constexpr char usage_line[] =
    "usage: imgchk [-m1 | -m2 | -pzc] [--json] [-jN] [--cache[=FILE]] [--recheck] [--strict]\n"
    "              [--exclude PATTERN]... [--] file/directory/zip...\n"
    "       imgchk [--dat FILE]... [--fixdat FILE] [--header FILE]\n"
    "              [--dir2dat FILE [--sha256] [--md5]]\n"
    "              [--rebuild OUT [--merge nonmerged|split] [--complete-only] [--rebuild-as zip|dir]\n"
    "              [--backup DIR] [--dry-run]]\n"
    "              [--json] [-jN] [--cache[=FILE]] [--recheck] [--strict] [--exclude PATTERN]...\n"
    "              [--] file/directory/zip...\n"
    "       imgchk -h | --help | --version\n";

struct MatchedOption {
  const OptionRow* row;  // null: an unknown argument
  const char* joined;    // the value after '=' or glued to the name; null when none
};

MatchedOption match_option(const char* arg) {
  for (size_t r = 0; r < option_row_count; ++r) {
    const OptionRow& row = option_rows[r];
    const size_t name_size = std::strlen(row.name);
    if (std::strncmp(arg, row.name, name_size) != 0) continue;
    const char* rest = arg + name_size;
    if (row.form == ValueForm::Glued) return {&row, rest};
    if (*rest == '\0') return {&row, nullptr};
    if (*rest != '=') continue;
    if (row.form == ValueForm::SeparateOrJoined) return {&row, rest + 1};
    if (row.form == ValueForm::OptionalJoined && rest[1] != '\0') return {&row, rest + 1};
  }
  return {nullptr, nullptr};
}

void print_help() {
  std::fputs(usage_line, stdout);
  for (size_t r = 0; r < option_row_count; ++r) std::fputs(option_rows[r].help, stdout);
}

enum class ValueTaken : uint8_t { Taken, Unknown, Missing };

// The option's value: joined, or the next argument (*next then moves on to
// it). "--name=" gives none, while an empty next argument is the option's
// to accept.
ValueTaken take_value(const OptionRow& row, const MatchedOption& matched, int argc, char** argv, int* next,
                      const char** value) {
  *value = matched.joined;
  if (row.form == ValueForm::SeparateOrJoined && *value == nullptr && *next + 1 < argc) *value = argv[++*next];
  const bool accepted = row.accepts == nullptr || (*value != nullptr && row.accepts(*value));
  switch (row.form) {
    case ValueForm::None:
    case ValueForm::OptionalJoined:
      return ValueTaken::Taken;
    case ValueForm::Glued:
      return accepted ? ValueTaken::Taken : ValueTaken::Unknown;
    case ValueForm::SeparateOrJoined:
      break;
  }
  const bool missing = *value == nullptr || (matched.joined != nullptr && **value == '\0');
  return missing || !accepted ? ValueTaken::Missing : ValueTaken::Taken;
}

struct NamedFile {
  const char* option;
  const char* path;
};

bool is_apart(const NamedFile& output, const NamedFile& other) {
  if (output.path == nullptr || other.path == nullptr || !is_same_file(output.path, other.path)) return true;
  write_same_file(output.option, output.path, other.option, other.path);
  return false;
}

// An output written over an input DAT, the header rules or the other output
// would lose one of them.
bool outputs_are_apart(const AuditSettings& audit) {
  std::vector<NamedFile> inputs;
  for (const char* path : audit.dat_paths) inputs.push_back({"--dat", path});
  inputs.push_back({"--header", audit.header_path});
  const NamedFile fixdat{"--fixdat", audit.fixdat_path};
  const NamedFile dir2dat{"--dir2dat", audit.dir2dat_path};
  for (const NamedFile* output : {&fixdat, &dir2dat}) {
    for (const NamedFile& input : inputs) {
      if (!is_apart(*output, input)) return false;
    }
  }
  return is_apart(fixdat, dir2dat);
}

// The usage errors between the audit's options and the rest, reported;
// true when there are none.
bool check_audit_options(const RunSettings& settings) {
  const AuditSettings& audit = settings.audit;
  const bool with_dat = !audit.dat_paths.empty();
  if (settings.mode_option != nullptr && (with_dat || audit.dir2dat_path != nullptr)) {
    write_options_conflict(settings.mode_option, with_dat ? "--dat" : "--dir2dat");
    return false;
  }
  if (audit.fixdat_path != nullptr && !with_dat) {
    write_option_needs("--fixdat", "--dat");
    return false;
  }
  if (audit.header_path != nullptr && !with_dat) {
    write_option_needs("--header", "--dat");
    return false;
  }
  if (audit.md5 && audit.dir2dat_path == nullptr) {
    write_option_needs("--md5", "--dir2dat");
    return false;
  }
  if (audit.sha256 && audit.dir2dat_path == nullptr) {
    write_option_needs("--sha256", "--dir2dat");
    return false;
  }
  return outputs_are_apart(audit);
}

// --rebuild needs --dat, the rest of its options need --rebuild.
bool check_rebuild_options(const RunSettings& settings) {
  const RebuildSettings& rebuild = settings.rebuild;
  if (rebuild.out_path != nullptr && !is_auditing(settings)) {
    write_option_needs("--rebuild", "--dat");
    return false;
  }
  if (rebuild.first_dependent != nullptr && rebuild.out_path == nullptr) {
    write_option_needs(rebuild.first_dependent, "--rebuild");
    return false;
  }
  return true;
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

OptionsOutcome read_options(int argc, char** argv, RunSettings& settings, int* first_path) {
  int next = 1;
  bool options_ended = false;
  for (; next < argc && argv[next][0] == '-'; ++next) {
    const char* arg = argv[next];
    const MatchedOption matched = match_option(arg);
    const char* value = nullptr;
    const ValueTaken taken =
        matched.row != nullptr ? take_value(*matched.row, matched, argc, argv, &next, &value) : ValueTaken::Unknown;
    if (taken != ValueTaken::Taken) {
      if (taken == ValueTaken::Unknown) write_unknown_argument(arg);
      if (taken == ValueTaken::Missing) write_option_needs(matched.row->name, matched.row->value_words);
      print_usage();
      return OptionsOutcome::UsageError;
    }
    const OptionRow& row = *matched.row;
    if (row.effect == OptionEffect::EndsOptions) {
      options_ended = true;
      ++next;
      break;
    }
    if (row.effect == OptionEffect::PrintsHelp) {
      print_help();
      return OptionsOutcome::ExitOk;
    }
    if (row.effect == OptionEffect::PrintsVersion) {
      std::fputs("imgchk " IMGCHK_VERSION "\n", stdout);
      return OptionsOutcome::ExitOk;
    }
    row.set(settings, value);
    if (row.group == OptionGroup::Mode) settings.mode_option = row.name;
    if (row.group == OptionGroup::UnderRebuild && settings.rebuild.first_dependent == nullptr) {
      settings.rebuild.first_dependent = row.name;
    }
  }
  // No arguments at all, "--" with nothing after it, or an audit of nothing
  // (a rebuild walks its output folder).
  if (argc <= 1 || (options_ended && next == argc) || !check_audit_options(settings) ||
      !check_rebuild_options(settings) ||
      (is_auditing(settings) && next == argc && settings.rebuild.out_path == nullptr)) {
    print_usage();
    return OptionsOutcome::UsageError;
  }
  *first_path = next;
  return OptionsOutcome::Walk;
}
