#ifndef CONFMEND_STEAM_REGISTRY_H_
#define CONFMEND_STEAM_REGISTRY_H_

#include <cstdint>

// The current user's registry, as far as finding Steam needs it: the Windows registry on
// Windows, Steam's own registry file elsewhere.
struct RegistryKey;

// Opens a key below the current user's root for reading; `subkey` uses backslashes.
// nullptr when it cannot be opened.
RegistryKey* open_user_registry_key(const char* subkey);

// The size in bytes of the named value's data; a text counts its terminating NUL.
bool query_registry_value_size(RegistryKey* key, const char* name, std::uint32_t& size);

// Reads the named value's data into the buffer. `size` gives the buffer's length and
// receives the number of bytes stored; fails when the data does not fit.
bool read_registry_value(RegistryKey* key, const char* name, char* buffer, std::uint32_t& size);

void close_registry_key(RegistryKey* key);

#endif  // CONFMEND_STEAM_REGISTRY_H_
