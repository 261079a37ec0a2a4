#ifndef CONFMEND_STEAM_KEY_VALUES_H_
#define CONFMEND_STEAM_KEY_VALUES_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One node of Valve's KeyValues text: a key with either a text value or a block of nodes.
struct KeyValues {
  std::string key;
  std::string value;
  bool is_block = false;
  std::vector<KeyValues> children;

  // The first child with this key, compared without regard to ASCII case; nullptr if none.
  const KeyValues* find(std::string_view child_key) const;
};

// Parses a whole KeyValues text (quoted or bare tokens, { } blocks, // comments, the escapes
// \\ \" \n \t, and [$CONDITION] marks, which are skipped). The nodes of the top level are the
// children of the result. Nothing for a malformed text.
std::optional<KeyValues> parse_key_values(std::string_view text);

#endif  // CONFMEND_STEAM_KEY_VALUES_H_
