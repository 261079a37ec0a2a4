#include <sys/resource.h>

#include <csignal>

#include "driver/process.h"

const bool kSlashOptions = false;

void prepare_process() {
  std::signal(SIGXFSZ, SIG_IGN);
  // Sent when another program opens for writing a file this one holds a read lease on; the
  // lease's state is asked instead, and the default action would end the process.
  std::signal(SIGIO, SIG_IGN);
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    // Refused, the run only mends on fewer threads and walks less deep.
    (void)setrlimit(RLIMIT_NOFILE, &files);
  }
}
