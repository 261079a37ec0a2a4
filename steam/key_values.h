#ifndef CONFMEND_STEAM_KEY_VALUES_H_
#define CONFMEND_STEAM_KEY_VALUES_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Valve's KeyValues text: quoted or bare tokens, { } blocks, // comments, the escapes \\ \"
// \n \t, and [$CONDITION] marks, which are skipped. It is read once, without recursion,
// keeping nothing but what the reader asks for and how deep it is, so that no text, however
// deeply nested, costs more than a small multiple of its size.

// What is asked of a text: told what lies inside each block that a path of key patterns
// leads to, from the outside in. Depth 0 is directly inside such a block.
class KeyValuesReader {
 public:
  virtual ~KeyValuesReader() = default;
  virtual void text_value(std::size_t depth, std::string_view key, std::string&& value) = 0;
  virtual void block_begins(std::size_t /*depth*/, std::string_view /*key*/) {}
  virtual void block_ends(std::size_t /*depth*/) {}
  // One block on the path has ended.
  virtual void sought_block_ends() {}
};

// Reads the whole text, telling `reader` what the blocks on `path` hold, its keys compared
// without regard to ASCII case. False when the text is malformed; what was told before the
// fault stands.
bool read_key_values(std::string_view text, const std::vector<std::string>& path,
                     KeyValuesReader& reader);

// The text value of one key in the first block a path of names leads to.
struct KeyValuesLookup {
  bool block_found = false;  // false also when the text is malformed
  std::optional<std::string> value;
};
KeyValuesLookup look_up_key_value(std::string_view text, const std::vector<std::string>& path,
                                  std::string_view key);

// Whether two keys are the same, as KeyValues compares them: without regard to ASCII case.
bool same_key(std::string_view a, std::string_view b);

// Whether the key is made of digits alone, as Steam numbers the entries of a list.
bool is_number_key(std::string_view key);

#endif  // CONFMEND_STEAM_KEY_VALUES_H_
