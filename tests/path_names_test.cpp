// Display-name helpers: the ".zip" suffix test and name joining.
#include "walk/path_names.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

TEST(ZipSuffix, OnlyTheTextFromTheLastDotCounts) {
  struct Case {
    const char* name;
    bool want;
  };
  const Case cases[] = {
      {"a.zip", true},
      {"A.ZIP", true},
      {"a.Zip", true},
      {".zip", true},
      {"dir.v2/set.zip", true},
      {"outer.zip?INNER.ZIP", true},
      {"a.zip.bak", false},
      {"a.zipx", false},
      {"set1.2/rom", false},
      {"d.zip/", false},
      {"zip", false},
      {"a.zi", false},
      {"", false},
      {"a.", false},
      {"a.z\xC4\xB1p", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(has_zip_suffix(c.name), c.want);
  }
}

TEST(ZipSuffix, IgnoresTheLocale) {
  // In a Turkish locale tolower('I') is not 'i'; the suffix test must not care.
  const char* old_locale = std::setlocale(LC_ALL, "tr_TR.UTF-8");
  const bool turkish_capital_i = has_zip_suffix("ROMS.ZIP");
  if (old_locale != nullptr) std::setlocale(LC_ALL, "C");
  EXPECT_TRUE(turkish_capital_i);
}

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
