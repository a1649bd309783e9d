// Runs the fuzz target once over every file named, or every file in each
// directory named (not recursive): the regression run of the corpus.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool replay_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "zip_reader_replay: cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  // An empty vector's data() may be null; give the target a real address.
  static const uint8_t nothing = 0;
  LLVMFuzzerTestOneInput(bytes.empty() ? &nothing : bytes.data(), bytes.size());
  return true;
}

// Returns the number of files replayed, or -1 when something can't be read.
int replay_path(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    std::fprintf(stderr, "zip_reader_replay: no such file %s\n", path.c_str());
    return -1;
  }
  if (!S_ISDIR(status.st_mode)) return replay_file(path) ? 1 : -1;
  DIR* directory = opendir(path.c_str());
  if (directory == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(directory)) {
    const std::string child = path + "/" + entry->d_name;
    if (entry->d_name[0] == '.' || stat(child.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
    if (!replay_file(child)) {
      closedir(directory);
      return -1;
    }
    ++count;
  }
  closedir(directory);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  int total = 0;
  for (int i = 1; i < argc; ++i) {
    const int count = replay_path(argv[i]);
    if (count < 0) return 1;
    total += count;
  }
  std::printf("replayed %d inputs\n", total);
  return total > 0 ? 0 : 1;
}
