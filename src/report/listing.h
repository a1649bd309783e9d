// The listing: one line per record in sorted order, then the summary.
#pragma once

// Writes the listing of g_sorted to standard output. Call after
// mark_duplicates, never in mode Pzc.
void print_report();
