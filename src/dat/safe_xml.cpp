// Expat with every door to the outside closed. The entity declaration
// handler stops the parse before any entity can be expanded, so "billion
// laughs" ends at its first declaration; parameter entities are never
// parsed, so no external DTD subset is asked for; and no external entity
// handler is installed, so a SYSTEM identifier, a file name or a URL, is
// never opened. Expat has no I/O of its own.
#include "dat/safe_xml.h"

#include <cstdarg>
#include <cstdio>

namespace {

// Pieces small enough that a runaway token is caught soon after its bound.
constexpr size_t xml_piece_size = size_t{64} << 10;

void XMLCALL refuse_entity(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*, const XML_Char*,
                           const XML_Char*, const XML_Char*) {
  stop_safe_xml(*static_cast<SafeXml*>(data), "entity declarations are refused");
}

void XMLCALL note_other(void* data, const XML_Char*, int) {
  note_xml_event(*static_cast<SafeXml*>(data));
}

void XMLCALL note_comment(void* data, const XML_Char*) {
  note_xml_event(*static_cast<SafeXml*>(data));
}

}  // namespace

bool begin_safe_xml(SafeXml& xml, DatError& error, void* owner) {
  xml = SafeXml{};
  xml.error = &error;
  xml.owner = owner;
  xml.parser = XML_ParserCreate(nullptr);
  if (xml.parser == nullptr) {
    set_dat_error(error, 0, "out of memory");
    return false;
  }
  XML_SetUserData(xml.parser, &xml);
  XML_SetParamEntityParsing(xml.parser, XML_PARAM_ENTITY_PARSING_NEVER);
  XML_SetEntityDeclHandler(xml.parser, refuse_entity);
  XML_SetCommentHandler(xml.parser, note_comment);
  XML_SetDefaultHandlerExpand(xml.parser, note_other);
  return true;
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
