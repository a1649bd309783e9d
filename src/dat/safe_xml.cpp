// Expat with every door to the outside closed. The entity declaration
// handler stops the parse before any entity can be expanded, so "billion
// laughs" ends at its first declaration; parameter entities are never
// parsed, so no external DTD subset is asked for; and no external entity
// handler is installed, so a SYSTEM identifier, a file name or a URL, is
// never opened. Expat has no I/O of its own.
//
// An internal subset may declare attribute defaults (MAME's -listxml does),
// and Expat adds them to every start tag of their element. The readers look
// only at the attributes a tag gives itself, and the declarations are
// bounded in number and size, so that a few bytes of declarations cannot
// make every element cost more.
#include "dat/safe_xml.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Pieces small enough that a runaway token is caught soon after its bound.
constexpr size_t xml_piece_size = size_t{64} << 10;

// Four times the 130 or so attributes MAME's -listxml declares; each
// default is still work for Expat at every start tag of its element.
constexpr uint32_t max_declared_attributes = 512;
constexpr uint64_t max_declared_bytes = uint64_t{64} << 10;

void XMLCALL refuse_entity(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*, const XML_Char*,
                           const XML_Char*, const XML_Char*) {
  stop_safe_xml(*static_cast<SafeXml*>(data), "entity declarations are refused");
}

void XMLCALL bound_attribute_declaration(void* data, const XML_Char* element, const XML_Char* attribute,
                                         const XML_Char* type, const XML_Char* default_value, int) {
  SafeXml& xml = *static_cast<SafeXml*>(data);
  note_xml_event(xml);
  xml.declared_bytes += std::strlen(element) + std::strlen(attribute);
  if (type != nullptr) xml.declared_bytes += std::strlen(type);
  if (default_value != nullptr) xml.declared_bytes += std::strlen(default_value);
  if (++xml.declared_attributes > max_declared_attributes || xml.declared_bytes > max_declared_bytes) {
    stop_safe_xml(xml, "the document type declares too many attributes");
  }
}

void XMLCALL note_other(void* data, const XML_Char*, int) {
  note_xml_event(*static_cast<SafeXml*>(data));
}

void XMLCALL note_comment(void* data, const XML_Char*) {
  note_xml_event(*static_cast<SafeXml*>(data));
}

}  // namespace

bool begin_safe_xml(SafeXml& xml, DatError& error, void* owner, bool utf8_by_mark) {
  xml = SafeXml{};
  xml.error = &error;
  xml.owner = owner;
  // An encoding given here overrides the one the XML declaration names.
  xml.parser = XML_ParserCreate(utf8_by_mark ? "UTF-8" : nullptr);
  if (xml.parser == nullptr) {
    set_dat_error(error, 0, "out of memory");
    return false;
  }
  XML_SetUserData(xml.parser, &xml);
  XML_SetParamEntityParsing(xml.parser, XML_PARAM_ENTITY_PARSING_NEVER);
  XML_SetEntityDeclHandler(xml.parser, refuse_entity);
  XML_SetAttlistDeclHandler(xml.parser, bound_attribute_declaration);
  XML_SetCommentHandler(xml.parser, note_comment);
  XML_SetDefaultHandlerExpand(xml.parser, note_other);
  return true;
}

GivenAttributes given_attributes(const SafeXml& xml, const XML_Char** attributes) {
  return {attributes, XML_GetSpecifiedAttributeCount(xml.parser)};
}

std::string_view find_attribute(const GivenAttributes& attributes, const char* name) {
  for (int k = 0; k + 1 < attributes.entry_count; k += 2) {
    if (std::strcmp(attributes.entries[k], name) == 0) return attributes.entries[k + 1];
  }
  return {};
}

void note_xml_event(SafeXml& xml) {
  const XML_Index at = XML_GetCurrentByteIndex(xml.parser);
  if (at >= 0) xml.last_event = static_cast<uint64_t>(at);
}

void stop_safe_xml(SafeXml& xml, const char* format, ...) {
  if (!has_dat_error(*xml.error)) {
    char reason[sizeof xml.error->reason];
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason, sizeof reason, format, args);
    va_end(args);
    set_dat_error(*xml.error, XML_GetCurrentLineNumber(xml.parser), "%s", reason);
  }
  XML_StopParser(xml.parser, XML_FALSE);
}

bool feed_safe_xml(SafeXml& xml, const uint8_t* bytes, size_t size, bool last) {
  do {
    const size_t piece = size < xml_piece_size ? size : xml_piece_size;
    const bool final_piece = last && piece == size;
    const XML_Status status =
        XML_Parse(xml.parser, reinterpret_cast<const char*>(bytes), static_cast<int>(piece), final_piece);
    if (status != XML_STATUS_OK) {
      const XML_Error code = XML_GetErrorCode(xml.parser);
      set_dat_error(*xml.error, XML_GetCurrentLineNumber(xml.parser), "%s", XML_ErrorString(code));
      return false;
    }
    if (has_dat_error(*xml.error)) return false;
    xml.fed += piece;
    if (xml.fed - xml.last_event > max_xml_token_size + xml_piece_size) {
      set_dat_error(*xml.error, XML_GetCurrentLineNumber(xml.parser), "element, attribute or comment too long");
      return false;
    }
    bytes += piece;
    size -= piece;
  } while (size != 0);
  return true;
}

void end_safe_xml(SafeXml& xml) {
  if (xml.parser != nullptr) XML_ParserFree(xml.parser);
  xml.parser = nullptr;
}
