#include "platform/codesign/code_requirement.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <span>

namespace bcn {
namespace {

using Node = CodeRequirement::Node;

constexpr std::string_view kStoreLeaf = "1.2.840.113635.100.6.1.9";
constexpr std::string_view kDeveloperIDLeaf = "1.2.840.113635.100.6.1.13";
constexpr std::string_view kDeveloperIDIntermediate = "1.2.840.113635.100.6.2.6";

struct Token {
  enum class Kind { word, string, open, close, punctuation };
  Kind kind;
  std::string text;

  bool is(Kind k, std::string_view t) const { return kind == k && text == t; }
  bool isWord(std::string_view t) const { return is(Kind::word, t); }
};

bool isWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-' || c == '+' || c == '/' || c == ':' || c == '*';
}

PlatformError syntaxError(const std::string& what) {
  return PlatformError::corruptData("code requirement: " + what);
}

std::expected<std::vector<Token>, PlatformError> tokenize(std::string_view text) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++i;
    } else if (c == '"') {
      std::string value;
      ++i;
      bool closed = false;
      while (i < text.size()) {
        char s = text[i++];
        if (s == '"') {
          closed = true;
          break;
        }
        if (s == '\\') {
          if (i == text.size()) break;
          s = text[i++];
        }
        value.push_back(s);
      }
      if (!closed) return std::unexpected(syntaxError("unterminated string"));
      tokens.push_back({Token::Kind::string, std::move(value)});
    } else if (c == '(' || c == ')') {
      tokens.push_back({c == '(' ? Token::Kind::open : Token::Kind::close, std::string(1, c)});
      ++i;
    } else if (isWordChar(c)) {
      std::size_t end = i;
      while (end < text.size() && isWordChar(text[end])) ++end;
      tokens.push_back({Token::Kind::word, std::string(text.substr(i, end - i))});
      i = end;
    } else {
      // Brackets, '=', '!' and anything unexpected: single characters that
      // only the clause matcher gives meaning to.
      tokens.push_back({Token::Kind::punctuation, std::string(1, c)});
      ++i;
    }
  }
  return tokens;
}

std::optional<std::int32_t> certificatePosition(const Token& token) {
  if (token.kind != Token::Kind::word) return std::nullopt;
  if (token.text == "leaf") return 0;
  if (token.text == "root" || token.text == "anchor") return -1;
  std::int32_t n = 0;
  auto [end, ec] = std::from_chars(token.text.data(), token.text.data() + token.text.size(), n);
  if (ec != std::errc() || end != token.text.data() + token.text.size() || n < 0) return std::nullopt;
  return n;
}

// One clause: the run of tokens between operators and parentheses. What it
// does not recognise is an unknown clause, which is false.
Node clauseOf(std::span<const Token> run) {
  Node node;
  auto punct = [](const Token& t, std::string_view p) { return t.is(Token::Kind::punctuation, p); };
  if (run.size() == 3 && run[0].isWord("anchor") && run[1].isWord("apple") && run[2].isWord("generic")) {
    node.kind = Node::Kind::anchorAppleGeneric;
  } else if (run.size() == 2 && run[0].isWord("identifier") && run[1].kind == Token::Kind::string) {
    node.kind = Node::Kind::identifier;
    node.value = run[1].text;
  } else if (run.size() >= 5 && run[0].isWord("certificate") && punct(run[2], "[") &&
             run[3].kind == Token::Kind::word && punct(run[4], "]")) {
    auto position = certificatePosition(run[1]);
    const std::string& key = run[3].text;
    if (!position) return node;
    if (run.size() == 5 && key.starts_with("field.") && key.size() > 6) {
      node.kind = Node::Kind::certificateField;
      node.position = *position;
      node.value = key.substr(6);
    } else if (run.size() == 7 && key == "subject.OU" && *position == 0 && punct(run[5], "=") &&
               run[6].kind == Token::Kind::string) {
      node.kind = Node::Kind::leafSubjectOU;
      node.value = run[6].text;
    }
  }
  return node;
}

class Parser {
 public:
  explicit Parser(const std::vector<Token>& tokens) : tokens_(tokens) {}

  std::expected<Node, PlatformError> parseAll() {
    auto node = anyOf(0);
    if (!node) return node;
    if (at_ != tokens_.size()) return std::unexpected(syntaxError("unexpected ')'"));
    return node;
  }

 private:
  bool atWord(std::string_view word) const { return at_ < tokens_.size() && tokens_[at_].isWord(word); }

  std::expected<Node, PlatformError> combine(Node::Kind kind, std::string_view op, std::size_t depth) {
    Node node;
    node.kind = kind;
    do {
      auto operand = kind == Node::Kind::anyOf ? allOf(depth) : primary(depth);
      if (!operand) return operand;
      node.children.push_back(std::move(*operand));
    } while (atWord(op) && ++at_);
    if (node.children.size() == 1) return std::move(node.children.front());
    return node;
  }

  std::expected<Node, PlatformError> anyOf(std::size_t depth) { return combine(Node::Kind::anyOf, "or", depth); }
  std::expected<Node, PlatformError> allOf(std::size_t depth) { return combine(Node::Kind::allOf, "and", depth); }

  std::expected<Node, PlatformError> primary(std::size_t depth) {
    if (at_ == tokens_.size()) return std::unexpected(syntaxError("missing operand"));
    if (tokens_[at_].kind == Token::Kind::open) {
      if (depth + 1 > CodeRequirement::kMaxNesting) return std::unexpected(syntaxError("nested too deeply"));
      ++at_;
      auto inner = anyOf(depth + 1);
      if (!inner) return inner;
      if (at_ == tokens_.size() || tokens_[at_].kind != Token::Kind::close) {
        return std::unexpected(syntaxError("missing ')'"));
      }
      ++at_;
      return inner;
    }
    std::size_t end = at_;
    while (end < tokens_.size() && tokens_[end].kind != Token::Kind::open &&
           tokens_[end].kind != Token::Kind::close && !tokens_[end].isWord("and") && !tokens_[end].isWord("or")) {
      ++end;
    }
    if (end == at_) return std::unexpected(syntaxError("missing operand"));
    Node clause = clauseOf(std::span(tokens_).subspan(at_, end - at_));
    at_ = end;
    return clause;
  }

  const std::vector<Token>& tokens_;
  std::size_t at_ = 0;
};

bool evaluate(const Node& node, const CodeIdentity& identity) {
  switch (node.kind) {
    case Node::Kind::anyOf:
      return std::ranges::any_of(node.children, [&](const Node& c) { return evaluate(c, identity); });
    case Node::Kind::allOf:
      return std::ranges::all_of(node.children, [&](const Node& c) { return evaluate(c, identity); });
    case Node::Kind::anchorAppleGeneric:
      return true;  // every registered identity stands for a valid signature
    case Node::Kind::certificateField:
      if (node.position == 0 && node.value == kStoreLeaf) return identity.kind == CertificateKind::appStore;
      if (node.position == 0 && node.value == kDeveloperIDLeaf) return identity.kind == CertificateKind::developerID;
      if (node.position == 1 && node.value == kDeveloperIDIntermediate) {
        return identity.kind == CertificateKind::developerID;
      }
      return false;
    case Node::Kind::leafSubjectOU:
      return !identity.teamID.empty() && identity.teamID == node.value;
    case Node::Kind::identifier:
      return !identity.identifier.empty() && identity.identifier == node.value;
    case Node::Kind::unknown:
      return false;
  }
  return false;
}

}  // namespace

std::expected<CodeRequirement, PlatformError> CodeRequirement::parse(std::string_view text) {
  if (text.size() > kMaxTextBytes) return std::unexpected(syntaxError("text too long"));
  auto tokens = tokenize(text);
  if (!tokens) return std::unexpected(tokens.error());
  auto root = Parser(*tokens).parseAll();
  if (!root) return std::unexpected(root.error());
  return CodeRequirement(std::string(text), std::move(*root));
}

bool CodeRequirement::isSatisfiedBy(const CodeIdentity& identity) const { return evaluate(root_, identity); }

}  // namespace bcn
