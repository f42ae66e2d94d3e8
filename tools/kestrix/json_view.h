// JSON read in place, for the text views of the library's documents: every
// value a view of the text (strings keep their escapes until asked), members
// in their order. Reading a document this way costs a fraction of building a
// DOM of copied strings; the tool writes JSON with nlohmann-json (json.h).
#ifndef KESTRIX_TOOLS_KESTRIX_JSON_VIEW_H
#define KESTRIX_TOOLS_KESTRIX_JSON_VIEW_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx::tool {

class JsonView {
 public:
  enum class Kind : std::uint8_t { kNull, kFalse, kTrue, kNumber, kString, kArray, kObject };

  // Reads `text`, one JSON value; false (the view then null) for anything
  // else. The view refers to `text`, which must outlive it.
  static bool Parse(std::string_view text, JsonView& out);

  Kind kind() const { return kind_; }
  bool is_string() const { return kind_ == Kind::kString; }
  bool is_array() const { return kind_ == Kind::kArray; }
  bool is_object() const { return kind_ == Kind::kObject; }
  bool is_structured() const { return is_array() || is_object(); }

  // An object's member `name`, or a null view.
  const JsonView& operator[](std::string_view name) const;
  bool contains(std::string_view name) const { return Find(name) != nullptr; }

  // An array's elements or an object's members, in order; key() names a member.
  const std::vector<JsonView>& children() const { return children_; }
  std::vector<JsonView>::const_iterator begin() const { return children_.begin(); }
  std::vector<JsonView>::const_iterator end() const { return children_.end(); }
  std::size_t size() const { return children_.size(); }
  bool empty() const { return children_.empty(); }
  std::string_view key() const { return key_; }

  // A string's characters (escapes read), a number's or a literal's text;
  // empty for an array or object.
  std::string text() const;

 private:
  const JsonView* Find(std::string_view name) const;

  Kind kind_ = Kind::kNull;
  std::string_view key_;
  std::string_view raw_;  // a string's content between its quotes, a number's or literal's text
  std::vector<JsonView> children_;

  friend class JsonViewReader;
};

}  // namespace kx::tool

#endif
