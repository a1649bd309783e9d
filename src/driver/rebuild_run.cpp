// Sets are written in two rounds. A set whose file in the output folder is
// a source of another set's ROMs is written after every other set, one at
// a time in DAT order, so that no set reads a file while it is replaced;
// the rest are written in parallel, one worker a set. Reports wait until
// all are done and come out in DAT order.
#include "driver/rebuild_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "driver/set_rebuild.h"
#include "rebuild/temp_names.h"

namespace {

// Makes the folder and the folders above it that are missing.
bool make_folders(const char* path) {
  std::string partial;
  for (const char* p = path; *p != '\0'; ++p) {
    partial += *p;
    if ((p[1] == '/' || p[1] == '\0') && *p != '/' && mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
      return false;
    }
  }
  return true;
}

int open_folder(const char* path) {
  return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool open_or_make(const char* path, bool make, int& fd) {
  if (make && !make_folders(path)) return false;
  fd = open_folder(path);
  return fd >= 0 || (!make && errno == ENOENT);
}

struct SetTask {
  uint32_t dat;
  uint32_t set;
  bool same_file;  // an earlier task has its file name
  bool last_round;
  bool started;
  bool reported;  // something of it was found under its plan
  bool stops;
  RebuildLine line;
};

using FileIdentity = std::pair<uint64_t, uint64_t>;

// Marks for the last round each task whose files lie where another task's
// sources are.
void order_rounds(const RebuildTarget& target, std::vector<SetTask>& tasks) {
  if (target.out_fd < 0) return;
  std::map<FileIdentity, size_t> owners;
  std::vector<std::vector<FileIdentity>> sources(tasks.size());
  std::vector<std::string> names;
  for (size_t t = 0; t < tasks.size(); ++t) {
    FoundRoms found;
    NotWrittenReason reason = NotWrittenReason::None;
    if (tasks[t].same_file || !gather_found_roms(target, tasks[t].dat, tasks[t].set, found, reason)) continue;
    const DatFile& dat = target.dats[tasks[t].dat];
    target_names(target, dat_text(dat, dat.sets[tasks[t].set].name), found, names);
    for (const std::string& name : names) {
      struct stat status {};
      if (fstatat(target.out_fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        owners.emplace(FileIdentity{status.st_dev, status.st_ino}, t);
      }
    }
    for (const ImageCandidate& candidate : found.candidates) {
      const SourceFile* file = candidate.origin->file.get();
      if (file != nullptr && file->identified) sources[t].emplace_back(file->device, file->inode);
    }
  }
  for (size_t t = 0; t < tasks.size(); ++t) {
    for (const FileIdentity& source : sources[t]) {
      const auto owner = owners.find(source);
      if (owner != owners.end() && owner->second != t) tasks[owner->second].last_round = true;
    }
  }
}

void run_task(const RebuildTarget& target, SetTask& task, std::atomic<bool>& stop) {
  task.started = true;
  if (task.same_file) {
    const DatFile& dat = target.dats[task.dat];
    const char* name = dat_text(dat, dat.sets[task.set].name);
    task.line = RebuildLine{name,
                            std::string(target.out_path) + "/" + name + (target.as_folders ? "" : ".zip"),
                            "",
                            RebuildAction::NotWritten,
                            NotWrittenReason::SameFile,
                            0,
                            0,
                            0};
    task.reported = true;
    return;
  }
  task.reported = rebuild_set(target, task.dat, task.set, task.line, task.stops);
  if (task.stops) stop = true;
}

// Each worker takes the next task of the round until none is left or a
// write has failed.
void run_round(const RebuildTarget& target, std::vector<SetTask>& tasks, bool last_round, int workers,
               std::atomic<bool>& stop) {
  std::atomic<size_t> next{0};
  const auto work = [&]() {
    for (size_t t = next++; t < tasks.size() && !stop; t = next++) {
      if (tasks[t].last_round == last_round) run_task(target, tasks[t], stop);
    }
  };
  std::vector<std::thread> threads;
  for (int k = 1; k < workers; ++k) threads.emplace_back(work);
  work();
  for (std::thread& thread : threads) thread.join();
}

// After a rebuild that wrote or kept every set found, each ROM found is in
// place in the output folder: what still lacks is what was never found
// (or, with --complete-only, a set left out for it).
bool any_set_lacking(const DatFile* dats, size_t dat_count, const AuditResult& result) {
  for (size_t d = 0; d < dat_count; ++d) {
    for (uint32_t s = 0; s < dats[d].sets.count; ++s) {
      const SetVerdict verdict = judge_set(dats[d], result, static_cast<uint32_t>(d), s);
      if (verdict.found < verdict.required) return true;
    }
  }
  return false;
}

// Whether the image lies in the output folder: the walk went through it
// by the path `out` as given, before any other.
bool lies_in(const AuditImage& image, std::string_view out) {
  const std::string_view path(image.origin->file->path(), image.origin->file->path_size);
  return path.size() > out.size() && path.compare(0, out.size(), out) == 0 && path[out.size()] == '/';
}

// A set not written or kept: whether each of its ROMs found anywhere has an
// image in its place inside the output folder already (one refused for
// holding other images too may well have).
bool in_place_in_out(const RebuildTarget& target, uint32_t dat_index, uint32_t set_index) {
  const DatFile& dat = target.dats[dat_index];
  const DatSet& set = dat.sets[set_index];
  for (uint32_t r = set.first_rom; r < set.first_rom + set.rom_count; ++r) {
    if (!is_required_rom(dat.roms[r])) continue;
    const RomMatches matches = rom_matches(*target.result, dat_index, r);
    bool placed = matches.count == 0;  // never found: the count of what lacks says so
    for (uint32_t k = 0; k < matches.count && !placed; ++k) {
      placed = matches.first[k].in_place && lies_in(target.images[matches.first[k].image], target.out_path);
    }
    if (!placed) return false;
  }
  return true;
}

}  // namespace

bool prepare_rebuild(const RebuildSettings& settings, RebuildState& state) {
  const char* out = settings.out_path;
  if (out == nullptr) return true;
  state.out_path = out;
  while (state.out_path.size() > 1 && state.out_path.back() == '/') state.out_path.pop_back();
  const bool writing = !settings.dry_run;
  if (!open_or_make(out, writing, state.out_fd)) {
    write_rebuild_folder_error(out, errno);
    return false;
  }
  int error_number = 0;
  if (state.out_fd >= 0 && writing && !remove_rebuild_leftovers(state.out_fd, error_number)) {
    write_rebuild_folder_error(out, error_number);
    return false;
  }
  struct stat status {};
  if (state.out_fd >= 0 && fstat(state.out_fd, &status) == 0) {
    state.out_walked = true;
    state.out_device = status.st_dev;
    state.out_inode = status.st_ino;
  }
  const char* backup = settings.backup_path;
  if (backup != nullptr && writing && !open_or_make(backup, true, state.backup_fd)) {
    write_rebuild_folder_error(backup, errno);
    return false;
  }
  return true;
}

const char* rebuild_folder_to_walk(const RebuildState& state) {
  return state.out_walked ? state.out_path.c_str() : nullptr;
}

bool is_rebuild_folder(const RebuildState& state, const char* path) {
  struct stat status {};
  return state.out_walked && stat(path, &status) == 0 && S_ISDIR(status.st_mode) && status.st_dev == state.out_device &&
         status.st_ino == state.out_inode;
}

bool rebuild_sets(const RunSettings& settings, const RebuildState& state, const HeaderRules* header_rules,
                  const DatFile* dats, size_t dat_count, const AuditImage* images, const AuditResult& result,
                  bool* lacking) {
  const RebuildSettings& rebuild = settings.rebuild;
  if (rebuild.out_path == nullptr) return true;
  // With --backup on a dry run nothing is moved: a set that would replace
  // another's images is then said to be written.
  const RebuildTarget target{state.out_fd,
                             rebuild.backup_path != nullptr ? (rebuild.dry_run ? 0 : state.backup_fd) : -1,
                             state.out_path.c_str(),
                             rebuild.as_folders,
                             rebuild.dry_run,
                             rebuild.merge,
                             header_rules,
                             dats,
                             images,
                             &result};
  std::vector<SetTask> tasks;
  std::set<std::string> names;
  for (size_t d = 0; d < dat_count; ++d) {
    for (uint32_t s = 0; s < dats[d].sets.count; ++s) {
      const SetVerdict verdict = judge_set(dats[d], result, static_cast<uint32_t>(d), s);
      if (verdict.found == 0 || (rebuild.complete_only && verdict.found < verdict.required)) continue;
      const bool taken = !names.emplace(dat_text(dats[d], dats[d].sets[s].name)).second;
      tasks.push_back(SetTask{static_cast<uint32_t>(d), s, taken, false, false, false, false, {}});
    }
  }
  order_rounds(target, tasks);
  std::atomic<bool> stop{false};
  run_round(target, tasks, false, settings.worker_count, stop);
  run_round(target, tasks, true, 1, stop);
  RebuildCounts counts;
  // The status speaks of the output folder as the rebuild left it: a set
  // neither written nor kept lacks its place unless it had it there
  // already, wherever else its ROMs lie. A dry run changed nothing, so the
  // audit's word stands.
  bool placed = true;
  for (const SetTask& task : tasks) {
    const bool done = task.started && task.reported &&
                      (task.line.action == RebuildAction::Wrote || task.line.action == RebuildAction::Kept);
    if (!done) placed = placed && in_place_in_out(target, task.dat, task.set);
    if (!task.started || !task.reported) continue;
    report_rebuild_line(task.line, settings.json, counts);
  }
  print_rebuild_summary(counts, settings.json);
  if (!rebuild.dry_run) *lacking = !placed || any_set_lacking(dats, dat_count, result);
  return !stop;
}
