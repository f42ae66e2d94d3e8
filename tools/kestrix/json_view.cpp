#include "json_view.h"

#include "text.h"

namespace kx::tool {

// A recursive-descent reader of RFC 8259 JSON, nesting at most kDeepest deep.
class JsonViewReader {
 public:
  explicit JsonViewReader(std::string_view text) : text_(text) {}

  bool Document(JsonView& out) { return ReadValue(out, 0) && (Blanks(), at_ == text_.size()); }

 private:
  static constexpr int kDeepest = 64;

  void Blanks() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t')) {
      ++at_;
    }
  }
  bool Take(char c) {
    Blanks();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool Literal(std::string_view word, JsonView::Kind kind, JsonView& out) {
    if (text_.substr(at_, word.size()) != word) return false;
    out.kind_ = kind;
    out.raw_ = text_.substr(at_, word.size());
    at_ += word.size();
    return true;
  }
  // A string's content, escapes kept (checked only for their shape).
  bool ReadString(std::string_view& out) {
    if (!Take('"')) return false;
    const std::size_t start = at_;
    while (at_ < text_.size() && text_[at_] != '"') {
      if (static_cast<unsigned char>(text_[at_]) < 0x20) return false;
      at_ += text_[at_] == '\\' ? 2 : 1;
    }
    if (at_ >= text_.size()) return false;
    out = text_.substr(start, at_ - start);
    ++at_;
    return true;
  }
  bool ReadNumber(JsonView& out) {
    const std::size_t start = at_;
    while (at_ < text_.size() &&
           (std::string_view("+-.eE").find(text_[at_]) != std::string_view::npos ||
            (text_[at_] >= '0' && text_[at_] <= '9'))) {
      ++at_;
    }
    if (at_ == start) return false;
    out.kind_ = JsonView::Kind::kNumber;
    out.raw_ = text_.substr(start, at_ - start);
    return true;
  }
  bool ReadValue(JsonView& out, int depth) {
    Blanks();
    if (at_ >= text_.size() || depth >= kDeepest) return false;
    switch (text_[at_]) {
      case '"': out.kind_ = JsonView::Kind::kString; return ReadString(out.raw_);
      case 't': return Literal("true", JsonView::Kind::kTrue, out);
      case 'f': return Literal("false", JsonView::Kind::kFalse, out);
      case 'n': return Literal("null", JsonView::Kind::kNull, out);
      case '[':
      case '{': {
        const bool object = text_[at_++] == '{';
        out.kind_ = object ? JsonView::Kind::kObject : JsonView::Kind::kArray;
        if (Take(object ? '}' : ']')) return true;
        do {
          JsonView& child = out.children_.emplace_back();
          if (object && !(ReadString(child.key_) && Take(':'))) return false;
          if (!ReadValue(child, depth + 1)) return false;
        } while (Take(','));
        return Take(object ? '}' : ']');
      }
      default: return ReadNumber(out);
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

bool JsonView::Parse(std::string_view text, JsonView& out) {
  out = JsonView();
  if (JsonViewReader(text).Document(out)) return true;
  out = JsonView();
  return false;
}

const JsonView* JsonView::Find(std::string_view name) const {
  if (kind_ != Kind::kObject) return nullptr;
  for (const JsonView& member : children_) {
    if (member.key_ == name) return &member;
  }
  return nullptr;
}

const JsonView& JsonView::operator[](std::string_view name) const {
  static const JsonView kNull;
  const JsonView* member = Find(name);
  return member != nullptr ? *member : kNull;
}

namespace {

// The four hex digits of a \u escape at text[at]; -1 when they are not.
long HexUnit(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return -1;
  long unit = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

}  // namespace

std::string JsonView::text() const {
  if (kind_ != Kind::kString) return std::string(raw_);
  if (raw_.find('\\') == std::string_view::npos) return std::string(raw_);
  std::string out;
  out.reserve(raw_.size());
  for (std::size_t i = 0; i < raw_.size(); ++i) {
    if (raw_[i] != '\\' || i + 1 >= raw_.size()) {
      out += raw_[i];
      continue;
    }
    const char c = raw_[++i];
    switch (c) {
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': {
        long unit = HexUnit(raw_, i + 1);
        if (unit < 0) {
          out += "\\u";
          break;
        }
        i += 4;
        // A high surrogate and its low one make one character; alone, U+FFFD.
        if (raw_.substr(i + 1, 2) == "\\u") {
          const long low = HexUnit(raw_, i + 3);
          if (const char32_t pair = SurrogatePair(static_cast<char32_t>(unit),
                                                  static_cast<char32_t>(low < 0 ? 0 : low));
              pair != 0) {
            unit = pair;
            i += 6;
          }
        }
        AppendUtf8OrReplacement(out, static_cast<char32_t>(unit));
        break;
      }
      default: out += c;  // \" \\ \/
    }
  }
  return out;
}

}  // namespace kx::tool
