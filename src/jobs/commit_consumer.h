// Those the job ring hands each committed result to, in walk order: the
// catalogue, the cache's writer, the status line and messages, and later
// the rebuild of sets. The driver installs them; the ring knows none.
#pragma once

#include <memory>

#include "base/provenance.h"
#include "catalogue/audit_digests.h"
#include "catalogue/image_summary.h"
#include "walk/cache_unit.h"
#include "walk/walk_failure.h"

// Any of the functions may be null: that consumer ignores that kind of
// result. Each is given the consumer's `context` (what it fills, such as the
// driver's catalogue; null for those that keep their own state).
struct CommitConsumer {
  void* context;
  // `audit` only when the run takes audit digests; `admitted` by the run
  // mode's size filter.
  void (*image)(void* context, const Provenance& origin, const ImageSummary& summary, bool admitted,
                const AuditDigests* audit);
  void (*failure)(void* context, const WalkFailure& failure);  // its name and origin are set
  void (*comment)(void* context, const Provenance& archive, const char* comment);
  // One file's results for the cache lie between these two.
  void (*file_start)(void* context, const Provenance& file, CacheUnitHandle unit);
  void (*file_end)(void* context);
};

// Adds a consumer after those installed before it: each result goes to
// them in the order they were added. Before the walk starts.
void install_commit_consumer(const CommitConsumer& consumer);

// Removes them all; for tests that walk more than once.
void clear_commit_consumers();

// The walk observer's part in committed results (g_walk_observer's
// image_done, failure and archive_comment) as a consumer.
CommitConsumer observer_consumer();

// The ring's side: each result handed to every consumer, in the order they
// were installed. A failure gets its display name and `origin` here; an
// image's `audit` is given only when the run takes audit digests.
void hand_image(const Provenance& origin, const ImageSummary& summary, bool admitted, const AuditDigests* audit);
void hand_failure(WalkFailure failure, const Provenance& origin);
void hand_comment(const Provenance& archive, const char* comment);
void hand_file_start(const Provenance& file, CacheUnitHandle unit);
void hand_file_end();
