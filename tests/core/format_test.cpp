#include "core/format.h"

#include <gtest/gtest.h>

#include <limits>

TEST(Format, Float2stringWritesGeneralNotationWithSixDigits) {
  const float inf = std::numeric_limits<float>::infinity();
  const std::pair<float, const char*> cases[] = {
      {25.0f, "25"},       {29.97f, "29.97"},     {-1.25f, "-1.25"},         {0.0f, "0"},
      {999999.0f, "999999"}, {1000000.0f, "1e+06"}, {1234567.0f, "1.23457e+06"}, {0.00001f, "1e-05"},
      {-inf, "-inf"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(float2string(value), text) << value;
}

TEST(Format, UritoEscapesTheFourteenCharactersOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"/Users/editor/My Clips/take 1.mov", "//Users/editor/My%20Clips/take%201.mov"},
      {"/x/100%.wav", "//x/100%25.wav"},
      {"C:\\clips\\x.mov", "/C%3A/clips/x.mov"},
      {"/q\"u,o.mov", "//q%22u%2Co.mov"},
      {"/!#$&'()*+", "//%21%23%24%26%27%28%29%2A%2B"},
      {"/?@[];=\xc4\x8d.mov", "//?@[];=\xc4\x8d.mov"},
      {"", "/"}};
  for (const auto& [path, url] : cases)
    EXPECT_EQ(urito(path), std::string("file://localhost") + url) << path;
}

TEST(Format, NamesKeepTheLastPathComponentAndEscapeMarkup) {
  const std::pair<const char*, const char*> cases[] = {
      {"/Users/editor/take 1.mov", "take 1.mov"}, {"x.wav", "x.wav"}, {"/folder/", ""}, {"", ""}};
  for (const auto& [path, name] : cases) EXPECT_EQ(correctxmlname(path), name) << path;
  EXPECT_EQ(xml_escape("a&b<c>d\"e'f \xc3\xbc"), "a&amp;b&lt;c&gt;d\"e'f \xc3\xbc");
}
