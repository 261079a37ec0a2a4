#include "steam/key_values.h"

namespace {

char lower_ascii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower_ascii(a[i]) != lower_ascii(b[i])) {
      return false;
    }
  }
  return true;
}

enum class TokenKind { kText, kCondition, kOpen, kClose, kEnd, kError };

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::string text;
};

class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : text_(text) {}

  Token next() {
    skip_blanks_and_comments();
    if (at_ >= text_.size()) {
      return {TokenKind::kEnd, {}};
    }
    const char c = text_[at_];
    if (c == '{' || c == '}') {
      ++at_;
      return {c == '{' ? TokenKind::kOpen : TokenKind::kClose, {}};
    }
    if (c == '"') {
      return quoted();
    }
    Token token = bare();
    if (token.text.size() >= 2 && token.text.front() == '[' && token.text.back() == ']') {
      token.kind = TokenKind::kCondition;
    }
    return token;
  }

 private:
  static bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

  void skip_blanks_and_comments() {
    while (at_ < text_.size()) {
      if (is_blank(text_[at_])) {
        ++at_;
      } else if (text_.substr(at_, 2) == "//") {
        const std::size_t end = text_.find('\n', at_);
        at_ = end == std::string_view::npos ? text_.size() : end + 1;
      } else {
        return;
      }
    }
  }

  Token quoted() {
    Token token{TokenKind::kText, {}};
    for (++at_; at_ < text_.size(); ++at_) {
      char c = text_[at_];
      if (c == '"') {
        ++at_;
        return token;
      }
      if (c == '\\' && at_ + 1 < text_.size()) {
        const char escaped = text_[++at_];
        switch (escaped) {
          case 'n':
            c = '\n';
            break;
          case 't':
            c = '\t';
            break;
          case '\\':
          case '"':
            c = escaped;
            break;
          default:
            token.text += '\\';
            c = escaped;
            break;
        }
      }
      token.text += c;
    }
    return {TokenKind::kError, {}};  // no closing quote
  }

  Token bare() {
    const std::size_t start = at_;
    while (at_ < text_.size() && !is_blank(text_[at_]) && text_[at_] != '{' && text_[at_] != '}' &&
           text_[at_] != '"') {
      ++at_;
    }
    return {TokenKind::kText, std::string(text_.substr(start, at_ - start))};
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

// Walks the nodes of the text without recursion: the blocks open are only counted, as is how
// many of them, from the outside in, follow the path.
class PathReader {
 public:
  PathReader(std::string_view text, const std::vector<std::string>& path, KeyValuesReader& reader)
      : tokens_(text), path_(path), reader_(reader) {}

  bool read() {
    advance();
    for (;;) {
      switch (current_.kind) {
        case TokenKind::kEnd:
          return depth_ == 0;
        case TokenKind::kClose:
          if (!close_block()) {
            return false;
          }
          break;
        case TokenKind::kText:
          if (!read_node()) {
            return false;
          }
          break;
        default:
          return false;
      }
    }
  }

 private:
  void advance() { current_ = tokens_.next(); }

  void skip_condition() {
    if (current_.kind == TokenKind::kCondition) {
      advance();
    }
  }

  // Inside a block the path leads to, or in one of its own blocks.
  bool on_path() const { return matched_ == path_.size() && depth_ >= path_.size(); }

  bool close_block() {
    if (depth_ == 0) {
      return false;
    }
    if (on_path()) {
      if (depth_ == path_.size()) {
        reader_.sought_block_ends();
      } else {
        reader_.block_ends(depth_ - 1 - path_.size());
      }
    }
    if (matched_ == depth_) {
      --matched_;
    }
    --depth_;
    advance();
    return true;
  }

  bool read_node() {
    std::string key = std::move(current_.text);
    advance();
    if (current_.kind == TokenKind::kText) {
      if (on_path()) {
        reader_.text_value(depth_ - path_.size(), key, std::move(current_.text));
      }
      advance();
      skip_condition();
      return true;
    }
    skip_condition();
    if (current_.kind != TokenKind::kOpen) {
      return false;
    }
    if (on_path()) {
      reader_.block_begins(depth_ - path_.size(), key);
    }
    ++depth_;
    if (matched_ + 1 == depth_ && depth_ <= path_.size() && same_key(key, path_[depth_ - 1])) {
      matched_ = depth_;
    }
    advance();
    return true;
  }

  Tokenizer tokens_;
  const std::vector<std::string>& path_;
  KeyValuesReader& reader_;
  Token current_;
  std::size_t depth_ = 0;
  std::size_t matched_ = 0;
};

// The value of one key directly in the first block on the path.
class ValueLookup : public KeyValuesReader {
 public:
  explicit ValueLookup(std::string_view key) : key_(key) {}

  void text_value(std::size_t depth, std::string_view key, std::string&& value) override {
    if (!done_ && depth == 0 && !found_.value && same_key(key, key_)) {
      found_.value = std::move(value);
    }
  }
  void sought_block_ends() override {
    found_.block_found = true;
    done_ = true;
  }
  KeyValuesLookup found() && { return std::move(found_); }

 private:
  std::string_view key_;
  KeyValuesLookup found_;
  bool done_ = false;
};

}  // namespace

bool same_key(std::string_view a, std::string_view b) {
  return equal_ignoring_case(a, b);
}

bool is_number_key(std::string_view key) {
  return !key.empty() && key.find_first_not_of("0123456789") == std::string_view::npos;
}

bool read_key_values(std::string_view text, const std::vector<std::string>& path,
                     KeyValuesReader& reader) {
  return PathReader(text, path, reader).read();
}

KeyValuesLookup look_up_key_value(std::string_view text, const std::vector<std::string>& path,
                                  std::string_view key) {
  ValueLookup lookup(key);
  if (!read_key_values(text, path, lookup)) {
    return {};
  }
  return std::move(lookup).found();
}
