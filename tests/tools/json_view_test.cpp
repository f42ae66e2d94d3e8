// The tool's in-place JSON reader, held against nlohmann-json's reading of
// the same texts: what it accepts and refuses, member order, and the text of
// every escape.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "json_view.h"

namespace {

using kx::tool::JsonView;

TEST(JsonView, ReadsWhatNlohmannReads) {
  const std::string text =
      R"({"b":[1,-2.5e3,true,false,null,"x"],"a":{"k":"tab\tquote\" back\\ slash\/ é \u00e9"},)"
      R"("pair":"\ud83d\ude00","empty":{},"list":[]})";
  JsonView view;
  ASSERT_TRUE(JsonView::Parse(text, view));
  const nlohmann::ordered_json want = nlohmann::ordered_json::parse(text);
  std::string keys;
  for (const JsonView& member : view) keys += std::string(member.key()) + " ";
  EXPECT_EQ(keys, "b a pair empty list ");  // in the text's order
  EXPECT_EQ(view["a"]["k"].text(), want["a"]["k"].get<std::string>());
  EXPECT_EQ(view["pair"].text(), want["pair"].get<std::string>());
  ASSERT_EQ(view["b"].size(), 6u);
  EXPECT_EQ(view["b"].children()[1].text(), "-2.5e3");
  EXPECT_EQ(view["b"].children()[2].kind(), JsonView::Kind::kTrue);
  EXPECT_TRUE(view["empty"].is_object() && view["empty"].empty());
  EXPECT_TRUE(view["list"].is_array() && view["list"].empty());
  EXPECT_EQ(view["missing"].kind(), JsonView::Kind::kNull);
  EXPECT_FALSE(view["b"].contains("x"));  // an array has no members
  // An unpaired surrogate, which nlohmann refuses, reads as U+FFFD.
  ASSERT_TRUE(JsonView::Parse(R"("\ud800!")", view));
  EXPECT_EQ(view.text(), "\xEF\xBF\xBD!");
}

TEST(JsonView, RefusesWhatIsNotOneValue) {
  const std::string deep(65, '[');
  for (const std::string& text :
       {std::string(""), std::string("{"), std::string(R"({"a":1,})"), std::string(R"({"a" 1})"),
        std::string("[1 2]"), std::string("\"cut"), std::string("\"a\nb\""), std::string("{} {}"),
        std::string("nul"), deep + std::string(65, ']')}) {
    SCOPED_TRACE(text);
    JsonView view;
    EXPECT_FALSE(JsonView::Parse(text, view));
    EXPECT_EQ(view.kind(), JsonView::Kind::kNull);
  }
  JsonView nested;
  EXPECT_TRUE(JsonView::Parse(std::string(64, '[') + std::string(64, ']'), nested));
}

}  // namespace
