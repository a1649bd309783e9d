// Lookups before a file is opened, rows written after its results are
// committed, and the checks between. A row is trusted only when its key
// (device, inode, size, modification and status-change times in
// nanoseconds) is the file's now and neither time was within the last 2
// seconds before the run that wrote it: a write in the same clock tick as
// an earlier reading would not change the times, so such a file is read
// and not stored.
#include "cache/file_cache.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cache/cache_database.h"
#include "cache/cache_observer.h"
#include "catalogue/run_mode.h"
#include "catalogue/sum_plan.h"
#include "catalogue/sums.h"

int64_t g_untrusted_recent_ns = int64_t{2'000'000'000};
CacheObserver g_cache_observer{};

namespace {

// A fingerprint of the header rules, field by field (a rule's bytes hold
// padding): a header-less summary stands only for the rules it came from.
uint64_t mix(uint64_t hash, uint64_t value) {
  constexpr uint64_t fnv_prime = 0x100000001B3;
  for (int k = 0; k < 8; ++k) hash = (hash ^ ((value >> (8 * k)) & 0xFF)) * fnv_prime;
  return hash;
}

uint64_t header_rules_id(const HeaderRules& rules) {
  uint64_t hash = 0xCBF29CE484222325;
  for (size_t k = 0; k < rules.rules.count; ++k) {
    const HeaderRule& rule = rules.rules.items[k];
    for (const uint64_t value : {rule.start.distance, uint64_t{rule.start.from_end}, rule.end.distance,
                                 uint64_t{rule.end.from_end}, uint64_t{rule.first_test}, uint64_t{rule.test_count}}) {
      hash = mix(hash, value);
    }
  }
  for (size_t k = 0; k < rules.tests.count; ++k) {
    const HeaderTest& test = rules.tests.items[k];
    for (const uint64_t value : {uint64_t{static_cast<uint8_t>(test.kind)}, uint64_t{test.wanted_result},
                                 uint64_t{static_cast<uint8_t>(test.comparison)}, uint64_t{test.power_of_two},
                                 uint64_t{test.value_size}, test.offset, test.file_size}) {
      hash = mix(hash, value);
    }
    for (size_t b = 0; b < max_header_test_bytes; ++b) hash = mix(hash, uint64_t{test.value[b]} << 8 | test.mask[b]);
  }
  return hash;
}

struct Recording {
  bool active = false;
  bool whole = false;   // no failure that may pass, every name below the file's
  bool recent = false;  // modified too shortly before the run to be trusted
  Provenance file;
  CacheUnitHandle unit;
  CachedResults results;
};

struct FileCache {
  bool on = false;
  SumPlan plan;              // what this run sums
  uint32_t run_digests = 0;  // what this run's images need; a row lacking one is read again
  uint64_t rules_id = 0;     // of the run's header rules, when it takes header-less summaries
  bool recheck = false;
  int64_t run_start_ns = 0;
  std::string path;
  Recording recording;
};

FileCache g_file_cache;

void tell_cache_problem() {
  CacheProblem problem{};
  if (!take_cache_problem(problem)) return;
  if (g_cache_observer.cache_not_used != nullptr) g_cache_observer.cache_not_used(g_file_cache.path.c_str(), problem);
}

// The walk's enums as the row keeps them, checked before anything of the
// row is replayed.
bool is_known_failure(const CachedItem& item) {
  return item.message <= static_cast<uint8_t>(WalkMessage::ExpansionLimit) &&
         item.reason <= static_cast<uint8_t>(FailureReason::OutOfMemory);
}

// Every image holds the digests, and a header-less summary by this run's rules.
bool images_hold(const CachedResults& results, uint32_t wanted) {
  if ((digests_of_every_image(results) & wanted) != wanted) return false;
  if ((wanted & digest_headerless) == 0) return true;
  for (const CachedItem& item : results.items) {
    if (item.kind == CachedItemKind::Image && item.image.header_rules_id != g_file_cache.rules_id) return false;
  }
  return true;
}

bool has_known_failures(const CachedResults& results) {
  for (const CachedItem& item : results.items) {
    if (item.kind == CachedItemKind::Failure && !is_known_failure(item)) return false;
  }
  return true;
}

// The levels below the file, or false when `origin` is not in the unit's
// file (the row would not replay it).
bool levels_below_file(const Provenance& origin, std::vector<CachedLevel>& out) {
  if (origin.file.get() != g_file_cache.recording.file.file.get()) return false;
  std::vector<const ChainLevel*> levels(static_cast<size_t>(chain_depth(origin)));
  chain_levels(origin, levels.data());
  out.clear();
  for (const ChainLevel* level : levels) {
    out.push_back(CachedLevel{level->archive_kind, level->named_by_container, level->index,
                              std::string(level->name(), level->name_size)});
  }
  return true;
}

CachedItem* add_item(CachedItemKind kind, const Provenance* origin) {
  Recording& recording = g_file_cache.recording;
  CachedItem item{};
  item.kind = kind;
  if (origin == nullptr || !levels_below_file(*origin, item.levels)) {
    recording.whole = false;
    return nullptr;
  }
  recording.results.items.push_back(std::move(item));
  return &recording.results.items.back();
}

// A read error or a lack of memory may pass; the next run tries again.
bool is_lasting(FailureReason reason) {
  return reason != FailureReason::ReadError && reason != FailureReason::OutOfMemory;
}

}  // namespace

void start_file_cache(const char* path, bool recheck, int64_t run_start_ns, const SumPlan& plan) {
  g_file_cache.path = path;
  g_file_cache.plan = plan;
  g_file_cache.recheck = recheck;
  g_file_cache.run_start_ns = run_start_ns;
  CacheProblem problem{};
  g_file_cache.on = open_cache_database(path, run_start_ns / 1'000'000'000, problem);
  g_file_cache.plan.takes_every_sum = g_file_cache.on;
  uint32_t wanted = 0;
  if (plan.digests.sha256) wanted |= digest_sha256;
  if (plan.digests.sha1) wanted |= digest_sha1;
  if (plan.digests.md5) wanted |= digest_md5;
  if (plan.mode == RunMode::M1) wanted |= digest_segment_sums;
  if (plan.mode == RunMode::M2) wanted |= digest_shift16;
  g_file_cache.run_digests = wanted;
  if (plan.digests.header_rules != nullptr) {
    g_file_cache.run_digests |= digest_headerless;
    g_file_cache.rules_id = header_rules_id(*plan.digests.header_rules);
  }
  if (!g_file_cache.on && g_cache_observer.cache_not_used != nullptr) g_cache_observer.cache_not_used(path, problem);
}

void finish_file_cache() {
  if (!g_file_cache.on) return;
  close_cache_database();
  tell_cache_problem();
  g_file_cache.on = false;
}

bool is_file_cache_on() {
  return g_file_cache.on;
}

const SumPlan& file_cache_plan() {
  return g_file_cache.plan;
}

bool may_be_cached_on(uint64_t device) {
  return cache_may_know_device(device);
}

namespace {

void release_cache_unit(CacheUnit* unit) {
  delete unit;
}

}  // namespace

CacheUnitHandle new_cache_unit() {
  return CacheUnitHandle(new CacheUnit{}, CacheUnitRelease{release_cache_unit});
}

bool find_cached_file(CacheUnit& unit) {
  unit.has_row = false;
  CacheRow row;
  const CacheLookup lookup = find_cache_row(unit.key, unit.walk, row);
  tell_cache_problem();
  if (lookup != CacheLookup::Hit) return false;
  const auto* bytes = reinterpret_cast<const uint8_t*>(row.results.data());
  if (!decode_cached_results(bytes, row.results.size(), unit.row) || !has_known_failures(unit.row)) return false;
  unit.has_row = true;
  // The row's column says what it holds; its images must agree.
  const uint32_t wanted = g_file_cache.run_digests;
  const bool holds_run_digests = (row.digests & wanted) == wanted && images_hold(unit.row, wanted);
  return !g_file_cache.recheck && holds_run_digests;
}

ImageSummary summary_in_run_mode(const CachedImage& image) {
  // As the summariser gives it when it takes every sum (see ImageSummary).
  ImageSummary summary = image.summary;
  std::memcpy(summary.mode_sums, image.segment_sums, sizeof summary.mode_sums);
  if (g_file_cache.plan.mode == RunMode::M2 && summary.size == m2_image_size) {
    std::memset(summary.mode_sums, 0, sizeof summary.mode_sums);
    summary.mode_sums[0] = image.shift16;
  }
  summary.shift16 = image.shift16;
  return summary;
}

AuditDigests audit_in_run(const CachedImage& image) {
  AuditDigests audit = image.audit;
  // Only what this run takes, as its own reading would have it.
  const DigestPlan& plan = g_file_cache.plan.digests;
  uint8_t taken = 0;
  if (plan.sha1) taken |= taken_sha1;
  if (plan.md5) taken |= taken_md5;
  if (plan.header_rules != nullptr) taken |= taken_headerless;
  audit.taken &= taken;
  return audit;
}

WalkFailure failure_of_item(const CachedItem& item, const Provenance& origin) {
  return failure_at(static_cast<WalkMessage>(item.message), static_cast<FailureReason>(item.reason), origin,
                    item.entry_index);
}

Provenance origin_of_item(const CachedItem& item, const Provenance& file) {
  Provenance origin = file;
  for (const CachedLevel& level : item.levels) {
    origin = entry_of(origin, level.archive_kind, level.index, level.name, level.named_by_container);
  }
  return origin;
}

void begin_recording(void* /*context*/, const Provenance& file, CacheUnitHandle unit) {
  Recording& recording = g_file_cache.recording;
  recording.active = true;
  recording.whole = true;
  const int64_t changed_ns = std::max(unit->key.mtime_ns, unit->key.ctime_ns);
  recording.recent = changed_ns > g_file_cache.run_start_ns - g_untrusted_recent_ns;
  recording.file = file;
  recording.unit = std::move(unit);
  recording.results.items.clear();
}

void record_image(void* /*context*/, const Provenance& origin, const ImageSummary& summary, bool /*admitted*/,
                  const AuditDigests* audit) {
  if (!g_file_cache.recording.active) return;
  CachedItem* item = add_item(CachedItemKind::Image, &origin);
  if (item == nullptr) return;
  CachedImage& image = item->image;
  image.summary = summary;
  std::memset(image.summary.mode_sums, 0, sizeof image.summary.mode_sums);
  image.summary.shift16 = 0;
  // A 2 KiB image has no segments: in -m2 its checksum stands in their place.
  if (g_file_cache.plan.mode != RunMode::M2 || summary.size != m2_image_size) {
    std::memcpy(image.segment_sums, summary.mode_sums, sizeof image.segment_sums);
  }
  image.shift16 = summary.shift16;
  image.digests = g_file_cache.run_digests & ~uint32_t{digest_sha1 | digest_md5};
  image.digests |= mode_sums_held_by_size(summary.size);
  if (audit != nullptr) {
    image.audit = *audit;
    if ((audit->taken & taken_sha1) != 0) image.digests |= digest_sha1;
    if ((audit->taken & taken_md5) != 0) image.digests |= digest_md5;
  } else {
    image.digests &= ~uint32_t{digest_headerless};
  }
  if ((image.digests & digest_headerless) != 0) image.header_rules_id = g_file_cache.rules_id;
}

void record_failure(void* /*context*/, const WalkFailure& failure) {
  Recording& recording = g_file_cache.recording;
  if (!recording.active) return;
  if (!is_lasting(failure.reason)) recording.whole = false;
  CachedItem* item = add_item(CachedItemKind::Failure, failure.origin);
  if (item == nullptr) return;
  item->message = static_cast<uint8_t>(failure.message);
  item->reason = static_cast<uint8_t>(failure.reason);
  item->entry_index = failure.entry_index;
}

void record_comment(void* /*context*/, const Provenance& archive, const char* comment) {
  if (!g_file_cache.recording.active) return;
  CachedItem* item = add_item(CachedItemKind::Comment, &archive);
  if (item != nullptr) item->comment = comment;
}

void end_recording(void* /*context*/) {
  Recording& recording = g_file_cache.recording;
  if (!recording.active) return;
  recording.active = false;
  const CacheUnit& unit = *recording.unit;
  const bool same = unit.has_row && recording.whole && same_cached_results(unit.row, recording.results);
  const bool changed = g_file_cache.recheck && unit.has_row && recording.whole && !same;
  if (changed && g_cache_observer.changed_in_place != nullptr) {
    g_cache_observer.changed_in_place(display_name(recording.file).c_str());
  }
  // Read again for a digest the row lacked: it keeps those it had.
  if (same) add_kept_digests(unit.row, recording.results);
  if (recording.whole && !recording.recent) {
    const uint32_t digests = digests_of_every_image(recording.results);
    store_cache_row(unit.key, unit.walk, CacheRow{digests, encode_cached_results(recording.results)});
    tell_cache_problem();
  }
  recording.unit.reset();
  recording.file = Provenance{};
  recording.results.items.clear();
}
