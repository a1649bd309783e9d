// Levels from the top down to kept_open_levels hold their descriptors, as
// every level did once; deeper, only the innermost does. A level that gave
// its descriptor up gets it back through ".." of the level below when that
// is left, which costs one open; when ".." leads elsewhere (the level below
// was reached through a link), the names are followed again from the
// nearest open level, each step checked against the identity recorded on
// the way down.
#include "walk/directory_stack.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "base/opened_file.h"

namespace {

constexpr size_t kept_open_levels = 16;

// The directory `name` under `directory_fd`, if it is the one with `id`;
// otherwise -1, with errno set.
int reopen_directory(int directory_fd, const char* name, DirectoryId id) {
  OpenedFile opened{};
  if (!open_and_size(directory_fd, name, opened)) return -1;
  if (opened.kind != FileKind::Directory || DirectoryId{opened.device, opened.inode} != id) {
    close(opened.fd);
    errno = ENOENT;  // not the directory that was there
    return -1;
  }
  return opened.fd;
}

void release(DirectoryLevel& level) {
  if (level.fd >= 0) close(level.fd);
  level.fd = -1;
}

}  // namespace

DirectoryStack::~DirectoryStack() {
  for (DirectoryLevel& level : levels) release(level);
}

bool is_on_stack(const DirectoryStack& stack, DirectoryId id) {
  return std::any_of(stack.levels.begin(), stack.levels.end(),
                     [&](const DirectoryLevel& level) { return level.id == id; });
}

void enter_directory(DirectoryStack& stack, int fd, DirectoryId id, const char* name, const char* path,
                     std::vector<DirectoryEntry>&& entries) {
  if (stack.levels.size() >= kept_open_levels) release(stack.levels.back());
  stack.levels.push_back(DirectoryLevel{id, fd, name, path, std::move(entries), 0});
}

void leave_directory(DirectoryStack& stack) {
  DirectoryLevel& innermost = stack.levels.back();
  if (stack.levels.size() >= 2) {
    DirectoryLevel& above = stack.levels[stack.levels.size() - 2];
    if (above.fd < 0 && innermost.fd >= 0) above.fd = reopen_directory(innermost.fd, "..", above.id);
  }
  release(innermost);
  stack.levels.pop_back();
}

int innermost_directory_fd(DirectoryStack& stack) {
  auto& levels = stack.levels;
  if (levels.back().fd >= 0) return levels.back().fd;
  size_t open_level = levels.size() - 1;
  while (open_level > 0 && levels[open_level].fd < 0) --open_level;
  if (levels[open_level].fd < 0) {
    errno = EBADF;
    return -1;
  }
  int fd = levels[open_level].fd;
  for (size_t next = open_level + 1; next < levels.size() && fd >= 0; ++next) {
    const int below = reopen_directory(fd, levels[next].name.c_str(), levels[next].id);
    if (fd != levels[open_level].fd) close(fd);
    fd = below;
  }
  levels.back().fd = fd;
  return fd;
}
