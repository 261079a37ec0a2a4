#ifndef CONFMEND_STEAM_KEY_VALUES_H_
#define CONFMEND_STEAM_KEY_VALUES_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a KeyValues text holds in the block sought: whether the key has a text value there.
struct KeyValuesBlock {
  std::optional<std::string> value;
};

// The first block that `path` leads to in Valve's KeyValues text, with the text value of
// `key` directly inside it (its first); keys are compared without regard to ASCII case. The
// text may hold quoted or bare tokens, { } blocks, // comments, the escapes \\ \" \n \t, and
// [$CONDITION] marks, which are skipped. Nothing when the text is malformed or holds no such
// block. The text is read once, keeping nothing but that value and how deep it is, so that no
// text, however deeply nested, costs more than a small multiple of its size.
std::optional<KeyValuesBlock> find_in_key_values(std::string_view text,
                                                 const std::vector<std::string>& path,
                                                 std::string_view key);

#endif  // CONFMEND_STEAM_KEY_VALUES_H_
