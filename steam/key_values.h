#ifndef CONFMEND_STEAM_KEY_VALUES_H_
#define CONFMEND_STEAM_KEY_VALUES_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A key and its text value, in Valve's KeyValues text.
struct KeyValue {
  std::string key;
  std::string value;
};

// The text values directly inside the first block that `path` leads to, in a KeyValues text:
// quoted or bare tokens, { } blocks, // comments, the escapes \\ \" \n \t, and [$CONDITION]
// marks, which are skipped. Keys are compared without regard to ASCII case. Nothing when the
// text is malformed or holds no such block. The text is read once, keeping nothing but those
// values and how deep it is, so that no text, however deeply nested, costs more than a small
// multiple of its size.
std::optional<std::vector<KeyValue>> find_key_values_block(std::string_view text,
                                                           const std::vector<std::string>& path);

// The first of the values with this key, compared without regard to ASCII case; nullptr if
// none has it.
const KeyValue* find_key_value(const std::vector<KeyValue>& values, std::string_view key);

#endif  // CONFMEND_STEAM_KEY_VALUES_H_
