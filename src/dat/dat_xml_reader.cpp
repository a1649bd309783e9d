// The XML dialects share their shape: a root, an optional header, sets as
// `game` or `machine` under the root, `rom` and `disk` under a set. Elements
// and attributes not named here are ignored, wherever they are.
#include "dat/dat_xml_reader.h"

#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "dat/rom_fields.h"
#include "dat/safe_xml.h"

namespace {

// Longest header name or set description kept; longer text is an error.
constexpr size_t max_kept_text_size = size_t{64} << 10;

enum class Capture : uint8_t { None, DatName, SetDescription };

}  // namespace

struct DatXmlReader {
  SafeXml xml;
  DatFile* dat;
  DatError* error;
  int depth;
  bool in_header;
  bool in_set;
  Capture capture;
  std::string text;  // the captured element's text so far
};

namespace {

bool has_overlong_attribute(DatXmlReader& reader, const GivenAttributes& attributes) {
  for (int k = 0; k + 1 < attributes.entry_count; k += 2) {
    if (std::strlen(attributes.entries[k + 1]) > max_kept_text_size) {
      stop_safe_xml(reader.xml, "attribute %.40s too long", attributes.entries[k]);
      return true;
    }
  }
  return false;
}

bool keep_text(DatXmlReader& reader, std::string_view text, DatText& out) {
  if (add_dat_text(*reader.dat, text.data(), text.size(), out)) return true;
  stop_safe_xml(reader.xml, "out of memory");
  return false;
}

void open_root(DatXmlReader& reader, const char* name, const GivenAttributes& attributes) {
  if (std::strcmp(name, "datafile") == 0) {
    reader.dat->kind = DatKind::Logiqx;
    return;
  }
  if (std::strcmp(name, "mame") == 0) {
    reader.dat->kind = DatKind::MameList;
    keep_text(reader, find_attribute(attributes, "build"), reader.dat->name);
    return;
  }
  stop_safe_xml(reader.xml, "not a DAT: the root element is <%.40s>", name);
}

void open_set(DatXmlReader& reader, const GivenAttributes& attributes) {
  const std::string_view name = find_attribute(attributes, "name");
  if (name.empty()) {
    stop_safe_xml(reader.xml, "set without a name");
    return;
  }
  DatSet set{};
  if (!keep_text(reader, name, set.name) || !keep_text(reader, find_attribute(attributes, "cloneof"), set.cloneof) ||
      !keep_text(reader, find_attribute(attributes, "romof"), set.romof) ||
      !keep_text(reader, find_attribute(attributes, "id"), set.id) ||
      !keep_text(reader, find_attribute(attributes, "cloneofid"), set.cloneofid)) {
    return;
  }
  if (!add_dat_set(*reader.dat, set)) {
    stop_safe_xml(reader.xml, "out of memory");
    return;
  }
  reader.in_set = true;
}

RomFields rom_fields_of(const GivenAttributes& attributes) {
  RomFields fields;
  fields.name = find_attribute(attributes, "name");
  fields.size = find_attribute(attributes, "size");
  fields.crc = find_attribute(attributes, "crc");
  fields.md5 = find_attribute(attributes, "md5");
  fields.sha1 = find_attribute(attributes, "sha1");
  fields.sha256 = find_attribute(attributes, "sha256");
  fields.status = find_attribute(attributes, "status");
  fields.merge = find_attribute(attributes, "merge");
  return fields;
}

void open_rom(DatXmlReader& reader, const GivenAttributes& attributes) {
  if (!add_rom_fields(*reader.dat, rom_fields_of(attributes), XML_GetCurrentLineNumber(reader.xml.parser),
                      *reader.error)) {
    stop_safe_xml(reader.xml, "bad rom");
  }
}

void open_disk(DatXmlReader& reader, const GivenAttributes& attributes) {
  if (!add_disk_fields(*reader.dat, rom_fields_of(attributes), XML_GetCurrentLineNumber(reader.xml.parser),
                       *reader.error)) {
    stop_safe_xml(reader.xml, "bad disk");
  }
}

void open_in_set(DatXmlReader& reader, const char* name, const GivenAttributes& attributes) {
  if (std::strcmp(name, "rom") == 0) {
    open_rom(reader, attributes);
  } else if (std::strcmp(name, "disk") == 0) {
    ++reader.dat->disk_count;
    open_disk(reader, attributes);
  } else if (std::strcmp(name, "description") == 0) {
    reader.capture = Capture::SetDescription;
  }
}

void open_in_header(DatXmlReader& reader, const char* name, const GivenAttributes& attributes) {
  if (std::strcmp(name, "name") == 0) {
    reader.capture = Capture::DatName;
  } else if (std::strcmp(name, "clrmamepro") == 0) {
    keep_text(reader, find_attribute(attributes, "header"), reader.dat->detector);
  }
}

void XMLCALL open_element(void* data, const XML_Char* name, const XML_Char** attribute_entries) {
  SafeXml& xml = *static_cast<SafeXml*>(data);
  note_xml_event(xml);
  DatXmlReader& reader = *static_cast<DatXmlReader*>(xml.owner);
  if (++reader.depth > max_xml_depth) return stop_safe_xml(xml, "elements nested too deep");
  // Most of a -listxml is elements below the ROMs: leave them at once.
  if (reader.depth > 3) return;
  reader.text.clear();
  reader.capture = Capture::None;
  const GivenAttributes attributes = given_attributes(xml, attribute_entries);
  if (has_overlong_attribute(reader, attributes)) return;
  if (reader.depth == 1) return open_root(reader, name, attributes);
  if (reader.depth == 2) {
    if (std::strcmp(name, "game") == 0 || std::strcmp(name, "machine") == 0) return open_set(reader, attributes);
    reader.in_header = std::strcmp(name, "header") == 0;
    return;
  }
  if (reader.depth != 3) return;
  if (reader.in_set) return open_in_set(reader, name, attributes);
  if (reader.in_header) open_in_header(reader, name, attributes);
}

void close_capture(DatXmlReader& reader) {
  DatFile& dat = *reader.dat;
  if (reader.capture == Capture::DatName) keep_text(reader, reader.text, dat.name);
  if (reader.capture == Capture::SetDescription) {
    keep_text(reader, reader.text, dat.sets[dat.sets.count - 1].description);
  }
  reader.capture = Capture::None;
  reader.text.clear();
}

void XMLCALL close_element(void* data, const XML_Char*) {
  SafeXml& xml = *static_cast<SafeXml*>(data);
  note_xml_event(xml);
  DatXmlReader& reader = *static_cast<DatXmlReader*>(xml.owner);
  if (reader.capture != Capture::None) close_capture(reader);
  if (reader.depth == 2) reader.in_set = reader.in_header = false;
  --reader.depth;
}

void XMLCALL take_text(void* data, const XML_Char* text, int size) {
  SafeXml& xml = *static_cast<SafeXml*>(data);
  note_xml_event(xml);
  DatXmlReader& reader = *static_cast<DatXmlReader*>(xml.owner);
  if (reader.capture == Capture::None) return;
  if (reader.text.size() + static_cast<size_t>(size) > max_kept_text_size) {
    stop_safe_xml(reader.xml, "text too long");
    return;
  }
  reader.text.append(text, static_cast<size_t>(size));
}

}  // namespace

void DatXmlReaderDeleter::operator()(DatXmlReader* reader) const {
  end_safe_xml(reader->xml);
  delete reader;
}

DatXmlReaderOwner begin_dat_xml(DatFile& dat, DatError& error, bool utf8_by_mark) {
  DatXmlReaderOwner reader(new (std::nothrow) DatXmlReader{});
  if (reader == nullptr) {
    set_dat_error(error, 0, "out of memory");
    return nullptr;
  }
  reader->dat = &dat;
  reader->error = &error;
  if (!begin_safe_xml(reader->xml, error, reader.get(), utf8_by_mark)) return nullptr;
  XML_SetElementHandler(reader->xml.parser, open_element, close_element);
  XML_SetCharacterDataHandler(reader->xml.parser, take_text);
  return reader;
}

bool feed_dat_xml(DatXmlReader& reader, const uint8_t* bytes, size_t size, bool last) {
  if (!feed_safe_xml(reader.xml, bytes, size, last)) return false;
  if (last && reader.dat->kind == DatKind::None) {
    set_dat_error(*reader.error, 0, "not a DAT");
    return false;
  }
  return true;
}
