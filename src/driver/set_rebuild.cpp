// A set is kept when its file already is what would be written, refused
// when the file it would replace holds an image it does not (unless that
// file can go to the backup folder first), and written otherwise.
#include "driver/set_rebuild.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/opened_file.h"
#include "driver/solid_sources.h"
#include "rebuild/set_writing.h"
#include "rebuild/torrentzip_check.h"
#include "rebuild/written_check.h"
#include "zip/zip_archive.h"

namespace {

bool same_sha1(const DatRom& rom, const uint8_t* sha1) {
  return (rom.fields & dat_has_sha1) == 0 || sha1 == nullptr || std::memcmp(rom.sha1, sha1, dat_sha1_size) == 0;
}

// Whether the image matched the ROM whole, or only without its header.
bool matched_whole(const DatRom& rom, const AuditForm& whole) {
  return whole.size == rom.size && ((rom.fields & dat_has_crc) == 0 || whole.crc == rom.crc) &&
         same_sha1(rom, whole.sha1);
}

struct Candidate {
  ImageCandidate image;
  uint32_t crc;  // of the form that matched
};

// The images that matched the ROM, with the CRC-32 the ROM must have.
uint32_t candidates_of(const RebuildTarget& target, const DatRom& rom, const RomMatches& matches,
                       std::vector<Candidate>& out) {
  out.clear();
  for (uint32_t k = 0; k < matches.count; ++k) {
    const AuditImage& image = target.images[matches.first[k].image];
    if (matched_whole(rom, image.whole)) {
      out.push_back({{image.origin, image.whole.size, false}, image.whole.crc});
    } else if (image.headerless != nullptr) {
      out.push_back({{image.origin, image.whole.size, true}, image.headerless->crc});
    }
  }
  return (rom.fields & dat_has_crc) != 0 || out.empty() ? rom.crc : out.front().crc;
}

NotWrittenReason plan_reason(PlanProblem problem) {
  switch (problem) {
    case PlanProblem::ClashingNames:
      return NotWrittenReason::ClashingNames;
    case PlanProblem::OutOfMemory:
      return NotWrittenReason::OutOfMemory;
    case PlanProblem::UnsafeSetName:
    case PlanProblem::UnsafeRomName:
    case PlanProblem::None:
      break;
  }
  return NotWrittenReason::UnsafeName;
}

bool exists_at(int folder_fd, const char* name) {
  struct stat status {};
  return folder_fd >= 0 && fstatat(folder_fd, name, &status, AT_SYMLINK_NOFOLLOW) == 0;
}

// Whether the zip the set would replace holds an image the set does not;
// a file that is no readable zip holds one (it was catalogued as such).
bool holds_foreign_images(int folder_fd, const char* name, const FoundRoms& found) {
  OpenedFile file{};
  if (!open_and_size(folder_fd, name, file)) return true;
  if (file.kind != FileKind::Regular) {
    close(file.fd);
    return true;
  }
  ZipArchive archive{};
  if (!zip_open_opened_file(archive, file)) return true;
  GrowArray<uint32_t> foreign;
  const bool listed =
      list_foreign_entries(archive, found.roms.data(), static_cast<uint32_t>(found.roms.size()), foreign);
  zip_close(archive.reader);
  return !listed || foreign.count != 0;
}

// Opens (making it) each folder of `relative` below `folder_fd`; the last
// part is left in `leaf`. The descriptor returned is the caller's.
int open_parent_folders(int folder_fd, const std::string& relative, std::string& leaf, int& error_number) {
  int current = dup(folder_fd);
  size_t from = 0;
  for (size_t slash = relative.find('/'); current >= 0 && slash != std::string::npos;
       slash = relative.find('/', from)) {
    const std::string part = relative.substr(from, slash - from);
    from = slash + 1;
    if (mkdirat(current, part.c_str(), 0777) != 0 && errno != EEXIST) break;
    const int next = openat(current, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(current);
    current = next;
  }
  if (current >= 0 && from < relative.size() && relative.find('/', from) != std::string::npos) {
    close(current);
    current = -1;
  }
  error_number = errno;
  leaf = relative.substr(from);
  return current;
}

// Links the file into the backup folder under the same path, or that path
// and ".N" when taken (nothing there is ever replaced). `made` is the name
// given; the file itself stays until the new one replaces it.
bool link_into_backup(const RebuildTarget& target, const std::string& relative, std::string& made, int& error_number) {
  std::string leaf;
  const int folder = open_parent_folders(target.backup_fd, relative, leaf, error_number);
  if (folder < 0) return false;
  bool linked = false;
  for (int n = 0; n < 10000 && !linked; ++n) {
    const std::string name = n == 0 ? leaf : leaf + "." + std::to_string(n);
    if (linkat(target.out_fd, relative.c_str(), folder, name.c_str(), 0) == 0) {
      linked = true;
      made = relative.substr(0, relative.size() - leaf.size()) + name;
    } else if (errno != EEXIST) {
      break;
    }
  }
  error_number = linked ? 0 : errno;
  if (linked && fsync(folder) != 0) error_number = errno;
  close(folder);
  return linked && error_number == 0;
}

void fail_line(RebuildLine& line, NotWrittenReason reason, int error_number = 0) {
  line.action = RebuildAction::NotWritten;
  line.reason = reason;
  line.error_number = error_number;
}

// The reason a write failed, and whether it ends the rebuild.
bool take_write_error(const FoundRoms& found, const RebuildError& error, RebuildLine& line) {
  switch (error.failure) {
    case RebuildFailure::SourceUnreadable:
    case RebuildFailure::SourceChanged: {
      const ImageSourceState& state = found.states[error.rom];
      line.source = display_name(*state.candidates[state.used].origin);
      fail_line(line, error.failure == RebuildFailure::SourceChanged ? NotWrittenReason::SourceChanged
                                                                     : NotWrittenReason::SourceUnreadable);
      return false;
    }
    case RebuildFailure::UnsafeName:
      fail_line(line, NotWrittenReason::UnsafeName);
      return false;
    case RebuildFailure::ClashingNames:
      fail_line(line, NotWrittenReason::ClashingNames);
      return false;
    case RebuildFailure::ReadBackFailed:
      fail_line(line, NotWrittenReason::ReadBackFailed);
      return true;
    case RebuildFailure::OutOfMemory:
      fail_line(line, NotWrittenReason::OutOfMemory);
      return true;
    case RebuildFailure::WriteFailed:
    case RebuildFailure::None:
      break;
  }
  fail_line(line, NotWrittenReason::WriteFailed, error.error_number);
  return true;
}

}  // namespace

bool gather_found_roms(const RebuildTarget& target, uint32_t dat, uint32_t set, FoundRoms& found,
                       NotWrittenReason& reason) {
  PlanProblem problem = PlanProblem::None;
  uint32_t problem_rom = 0;
  const DatFile& file = target.dats[dat];
  if (!plan_set(file, set, target.merge, found.plan, problem, problem_rom)) {
    reason = plan_reason(problem);
    return false;
  }
  std::vector<Candidate> candidates;
  std::vector<uint32_t> first{0};
  found.roms.reserve(found.plan.roms.count);
  for (const PlannedRom& planned : found.plan.roms) {
    const DatRom& rom = file.roms[planned.rom];
    const uint32_t crc = candidates_of(target, rom, rom_matches(*target.result, dat, planned.rom), candidates);
    for (const Candidate& candidate : candidates) {
      if (candidate.crc == crc) found.candidates.push_back(candidate.image);
    }
    if (found.candidates.size() == first.back()) continue;
    first.push_back(static_cast<uint32_t>(found.candidates.size()));
    RebuildRom out{planned_rom_name(found.plan, planned), rom.size, crc, (rom.fields & dat_has_sha1) != 0, {}, {}};
    std::memcpy(out.sha1, rom.sha1, sizeof out.sha1);
    found.roms.push_back(out);
  }
  found.states.resize(found.roms.size());
  for (size_t k = 0; k < found.roms.size(); ++k) {
    found.states[k] = ImageSourceState{found.candidates.data() + first[k],
                                       first[k + 1] - first[k],
                                       0,
                                       target.rules,
                                       dat_text(file, file.sets[set].name),
                                       -1,
                                       0};
    found.roms[k].source = image_rom_source(found.states[k]);
  }
  return true;
}

void target_names(const RebuildTarget& target, const char* set_name, const FoundRoms& found,
                  std::vector<std::string>& names) {
  names.clear();
  if (!target.as_folders) {
    names.push_back(std::string(set_name) + ".zip");
    return;
  }
  for (const RebuildRom& rom : found.roms) names.push_back(std::string(set_name) + "/" + rom.name);
}

bool rebuild_set(const RebuildTarget& target, uint32_t dat, uint32_t set, RebuildLine& line, bool& stops) {
  const DatFile& file = target.dats[dat];
  const char* set_name = dat_text(file, file.sets[set].name);
  stops = false;
  line = RebuildLine{set_name,
                     std::string(target.out_path) + "/" + set_name + (target.as_folders ? "" : ".zip"),
                     "",
                     RebuildAction::Wrote,
                     NotWrittenReason::None,
                     0,
                     0,
                     0};
  FoundRoms found;
  NotWrittenReason reason = NotWrittenReason::None;
  if (!gather_found_roms(target, dat, set, found, reason)) {
    fail_line(line, reason);
    stops = reason == NotWrittenReason::OutOfMemory;
    return true;
  }
  line.have = static_cast<uint32_t>(found.roms.size());
  line.roms = static_cast<uint32_t>(found.plan.roms.count);
  if (found.roms.empty()) return false;
  const auto count = static_cast<uint32_t>(found.roms.size());
  std::vector<std::string> names;
  target_names(target, set_name, found, names);
  // What already lies under the names: the set as it would be written, or
  // files the new ones would replace, of which those holding other images.
  bool all_kept = true;
  std::vector<std::string> foreign;
  for (size_t k = 0; k < names.size(); ++k) {
    const char* name = names[k].c_str();
    RebuildError error{};
    const bool kept =
        target.as_folders
            ? exists_at(target.out_fd, name) &&
                  check_written_file(target.out_fd, name, found.roms[k], static_cast<uint32_t>(k), error)
            : exists_at(target.out_fd, name) && is_torrentzip_file_of(target.out_fd, name, found.roms.data(), count);
    all_kept = all_kept && kept;
    if (kept || !exists_at(target.out_fd, name)) continue;
    if (target.as_folders || holds_foreign_images(target.out_fd, name, found)) foreign.push_back(names[k]);
  }
  if (all_kept) {
    line.action = RebuildAction::Kept;
    return true;
  }
  if (!foreign.empty() && target.backup_fd < 0) {
    fail_line(line, NotWrittenReason::ForeignImages);
    return true;
  }
  if (target.dry_run) {
    line.action = RebuildAction::WouldWrite;
    return true;
  }
  std::vector<std::string> backups;
  for (const std::string& name : foreign) {
    int error_number = 0;
    if (!link_into_backup(target, name, backups.emplace_back(), error_number)) {
      backups.pop_back();
      for (const std::string& made : backups) unlinkat(target.backup_fd, made.c_str(), 0);
      fail_line(line, NotWrittenReason::BackupFailed, error_number);
      stops = true;
      return true;
    }
  }
  RebuildError error{};
  SpoolFiles spools;
  int spool_error = 0;
  bool written = false;
  if (!spool_solid_sources(target.out_fd, found.states.data(), found.states.size(), spools, spool_error)) {
    error = RebuildError{RebuildFailure::WriteFailed, spool_error, 0};
  } else {
    written = target.as_folders
                  ? write_rom_folder(target.out_fd, set_name, found.roms.data(), count, error)
                  : write_torrentzip_file(target.out_fd, names[0].c_str(), found.roms.data(), count, error);
  }
  if (written) return true;
  // An archive not written left the old file where it was: its link in the
  // backup folder goes. A folder's files written before the failure replaced
  // theirs, so its links stay.
  if (!target.as_folders) {
    for (const std::string& made : backups) unlinkat(target.backup_fd, made.c_str(), 0);
  }
  stops = take_write_error(found, error, line);
  return true;
}
