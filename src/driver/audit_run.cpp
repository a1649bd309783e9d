// The audit's part of a run. The DATs are loaded before any path is read, so
// that a DAT that cannot be read ends the run before anything is printed;
// what the DATs give decides which digests every image costs.
#include "driver/audit_run.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "audit/dir2dat.h"
#include "audit/fixdat.h"
#include "audit/matching.h"
#include "base/same_file.h"
#include "catalogue/ordering.h"
#include "catalogue/rom_entry.h"
#include "dat/dat_loading.h"
#include "dat/dat_writer.h"
#include "dat/header_rule_file.h"
#include "driver/options.h"
#include "driver/rebuild_run.h"
#include "report/audit_json.h"
#include "report/audit_report.h"
#include "report/messages.h"
#include "report/walk_reporting.h"

const char audit_option_lines[] =
    "  --dat FILE   audit against the DAT FILE instead of listing (repeatable);\n"
    "               exit status 2 when a ROM or disk is not in place, 4 when a\n"
    "               path or entry could not be read, 6 for both\n"
    "  --fixdat FILE   write the ROMs the audit finds missing as a DAT\n"
    "  --dir2dat FILE  write what the run catalogues as a DAT\n"
    "  --header FILE   read copier headers by these rules, not the built-in ones\n"
    "  --sha256     give the ROMs of --dir2dat their SHA-256 too\n"
    "  --md5        give the ROMs of --dir2dat their MD5 too\n";

namespace {

struct AuditSettings {
  std::vector<const char*> dat_paths;
  const char* fixdat_path = nullptr;
  const char* dir2dat_path = nullptr;
  const char* header_path = nullptr;
  bool md5 = false;
  bool sha256 = false;
};

AuditSettings g_settings;
std::vector<DatFile> g_dats;
std::vector<const char*> g_dat_paths;  // of g_dats, each DAT once
HeaderRules g_header_rules;

// An option that takes a value, as "--name FILE" or "--name=FILE".
bool take_value(int argc, char** argv, int* index, const char* name, const char** value, bool* missing) {
  const char* arg = argv[*index];
  const size_t name_size = std::strlen(name);
  if (std::strncmp(arg, name, name_size) != 0) return false;
  if (arg[name_size] == '=') {
    *value = arg + name_size + 1;
    *missing = **value == '\0';
    return true;
  }
  if (arg[name_size] != '\0') return false;
  *missing = *index + 1 >= argc;
  if (!*missing) *value = argv[++*index];
  return true;
}

void report_dat_error(const char* what, const char* path, const DatError& error) {
  write_unreadable_dat(what, path, error.line, error.reason);
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
bool outputs_are_apart() {
  std::vector<NamedFile> inputs;
  for (const char* path : g_settings.dat_paths) inputs.push_back({"--dat", path});
  inputs.push_back({"--header", g_settings.header_path});
  const NamedFile fixdat{"--fixdat", g_settings.fixdat_path};
  const NamedFile dir2dat{"--dir2dat", g_settings.dir2dat_path};
  for (const NamedFile* output : {&fixdat, &dir2dat}) {
    for (const NamedFile& input : inputs) {
      if (!is_apart(*output, input)) return false;
    }
  }
  return is_apart(fixdat, dir2dat);
}

}  // namespace

AuditOptionUse read_audit_option(int argc, char** argv, int* index) {
  if (std::strcmp(argv[*index], "--md5") == 0) {
    g_settings.md5 = true;
    return AuditOptionUse::Taken;
  }
  if (std::strcmp(argv[*index], "--sha256") == 0) {
    g_settings.sha256 = true;
    return AuditOptionUse::Taken;
  }
  struct ValueOption {
    const char* name;
    const char** value;
  };
  const char* dat_path = nullptr;
  const ValueOption options[] = {{"--dat", &dat_path},
                                 {"--fixdat", &g_settings.fixdat_path},
                                 {"--dir2dat", &g_settings.dir2dat_path},
                                 {"--header", &g_settings.header_path}};
  for (const ValueOption& option : options) {
    bool missing = false;
    if (!take_value(argc, argv, index, option.name, option.value, &missing)) continue;
    if (missing) {
      write_option_needs_file(option.name);
      return AuditOptionUse::MissingValue;
    }
    if (dat_path != nullptr) g_settings.dat_paths.push_back(dat_path);
    return AuditOptionUse::Taken;
  }
  return AuditOptionUse::NotAuditOption;
}

bool check_audit_options(const char* mode_option) {
  const bool with_dat = !g_settings.dat_paths.empty();
  if (mode_option != nullptr && (with_dat || g_settings.dir2dat_path != nullptr)) {
    write_options_conflict(mode_option, with_dat ? "--dat" : "--dir2dat");
    return false;
  }
  if (g_settings.fixdat_path != nullptr && !with_dat) {
    write_option_needs("--fixdat", "--dat");
    return false;
  }
  if (g_settings.header_path != nullptr && !with_dat) {
    write_option_needs("--header", "--dat");
    return false;
  }
  if (g_settings.md5 && g_settings.dir2dat_path == nullptr) {
    write_option_needs("--md5", "--dir2dat");
    return false;
  }
  if (g_settings.sha256 && g_settings.dir2dat_path == nullptr) {
    write_option_needs("--sha256", "--dir2dat");
    return false;
  }
  return outputs_are_apart();
}

bool is_auditing() {
  return !g_settings.dat_paths.empty();
}

namespace {

// A DAT header may name the header rules its ROMs were listed without;
// without --header only the built-in rules apply, and that is said once.
void note_detector(const DatFile& dat, const char* path, bool& noted) {
  if (noted || g_settings.header_path != nullptr || dat.detector == 0) return;
  write_detector_note(path, dat_text(dat, dat.detector));
  noted = true;
}

bool load_header_rules_asked() {
  if (g_settings.header_path == nullptr) {
    if (use_builtin_header_rules(g_header_rules)) return true;
    write_out_of_memory();
    return false;
  }
  DatError error{};
  if (load_header_rules(g_settings.header_path, g_header_rules, error)) return true;
  report_dat_error("header rules", g_settings.header_path, error);
  return false;
}

// A ROM is matched by its strongest digest (SHA-256, else SHA-1, else MD5):
// only those are taken, besides what --dir2dat writes (SHA-1, and SHA-256
// or MD5 when asked) and the SHA-256 a printed listing marks duplicates by.
void plan_digests() {
  bool any_sha256 = false;
  bool sha1_strongest = false;
  bool md5_alone = false;
  bool any_disk = false;
  for (const DatFile& dat : g_dats) {
    for (const DatDisk& disk : dat.disks) any_disk = any_disk || is_required_disk(disk);
    for (const DatRom& rom : dat.roms) {
      if (!is_required_rom(rom)) continue;
      if (rom.fields & dat_has_sha256) {
        any_sha256 = true;
      } else if (rom.fields & dat_has_sha1) {
        sha1_strongest = true;
      } else if (rom.fields & dat_has_md5) {
        md5_alone = true;
      }
    }
  }
  const bool dir2dat = g_settings.dir2dat_path != nullptr;
  g_digest_plan.sha256 = any_sha256 || (dir2dat && g_settings.sha256) || g_dats.empty();
  g_digest_plan.sha1 = sha1_strongest || dir2dat;
  g_digest_plan.md5 = md5_alone || g_settings.md5;
  g_digest_plan.header_rules = g_dats.empty() ? nullptr : &g_header_rules;
  g_digest_plan.chd = any_disk;
}

// The catalogue in listing order, as the audit reads it: about 60 bytes an
// image, pointing into the records.
void list_images(std::vector<AuditImage>& images) {
  images.reserve(static_cast<size_t>(g_rom_count));
  for (int32_t slot = 0; slot < g_rom_count; ++slot) {
    const RomEntry& rom = *g_sorted[slot];
    const AuditDigests* audit = rom.audit.get();
    AuditImage image{&rom.origin, {rom.summary.size, rom.summary.crc, nullptr, nullptr, nullptr}, nullptr};
    if (g_digest_plan.sha256) image.whole.sha256 = rom.summary.sha256;
    if (audit != nullptr && (audit->taken & taken_sha1)) image.whole.sha1 = audit->sha1;
    if (audit != nullptr && (audit->taken & taken_md5)) image.whole.md5 = audit->md5;
    if (audit != nullptr && (audit->taken & taken_headerless)) image.headerless = &audit->headerless;
    if (audit != nullptr && (audit->taken & taken_chd)) image.chd_sha1 = audit->chd_sha1;
    images.push_back(image);
  }
}

std::string fixdat_name() {
  std::string name = "fixdat: ";
  for (size_t d = 0; d < g_dats.size(); ++d) {
    if (d != 0) name += ", ";
    const char* dat_name = dat_text(g_dats[d], g_dats[d].name);
    name += dat_name;
  }
  return name;
}

bool write_dat_asked(const char* path, const DatFile& dat, const char* header_name) {
  if (write_dat_file(path, dat, header_name)) return true;
  write_unwritable_dat(path);
  return false;
}

// The length of the path given that the path of an image's file starts with.
size_t given_size_of(const SourceFile& file, char* const* paths, int path_count) {
  const char* path = file.path();
  size_t best = 0;
  for (int i = 0; i < path_count; ++i) {
    const size_t size = std::strlen(paths[i]);
    if (size <= best || size > file.path_size || std::strncmp(path, paths[i], size) != 0) continue;
    if (path[size] == '\0' || path[size] == '/' || paths[i][size - 1] == '/') best = size;
  }
  return best;
}

bool write_dir2dat(const std::vector<AuditImage>& images, char* const* paths, int path_count) {
  std::vector<CataloguedImage> catalogued;
  catalogued.reserve(images.size());
  for (int32_t slot = 0; slot < g_rom_count; ++slot) {
    const RomEntry& rom = *g_sorted[slot];
    catalogued.push_back(
        {&images[static_cast<size_t>(slot)], given_size_of(*rom.origin.file, paths, path_count), rom.order});
  }
  DatFile dat;
  if (!build_dir2dat(catalogued.data(), catalogued.size(), g_settings.sha256, g_settings.md5, dat)) {
    write_out_of_memory();
    return false;
  }
  return write_dat_asked(g_settings.dir2dat_path, dat, "dir2dat");
}

struct FileIdentity {
  dev_t device;
  ino_t inode;
};

// A DAT given again, as the same file or as the same content under another
// name or packing, is read once: its sets would otherwise count twice.
bool load_dats() {
  std::vector<FileIdentity> loaded;
  for (const char* path : g_settings.dat_paths) {
    struct stat status {};
    const bool known = stat(path, &status) == 0;
    const auto same_file = [&](const FileIdentity& seen) {
      return known && seen.device == status.st_dev && seen.inode == status.st_ino;
    };
    if (std::find_if(loaded.begin(), loaded.end(), same_file) != loaded.end()) continue;
    DatFile dat;
    DatError error{};
    if (!load_dat_file(path, dat, error)) {
      report_dat_error("DAT", path, error);
      return false;
    }
    const auto same_content = [&](const DatFile& seen) { return is_same_dat(seen, dat); };
    if (std::find_if(g_dats.begin(), g_dats.end(), same_content) != g_dats.end()) continue;
    loaded.push_back({known ? status.st_dev : dev_t{}, known ? status.st_ino : ino_t{}});
    g_dats.push_back(std::move(dat));
    g_dat_paths.push_back(path);
  }
  return true;
}

}  // namespace

bool prepare_audit() {
  if (g_settings.dat_paths.empty() && g_settings.dir2dat_path == nullptr) return true;
  if (!g_settings.dat_paths.empty() && !load_header_rules_asked()) return false;
  if (!load_dats()) return false;
  bool noted = false;
  for (size_t d = 0; d < g_dats.size(); ++d) note_detector(g_dats[d], g_dat_paths[d], noted);
  // A DAT's report and objects name it by its header, else by its path.
  for (size_t d = 0; d < g_dats.size(); ++d) {
    if (g_dats[d].name == 0 && !add_dat_text(g_dats[d], g_dat_paths[d], g_dats[d].name)) {
      write_out_of_memory();
      return false;
    }
  }
  plan_digests();
  return true;
}

bool finish_audit(char* const* paths, int path_count, bool* lacking) {
  *lacking = false;
  if (g_settings.dat_paths.empty() && g_settings.dir2dat_path == nullptr) return true;
  std::vector<AuditImage> images;
  list_images(images);
  bool written = true;
  if (g_settings.dir2dat_path != nullptr) written = write_dir2dat(images, paths, path_count);
  if (g_dats.empty()) return written;
  AuditResult result;
  const std::vector<Provenance>& failures = walk_failure_origins();
  if (!audit_images(g_dats.data(), g_dats.size(), images.data(), images.size(), result, failures.data(),
                    failures.size())) {
    write_out_of_memory();
    return false;
  }
  if (g_json_output) {
    print_audit_json(g_dats.data(), g_dats.size(), images.data(), images.size(), result);
  } else {
    print_audit(g_dats.data(), g_dats.size(), images.data(), images.size(), result);
  }
  *lacking = any_rom_out_of_place(g_dats.data(), g_dats.size(), result);
  written = rebuild_sets(g_dats.data(), g_dats.size(), images.data(), result, lacking) && written;
  if (g_settings.fixdat_path == nullptr) return written;
  DatFile fixdat;
  if (!build_fixdat(g_dats.data(), g_dats.size(), result, fixdat)) {
    write_out_of_memory();
    return false;
  }
  return write_dat_asked(g_settings.fixdat_path, fixdat, fixdat_name().c_str()) && written;
}
