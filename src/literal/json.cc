#include "literal/json.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <set>
#include <utility>

#include "literal/int_parse.h"
#include "literal/json_string.h"
#include "literal/unicode.h"

namespace brackwater::literal {

namespace {

// Up to this many members an open object checks for a duplicate key by a linear scan.
constexpr size_t kLinearKeyScan = 16;

std::string at_offset(std::string_view head, size_t offset) {
  std::string out(head);
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, offset);
  out.append(buf, res.ptr);
  return out;
}

}  // namespace

// An explicit-stack parser: one Frame per open container instead of one native call per level.
class JsonLiteralParser {
 public:
  explicit JsonLiteralParser(std::string_view text) : text_(text) {
    // Small literals are the common case: size the arrays once instead of growing them step by step.
    const size_t guess = std::min<size_t>(text.size() / 2 + 1, 1024);
    tree_.nodes_.reserve(guess);
    tree_.children_.reserve(guess);
    tree_.strings_.reserve(std::min<size_t>(text.size(), 4096));
    pending_.reserve(std::min<size_t>(guess, 64));
  }

  Parsed<JsonTree> run();

 private:
  using Node = JsonTree::Node;
  using Type = JsonTree::Type;

  struct KeyLess {
    const JsonTree* tree;
    bool operator()(size_t a, size_t b) const { return tree->string_at(a) < tree->string_at(b); }
  };
  using KeySet = std::set<size_t, KeyLess>;

  struct Frame {
    bool object;
    size_t pending_start;         // first of this container's members in pending_
    size_t key = 0;               // objects: key node of the member being parsed
    std::unique_ptr<KeySet> keys; // objects with many members: their keys, for the duplicate check
  };

  struct Member {
    size_t key;  // objects only
    size_t value;
  };

  bool at_end() const { return pos_ == text_.size(); }
  bool next_is(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
  bool next_is_digit() const { return pos_ < text_.size() && is_ascii_digit(text_[pos_]); }
  void skip_space() {
    while (pos_ < text_.size() && is_json_space(text_[pos_])) ++pos_;
  }
  void skip_digits() {
    while (next_is_digit()) ++pos_;
  }

  size_t add_node(Type type, bool flag = false, size_t a = 0, size_t b = 0) {
    tree_.nodes_.push_back(Node{type, flag, a, b});
    return tree_.nodes_.size() - 1;
  }

  std::unexpected<std::string> expected_char(char c) const {
    std::string head = "expected '";
    head.push_back(c);
    head.append("' at JSON byte ");
    return std::unexpected(at_offset(head, pos_));
  }

  Parsed<size_t> parse_scalar();
  Parsed<size_t> parse_word(std::string_view word, Type type, bool flag);
  Parsed<size_t> parse_number();
  Parsed<size_t> parse_string();
  bool insert_key(Frame& frame, size_t key);
  size_t close_container();

  std::string_view text_;
  size_t pos_ = 0;
  JsonTree tree_;
  std::vector<Frame> frames_;
  std::vector<Member> pending_;
  std::string scratch_;
};

Parsed<size_t> JsonLiteralParser::parse_word(std::string_view word, Type type, bool flag) {
  if (text_.substr(pos_, word.size()) != word) return std::unexpected(at_offset("invalid JSON token at byte ", pos_));
  pos_ += word.size();
  return add_node(type, flag);
}

Parsed<size_t> JsonLiteralParser::parse_number() {
  const size_t start = pos_;
  if (next_is('-')) ++pos_;
  if (next_is('0')) {
    ++pos_;
    if (next_is_digit()) return std::unexpected(at_offset("leading zero in JSON number at byte ", start));
  } else if (next_is_digit()) {
    skip_digits();
  } else {
    return std::unexpected(at_offset("invalid JSON number at byte ", start));
  }
  if (next_is('.')) {
    ++pos_;
    if (!next_is_digit()) return std::unexpected(at_offset("missing JSON fraction at byte ", start));
    skip_digits();
  }
  if (next_is('e') || next_is('E')) {
    ++pos_;
    if (next_is('+') || next_is('-')) ++pos_;
    if (!next_is_digit()) return std::unexpected(at_offset("missing JSON exponent at byte ", start));
    skip_digits();
  }
  std::string_view number = text_.substr(start, pos_ - start);
  auto value = view_decimal(number);
  if (!value) {
    std::string message = "invalid JSON number '";
    message.append(number).append("': ").append(value.error());
    return std::unexpected(std::move(message));
  }
  size_t offset = tree_.strings_.size();
  tree_.strings_.append(number);
  return add_node(Type::Number, false, offset, number.size());
}

Parsed<size_t> JsonLiteralParser::parse_string() {
  if (!next_is('"')) return expected_char('"');
  const size_t start = pos_;
  std::string_view decoded;
  auto end = read_json_string(text_, start, scratch_, decoded);
  if (!end) {
    switch (end.error().kind) {
      case JsonStringError::Kind::Unterminated:
        return std::unexpected(at_offset("unterminated JSON string at byte ", start));
      case JsonStringError::Kind::ControlByte:
        return std::unexpected(at_offset("unescaped JSON control byte at ", start));
      case JsonStringError::Kind::Invalid: {
        std::string message = at_offset("invalid JSON string at byte ", start);
        message.append(": ").append(end.error().reason);
        return std::unexpected(std::move(message));
      }
    }
  }
  pos_ = *end;
  size_t offset = tree_.strings_.size();
  tree_.strings_.append(decoded);
  return add_node(Type::String, false, offset, decoded.size());
}

// A scalar at pos_ (not a container opening); whitespace already skipped.
Parsed<size_t> JsonLiteralParser::parse_scalar() {
  char c = text_[pos_];
  switch (c) {
    case '"': return parse_string();
    case 'n': return parse_word("null", Type::Null, false);
    case 't': return parse_word("true", Type::Bool, true);
    case 'f': return parse_word("false", Type::Bool, false);
    default: break;
  }
  if (c == '-' || is_ascii_digit(c)) return parse_number();
  // The byte is shown as the character with that code (Latin-1 for bytes above 127).
  std::string message = "invalid JSON byte '";
  append_utf8(message, static_cast<unsigned char>(c));
  message.append("' at ");
  return std::unexpected(at_offset(message, pos_));
}

bool JsonLiteralParser::insert_key(Frame& frame, size_t key) {
  if (!frame.keys) {
    size_t count = pending_.size() - frame.pending_start;
    if (count < kLinearKeyScan) {
      std::string_view name = tree_.string_at(key);
      for (size_t i = frame.pending_start; i < pending_.size(); ++i) {
        if (tree_.string_at(pending_[i].key) == name) return false;
      }
      return true;
    }
    frame.keys = std::make_unique<KeySet>(KeyLess{&tree_});
    for (size_t i = frame.pending_start; i < pending_.size(); ++i) frame.keys->insert(pending_[i].key);
  }
  return frame.keys->insert(key).second;
}

// Closes the innermost open container and returns its node.
size_t JsonLiteralParser::close_container() {
  Frame& frame = frames_.back();
  auto first = pending_.begin() + static_cast<std::ptrdiff_t>(frame.pending_start);
  size_t count = pending_.size() - frame.pending_start;
  size_t child_start = tree_.children_.size();
  size_t node;
  if (frame.object) {
    std::sort(first, pending_.end(), [this](const Member& a, const Member& b) {
      return tree_.string_at(a.key) < tree_.string_at(b.key);
    });
    for (auto it = first; it != pending_.end(); ++it) {
      tree_.children_.push_back(it->key);
      tree_.children_.push_back(it->value);
    }
    node = add_node(Type::Object, false, child_start, count);
  } else {
    for (auto it = first; it != pending_.end(); ++it) tree_.children_.push_back(it->value);
    node = add_node(Type::Array, false, child_start, count);
  }
  pending_.erase(first, pending_.end());
  frames_.pop_back();
  return node;
}

Parsed<JsonTree> JsonLiteralParser::run() {
  bool expect_key = false;
  for (;;) {
    if (expect_key) {
      skip_space();
      auto key = parse_string();
      if (!key) return std::unexpected(std::move(key.error()));
      skip_space();
      if (!next_is(':')) return expected_char(':');
      ++pos_;
      frames_.back().key = *key;
      expect_key = false;
    }

    // One value: a scalar, an empty container, or the opening of a non-empty one.
    if (at_end()) return std::unexpected("empty or truncated JSON");
    skip_space();
    if (at_end()) return std::unexpected("empty or truncated JSON");
    size_t node;
    if (next_is('[') || next_is('{')) {
      bool object = next_is('{');
      ++pos_;
      skip_space();
      if (next_is(object ? '}' : ']')) {
        ++pos_;
        node = add_node(object ? Type::Object : Type::Array, false, tree_.children_.size(), 0);
      } else {
        frames_.push_back(Frame{object, pending_.size(), 0, nullptr});
        expect_key = object;
        continue;
      }
    } else {
      auto scalar = parse_scalar();
      if (!scalar) return std::unexpected(std::move(scalar.error()));
      node = *scalar;
    }

    // Hand the finished value to its container, closing containers as long as they end here.
    for (;;) {
      if (frames_.empty()) {
        skip_space();
        if (!at_end()) return std::unexpected(at_offset("trailing JSON data at byte ", pos_));
        tree_.root_ = node;
        return std::move(tree_);
      }
      Frame& frame = frames_.back();
      if (frame.object) {
        if (!insert_key(frame, frame.key)) {
          std::string message = "duplicate JSON object key '";
          message.append(tree_.string_at(frame.key)).push_back('\'');
          return std::unexpected(std::move(message));
        }
        pending_.push_back(Member{frame.key, node});
      } else {
        pending_.push_back(Member{0, node});
      }
      skip_space();
      if (next_is(frame.object ? '}' : ']')) {
        ++pos_;
        node = close_container();
        continue;
      }
      if (!next_is(',')) return expected_char(',');
      ++pos_;
      expect_key = frame.object;
      break;
    }
  }
}

Parsed<JsonTree> parse_json_literal(std::string_view text) { return JsonLiteralParser(text).run(); }

bool json_equal(const JsonTree& a, const JsonTree& b) {
  using Type = JsonTree::Type;
  std::vector<std::pair<size_t, size_t>> work{{a.root_, b.root_}};
  while (!work.empty()) {
    auto [x, y] = work.back();
    work.pop_back();
    const auto& nx = a.nodes_[x];
    const auto& ny = b.nodes_[y];
    if (nx.type != ny.type) return false;
    switch (nx.type) {
      case Type::Null: break;
      case Type::Bool:
        if (nx.flag != ny.flag) return false;
        break;
      case Type::Number:
        // Both texts were accepted when the trees were built.
        if (*view_decimal(a.string_at(x)) != *view_decimal(b.string_at(y))) return false;
        break;
      case Type::String:
        if (a.string_at(x) != b.string_at(y)) return false;
        break;
      case Type::Array:
        if (nx.b != ny.b) return false;
        for (size_t i = 0; i < nx.b; ++i) work.emplace_back(a.children_[nx.a + i], b.children_[ny.a + i]);
        break;
      case Type::Object:
        if (nx.b != ny.b) return false;
        for (size_t i = 0; i < nx.b; ++i) {
          if (a.string_at(a.children_[nx.a + 2 * i]) != b.string_at(b.children_[ny.a + 2 * i])) return false;
          work.emplace_back(a.children_[nx.a + 2 * i + 1], b.children_[ny.a + 2 * i + 1]);
        }
        break;
    }
  }
  return true;
}

}  // namespace brackwater::literal
