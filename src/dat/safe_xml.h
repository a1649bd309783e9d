// Expat set up for files nobody vouches for: no DTD, external entity or URL
// is ever read, any entity declaration stops the parse at once, attribute
// defaults a document type declares are ignored, and no single element,
// attribute or comment, nor the nesting of elements, may grow past a bound.
#pragma once

#include <expat.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dat/dat_error.h"

// Expat's user data: each handler finds its reader through `owner`.
struct SafeXml {
  XML_Parser parser;
  DatError* error;
  void* owner;
  uint64_t fed;         // bytes given to Expat so far
  uint64_t last_event;  // where the last reported piece started
  uint32_t declared_attributes;
  uint64_t declared_bytes;  // names, types and defaults of the declared attributes
};

// The longest markup (a start tag with its attributes, a comment) accepted.
inline constexpr uint64_t max_xml_token_size = uint64_t{1} << 20;

// The deepest nesting of elements a reader accepts; deeper stops the parse
// with "elements nested too deep", so that the parser's stack of open tags
// stays small.
inline constexpr int max_xml_depth = 64;

// Creates the parser; false when out of memory (reason in `error`). With
// `utf8_by_mark`, the bytes are UTF-8 whatever the XML declaration says: a
// byte order mark decided it.
bool begin_safe_xml(SafeXml& xml, DatError& error, void* owner, bool utf8_by_mark);

// The attributes a start tag gave itself, as name and value entries.
// Defaults a document type declared are left out, so that an element costs
// no more than its own bytes.
struct GivenAttributes {
  const XML_Char** entries;
  int entry_count;
};

// Call it from a start handler only, with the attributes it was handed.
GivenAttributes given_attributes(const SafeXml& xml, const XML_Char** attributes);

// The value of the attribute `name`; null data() when the tag lacks it.
std::string_view find_attribute(const GivenAttributes& attributes, const char* name);

// Passes bytes on in pieces, checking the token bound between them. False
// with the reason (and Expat's line) in the error once anything fails.
bool feed_safe_xml(SafeXml& xml, const uint8_t* bytes, size_t size, bool last);

// Every handler calls this first: the parse moved on.
void note_xml_event(SafeXml& xml);

// Stops the parse with a reason at the current line.
__attribute__((format(printf, 2, 3))) void stop_safe_xml(SafeXml& xml, const char* format, ...);

void end_safe_xml(SafeXml& xml);
