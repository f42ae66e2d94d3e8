// The tool's JSON documents: nlohmann's JSON with the keys in the order they
// are set. docs/json.md describes what each command writes.
#ifndef KESTRIX_TOOLS_KESTRIX_JSON_H
#define KESTRIX_TOOLS_KESTRIX_JSON_H

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

namespace kx::tool {

using Json = nlohmann::ordered_json;

// The version of the documents' layout, their "kestrix_json" member.
constexpr int kJsonVersion = 1;

// An empty object with room for `members`. An ordered_json object keeps its
// members in a vector of pairs whose key is const, so growing it copies every
// member's value rather than moving it: a document sized ahead copies none.
inline Json JsonObject(std::size_t members) {
  Json object = Json::object();
  object.get_ref<Json::object_t&>().reserve(members);
  return object;
}

// One document with its newline: indented for --json, on one line for
// --jsonl. Texts are UTF-8 already (Utf8Text).
inline std::string JsonDocument(const Json& document, bool oneLine) {
  return document.dump(oneLine ? -1 : 2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace kx::tool

#endif
