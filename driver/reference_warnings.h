#ifndef CONFMEND_DRIVER_REFERENCE_WARNINGS_H_
#define CONFMEND_DRIVER_REFERENCE_WARNINGS_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "settings/reference_settings.h"

// Tells, one line each, what in the loaded reference DOSBox would not take as meant, in the
// form compilers use ("dosbox.conf:3: ..."), and returns how many warnings there were. A
// reference that was not read gives none.
std::size_t tell_reference_warnings(const LoadedReference& loaded);

// "1 warning", "3 warnings".
std::string counted(std::size_t count, std::string_view noun);

#endif  // CONFMEND_DRIVER_REFERENCE_WARNINGS_H_
