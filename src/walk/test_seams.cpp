// Storage for the walk's test seams, all off.
#include "walk/test_seams.h"

void (*g_before_opening_path)(const char* path) = nullptr;
uint64_t g_files_opened = 0;
