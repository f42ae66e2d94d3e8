// Checks of a JSON document as CertificateToJson and RequestToJson hand it
// out, made without the library's own code: the opening every document has,
// well-formed UTF-8 (read by Unicode's table of well-formed byte sequences),
// and a parse by nlohmann-json that must not throw and finds no key twice.
#ifndef KESTRIX_TESTS_SUPPORT_JSON_DOCUMENT_H
#define KESTRIX_TESTS_SUPPORT_JSON_DOCUMENT_H

#include <nlohmann/json.hpp>

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kxtest {

// The first member of every document, as written: {"kestrix_document":2
inline constexpr std::string_view kDocumentOpening = "{\"kestrix_document\":2";

// True when `doc` opens with the version member, which ends there.
inline bool OpensAsDocument(std::string_view doc) {
  return doc.size() > kDocumentOpening.size() && doc.starts_with(kDocumentOpening) &&
         (doc[kDocumentOpening.size()] == ',' || doc[kDocumentOpening.size()] == '}');
}

// True when `text` is well-formed UTF-8: no stray continuation byte, no
// overlong form, no surrogate, nothing above U+10FFFF, no cut sequence.
inline bool IsWellFormedUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t more = 0;
    unsigned char low = 0x80;  // the range of the second byte
    unsigned char high = 0xBF;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
      more = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      more = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      more = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (text.size() - i - 1 < more) return false;
    for (std::size_t k = 1; k <= more; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return false;
    }
    i += more + 1;
  }
  return true;
}

// The parsed document; is_discarded() when `doc` is not one JSON value, or
// when an object in it holds a key twice (which the parse alone lets pass).
inline nlohmann::json ParseDocument(std::string_view doc) {
  using Event = nlohmann::json::parse_event_t;
  std::vector<std::set<std::string>> keys;  // those of each open object
  bool repeated = false;
  const auto check = [&](int, Event event, nlohmann::json& parsed) {
    if (event == Event::object_start) keys.emplace_back();
    if (event == Event::object_end) keys.pop_back();
    if (event == Event::key && !keys.back().insert(parsed.get<std::string>()).second) {
      repeated = true;
    }
    return true;
  };
  nlohmann::json parsed = nlohmann::json::parse(doc.begin(), doc.end(), check, false);
  return repeated ? nlohmann::json(nlohmann::json::value_t::discarded) : parsed;
}

}  // namespace kxtest

#endif  // KESTRIX_TESTS_SUPPORT_JSON_DOCUMENT_H
