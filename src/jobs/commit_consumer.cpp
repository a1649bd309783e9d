// The installed consumers, and the results handed to them in order.
#include "jobs/commit_consumer.h"

#include <string>
#include <utility>
#include <vector>

#include "jobs/walk_observer.h"

namespace {

std::vector<CommitConsumer> g_consumers;

}  // namespace

// The display name is made here, as the failure is handed on.
void hand_failure(WalkFailure failure, const Provenance& origin) {
  const std::string name = display_name(origin);
  failure.name = name.c_str();
  failure.origin = &origin;
  for (const CommitConsumer& consumer : g_consumers) {
    if (consumer.failure != nullptr) consumer.failure(consumer.context, failure);
  }
}

void hand_comment(const Provenance& archive, const char* comment) {
  for (const CommitConsumer& consumer : g_consumers) {
    if (consumer.comment != nullptr) consumer.comment(consumer.context, archive, comment);
  }
}

void hand_image(const Provenance& origin, const ImageSummary& summary, bool admitted, const AuditDigests* audit) {
  for (const CommitConsumer& consumer : g_consumers) {
    if (consumer.image != nullptr) consumer.image(consumer.context, origin, summary, admitted, audit);
  }
}

// The unit goes to the first consumer that takes files.
void hand_file_start(const Provenance& file, CacheUnitHandle unit) {
  for (const CommitConsumer& consumer : g_consumers) {
    if (consumer.file_start != nullptr) consumer.file_start(consumer.context, file, std::move(unit));
  }
}

void hand_file_end() {
  for (const CommitConsumer& consumer : g_consumers) {
    if (consumer.file_end != nullptr) consumer.file_end(consumer.context);
  }
}

namespace {

void observe_image(void* /*context*/, const Provenance& /*origin*/, const ImageSummary& summary, bool /*admitted*/,
                   const AuditDigests* /*audit*/) {
  if (g_walk_observer.image_done != nullptr) g_walk_observer.image_done(summary.size);
}

void observe_failure(void* /*context*/, const WalkFailure& failure) {
  if (g_walk_observer.failure != nullptr) g_walk_observer.failure(failure);
}

void observe_comment(void* /*context*/, const Provenance& archive, const char* comment) {
  if (g_walk_observer.archive_comment != nullptr) {
    g_walk_observer.archive_comment(display_name(archive).c_str(), comment);
  }
}

}  // namespace

CommitConsumer observer_consumer() {
  return CommitConsumer{nullptr, observe_image, observe_failure, observe_comment, nullptr, nullptr};
}

void install_commit_consumer(const CommitConsumer& consumer) {
  g_consumers.push_back(consumer);
}

void clear_commit_consumers() {
  g_consumers.clear();
}
