#include "core/format.h"

#include "core/log.h"

#include <cctype>
#include <charconv>
#include <locale>
#include <ostream>
#include <sstream>
#include <string_view>

namespace {

constexpr const char* kUrlPrefix = "file://localhost/";

// Searched in this order; the first row that matches wins.
struct UrlEscape {
  char character;
  const char* escape;
};
constexpr UrlEscape kUrlEscapes[] = {
    {'!', "%21"}, {' ', "%20"}, {':', "%3A"}, {'"', "%22"}, {'#', "%23"},
    {'$', "%24"}, {'%', "%25"}, {'&', "%26"}, {'\'', "%27"}, {'(', "%28"},
    {')', "%29"}, {'*', "%2A"}, {'+', "%2B"}, {',', "%2C"},
};

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
constexpr const char* kHexDigits = "0123456789ABCDEF";
constexpr const char* kLowerHexDigits = "0123456789abcdef";

// A code point, or kNotUtf8 for bytes that do not form one.
constexpr char32_t kNotUtf8 = 0xFFFFFFFF;

struct Utf8Char {
  std::size_t length;
  char32_t code;
};

// The character at text[pos]. Bytes that do not form one count as the longest start of
// a well-formed sequence found there (at least one byte), so a cut-off sequence is
// replaced once and the byte that cut it off is read again on its own.
Utf8Char next_char(std::string_view text, std::size_t pos) {
  const auto byte = [&text](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) return {1, lead};
  std::size_t length = 0;
  char32_t code = 0;
  // Narrower second bytes rule out overlong forms, surrogates and code points above U+10FFFF.
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {1, kNotUtf8};
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (pos + k >= text.size()) return {k, kNotUtf8};
    const unsigned char b = byte(pos + k);
    if (b < low || b > high) return {k, kNotUtf8};
    code = (code << 6) | (b & 0x3Fu);
    low = 0x80;
    high = 0xBF;
  }
  return {length, code};
}

bool is_control(char32_t code) { return code < 0x20 || code == 0x7F; }

bool xml_can_hold(char32_t code) {
  return code != kNotUtf8 && !is_control(code) && code != 0xFFFE && code != 0xFFFF;
}

// C1 controls are escape sequences to a terminal even when they arrive as UTF-8.
bool terminal_can_show(char32_t code) {
  return code != kNotUtf8 && !is_control(code) && !(code >= 0x80 && code <= 0x9F);
}

void append_escaped(std::string& out, std::string_view bytes, const char* prefix,
                    const char* digits) {
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += prefix;
    out += digits[b >> 4];
    out += digits[b & 0x0F];
  }
}

}  // namespace

std::string float2string(float value) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << static_cast<double>(value);
  return out.str();
}

float framerate_number(const std::string& text) {
  const char* first = text.data();
  const char* last = first + text.size();
  while (first != last && (*first == ' ' || *first == '\t')) ++first;
  double value = 0.0;
  if (std::from_chars(first, last, value).ec != std::errc{}) return 0.0f;
  return static_cast<float>(value);
}

std::string urito(std::string path) {
  std::string result;
  result.reserve(path.size() + 16);
  for (std::size_t pos = 0; pos < path.size();) {
    const Utf8Char ch = next_char(path, pos);
    const std::string_view bytes(path.data() + pos, ch.length);
    pos += ch.length;
    if (!xml_can_hold(ch.code)) {
      append_escaped(result, bytes, "%", kHexDigits);
      continue;
    }
    if (ch.length > 1) {
      result += bytes;
      continue;
    }
    const char c = bytes[0] == '\\' ? '/' : bytes[0];
    const char* escape = nullptr;
    for (const UrlEscape& row : kUrlEscapes) {
      if (row.character == c) {
        escape = row.escape;
        break;
      }
    }
    if (escape)
      result += escape;
    else
      result += c;
  }
  return kUrlPrefix + result;
}

std::string lower_case(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string file_name(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string correctxmlname(std::string path) {
  std::string name = file_name(path);
  // Console trace: every inspected character, then the result.
  std::ostream& out = console();
  for (char c : console_safe(path)) out << c << '\n';
  out << console_safe(name) << '\n';
  return name;
}

std::string xml_text(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const Utf8Char ch = next_char(text, pos);
    if (xml_can_hold(ch.code))
      out.append(text, pos, ch.length);
    else
      out += kReplacement;
    pos += ch.length;
  }
  return out;
}

std::string xml_escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : xml_text(text)) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string console_safe(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const Utf8Char ch = next_char(text, pos);
    const std::string_view bytes(text.data() + pos, ch.length);
    if (terminal_can_show(ch.code))
      out += bytes;
    else
      append_escaped(out, bytes, "\\x", kLowerHexDigits);
    pos += ch.length;
  }
  return out;
}

std::string xml_attribute(const std::string& text) {
  std::string out;
  for (const char c : xml_escape(text)) {
    if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

std::string fixed_text(double value, int decimals) {
  // Room for any double in fixed notation at the few decimals the documents and logs use.
  char buffer[384];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc{}) return "?";
  return std::string(buffer, result.ptr);
}

double no_negative_zero(double value, int decimals) {
  return fixed_text(value, decimals).find_first_not_of("-0.") == std::string::npos ? 0.0 : value;
}
