#pragma once
// What a recording says of the device that made it: maker, model and serial number in its
// tags, when it began, how it was recorded, and the numbering in its name.

#include <cmath>
#include <limits>
#include <string>
#include <vector>

// A time no file gave.
inline constexpr double kNoCreationTime = std::numeric_limits<double>::quiet_NaN();

struct DeviceClues {
  std::string make;    // "Sony"; empty when nothing names it
  std::string model;   // "ILCE-7M3"
  std::string serial;  // the unit's own number; empty when none, or one no unit could have
  // Seconds since 1970 of the recording's start: UTC where the file gives a zone, else the
  // device's own clock read as UTC; kNoCreationTime when the file gives none.
  double created = kNoCreationTime;
  double duration_s = 0.0;  // the container's length; 0 when it does not say
  // Codecs, picture size and rate, sound rate: equal for files recorded with one setting.
  // The channels are left out, since a recorder's stereo mix and its mono tracks are one take.
  std::string format;

  // "Sony ILCE-7M3", the model alone where it names its maker already; "" when neither.
  std::string name() const;
  bool created_known() const { return !std::isnan(created); }
};

// One tag of the container or of one of its streams, as the container reader names it.
struct MediaTag {
  std::string key;
  std::string value;
};

// The maker, model, serial number and creation time that `tags` give (the container's
// first, then its streams'): QuickTime's and Android's maker keys, a Broadcast WAV's
// originator, a maker's name heading a handler name or an encoder string; the
// libraries' own names (a file written by a converter) name no device.
void read_device_tags(const std::vector<MediaTag>& tags, DeviceClues& clues);

// "2024-06-01T14:03:00.000000Z", "2024-06-01T16:03:00+0200", "2024-06-01 14:03:00" as
// seconds since 1970; kNoCreationTime for text that is none.
double creation_seconds(const std::string& text);

// The numbering a device gives the files it records, read from the name and its folder.
struct FileNumbering {
  // The letters before the number as the device writes them ("C", "GX", "MVI_", "DJI_",
  // "ZOOM"); empty when the name carries no numbering.
  std::string scheme;
  long number = -1;      // the recording's number
  int chapter = 0;       // the part of one long recording (a GoPro's 01, 02, …)
  std::string track;     // a recorder's track of the take ("LR", "Tr1"); empty for the take itself
  // Every phone of a maker names its files alike (IMG_1234), so the name tells phones apart no more
  // than the model does.
  bool phone = false;
  // The folder the device's files share: a take's own folder (ZOOM0001/) counts as its parent.
  std::string folder;

  bool numbered() const { return !scheme.empty() || number >= 0; }
};

FileNumbering file_numbering(const std::string& path);
