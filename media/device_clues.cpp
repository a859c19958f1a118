#include "media/device_clues.h"

#include "core/format.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <regex>
#include <string_view>

namespace {

// Makers whose name heads the handler names and encoder strings of their files ("GoPro
// AVC", "DJI.AVC") where no maker tag says it.
constexpr std::array<std::string_view, 14> kMakers = {
    "GoPro", "DJI", "Insta360", "Canon", "Nikon", "Panasonic", "Sony", "FUJIFILM",
    "Blackmagic", "ZOOM", "TASCAM", "Olympus", "Ricoh", "Blackvue"};

// A serial number shorter than this, or one character over and over ("0000"), is a
// placeholder a firmware writes for every unit.
constexpr std::size_t kShortestSerial = 4;

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool starts_with_word(const std::string& text, std::string_view word) {
  if (text.size() < word.size() || lower_case(text.substr(0, word.size())) != lower_case(std::string(word))) return false;
  return text.size() == word.size() || !std::isalnum(static_cast<unsigned char>(text[word.size()]));
}

// The libraries' own names in the tags of what they write: a converter, not a device.
bool library_name(const std::string& value) {
  return value.rfind("Lav", 0) == 0 || starts_with_word(value, "HandBrake");
}

bool plausible_serial(const std::string& serial) {
  if (serial.size() < kShortestSerial) return false;
  return std::any_of(serial.begin(), serial.end(), [&](char c) { return c != serial.front(); });
}

// Days from 1970-01-01 to a civil date of the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

const std::string* find_tag(const std::vector<MediaTag>& tags, std::string_view key) {
  for (const MediaTag& t : tags)
    if (lower_case(t.key) == key && !trimmed(t.value).empty()) return &t.value;
  return nullptr;
}

}  // namespace

std::string DeviceClues::name() const {
  if (model.empty()) return make;
  if (make.empty() || lower_case(model).rfind(lower_case(make), 0) == 0) return model;
  return make + " " + model;
}

double creation_seconds(const std::string& text) {
  static const std::regex form(
      R"(\s*(\d{4})-(\d\d)-(\d\d)[T ](\d\d):(\d\d):(\d\d)(\.\d+)?\s*(Z|[+-]\d\d:?\d\d)?\s*)");
  std::smatch m;
  if (!std::regex_match(text, m, form)) return kNoCreationTime;
  const auto number = [&](int k) { return std::stoi(m[k].str()); };
  const int month = number(2), day = number(3), hour = number(4), minute = number(5), second = number(6);
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return kNoCreationTime;
  double s = static_cast<double>(days_from_civil(number(1), static_cast<unsigned>(month),
                                                 static_cast<unsigned>(day))) * 86400.0 +
             hour * 3600.0 + minute * 60.0 + second;
  if (m[7].matched) s += std::stod("0" + m[7].str());
  if (m[8].matched && m[8].str() != "Z") {
    std::string zone = m[8].str();
    zone.erase(std::remove(zone.begin(), zone.end(), ':'), zone.end());
    const int minutes = std::stoi(zone.substr(1, 2)) * 60 + std::stoi(zone.substr(3, 2));
    s -= (zone[0] == '-' ? -1.0 : 1.0) * minutes * 60.0;
  }
  // A muxer that was given no time writes its epoch's start, which no recording has.
  return s > 0.0 ? s : kNoCreationTime;
}

void read_device_tags(const std::vector<MediaTag>& tags, DeviceClues& clues) {
  for (std::string_view key : {"com.apple.quicktime.make", "make", "com.android.manufacturer", "manufacturer"})
    if (const std::string* v = find_tag(tags, key); v && clues.make.empty()) clues.make = trimmed(*v);
  for (std::string_view key : {"com.apple.quicktime.model", "model", "com.android.model"})
    if (const std::string* v = find_tag(tags, key); v && clues.model.empty()) clues.model = trimmed(*v);
  // A Broadcast WAV's originator names the recorder ("ZOOM H6") where nothing else does.
  if (const std::string* v = find_tag(tags, "encoded_by");
      v && clues.make.empty() && clues.model.empty() && !library_name(*v)) {
    const std::string originator = trimmed(*v);
    const auto space = originator.find(' ');
    clues.make = originator.substr(0, space);
    if (space != std::string::npos) clues.model = trimmed(originator.substr(space + 1));
  }
  for (const MediaTag& t : tags) {
    if (lower_case(t.key).find("serial") == std::string::npos) continue;
    const std::string serial = trimmed(t.value);
    if (clues.serial.empty() && plausible_serial(serial)) clues.serial = serial;
  }
  for (const MediaTag& t : tags) {
    const std::string key = lower_case(t.key);
    if (!clues.make.empty()) break;
    if (key != "handler_name" && key != "encoder" && key != "firmware" && key != "software") continue;
    for (std::string_view maker : kMakers)
      if (starts_with_word(trimmed(t.value), maker)) clues.make = std::string(maker);
  }
  // The capture time a phone writes, with its zone, before the container's, which an
  // editing application may have rewritten; a Broadcast WAV keeps date and time apart.
  if (const std::string* v = find_tag(tags, "com.apple.quicktime.creationdate")) clues.created = creation_seconds(*v);
  if (clues.created_known()) return;
  const std::string* at = find_tag(tags, "creation_time");
  if (at) clues.created = creation_seconds(*at);
  if (const std::string* date = find_tag(tags, "date"); at && !clues.created_known() && date)
    clues.created = creation_seconds(trimmed(*date) + "T" + trimmed(*at));
}

FileNumbering file_numbering(const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path p(path);
  const std::string stem = p.stem().string();
  FileNumbering out;
  out.folder = p.parent_path().lexically_normal().string();
  std::smatch m;
  static const std::regex gopro(R"((G[HXL]|GP)(\d\d)(\d{4}))", std::regex::icase);
  static const std::regex gopro_first(R"(GOPR(\d{4}))", std::regex::icase);
  static const std::regex dji_dated(R"((DJI_)\d{14}_(\d{4})(_[A-Z])?)", std::regex::icase);
  static const std::regex phone(R"((IMG_|VID_|PXL_|MOV_)(\d+)(_\d+)*|(\d{8})_(\d{6}))", std::regex::icase);
  static const std::regex take_track(R"((.*\d{3,})_([A-Za-z]{1,4}\d{0,2}))");
  static const std::regex numbered(R"((.*[^0-9])?(\d{3,}))");
  std::string base = stem;
  if (std::regex_match(stem, m, take_track)) {
    base = m[1].str();
    out.track = m[2].str();
  }
  if (std::regex_match(base, m, gopro)) {
    out.scheme = "GP";
    out.chapter = std::stoi(m[2].str());
    out.number = std::stol(m[3].str());
  } else if (std::regex_match(base, m, gopro_first)) {
    out.scheme = "GP";
    out.number = std::stol(m[1].str());
  } else if (std::regex_match(base, m, dji_dated)) {
    out.scheme = "DJI_";
    out.number = std::stol(m[2].str());
  } else if (std::regex_match(base, m, phone)) {
    out.phone = true;
    out.scheme = m[1].matched ? m[1].str() : "date";
    if (m[2].matched && m[2].length() < 10) out.number = std::stol(m[2].str());
  } else if (std::regex_match(base, m, numbered) && (m[1].matched || m[2].length() >= 4) &&
             m[2].length() < 10) {
    out.scheme = m[1].str();
    out.number = std::stol(m[2].str());
  } else {
    out.track.clear();
    return out;
  }
  // A recorder that gives every take a folder of its own (ZOOM0001/ZOOM0001_LR.WAV).
  if (p.parent_path().filename().string() == base) out.folder = p.parent_path().parent_path().lexically_normal().string();
  return out;
}
