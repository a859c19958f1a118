#include "core/format.h"

#include "core/log.h"

#include <charconv>
#include <locale>
#include <ostream>
#include <sstream>

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
  for (char c : path) {
    if (c == '\\') c = '/';
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

std::string correctxmlname(std::string path) {
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // Console trace: every inspected character, then the result.
  std::ostream& out = console();
  for (char c : path) out << c << '\n';
  out << name << '\n';
  return name;
}

std::string xml_escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}
