// Reading clrmamepro's header rule files ("detector" XML). Offsets, sizes
// and byte values are hexadecimal; an offset with a leading "-" counts from
// the end, and "EOF" is the end itself.
#include "dat/header_rule_file.h"

#include <cstring>
#include <string_view>

#include "dat/dat_source.h"
#include "dat/rom_fields.h"
#include "dat/safe_xml.h"

namespace {

struct DetectorReader {
  SafeXml xml;
  HeaderRules* rules;
  int depth;
  bool in_rule;
  bool saw_root;
};

bool parse_hex_number(std::string_view text, uint64_t& out) {
  if (text.empty() || text.size() > 16) return false;
  uint64_t value = 0;
  for (const char digit : text) {
    const char padded[2] = {'0', digit};
    uint8_t nibble = 0;
    if (!parse_hex_bytes(std::string_view(padded, 2), &nibble, 1)) return false;
    value = value << 4 | nibble;
  }
  out = value;
  return true;
}

bool parse_offset(std::string_view text, HeaderOffset fallback, HeaderOffset& out) {
  if (text.data() == nullptr) {
    out = fallback;
    return true;
  }
  if (text == "EOF") {
    out = {0, true};
    return true;
  }
  out.from_end = !text.empty() && text[0] == '-';
  if (out.from_end) text.remove_prefix(1);
  return parse_hex_number(text, out.distance);
}

bool parse_result(std::string_view text, bool& out) {
  if (text.data() == nullptr || text == "true") {
    out = true;
    return true;
  }
  out = false;
  return text == "false";
}

void open_rule(DetectorReader& reader, const GivenAttributes& attributes) {
  const std::string_view operation = find_attribute(attributes, "operation");
  if (operation.data() != nullptr && operation != "none") {
    stop_safe_xml(reader.xml, "rule operation \"%.20s\" is not supported", operation.data());
    return;
  }
  HeaderRule rule{};
  if (!parse_offset(find_attribute(attributes, "start_offset"), {0, false}, rule.start) ||
      !parse_offset(find_attribute(attributes, "end_offset"), {0, true}, rule.end)) {
    stop_safe_xml(reader.xml, "rule offset is not a hexadecimal number");
    return;
  }
  rule.first_test = static_cast<uint32_t>(reader.rules->tests.count);
  if (!push_back(reader.rules->rules, rule)) stop_safe_xml(reader.xml, "out of memory");
  reader.in_rule = true;
}

bool parse_test_bytes(std::string_view text, uint8_t* out, uint32_t& size) {
  if (text.empty() || text.size() % 2 != 0 || text.size() / 2 > max_header_test_bytes) return false;
  size = static_cast<uint32_t>(text.size() / 2);
  return parse_hex_bytes(text, out, size);
}

bool parse_file_test(HeaderTest& test, const GivenAttributes& attributes) {
  test.kind = HeaderTestKind::FileSize;
  const std::string_view size = find_attribute(attributes, "size");
  const std::string_view comparison = find_attribute(attributes, "operator");
  if (comparison.data() == nullptr || comparison == "equal") {
    test.comparison = SizeComparison::Equal;
  } else if (comparison == "less") {
    test.comparison = SizeComparison::Less;
  } else if (comparison == "greater") {
    test.comparison = SizeComparison::Greater;
  } else {
    return false;
  }
  test.power_of_two = size == "PO2";
  return test.power_of_two || parse_hex_number(size, test.file_size);
}

bool parse_byte_test(HeaderTest& test, const char* name, const GivenAttributes& attributes) {
  const struct {
    const char* name;
    HeaderTestKind kind;
  } kinds[] = {{"data", HeaderTestKind::Data},
               {"and", HeaderTestKind::And},
               {"or", HeaderTestKind::Or},
               {"xor", HeaderTestKind::Xor}};
  bool known = false;
  for (const auto& kind : kinds) {
    if (std::strcmp(name, kind.name) != 0) continue;
    test.kind = kind.kind;
    known = true;
  }
  if (!known) return false;
  const std::string_view offset = find_attribute(attributes, "offset");
  if (offset.data() != nullptr && !parse_hex_number(offset, test.offset)) return false;
  if (!parse_test_bytes(find_attribute(attributes, "value"), test.value, test.value_size)) return false;
  if (test.kind == HeaderTestKind::Data) return true;
  uint32_t mask_size = 0;
  return parse_test_bytes(find_attribute(attributes, "mask"), test.mask, mask_size) && mask_size == test.value_size;
}

void open_test(DetectorReader& reader, const char* name, const GivenAttributes& attributes) {
  HeaderTest test{};
  if (!parse_result(find_attribute(attributes, "result"), test.wanted_result)) {
    stop_safe_xml(reader.xml, "test result is neither true nor false");
    return;
  }
  const bool is_file = std::strcmp(name, "file") == 0;
  const bool parsed = is_file ? parse_file_test(test, attributes) : parse_byte_test(test, name, attributes);
  if (!parsed) {
    stop_safe_xml(reader.xml, "test <%.20s> is not understood", name);
    return;
  }
  HeaderRules& rules = *reader.rules;
  if (!push_back(rules.tests, test)) {
    stop_safe_xml(reader.xml, "out of memory");
    return;
  }
  ++rules.rules[rules.rules.count - 1].test_count;
}

void XMLCALL open_element(void* data, const XML_Char* name, const XML_Char** attribute_entries) {
  SafeXml& xml = *static_cast<SafeXml*>(data);
  note_xml_event(xml);
  DetectorReader& reader = *static_cast<DetectorReader*>(xml.owner);
  if (++reader.depth > max_xml_depth) return stop_safe_xml(xml, "elements nested too deep");
  if (reader.depth == 1) {
    reader.saw_root = std::strcmp(name, "detector") == 0;
    if (!reader.saw_root) stop_safe_xml(xml, "not a header rule file: the root element is <%.40s>", name);
    return;
  }
  const GivenAttributes attributes = given_attributes(xml, attribute_entries);
  if (reader.depth == 2 && std::strcmp(name, "rule") == 0) return open_rule(reader, attributes);
  if (reader.depth == 3 && reader.in_rule) open_test(reader, name, attributes);
}

void XMLCALL close_element(void* data, const XML_Char*) {
  SafeXml& xml = *static_cast<SafeXml*>(data);
  note_xml_event(xml);
  DetectorReader& reader = *static_cast<DetectorReader*>(xml.owner);
  if (reader.depth == 2) reader.in_rule = false;
  --reader.depth;
}

void XMLCALL note_text(void* data, const XML_Char*, int) {
  note_xml_event(*static_cast<SafeXml*>(data));
}

bool take_piece(void* context, const uint8_t* bytes, size_t size, bool last) {
  DetectorReader& reader = *static_cast<DetectorReader*>(context);
  if (!feed_safe_xml(reader.xml, bytes, size, last)) return false;
  if (last && reader.rules->rules.count == 0) {
    set_dat_error(*reader.xml.error, 0, "no rule in the header rule file");
    return false;
  }
  return true;
}

using Pump = bool (*)(const void* source, size_t size, const DatSink& sink, DatError& error);

bool load_with(Pump pump, const void* source, size_t size, HeaderRules& rules, DatError& error) {
  clear_array(rules.rules);
  clear_array(rules.tests);
  DetectorReader reader{};
  reader.rules = &rules;
  if (!begin_safe_xml(reader.xml, error, &reader, false)) return false;
  XML_SetElementHandler(reader.xml.parser, open_element, close_element);
  XML_SetCharacterDataHandler(reader.xml.parser, note_text);
  const bool loaded = pump(source, size, DatSink{&reader, take_piece}, error);
  end_safe_xml(reader.xml);
  return loaded;
}

}  // namespace

bool load_header_rules(const char* path, HeaderRules& rules, DatError& error) {
  const Pump from_file = [](const void* source, size_t, const DatSink& sink, DatError& failure) {
    return pump_dat_file(static_cast<const char*>(source), sink, failure);
  };
  return load_with(from_file, path, 0, rules, error);
}

bool load_header_rules_memory(const uint8_t* bytes, size_t size, HeaderRules& rules, DatError& error) {
  const Pump from_memory = [](const void* source, size_t source_size, const DatSink& sink, DatError& failure) {
    return pump_dat_memory(static_cast<const uint8_t*>(source), source_size, sink, failure);
  };
  return load_with(from_memory, bytes, size, rules, error);
}
