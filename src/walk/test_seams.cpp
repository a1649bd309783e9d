// Storage for the walk's test seams, all off.
#include "walk/test_seams.h"

JobOrder g_job_order = JobOrder::Fifo;
uint32_t g_job_order_seed = 0;
int g_worker_starts_left = -1;
void (*g_before_opening_path)(const char* path) = nullptr;
uint64_t g_files_opened = 0;
