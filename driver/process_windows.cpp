#include "driver/process.h"

const bool kSlashOptions = true;

// Nothing to ready: Windows has no file size limit that ends a process, and no limit on
// open handles short of memory.
void prepare_process() {}
