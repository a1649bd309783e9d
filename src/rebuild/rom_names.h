// ROM and set names as paths under the output folder: `\` written `/`, and
// the check that a name stays inside its folder.
#pragma once

#include <cstddef>

// True when `name` is a relative path that stays below its folder: not
// empty, no leading `/`, no empty, `.` or `..` component, no `\`. With
// `folders_allowed` false it must also be one component (no `/`).
bool is_safe_relative_name(const char* name, bool folders_allowed);

// Copies `size` bytes of `name` to `out` (size bytes and a NUL) with every
// `\` turned into `/`, the folder separator some DATs write.
void copy_with_forward_slashes(const char* name, size_t size, char* out);
