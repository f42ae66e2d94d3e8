// The JSON writer: what it writes parses as the text it was given (escapes,
// control characters, invalid UTF-8 as U+FFFD), separators in nested
// structures, and the length counted past a capacity it never writes over.
#include "document/json_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace {

using kx::document::JsonWriter;
using Json = nlohmann::json;

kx::der::Reader View(const std::string& s) {
  return kx::der::MakeReader(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

// Writes a small document of every kind of value into `capacity` bytes.
std::size_t WriteSample(char* out, std::size_t capacity, const std::string& text) {
  JsonWriter w(out, capacity);
  w.StartObject();
  w.Key("text");
  w.String(text);
  w.Key("list");
  w.StartArray();
  w.Number(std::int64_t{-5});
  w.Number(std::numeric_limits<std::int64_t>::min());
  w.Number(std::numeric_limits<std::uint64_t>::max());
  w.Bool(true);
  w.Null();
  w.StartObject();
  w.EndObject();
  w.StartArray();
  w.EndArray();
  w.Hex(View("\x01\xAB"));
  w.EndArray();
  w.Key("joined");
  w.StartString();
  w.AppendUtf8("a");
  w.AppendCodePoint(0x1F600);
  w.AppendCodePoint(0xD800);  // no character: U+FFFD
  w.AppendNumber(42);
  w.EndString();
  w.EndObject();
  return w.Length();
}

TEST(JsonWriter, WritesWhatAParserReadsBack) {
  const struct {
    std::string in, out;
  } texts[] = {
      {"plain", "plain"},
      {"quote \" backslash \\ slash /", "quote \" backslash \\ slash /"},
      {std::string("\0\x01\x1F\t\n\r\b\f\x7F", 10), std::string("\0\x01\x1F\t\n\r\b\f\x7F", 10)},
      {"\xE4\xB8\xAD \xF0\x9F\x98\x80", "\xE4\xB8\xAD \xF0\x9F\x98\x80"},
      // Each maximal invalid sequence is one U+FFFD.
      {"a\xFF"
       "b\xC3"
       "c\xED\xA0\x80"
       "d\xF0\x9F\x98",
       "a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"
       "c\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
       "d\xEF\xBF\xBD"},
  };
  for (const auto& t : texts) {
    std::vector<char> out(4096);
    const std::size_t n = WriteSample(out.data(), out.size(), t.in);
    const Json doc = Json::parse(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_EQ(doc.at("text"), t.out);
    EXPECT_EQ(doc.at("list").dump(),
              "[-5,-9223372036854775808,18446744073709551615,true,null,{},[],\"01ab\"]");
    EXPECT_EQ(doc.at("joined"),
              "a\xF0\x9F\x98\x80\xEF\xBF\xBD"
              "42");
  }
}

TEST(JsonWriter, CountsPastItsCapacityAndNeverWritesThere) {
  std::vector<char> whole(4096);
  const std::size_t length = WriteSample(whole.data(), whole.size(), "text");
  for (const std::size_t capacity : {std::size_t{0}, std::size_t{1}, length - 1, length}) {
    std::vector<char> out(capacity + 8, '#');
    EXPECT_EQ(WriteSample(capacity == 0 ? nullptr : out.data(), capacity, "text"), length);
    EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(capacity)),
              std::string(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(capacity)));
    EXPECT_EQ(std::string(out.end() - 8, out.end()), "########") << capacity;
  }
}

}  // namespace
