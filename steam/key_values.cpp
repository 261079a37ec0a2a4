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
class BlockFinder {
 public:
  BlockFinder(std::string_view text, const std::vector<std::string>& path, std::string_view key)
      : tokens_(text), path_(path), key_(key) {}

  std::optional<KeyValuesBlock> find() {
    advance();
    for (;;) {
      switch (current_.kind) {
        case TokenKind::kEnd:
          if (depth_ != 0 || !found_) {
            return std::nullopt;
          }
          return std::move(block_);
        case TokenKind::kClose:
          if (!close_block()) {
            return std::nullopt;
          }
          break;
        case TokenKind::kText:
          if (!read_node()) {
            return std::nullopt;
          }
          break;
        default:
          return std::nullopt;
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

  // Inside the block sought, and not in one of its own blocks.
  bool in_sought_block() const {
    return !found_ && matched_ == path_.size() && depth_ == path_.size();
  }

  bool close_block() {
    if (depth_ == 0) {
      return false;
    }
    if (in_sought_block()) {
      found_ = true;
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
      if (in_sought_block() && !block_.value && equal_ignoring_case(key, key_)) {
        block_.value = std::move(current_.text);
      }
      advance();
      skip_condition();
      return true;
    }
    skip_condition();
    if (current_.kind != TokenKind::kOpen) {
      return false;
    }
    ++depth_;
    if (!found_ && matched_ + 1 == depth_ && depth_ <= path_.size() &&
        equal_ignoring_case(key, path_[depth_ - 1])) {
      matched_ = depth_;
    }
    advance();
    return true;
  }

  Tokenizer tokens_;
  const std::vector<std::string>& path_;
  std::string_view key_;
  Token current_;
  std::size_t depth_ = 0;
  std::size_t matched_ = 0;
  bool found_ = false;
  KeyValuesBlock block_;
};

}  // namespace

std::optional<KeyValuesBlock> find_in_key_values(std::string_view text,
                                                 const std::vector<std::string>& path,
                                                 std::string_view key) {
  return BlockFinder(text, path, key).find();
}
