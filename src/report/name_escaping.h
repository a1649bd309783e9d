// Names written so that no byte of a name can break a line or the terminal:
// chosen bytes go out as %XX.
#pragma once

#include <string>

enum class EscapedBytes {
  Controls,         // 0x00 to 0x1F and 0x7F; high bytes as stored
  ControlsAndHigh,  // the same and 0x80 to 0xFF
  // Controls, and high bytes not in valid UTF-8: text as stored, the C1
  // controls (U+0080 to U+009F, which some terminals obey) escaped too.
  ControlsAndInvalidUtf8,
};

// Writes the NUL-terminated name to standard output, each escaped byte as
// '%' and two upper-case hex digits; '%' itself is not escaped.
void print_escaped_name(const char* name, EscapedBytes escaped);

// The same, appended to `out`.
void append_escaped_name(std::string& out, const char* name, EscapedBytes escaped);
