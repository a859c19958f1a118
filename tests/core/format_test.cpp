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

// Names XML cannot hold and a terminal must not obey: replaced in element text,
// percent-escaped in path URLs, shown as \xNN on the console; valid UTF-8 passes.
TEST(Format, BytesNoDocumentCanHoldAreReplacedEscapedOrShown) {
  struct Row {
    const char* name;
    const char* text;     // xml_escape
    const char* url;      // urito, after "file://localhost/"
    const char* console;  // console_safe
  };
  const Row rows[] = {
      {"a\x01&b", "a\uFFFD&amp;b", "a%01%26b", "a\\x01&b"},
      {"\x1b[2J \x7f", "\uFFFD[2J \uFFFD", "%1B[2J%20%7F", "\\x1b[2J \\x7f"},
      {"tab\tnl\n", "tab\uFFFDnl\uFFFD", "tab%09nl%0A", "tab\\x09nl\\x0a"},
      {"latin1\xe9.wav", "latin1\uFFFD.wav", "latin1%E9.wav", "latin1\\xe9.wav"},
      // A cut-off sequence is one character; the byte that cut it off stands on its own.
      {"\xe2\x82x\xe2\x82", "\uFFFDx\uFFFD", "%E2%82x%E2%82", "\\xe2\\x82x\\xe2\\x82"},
      // Overlong form and surrogate: each byte on its own.
      {"\xc0\xaf\xed\xa0\x80", "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", "%C0%AF%ED%A0%80",
       "\\xc0\\xaf\\xed\\xa0\\x80"},
      {"\xef\xbf\xbe\xf4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", "%EF%BF%BE%F4%90%80%80",
       "\xef\xbf\xbe\\xf4\\x90\\x80\\x80"},
      // A C1 control is a character to XML but a command to a terminal.
      {"c1\xc2\x9b", "c1\xc2\x9b", "c1\xc2\x9b", "c1\\xc2\\x9b"},
      {"\xc4\x8d \xe2\x82\xac \xf0\x9f\x8e\xac\\", "\xc4\x8d \xe2\x82\xac \xf0\x9f\x8e\xac\\",
       "\xc4\x8d%20\xe2\x82\xac%20\xf0\x9f\x8e\xac/", "\xc4\x8d \xe2\x82\xac \xf0\x9f\x8e\xac\\"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(xml_escape(row.name), row.text) << row.name;
    EXPECT_EQ(urito(row.name), std::string("file://localhost/") + row.url) << row.name;
    EXPECT_EQ(console_safe(row.name), row.console) << row.name;
  }
}
