// The audit's part of a run. The DATs are loaded before any path is read, so
// that a DAT that cannot be read ends the run before anything is printed;
// what the DATs give decides which digests every image costs.
#include "driver/audit_run.h"

#include <cstring>
#include <string>
#include <vector>

#include "audit/dir2dat.h"
#include "audit/fixdat.h"
#include "audit/matching.h"
#include "catalogue/ordering.h"
#include "catalogue/rom_entry.h"
#include "dat/dat_loading.h"
#include "dat/dat_writer.h"
#include "dat/header_rule_file.h"
#include "driver/options.h"
#include "report/audit_json.h"
#include "report/audit_report.h"
#include "report/messages.h"

namespace {

AuditSettings g_settings;
std::vector<DatFile> g_dats;
HeaderRules g_header_rules;

void report_dat_error(const char* what, const char* path, const DatError& error) {
  write_unreadable_dat(what, path, error.line, error.reason);
}

}  // namespace

AuditSettings& audit_settings() {
  return g_settings;
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
  return true;
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

// SHA-1 always (SHA-256 is only for duplicates, which an audit does not
// mark); SHA-256 when some ROM gives it; MD5 when some ROM gives nothing
// stronger. --dir2dat writes SHA-1 and SHA-256, and MD5 with --md5.
void plan_digests() {
  bool any_sha256 = false;
  bool md5_alone = false;
  for (const DatFile& dat : g_dats) {
    for (const DatRom& rom : dat.roms) {
      any_sha256 = any_sha256 || (rom.fields & dat_has_sha256) != 0;
      md5_alone = md5_alone || (rom.fields & (dat_has_md5 | dat_has_sha1 | dat_has_sha256)) == dat_has_md5;
    }
  }
  const bool dir2dat = g_settings.dir2dat_path != nullptr;
  g_digest_plan.sha256 = any_sha256 || dir2dat || g_dats.empty();
  g_digest_plan.sha1 = true;
  g_digest_plan.md5 = md5_alone || g_settings.md5;
  g_digest_plan.header_rules = g_dats.empty() ? nullptr : &g_header_rules;
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
    images.push_back(image);
  }
}

std::string fixdat_name() {
  std::string name = "fixdat: ";
  for (size_t d = 0; d < g_dats.size(); ++d) {
    if (d != 0) name += ", ";
    const char* dat_name = dat_text(g_dats[d], g_dats[d].name);
    name += *dat_name != '\0' ? dat_name : g_settings.dat_paths[d];
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
  if (!build_dir2dat(catalogued.data(), catalogued.size(), g_settings.md5, dat)) {
    write_out_of_memory();
    return false;
  }
  return write_dat_asked(g_settings.dir2dat_path, dat, "dir2dat");
}

}  // namespace

bool prepare_audit() {
  if (g_settings.dat_paths.empty() && g_settings.dir2dat_path == nullptr) return true;
  if (!g_settings.dat_paths.empty() && !load_header_rules_asked()) return false;
  g_dats.resize(g_settings.dat_paths.size());
  for (size_t d = 0; d < g_dats.size(); ++d) {
    DatError error{};
    if (!load_dat_file(g_settings.dat_paths[d], g_dats[d], error)) {
      report_dat_error("DAT", g_settings.dat_paths[d], error);
      return false;
    }
  }
  bool noted = false;
  for (size_t d = 0; d < g_dats.size(); ++d) note_detector(g_dats[d], g_settings.dat_paths[d], noted);
  plan_digests();
  return true;
}

bool finish_audit(char* const* paths, int path_count) {
  if (g_settings.dat_paths.empty() && g_settings.dir2dat_path == nullptr) return true;
  std::vector<AuditImage> images;
  list_images(images);
  bool written = true;
  if (g_settings.dir2dat_path != nullptr) written = write_dir2dat(images, paths, path_count);
  if (g_dats.empty()) return written;
  AuditResult result;
  if (!audit_images(g_dats.data(), g_dats.size(), images.data(), images.size(), result)) {
    write_out_of_memory();
    return false;
  }
  if (g_json_output) {
    print_audit_json(g_dats.data(), g_dats.size(), images.data(), images.size(), result);
  } else {
    print_audit(g_dats.data(), g_dats.size(), images.data(), images.size(), result);
  }
  if (g_settings.fixdat_path == nullptr) return written;
  DatFile fixdat;
  if (!build_fixdat(g_dats.data(), g_dats.size(), result, fixdat)) {
    write_out_of_memory();
    return false;
  }
  return write_dat_asked(g_settings.fixdat_path, fixdat, fixdat_name().c_str()) && written;
}
