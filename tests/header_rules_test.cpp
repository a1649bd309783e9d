// Header rules: the built-in ones and rule files, decided on an image's first
// bytes and size.
#include "dat/header_rule_file.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <string>

#include "catalogue/audit_digests.h"
#include "support/test_bytes.h"

namespace {

std::string skip_of(const HeaderRules& rules, const std::string& image, size_t given = SIZE_MAX) {
  const size_t first_size = given < image.size() ? given : image.size();
  const HeaderSkip skip =
      decide_header_skip(rules, reinterpret_cast<const uint8_t*>(image.data()), first_size, image.size());
  if (!skip.applies) return "whole";
  return std::to_string(skip.start) + ".." + std::to_string(skip.end);
}

TEST(HeaderRules, BuiltInRulesSkipCopierHeaders) {
  HeaderRules rules;
  ASSERT_TRUE(use_builtin_header_rules(rules));
  struct Case {
    const char* label;
    std::string image;
    std::string want;
  };
  const Case cases[] = {
      {"iNES", "NES\x1A" + std::string(12 + 32, 'x'), "16..48"},
      {"FDS", "FDS\x1A" + std::string(12 + 65500, 'x'), "16..65516"},
      {"Lynx", "LYNX" + std::string(60 + 100, '\0'), "64..164"},
      {"Atari 7800",
       "\x01"
       "ATARI7800" +
           std::string(118 + 10, ' '),
       "128..138"},
      {"7800 signature at 0 is not one", "ATARI7800" + std::string(200, ' '), "whole"},
      {"header only", "NES\x1A" + std::string(12, 'x'), "whole"},
      {"shorter than its signature", "NES", "whole"},
      {"plain image", std::string(64, 'N'), "whole"},
      {"lower case", "nes\x1A" + std::string(64, 'x'), "whole"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(skip_of(rules, c.image), c.want);
  }
}

TEST(HeaderRules, RuleFilesTestBytesAndSizes) {
  const std::string file =
      "<?xml version=\"1.0\"?>\n<detector><name>test</name>\n"
      "<rule start_offset=\"200\" end_offset=\"EOF\">\n"
      "  <file size=\"PO2\" result=\"false\"/>\n  <data offset=\"0\" value=\"AABB\"/>\n</rule>\n"
      "<rule start_offset=\"10\" end_offset=\"-8\"><and offset=\"2\" mask=\"F0\" value=\"C0\"/>"
      "  <xor offset=\"3\" mask=\"FF\" value=\"00\" result=\"true\"/></rule>\n"
      "<rule start_offset=\"4\"><or offset=\"1\" mask=\"01\" value=\"81\"/><file size=\"40\" "
      "operator=\"less\"/></rule>\n"
      "<rule start_offset=\"1\"><file size=\"8\" operator=\"greater\"/><data offset=\"0\" value=\"EE\" "
      "result=\"false\"/></rule>\n"
      "</detector>\n";
  HeaderRules rules;
  DatError error{};
  ASSERT_TRUE(load_header_rules_memory(reinterpret_cast<const uint8_t*>(file.data()), file.size(), rules, error))
      << error.line << ": " << error.reason;
  struct Case {
    const char* label;
    std::string image;
    size_t given;
    std::string want;
  };
  const Case cases[] = {
      {"data, size not a power of two", "\xAA\xBB" + std::string(0x300, 'x'), SIZE_MAX, "512..770"},
      {"power of two falls to the rules after", "\xAA\xBB" + std::string(0x3FE, 'x'), SIZE_MAX, "1..1024"},
      {"and, xor, end from the back", "..\xC7\xFF" + std::string(60, 'x'), SIZE_MAX, "16..56"},
      {"test past the bytes given fails", "..\xC7\xFF" + std::string(60, 'x'), 3, "1..64"},
      {"or, size less", std::string("\x00\x80", 2) + std::string(30, 'x'), SIZE_MAX, "4..32"},
      {"no rule passes", "\xEE" + std::string(100, 'x'), SIZE_MAX, "whole"},
      {"the deciding rule's block is outside", "\xAA\xBB" + std::string(0x50, 'x'), SIZE_MAX, "whole"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(skip_of(rules, c.image, c.given), c.want);
  }
}

TEST(HeaderRules, RefusesRuleFilesItCannotFollow) {
  std::string deep;
  for (int k = 0; k < 70; ++k) deep += "<a>";
  struct Case {
    const char* label;
    std::string file;
    uint64_t line;
    std::string reason;
  };
  const Case cases[] = {
      {"byte swapping", "<detector>\n<rule operation=\"byteswap\"/></detector>", 2,
       "rule operation \"byteswap\" is not supported"},
      {"offset not hex", "<detector><rule start_offset=\"0x10\"/></detector>", 1,
       "rule offset is not a hexadecimal number"},
      {"offset past 64 bits", "<detector><rule end_offset=\"-10000000000000000\"/></detector>", 1,
       "rule offset is not a hexadecimal number"},
      {"file size past 64 bits", "<detector><rule><file size=\"10000000000000000\"/></rule></detector>", 1,
       "test <file> is not understood"},
      {"nested too deep", "<detector>\n" + deep, 2, "elements nested too deep"},
      {"odd value", "<detector><rule><data offset=\"0\" value=\"ABC\"/></rule></detector>", 1,
       "test <data> is not understood"},
      {"mask of another length", "<detector><rule><and offset=\"0\" mask=\"FF\" value=\"0000\"/></rule></detector>", 1,
       "test <and> is not understood"},
      {"unknown test", "<detector><rule><maybe/></rule></detector>", 1, "test <maybe> is not understood"},
      {"result", "<detector><rule><file size=\"1\" result=\"yes\"/></rule></detector>", 1,
       "test result is neither true nor false"},
      {"no rules", "<detector><name>x</name></detector>", 0, "no rule in the header rule file"},
      {"a DAT instead", "<datafile/>", 1, "not a header rule file: the root element is <datafile>"},
      {"entity", "<!DOCTYPE d [<!ENTITY a \"b\">]><detector/>", 1, "entity declarations are refused"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    HeaderRules rules;
    DatError error{};
    EXPECT_FALSE(
        load_header_rules_memory(reinterpret_cast<const uint8_t*>(c.file.data()), c.file.size(), rules, error));
    EXPECT_EQ(error.line, c.line);
    EXPECT_EQ(std::string(error.reason), c.reason);
  }
}

}  // namespace

namespace {

std::string sha1_of(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha1(), nullptr);
  return std::string(reinterpret_cast<char*>(digest), size);
}

// The header-less sums of an image fed in pieces of every size agree with the
// sums of its block taken whole; the window's edge falls inside pieces too.
TEST(HeaderRules, HeaderlessSumsWhateverThePieces) {
  HeaderRules rules;
  ASSERT_TRUE(use_builtin_header_rules(rules));
  const DigestPlan plan{false, true, false, &rules, false};
  struct Case {
    const char* label;
    std::string image;
    size_t header_size;  // 0: no rule applies
  };
  const Case cases[] = {
      {"iNES", "NES\x1A" + random_bytes(12 + 1000, 1), 16},
      {"Lynx past the window", "LYNX" + random_bytes(60 + 200000, 2), 64},
      {"plain", random_bytes(70000, 3), 0},
      {"empty", "", 0},
  };
  AuditDigester digester{};
  for (const Case& c : cases) {
    for (const size_t piece : {size_t{1}, size_t{7}, size_t{4096}, size_t{65535}, size_t{1} << 20}) {
      SCOPED_TRACE(std::string(c.label) + ", pieces of " + std::to_string(piece));
      ASSERT_TRUE(begin_audit_digests(digester, plan, c.image.size()));
      for (size_t at = 0; at < c.image.size(); at += piece) {
        const size_t size = std::min(piece, c.image.size() - at);
        ASSERT_TRUE(feed_audit_digests(digester, reinterpret_cast<const uint8_t*>(c.image.data()) + at, size));
      }
      ASSERT_TRUE(finish_audit_digests(digester));
      const AuditDigests& digests = digester.digests;
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(digests.sha1), sha1_size), sha1_of(c.image));
      EXPECT_EQ((digests.taken & taken_headerless) != 0, c.header_size != 0);
      if (c.header_size == 0) continue;
      const std::string block = c.image.substr(c.header_size);
      EXPECT_EQ(digests.headerless.size, block.size());
      EXPECT_EQ(digests.headerless.crc, crc32_of(block));
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(digests.headerless.sha1), sha1_size), sha1_of(block));
    }
  }
  free_audit_digester(digester);
}

}  // namespace
