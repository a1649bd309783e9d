#include "support/seed_corpus.h"

#include <cstdio>
#include <fstream>

int write_seed_corpus(int argc, char** argv, const Seeds& seeds) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  for (const auto& [name, bytes] : seeds) {
    // A name without a suffix is a zip archive's.
    const bool has_suffix = name.find('.') != std::string::npos;
    const std::string path = std::string(argv[1]) + "/seed-" + name + (has_suffix ? "" : ".zip");
    std::ofstream file(path, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
      return 1;
    }
  }
  return 0;
}
