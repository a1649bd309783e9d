// Where the walk hands what it finds, through functions the driver
// installs: the things to read (images, archives to walk in order), the
// -pzc comments and the failures, in walk order, and the file cache's
// hooks. The walk knows neither the job ring nor the cache behind them.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/archive_kind.h"
#include "base/opened_file.h"
#include "base/provenance.h"
#include "catalogue/audit_digests.h"
#include "catalogue/image_summary.h"
#include "catalogue/sum_plan.h"
#include "walk/cache_unit.h"
#include "walk/walk_failure.h"
#include "walk/walk_results.h"
#include "zip/zip_extract.h"
#include "zip/zip_failure.h"
#include "zip/zip_reader.h"

struct ArchiveReader;
struct ArchiveEntryInfo;
struct ExpansionBudget;
struct OpenArchive;

// How reading an archive entry as it streams past went: Unpacked (whether
// the run mode admits it beside), Failed (the reason in the reader), or
// OverBudget (the expansion budget is exhausted).
enum class StreamOutcome : uint8_t { Unpacked, Failed, OverBudget };

// Walks an archive file in order into `results`, taking the descriptor over;
// run wherever the output chooses, its results committed in its place.
using OrderedWalk = void (*)(const Provenance& origin, int fd, uint64_t size, ArchiveKind kind, WalkResults& results);

// Set before the walk starts; none may be null while a walk runs.
struct WalkOutput {
  // The file's first `size` bytes as the image `origin`, taking the
  // descriptor over. With a cache unit, its result is the file's row.
  void (*file_image)(const Provenance& origin, int fd, uint64_t size, CacheUnitHandle unit);
  // A zip entry that passed zip_prepare_extraction, as the image `origin`.
  void (*entry_image)(const Provenance& origin, const std::shared_ptr<OpenArchive>& archive,
                      const ZipExtraction& extraction);
  // An image summarised already; `audit` when the run takes audit digests.
  void (*summarised_image)(const Provenance& origin, const ImageSummary& summary, bool admitted,
                           const AuditDigests* audit);
  void (*ordered_walk)(const Provenance& origin, int fd, uint64_t size, ArchiveKind kind, OrderedWalk walk);
  // A zip archive's comment, for -pzc; copied.
  void (*comment)(const Provenance& archive, const char* comment);
  // Its origin is copied.
  void (*failure)(const WalkFailure& failure);
  // One file's results, recorded for the cache, lie between these two.
  void (*file_start)(const Provenance& file, CacheUnitHandle unit);
  void (*file_end)();

  // Reading here and now, for a walk in order (a worker's): a zip entry
  // that passed zip_prepare_extraction, checked against its length and
  // CRC-32, false with why in *failure when it cannot be unpacked; and the
  // current entry of a libarchive reader, charged to `part` of `budget`
  // when its size shows only at its end. `digests` and `admitted`: whether
  // the run mode admits the image.
  bool (*summarise_entry)(const SumPlan& plan, const ZipReader& reader, const ZipExtraction& extraction, bool digests,
                          ImageSummary& summary, AuditDigests& audit, ZipFailure* failure);
  StreamOutcome (*summarise_streamed_entry)(const SumPlan& plan, ArchiveReader& reader, const ArchiveEntryInfo& info,
                                            ExpansionBudget& budget, uint64_t& part, ImageSummary& summary,
                                            AuditDigests& audit, bool& admitted);

  // What the run sums: the walk reads its mode (what -pzc reads) and its
  // digest plan (whether CHD headers matter), and hands it to the two
  // above.
  SumPlan plan;
};

// The cache's hooks; all null when the run has no cache.
struct WalkCacheHooks {
  bool (*is_on)();
  // Looks up the file `name` in `directory_fd` (AT_FDCWD for a command-line
  // path), whose display name is `path`, before it is opened.
  // `directory_device`, when the file is known to lie on it, spares the
  // status of a file on a device the cache holds nothing of. True when its
  // results were replayed through the output; otherwise `looked_up` holds
  // what the lookup found, if anything.
  bool (*replay_if_cached)(int directory_fd, const char* name, const uint64_t* directory_device, const char* path,
                           CacheUnitHandle& looked_up);
  // The unit a regular file's results are recorded under: its key as
  // opened, which may differ from the one looked up.
  CacheUnitHandle (*unit_of_opened)(CacheUnitHandle looked_up, const OpenedFile& opened);
};

// Read by the walking thread, and by workers walking an archive in order.
extern WalkOutput g_walk_output;
extern WalkCacheHooks g_walk_cache;
