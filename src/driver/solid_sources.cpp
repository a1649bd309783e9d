// Grouping by archive, one pass each, spools unnamed from the start
// (O_TMPFILE), or named and unlinked at once where the file system cannot.
#include "driver/solid_sources.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "rebuild/file_output.h"
#include "rebuild/temp_names.h"
#include "walk/reopen_image.h"

namespace {

int open_spool(int folder_fd, int& error_number) {
  const int fd = openat(folder_fd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    error_number = errno;
    return -1;
  }
  TempFile temp;
  if (!create_rebuild_temp_file(folder_fd, temp, error_number)) return -1;
  const int kept = temp.fd;
  temp.fd = -1;  // the name goes with the owner; the open file stays ours
  return kept;
}

// One image of an archive being read: its spool, and what went in.
struct SpoolTarget {
  int fd;
  uint64_t limit;  // the image's size when walked: a longer one changed
  uint64_t size;
  bool too_long;
};

struct PassContext {
  std::vector<SpoolTarget>* spools;
  int error_number;
};

bool spool_piece(void* context, size_t image, const uint8_t* bytes, size_t size) {
  auto& pass = *static_cast<PassContext*>(context);
  SpoolTarget& spool = (*pass.spools)[image];
  if (spool.too_long) return true;
  if (size > spool.limit - spool.size) {
    spool.too_long = true;  // left to be read on its own, where the writer sees the change
    return true;
  }
  if (!write_all_at(spool.fd, spool.size, bytes, size, pass.error_number)) return false;
  spool.size += size;
  return true;
}

// The ROMs of `members` (indices into `states`) that share one archive.
bool spool_group(int folder_fd, ImageSourceState* states, const std::vector<size_t>& members, SpoolFiles& spools,
                 int& error_number) {
  // One spool per image: two ROMs may have come from the same one.
  std::vector<const Provenance*> origins;
  origins.reserve(members.size());
  for (const size_t k : members) origins.push_back(states[k].candidates[0].origin);
  std::sort(origins.begin(), origins.end(),
            [](const Provenance* a, const Provenance* b) { return a->entry->index < b->entry->index; });
  origins.erase(
      std::unique(origins.begin(), origins.end(),
                  [](const Provenance* a, const Provenance* b) { return a->entry->index == b->entry->index; }),
      origins.end());
  std::vector<SpoolTarget> targets;
  targets.reserve(origins.size());
  for (const Provenance* origin : origins) {
    uint64_t limit = 0;
    for (const size_t k : members) {
      if (states[k].candidates[0].origin->entry->index == origin->entry->index) {
        limit = states[k].candidates[0].whole_size;
      }
    }
    const int fd = open_spool(folder_fd, error_number);
    if (fd < 0) return false;
    spools.fds.push_back(fd);
    targets.push_back(SpoolTarget{fd, limit, 0, false});
  }
  std::vector<ReopenOutcome> outcomes(origins.size(), ReopenOutcome::ReadFailed);
  PassContext pass{&targets, 0};
  stream_images_in_one_pass(origins.data(), origins.size(), spool_piece, &pass, outcomes.data());
  if (pass.error_number != 0) {
    error_number = pass.error_number;
    return false;
  }
  for (size_t image = 0; image < origins.size(); ++image) {
    if (outcomes[image] != ReopenOutcome::Streamed || targets[image].too_long) continue;
    for (const size_t k : members) {
      if (states[k].candidates[0].origin->entry->index != origins[image]->entry->index) continue;
      states[k].spool_fd = targets[image].fd;
      states[k].spool_size = targets[image].size;
    }
  }
  return true;
}

}  // namespace

SpoolFiles::~SpoolFiles() {
  for (const int fd : fds) close(fd);
}

bool spool_solid_sources(int folder_fd, ImageSourceState* states, size_t count, SpoolFiles& spools, int& error_number) {
  std::vector<bool> grouped(count, false);
  for (size_t first = 0; first < count; ++first) {
    if (grouped[first] || states[first].candidate_count == 0) continue;
    const Provenance& origin = *states[first].candidates[0].origin;
    std::vector<size_t> members{first};
    for (size_t other = first + 1; other < count; ++other) {
      if (grouped[other] || states[other].candidate_count == 0) continue;
      if (!read_in_one_pass(origin, *states[other].candidates[0].origin)) continue;
      members.push_back(other);
      grouped[other] = true;
    }
    if (members.size() < 2) continue;
    if (!spool_group(folder_fd, states, members, spools, error_number)) return false;
  }
  return true;
}
