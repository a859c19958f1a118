#pragma once
// Which file names are media: the extensions cameras, phones and recorders write, and
// which of them hold sound only. The window's pickers, drops and list badges and the
// documents' clip shapes all read this one list.

#include <algorithm>
#include <iterator>
#include <string_view>

struct MediaExtension {
  std::string_view name;  // lower case, without the dot
  bool sound_only;        // a recording without picture
  // The interchange documents give such a clip an audio section. Only these two count,
  // and only spelled all lower or all upper case: "Mp3" and "aiff" are placed as video.
  bool audio_in_documents;
};

inline constexpr MediaExtension kMediaExtensions[] = {
    {"wav", true, true},    {"mp3", true, true},    {"m4a", true, false},  {"aac", true, false},
    {"flac", true, false},  {"aif", true, false},   {"aiff", true, false}, {"ogg", true, false},
    {"opus", true, false},  {"mov", false, false},  {"mp4", false, false}, {"m4v", false, false},
    {"mts", false, false},  {"m2ts", false, false}, {"avi", false, false}, {"mkv", false, false},
    {"mxf", false, false},  {"dv", false, false},   {"mpg", false, false}, {"mpeg", false, false},
    {"wmv", false, false},  {"3gp", false, false},  {"webm", false, false}};

// The documents' sound files proper: their clips carry no video fragment at all.
inline constexpr std::string_view kWavExtension = "wav";

// True when `text` ends in `extension` (lower case, no dot) spelled all lower or all
// upper case; no dot is required before it.
constexpr bool ends_in_either_case(std::string_view text, std::string_view extension) {
  if (text.size() < extension.size()) return false;
  const std::string_view tail = text.substr(text.size() - extension.size());
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return tail == extension || std::equal(tail.begin(), tail.end(), extension.begin(),
                                         [&](char t, char e) { return t == upper(e); });
}

// The entry of `name`'s extension (after the last dot of its last component, in any
// letter case); nullptr when it is none of the list's.
constexpr const MediaExtension* media_extension(std::string_view name) {
  const std::size_t slash = name.find_last_of("/\\");
  const std::string_view file = slash == std::string_view::npos ? name : name.substr(slash + 1);
  const std::size_t dot = file.rfind('.');
  if (dot == std::string_view::npos) return nullptr;
  const std::string_view extension = file.substr(dot + 1);
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  const auto found = std::find_if(std::begin(kMediaExtensions), std::end(kMediaExtensions),
                                  [&](const MediaExtension& e) {
                                    return std::equal(extension.begin(), extension.end(), e.name.begin(),
                                                      e.name.end(),
                                                      [&](char x, char y) { return lower(x) == y; });
                                  });
  return found == std::end(kMediaExtensions) ? nullptr : found;
}

constexpr bool is_media_name(std::string_view name) { return media_extension(name) != nullptr; }

constexpr bool is_sound_only_name(std::string_view name) {
  const MediaExtension* e = media_extension(name);
  return e && e->sound_only;
}
