#include "export/format.h"

#include <gtest/gtest.h>

#include <limits>

TEST(Float2string, WritesGeneralNotationWithSixDigits) {
  const std::pair<float, const char*> cases[] = {
      {25.0f, "25"},       {29.97f, "29.97"},         {0.5f, "0.5"},       {308.5f, "308.5"},
      {48000.0f, "48000"}, {1234567.0f, "1.23457e+06"}, {1000000.0f, "1e+06"}, {0.00001f, "1e-05"},
      {4.0f, "4"},         {105.0f, "105"},           {206.0f, "206"},     {999999.0f, "999999"},
      {-1.25f, "-1.25"},   {0.0f, "0"},               {299.7f, "299.7"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(float2string(value), text) << value;
}

TEST(Float2string, NonFiniteValuesReadAsTheLibraryPrintsThem) {
  EXPECT_EQ(float2string(std::numeric_limits<float>::infinity()), "inf");
  EXPECT_EQ(float2string(-std::numeric_limits<float>::infinity()), "-inf");
}

TEST(Urito, EscapesTheFourteenCharactersOnly) {
  EXPECT_EQ(urito("/a b/c:d.mov"), "file://localhost//a%20b/c%3Ad.mov");
  EXPECT_EQ(urito("/Users/editor/My Clips/take 1.mov"),
            "file://localhost//Users/editor/My%20Clips/take%201.mov");
  EXPECT_EQ(urito("/x/100%.wav"), "file://localhost//x/100%25.wav");
  EXPECT_EQ(urito("C:\\clips\\x.mov"), "file://localhost/C%3A/clips/x.mov");
  EXPECT_EQ(urito("/q\"u,o.mov"), "file://localhost//q%22u%2Co.mov");
  EXPECT_EQ(urito("/!#$&'()*+"), "file://localhost//%21%23%24%26%27%28%29%2A%2B");
  EXPECT_EQ(urito("/?@[];=\xc4\x8d.mov"), "file://localhost//?@[];=\xc4\x8d.mov");
  EXPECT_EQ(urito(""), "file://localhost/");
}

TEST(Correctxmlname, KeepsTheLastPathComponent) {
  EXPECT_EQ(correctxmlname("/Users/editor/take 1.mov"), "take 1.mov");
  EXPECT_EQ(correctxmlname("/x.wav"), "x.wav");
  EXPECT_EQ(correctxmlname("x.wav"), "x.wav");
  EXPECT_EQ(correctxmlname("/folder/"), "");
  EXPECT_EQ(correctxmlname(""), "");
}

TEST(XmlEscape, EscapesOnlyAmpersandAndAngleBrackets) {
  EXPECT_EQ(xml_escape("a&b<c>d\"e'f \xc3\xbc"), "a&amp;b&lt;c&gt;d\"e'f \xc3\xbc");
}
