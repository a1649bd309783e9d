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
#include "catalogue/ordering.h"
#include "catalogue/rom_entry.h"
#include "dat/dat_loading.h"
#include "dat/dat_writer.h"
#include "dat/header_rule_file.h"
#include "driver/rebuild_run.h"
#include "report/audit_json.h"
#include "report/audit_report.h"
#include "report/messages.h"
#include "report/walk_reporting.h"

namespace {

void report_dat_error(const char* what, const char* path, const DatError& error) {
  write_unreadable_dat(what, path, error.line, error.reason);
}

// A DAT header may name the header rules its ROMs were listed without;
// without --header only the built-in rules apply, and that is said once.
void note_detector(const AuditSettings& settings, const DatFile& dat, const char* path, bool& noted) {
  if (noted || settings.header_path != nullptr || dat.detector == 0) return;
  write_detector_note(path, dat_text(dat, dat.detector));
  noted = true;
}

bool load_header_rules_asked(const char* header_path, HeaderRules& rules) {
  if (header_path == nullptr) {
    if (use_builtin_header_rules(rules)) return true;
    write_out_of_memory();
    return false;
  }
  DatError error{};
  if (load_header_rules(header_path, rules, error)) return true;
  report_dat_error("header rules", header_path, error);
  return false;
}

// A ROM is matched by its strongest digest (SHA-256, else SHA-1, else MD5):
// only those are taken, besides what --dir2dat writes (SHA-1, and SHA-256
// or MD5 when asked) and the SHA-256 a printed listing marks duplicates by.
DigestPlan plan_digests(const AuditSettings& settings, const AuditState& state) {
  bool any_sha256 = false;
  bool sha1_strongest = false;
  bool md5_alone = false;
  bool any_disk = false;
  for (const DatFile& dat : state.dats) {
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
  const bool dir2dat = settings.dir2dat_path != nullptr;
  DigestPlan plan;
  plan.sha256 = any_sha256 || (dir2dat && settings.sha256) || state.dats.empty();
  plan.sha1 = sha1_strongest || dir2dat;
  plan.md5 = md5_alone || settings.md5;
  plan.header_rules = state.dats.empty() ? nullptr : &state.header_rules;
  plan.chd = any_disk;
  return plan;
}

// The catalogue in listing order, as the audit reads it: about 60 bytes an
// image, pointing into the records.
void list_images(const Catalogue& catalogue, const DigestPlan& digests, std::vector<AuditImage>& images) {
  images.reserve(static_cast<size_t>(catalogue.count));
  for (int32_t slot = 0; slot < catalogue.count; ++slot) {
    const RomEntry& rom = *catalogue.sorted[slot];
    const AuditDigests* audit = rom.audit.get();
    AuditImage image{&rom.origin, {rom.summary.size, rom.summary.crc, nullptr, nullptr, nullptr}, nullptr};
    if (digests.sha256) image.whole.sha256 = rom.summary.sha256;
    if (audit != nullptr && (audit->taken & taken_sha1)) image.whole.sha1 = audit->sha1;
    if (audit != nullptr && (audit->taken & taken_md5)) image.whole.md5 = audit->md5;
    if (audit != nullptr && (audit->taken & taken_headerless)) image.headerless = &audit->headerless;
    if (audit != nullptr && (audit->taken & taken_chd)) image.chd_sha1 = audit->chd_sha1;
    images.push_back(image);
  }
}

std::string fixdat_name(const std::vector<DatFile>& dats) {
  std::string name = "fixdat: ";
  for (size_t d = 0; d < dats.size(); ++d) {
    if (d != 0) name += ", ";
    const char* dat_name = dat_text(dats[d], dats[d].name);
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

bool write_dir2dat(const AuditSettings& settings, const Catalogue& catalogue, const std::vector<AuditImage>& images,
                   char* const* paths, int path_count) {
  std::vector<CataloguedImage> catalogued;
  catalogued.reserve(images.size());
  for (int32_t slot = 0; slot < catalogue.count; ++slot) {
    const RomEntry& rom = *catalogue.sorted[slot];
    catalogued.push_back(
        {&images[static_cast<size_t>(slot)], given_size_of(*rom.origin.file, paths, path_count), rom.order});
  }
  DatFile dat;
  if (!build_dir2dat(catalogued.data(), catalogued.size(), settings.sha256, settings.md5, dat)) {
    write_out_of_memory();
    return false;
  }
  return write_dat_asked(settings.dir2dat_path, dat, "dir2dat");
}

struct FileIdentity {
  dev_t device;
  ino_t inode;
};

// A DAT given again, as the same file or as the same content under another
// name or packing, is read once: its sets would otherwise count twice.
bool load_dats(const AuditSettings& settings, AuditState& state) {
  std::vector<FileIdentity> loaded;
  for (const char* path : settings.dat_paths) {
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
    if (std::find_if(state.dats.begin(), state.dats.end(), same_content) != state.dats.end()) continue;
    loaded.push_back({known ? status.st_dev : dev_t{}, known ? status.st_ino : ino_t{}});
    state.dats.push_back(std::move(dat));
    state.dat_paths.push_back(path);
  }
  return true;
}

}  // namespace

bool prepare_audit(const AuditSettings& settings, AuditState& state, DigestPlan& digests) {
  if (settings.dat_paths.empty() && settings.dir2dat_path == nullptr) return true;
  if (!settings.dat_paths.empty() && !load_header_rules_asked(settings.header_path, state.header_rules)) return false;
  if (!load_dats(settings, state)) return false;
  std::vector<DatFile>& dats = state.dats;
  bool noted = false;
  for (size_t d = 0; d < dats.size(); ++d) note_detector(settings, dats[d], state.dat_paths[d], noted);
  // A DAT's report and objects name it by its header, else by its path.
  for (size_t d = 0; d < dats.size(); ++d) {
    if (dats[d].name == 0 && !add_dat_text(dats[d], state.dat_paths[d], dats[d].name)) {
      write_out_of_memory();
      return false;
    }
  }
  digests = plan_digests(settings, state);
  return true;
}

bool finish_audit(const RunSettings& settings, const Catalogue& catalogue, const DigestPlan& digests,
                  const AuditState& state, const RebuildState& rebuild, char* const* paths, int path_count,
                  bool* lacking) {
  *lacking = false;
  const AuditSettings& audit = settings.audit;
  if (audit.dat_paths.empty() && audit.dir2dat_path == nullptr) return true;
  std::vector<AuditImage> images;
  list_images(catalogue, digests, images);
  bool written = true;
  if (audit.dir2dat_path != nullptr) written = write_dir2dat(audit, catalogue, images, paths, path_count);
  const std::vector<DatFile>& dats = state.dats;
  if (dats.empty()) return written;
  AuditResult result;
  const std::vector<Provenance>& failures = walk_failure_origins();
  if (!audit_images(dats.data(), dats.size(), images.data(), images.size(), result, failures.data(), failures.size())) {
    write_out_of_memory();
    return false;
  }
  if (settings.json) {
    print_audit_json(dats.data(), dats.size(), images.data(), images.size(), result);
  } else {
    print_audit(dats.data(), dats.size(), images.data(), images.size(), result);
  }
  *lacking = any_rom_out_of_place(dats.data(), dats.size(), result);
  written =
      rebuild_sets(settings, rebuild, digests.header_rules, dats.data(), dats.size(), images.data(), result, lacking) &&
      written;
  if (audit.fixdat_path == nullptr) return written;
  DatFile fixdat;
  if (!build_fixdat(dats.data(), dats.size(), result, fixdat)) {
    write_out_of_memory();
    return false;
  }
  return write_dat_asked(audit.fixdat_path, fixdat, fixdat_name(dats).c_str()) && written;
}
