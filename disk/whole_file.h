#ifndef CONFMEND_DISK_WHOLE_FILE_H_
#define CONFMEND_DISK_WHOLE_FILE_H_

#include <cstddef>
#include <string>

// The bytes of a regular file, read to its real end: no line-end translation, and no byte
// value ends the file early. False when it cannot be opened, is no regular file (a folder, a
// pipe or a device, whose opening never waits), is larger than `largest`, or a read fails.
bool read_whole_file(const std::string& path, std::string& bytes,
                     std::size_t largest = std::string().max_size());

#endif  // CONFMEND_DISK_WHOLE_FILE_H_
