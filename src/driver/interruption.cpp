// The signals are taken by one waiting thread rather than a handler, so that
// erasing the status line may take the same lock as every other write to the
// screen.
#include "driver/interruption.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "report/progress.h"

namespace {

sigset_t interrupting_signals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

void* wait_for_interruption(void* /*unused*/) {
  const sigset_t signals = interrupting_signals();
  int signal_number = 0;
  while (sigwait(&signals, &signal_number) != 0) {
  }
  progress_abandon();
  // The listing is incomplete: whatever stdio still holds stays unwritten.
  _exit(128 + signal_number);
}

}  // namespace

void watch_for_interruption() {
  const sigset_t signals = interrupting_signals();
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
  pthread_attr_t attributes;
  bool started = false;
  if (pthread_attr_init(&attributes) == 0) {
    pthread_t watcher{};
    started = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) == 0 &&
              pthread_create(&watcher, &attributes, wait_for_interruption, nullptr) == 0;
    pthread_attr_destroy(&attributes);
  }
  // Without the watcher, the signals' default action still ends the run.
  if (!started) pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}
