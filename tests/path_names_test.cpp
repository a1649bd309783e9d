// Joining paths.
#include "walk/path_names.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(JoinPath, PutsTheSeparatorBetweenTheNames) {
  struct Case {
    const char* a;
    char separator;
    const char* b;
    const char* want;
  };
  const Case cases[] = {
      {"roms", '/', "a.bin", "roms/a.bin"},
      {"roms/", '/', "a.bin", "roms//a.bin"},
      {"outer.zip", '?', "inner.zip", "outer.zip?inner.zip"},
      {"", '/', "", "/"},
      {"caf\xE9", '?', "x", "caf\xE9?x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_STREQ(join_path(c.a, c.separator, c.b).get(), c.want);
  }
}
