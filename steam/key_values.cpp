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

class Parser {
 public:
  explicit Parser(std::string_view text) : tokens_(text) { advance(); }

  // Reads nodes into `block` until its closing brace, or the end of the text at top level.
  bool parse_block(KeyValues& block, bool top_level) {
    while (true) {
      switch (current_.kind) {
        case TokenKind::kEnd:
          return top_level;
        case TokenKind::kClose:
          advance();
          return !top_level;
        case TokenKind::kText:
          if (!parse_node(block)) {
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

  bool parse_node(KeyValues& block) {
    KeyValues node;
    node.key = std::move(current_.text);
    advance();
    if (current_.kind == TokenKind::kText) {
      node.value = std::move(current_.text);
      advance();
      skip_condition();
    } else {
      skip_condition();
      if (current_.kind != TokenKind::kOpen) {
        return false;
      }
      advance();
      node.is_block = true;
      if (!parse_block(node, false)) {
        return false;
      }
    }
    block.children.push_back(std::move(node));
    return true;
  }

  Tokenizer tokens_;
  Token current_;
};

}  // namespace

const KeyValues* KeyValues::find(std::string_view child_key) const {
  for (const KeyValues& child : children) {
    if (equal_ignoring_case(child.key, child_key)) {
      return &child;
    }
  }
  return nullptr;
}

std::optional<KeyValues> parse_key_values(std::string_view text) {
  KeyValues root;
  root.is_block = true;
  Parser parser(text);
  if (!parser.parse_block(root, true)) {
    return std::nullopt;
  }
  return root;
}
