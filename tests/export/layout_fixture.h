#pragma once
// Hand-made timelines for the tests of the newer timeline documents.

#include "core/log.h"
#include "export/timeline_layout.h"

#include <gtest/gtest.h>

#include <sstream>

inline TimelineMember member(int entry, int device, const std::string& path, double start, double length,
                             float rate, int placed_by = -1, double drift_ppm = 0.0, bool refined = false) {
  TimelineMember m;
  m.entry = entry;
  m.path = path;
  m.device = device;
  m.frame_rate = rate;
  m.start = m.exact_start = start;
  m.length = length;
  m.placed_by = placed_by;
  m.drift_ppm = drift_ppm;
  m.refined = refined;
  return m;
}

inline Timeline group(std::vector<TimelineMember> members) {
  Timeline t;
  t.groups.push_back({std::move(members), {}, {}});
  return t;
}

// Camera A (two files one after another, the second starting 0.5 ms before the first
// ends), camera B and a recorder without video, placed below the frame; B placed by A, the
// recorder by B, on a second look; the recorder's clock runs fast and the timelines play
// its drift-corrected copy. One loose file.
inline Timeline event() {
  Timeline t = group({member(0, 0, "/media/cam a.mov", 0.0, 60.5, 29.97f),
                      member(1, 0, "/media/cam a 2.mov", 60.4995, 30.25, 29.97f),
                      member(2, 2, "/media/cam b.mov", 12.3456789, 45.125, 29.97f, 0),
                      member(3, 3, "/media/zoom h4.wav", 3.14159265, 100.123456, 999.0f, 2, 3.2, true)});
  t.groups[0].members[3].second_look = true;
  t.groups[0].members[2].rate_ppm = -12.5;
  t.groups[0].members[3].rate_ppm = 40.0;
  t.groups[0].members[3].corrected = "/out/corrected/zoom h4.wav";
  t.unsynced = {member(4, 4, "/media/loose.mov", 0.0, 7.0, 25.0f)};
  return t;
}

// The groups' layouts, then the unsynced files' when asked, the console trace kept quiet.
inline std::vector<GroupLayout> layouts(const Timeline& t, bool with_unsynced = false) {
  std::ostringstream trace;
  ConsoleCapture quiet(trace);
  std::vector<GroupLayout> out = layout_groups(t);
  if (with_unsynced) out.push_back(layout_unsynced(t));
  return out;
}
