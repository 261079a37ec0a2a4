#ifndef CONFMEND_DRIVER_PROCESS_H_
#define CONFMEND_DRIVER_PROCESS_H_

// Whether options may also begin with "/", as on Windows ("/?").
extern const bool kSlashOptions;

// Readies the process before anything else: a write past the file size limit (ulimit -f) then
// fails as a full disk does instead of ending the process, and as many files may be open as
// the system allows, for deep folder trees.
void prepare_process();

#endif  // CONFMEND_DRIVER_PROCESS_H_
