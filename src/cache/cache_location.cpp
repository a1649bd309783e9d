// The cache's default place, its folders and its file.
#include "cache/cache_location.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

std::string default_cache_path(const char* xdg_cache_home, const char* home) {
  if (xdg_cache_home != nullptr && xdg_cache_home[0] == '/') {
    return std::string(xdg_cache_home) + "/imgchk/cache.sqlite";
  }
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.cache/imgchk/cache.sqlite";
  return "";
}

bool make_cache_folders(const std::string& file_path) {
  // Each prefix ending before a '/', the root and repeated slashes aside.
  for (size_t slash = file_path.find('/', 1); slash != std::string::npos; slash = file_path.find('/', slash + 1)) {
    if (file_path[slash - 1] == '/') continue;
    const std::string folder = file_path.substr(0, slash);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// The file is created here, so that it gets mode 0600 whatever the umask;
// SQLite gives its log files the same mode. An existing file is untouched,
// and so is a symbolic link: no file is made where a link points.
bool make_private_cache_file(const char* path, CacheProblem& problem) {
  const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW, 0600);
  if (fd >= 0) {
    struct stat status {};
    const bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    close(fd);
    if (!regular) problem = CacheProblem::CannotOpen;
    return regular;
  }
  if (errno == ELOOP) {
    problem = CacheProblem::SymbolicLink;
    return false;
  }
  const bool readable = (errno == EACCES || errno == EROFS || errno == EPERM) && access(path, R_OK) == 0;
  problem = readable ? CacheProblem::ReadOnly : CacheProblem::CannotOpen;
  return false;
}
