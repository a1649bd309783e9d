// Expat set up for files nobody vouches for: no DTD, external entity or URL
// is ever read, any entity declaration stops the parse at once, and no
// single element, attribute or comment may grow past a bound.
#pragma once

#include <expat.h>

#include <cstddef>
#include <cstdint>

#include "dat/dat_error.h"

// Expat's user data: each handler finds its reader through `owner`.
struct SafeXml {
  XML_Parser parser;
  DatError* error;
  void* owner;
  uint64_t fed;         // bytes given to Expat so far
  uint64_t last_event;  // where the last reported piece started
};

// The longest markup (a start tag with its attributes, a comment) accepted.
inline constexpr uint64_t max_xml_token_size = uint64_t{1} << 20;

// Creates the parser; false when out of memory (reason in `error`).
bool begin_safe_xml(SafeXml& xml, DatError& error, void* owner);

// Passes bytes on in pieces, checking the token bound between them. False
// with the reason (and Expat's line) in the error once anything fails.
bool feed_safe_xml(SafeXml& xml, const uint8_t* bytes, size_t size, bool last);

// Every handler calls this first: the parse moved on.
void note_xml_event(SafeXml& xml);

// Stops the parse with a reason at the current line.
__attribute__((format(printf, 2, 3))) void stop_safe_xml(SafeXml& xml, const char* format, ...);

void end_safe_xml(SafeXml& xml);
