// Names match exactly and case-sensitively; a value follows its option as
// the next argument or after '=', and a glued one straight after the name.
#include "driver/option_table.h"

#include <cstring>

namespace {

// N from 1 to 1024, digits only, no leading zero; 0 otherwise.
int worker_count_of(const char* digits) {
  if (*digits < '1' || *digits > '9') return 0;
  int count = 0;
  for (const char* p = digits; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return 0;
    count = count * 10 + (*p - '0');
    if (count > max_workers) return 0;
  }
  return count;
}

bool is_same(const char* value, const char* word) {
  return std::strcmp(value, word) == 0;
}

}  // namespace

const OptionRow option_rows[] = {
    {.name = "-m1",
     .group = OptionGroup::Mode,
     .set = [](RunSettings& s, const char*) { s.mode = RunMode::M1; },
     .help = "  -m1          catalogue only 12, 14 and 16 KiB images, with their segment sums\n"},
    {.name = "-m2",
     .group = OptionGroup::Mode,
     .set = [](RunSettings& s, const char*) { s.mode = RunMode::M2; },
     .help = "  -m2          catalogue only 2 KiB images, with their shift-register checksums\n"},
    {.name = "-pzc",
     .group = OptionGroup::Mode,
     .set = [](RunSettings& s, const char*) { s.mode = RunMode::Pzc; },
     .help = "  -pzc         list the comments of zip archives, nothing else\n"},
    {.name = "--json",
     .group = OptionGroup::General,
     .set = [](RunSettings& s, const char*) { s.json = true; },
     .help = "  --json       write the listing (or the audit) as JSON Lines, for scripts\n"},
    {.name = "-j",
     .group = OptionGroup::General,
     .form = ValueForm::Glued,
     .accepts = [](const char* digits) { return worker_count_of(digits) != 0; },
     .set = [](RunSettings& s, const char* digits) { s.worker_count = worker_count_of(digits); },
     .help = "  -jN          read with N workers, 1 to 1024 (default: one per online CPU)\n"},
    {.name = "--cache",
     .group = OptionGroup::General,
     .form = ValueForm::OptionalJoined,
     .set =
         [](RunSettings& s, const char* file) {
           s.cache_wanted = true;
           s.cache_file = file != nullptr ? file : "";
         },
     .help = "  --cache      keep what was read in ~/.cache/imgchk/cache.sqlite, and read\n"
             "               again only files whose size or times changed (a rename too)\n"
             "  --cache=FILE the same with the cache in FILE\n"},
    {.name = "--recheck",
     .group = OptionGroup::General,
     .set = [](RunSettings& s, const char*) { s.cache_wanted = s.recheck = true; },
     .help = "  --recheck    with the cache, read every file and report those whose bytes\n"
             "               changed while their size and times did not\n"},
    {.name = "--strict",
     .group = OptionGroup::General,
     .set = [](RunSettings& s, const char*) { s.strict = true; },
     .help = "  --strict     exit with status 4 when a path or entry could not be read\n"},
    // An empty pattern is refused also as the next argument.
    {.name = "--exclude",
     .group = OptionGroup::General,
     .form = ValueForm::SeparateOrJoined,
     .value_words = "a pattern",
     .accepts = [](const char* pattern) { return *pattern != '\0'; },
     .set = [](RunSettings& s, const char* pattern) { s.excluded.push_back(pattern); },
     .help = "  --exclude PATTERN  leave out every folder, file and archive entry whose\n"
             "               name matches the shell pattern (repeatable; --exclude=PATTERN)\n"},
    {.name = "--",
     .group = OptionGroup::General,
     .effect = OptionEffect::EndsOptions,
     .help = "  --           end of options: every later argument is a path\n"},
    {.name = "--help",
     .group = OptionGroup::General,
     .effect = OptionEffect::PrintsHelp,
     .help = "  -h, --help   print this help and exit\n"},
    {.name = "-h", .group = OptionGroup::General, .effect = OptionEffect::PrintsHelp},
    {.name = "--version",
     .group = OptionGroup::General,
     .effect = OptionEffect::PrintsVersion,
     .help = "  --version    print the version and exit\n"},
    // A file name given as an empty next argument is taken: reading or
    // writing it then fails by name.
    {.name = "--dat",
     .group = OptionGroup::Audit,
     .form = ValueForm::SeparateOrJoined,
     .value_words = "a file name",
     .set = [](RunSettings& s, const char* path) { s.audit.dat_paths.push_back(path); },
     .help = "  --dat FILE   audit against the DAT FILE instead of listing (repeatable);\n"
             "               exit status 2 when a ROM or disk is not in place, 4 when a\n"
             "               path or entry could not be read, 6 for both\n"},
    {.name = "--fixdat",
     .group = OptionGroup::Audit,
     .form = ValueForm::SeparateOrJoined,
     .value_words = "a file name",
     .set = [](RunSettings& s, const char* path) { s.audit.fixdat_path = path; },
     .help = "  --fixdat FILE   write the ROMs the audit finds missing as a DAT\n"},
    {.name = "--dir2dat",
     .group = OptionGroup::Audit,
     .form = ValueForm::SeparateOrJoined,
     .value_words = "a file name",
     .set = [](RunSettings& s, const char* path) { s.audit.dir2dat_path = path; },
     .help = "  --dir2dat FILE  write what the run catalogues as a DAT\n"},
    {.name = "--header",
     .group = OptionGroup::Audit,
     .form = ValueForm::SeparateOrJoined,
     .value_words = "a file name",
     .set = [](RunSettings& s, const char* path) { s.audit.header_path = path; },
     .help = "  --header FILE   read copier headers by these rules, not the built-in ones\n"},
    {.name = "--sha256",
     .group = OptionGroup::Audit,
     .set = [](RunSettings& s, const char*) { s.audit.sha256 = true; },
     .help = "  --sha256     give the ROMs of --dir2dat their SHA-256 too\n"},
    {.name = "--md5",
     .group = OptionGroup::Audit,
     .set = [](RunSettings& s, const char*) { s.audit.md5 = true; },
     .help = "  --md5        give the ROMs of --dir2dat their MD5 too\n"},
    // Likewise a folder name.
    {.name = "--rebuild",
     .group = OptionGroup::Rebuild,
     .form = ValueForm::SeparateOrJoined,
     .value_words = "a folder name",
     .set = [](RunSettings& s, const char* path) { s.rebuild.out_path = path; },
     .help = "  --rebuild OUT   after the audit, write each set found (even in part) as\n"
             "               the TorrentZip archive OUT/SET.zip; OUT is walked first\n"},
    {.name = "--merge",
     .group = OptionGroup::UnderRebuild,
     .form = ValueForm::SeparateOrJoined,
     .value_words = "nonmerged or split",
     .accepts = [](const char* value) { return is_same(value, "nonmerged") || is_same(value, "split"); },
     .set =
         [](RunSettings& s, const char* value) {
           s.rebuild.merge = is_same(value, "split") ? MergeMode::Split : MergeMode::NonMerged;
         },
     .help = "  --merge nonmerged|split  nonmerged: a set holds every ROM listed under it\n"
             "               (the default); split: a clone leaves out its parent's ROMs\n"},
    {.name = "--complete-only",
     .group = OptionGroup::UnderRebuild,
     .set = [](RunSettings& s, const char*) { s.rebuild.complete_only = true; },
     .help = "  --complete-only  write only the sets whose every ROM was found\n"},
    {.name = "--rebuild-as",
     .group = OptionGroup::UnderRebuild,
     .form = ValueForm::SeparateOrJoined,
     .value_words = "zip or dir",
     .accepts = [](const char* value) { return is_same(value, "zip") || is_same(value, "dir"); },
     .set = [](RunSettings& s, const char* value) { s.rebuild.as_folders = is_same(value, "dir"); },
     .help = "  --rebuild-as zip|dir  dir: write the ROMs as plain files OUT/SET/ROM\n"},
    {.name = "--backup",
     .group = OptionGroup::UnderRebuild,
     .form = ValueForm::SeparateOrJoined,
     .value_words = "a folder name",
     .set = [](RunSettings& s, const char* path) { s.rebuild.backup_path = path; },
     .help = "  --backup DIR    move a file the rebuild replaces and that holds images\n"
             "               the set does not into DIR, instead of refusing\n"},
    {.name = "--dry-run",
     .group = OptionGroup::UnderRebuild,
     .set = [](RunSettings& s, const char*) { s.rebuild.dry_run = true; },
     .help = "  --dry-run    say what the rebuild would write; write nothing\n"},
};

const size_t option_row_count = sizeof option_rows / sizeof option_rows[0];
