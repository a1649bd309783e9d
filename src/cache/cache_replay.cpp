// Lookups by status and replays in walk order.
#include "cache/cache_replay.h"

#include <sys/stat.h>

#include <string>

#include "cache/file_cache.h"
#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"

namespace {

CacheWalk cache_walk() {
  return file_cache_plan().mode == RunMode::Pzc ? CacheWalk::Comments : CacheWalk::Catalogue;
}

bool is_same_key(const FileKey& a, const FileKey& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size && a.mtime_ns == b.mtime_ns &&
         a.ctime_ns == b.ctime_ns;
}

void replay_image(const Provenance& origin, const CachedImage& image) {
  const ImageSummary summary = summary_in_run_mode(image);
  const AuditDigests audit = audit_in_run(image);
  const SumPlan& plan = file_cache_plan();
  g_walk_output.summarised_image(origin, summary, is_admitted_size(plan.mode, summary.size),
                                 plans_audit_digests(plan.digests) ? &audit : nullptr);
}

// Replays a row as the reading it stands for went: images, failures and
// comments through the walk's output, each in its place, each in the file as it is
// now named.
void replay_cached_file(const Provenance& file, const CachedResults& results) {
  for (const CachedItem& item : results.items) {
    const Provenance origin = origin_of_item(item, file);
    switch (item.kind) {
      case CachedItemKind::Image:
        replay_image(origin, item.image);
        break;
      case CachedItemKind::Failure:
        g_walk_output.failure(failure_of_item(item, origin));
        break;
      case CachedItemKind::Comment:
        g_walk_output.comment(origin, item.comment.c_str());
        break;
    }
  }
}

}  // namespace

bool replay_if_cached(int directory_fd, const char* name, const uint64_t* directory_device, const char* path,
                      CacheUnitHandle& looked_up) {
  if (directory_device != nullptr && !may_be_cached_on(*directory_device)) return false;
  struct stat status {};
  if (fstatat(directory_fd, name, &status, 0) != 0 || !S_ISREG(status.st_mode)) return false;
  looked_up = new_cache_unit();
  CacheUnit& unit = *looked_up;
  unit.key = FileKey{status.st_dev, status.st_ino, static_cast<uint64_t>(status.st_size),
                     int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec,
                     int64_t{status.st_ctim.tv_sec} * 1'000'000'000 + status.st_ctim.tv_nsec};
  unit.walk = cache_walk();
  if (!find_cached_file(unit)) return false;
  replay_cached_file(Provenance{make_source_file(path, true, unit.key.device, unit.key.inode), {}}, unit.row);
  return true;
}

CacheUnitHandle cache_unit_of_opened(CacheUnitHandle looked_up, const OpenedFile& opened) {
  CacheUnitHandle unit = looked_up ? std::move(looked_up) : new_cache_unit();
  const FileKey key{opened.device, opened.inode, opened.size, opened.mtime_ns, opened.ctime_ns};
  if (!is_same_key(key, unit->key)) unit->has_row = false;
  unit->key = key;
  unit->walk = cache_walk();
  return unit;
}

WalkCacheHooks file_cache_hooks() {
  return WalkCacheHooks{is_file_cache_on, replay_if_cached, cache_unit_of_opened};
}
