// TODO: ordering (stub so the skeleton links)
#include "catalogue/ordering.h"
RomEntry** g_sorted = nullptr;
void build_sorted_index() {}
int compare_roms(const void*, const void*) { return 0; }
void mark_duplicates() {}
void clear_sorted_index() {}
