// Whether two paths name one file, before either is read or written.
#pragma once

// By device and inode when both exist; otherwise by their paths with the
// folder resolved (links and ".." followed, the last name as given), so
// that "x.dat" and "./x.dat" are one file before it is made.
bool is_same_file(const char* a, const char* b);
