// Storage for the job ring's test seams, all off.
#include "jobs/job_seams.h"

JobOrder g_job_order = JobOrder::Fifo;
uint32_t g_job_order_seed = 0;
int g_worker_starts_left = -1;
