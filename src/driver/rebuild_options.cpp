// Exact, case-sensitive matches, as every other option.
#include "driver/rebuild_options.h"

#include <cstring>
#include <string>

#include "report/messages.h"

RebuildSettings g_rebuild;

const char rebuild_option_lines[] =
    "  --rebuild OUT   after the audit, write each set found (even in part) as\n"
    "               the TorrentZip archive OUT/SET.zip; OUT is walked first\n"
    "  --merge nonmerged|split  nonmerged: a set holds every ROM listed under it\n"
    "               (the default); split: a clone leaves out its parent's ROMs\n"
    "  --complete-only  write only the sets whose every ROM was found\n"
    "  --rebuild-as zip|dir  dir: write the ROMs as plain files OUT/SET/ROM\n"
    "  --backup DIR    move a file the rebuild replaces and that holds images\n"
    "               the set does not into DIR, instead of refusing\n"
    "  --dry-run    say what the rebuild would write; write nothing\n";

namespace {

// "--name VALUE" or "--name=VALUE": the value, or null when it is missing;
// false when `arg` is not the option.
bool take_value(int argc, char** argv, int* index, const char* name, const char** value) {
  const char* arg = argv[*index];
  const size_t name_size = std::strlen(name);
  if (std::strncmp(arg, name, name_size) != 0) return false;
  if (arg[name_size] == '=') {
    *value = arg[name_size + 1] != '\0' ? arg + name_size + 1 : nullptr;
    return true;
  }
  if (arg[name_size] != '\0') return false;
  *value = *index + 1 < argc ? argv[++*index] : nullptr;
  return true;
}

void note_dependent(const char* option) {
  if (g_rebuild.first_dependent == nullptr) g_rebuild.first_dependent = option;
}

// An option with two words: the flag set when the value is `second`.
AuditOptionUse take_choice(const char* option, const char* value, const char* first, const char* second,
                           bool& is_second) {
  if (value != nullptr && std::strcmp(value, first) == 0) {
    is_second = false;
  } else if (value != nullptr && std::strcmp(value, second) == 0) {
    is_second = true;
  } else {
    write_option_needs(option, (std::string(first) + " or " + second).c_str());
    return AuditOptionUse::MissingValue;
  }
  note_dependent(option);
  return AuditOptionUse::Taken;
}

}  // namespace

AuditOptionUse read_rebuild_option(int argc, char** argv, int* index) {
  const char* arg = argv[*index];
  if (std::strcmp(arg, "--complete-only") == 0) {
    g_rebuild.complete_only = true;
    note_dependent(arg);
    return AuditOptionUse::Taken;
  }
  if (std::strcmp(arg, "--dry-run") == 0) {
    g_rebuild.dry_run = true;
    note_dependent(arg);
    return AuditOptionUse::Taken;
  }
  const char* value = nullptr;
  if (take_value(argc, argv, index, "--rebuild-as", &value)) {
    return take_choice("--rebuild-as", value, "zip", "dir", g_rebuild.as_folders);
  }
  if (take_value(argc, argv, index, "--merge", &value)) {
    bool split = false;
    const AuditOptionUse use = take_choice("--merge", value, "nonmerged", "split", split);
    g_rebuild.merge = split ? MergeMode::Split : MergeMode::NonMerged;
    return use;
  }
  for (const char* name : {"--rebuild", "--backup"}) {
    if (!take_value(argc, argv, index, name, &value)) continue;
    if (value == nullptr) {
      write_option_needs(name, "a folder name");
      return AuditOptionUse::MissingValue;
    }
    if (name[2] == 'r') {
      g_rebuild.out_path = value;
    } else {
      g_rebuild.backup_path = value;
      note_dependent(name);
    }
    return AuditOptionUse::Taken;
  }
  return AuditOptionUse::NotAuditOption;
}

bool check_rebuild_options(bool auditing) {
  if (g_rebuild.out_path != nullptr && !auditing) {
    write_option_needs("--rebuild", "--dat");
    return false;
  }
  if (g_rebuild.first_dependent != nullptr && g_rebuild.out_path == nullptr) {
    write_option_needs(g_rebuild.first_dependent, "--rebuild");
    return false;
  }
  return true;
}
