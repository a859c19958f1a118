#pragma once
// Every kind of timeline document a run writes, in one table: the files each format
// writes, the applications that open them, and its writer. The documents list of both
// front ends, the clean-up of an earlier run's documents and the writing all read the
// table, so a new format is one writer and one row (formats.cpp).

#include "core/results.h"
#include "export/timeline_layout.h"

#include <string>
#include <string_view>
#include <vector>

// What the user chose of every document: the sequence rate, the frame size and the
// Premiere flavour.
struct ExportSettings {
  float fps = 25.0f;  // sequence frame rate as given, frames per second
  ExactRate rate;     // the same rate as an exact ratio
  int width = 1920;   // sequence frame width, pixels
  int height = 1080;  // sequence frame height, pixels
  int premiere = 0;   // 1: Premiere Pro sequence attributes
};
ExportSettings export_settings(float fps, int width, int height, int premiere);

// What every writer is handed: the timeline and its layouts.
struct ExportInput {
  const Timeline& timeline;
  std::vector<GroupLayout> groups;  // layout_groups(timeline)
  GroupLayout unsynced;             // layout_unsynced(timeline)
};
ExportInput export_input(const Timeline& timeline);

struct DocumentName {
  std::string_view name;          // "SYNCED.otio"
  std::string_view applications;  // "DaVinci Resolve, OpenTimelineIO tools"
};

struct TimelineFormat {
  std::string_view title;
  // The documents' names: in pairs of synced, then unsynced (one pair per flavour), or
  // one synced document per flavour for a format of the synced files alone.
  std::vector<DocumentName> documents;
  // One document per sync group: the first group's takes the synced name, group k the
  // further name ("SYNCED-2.mlt"); the unsynced files take the unsynced name.
  bool one_per_group = false;
  // The texts in the order of `documents`; for one_per_group, one per group, then the
  // unsynced one.
  std::vector<std::string> (*write)(const ExportInput& input, const ExportSettings& settings) = nullptr;
};

// The formats in the order their documents are written and listed.
const std::vector<TimelineFormat>& timeline_formats();

struct Document {
  std::string name;  // file name in the output folder
  std::string text;
};

// Every document of every format for `timeline`, named, in table order.
std::vector<Document> timeline_documents(const Timeline& timeline, const ExportSettings& settings);

// Writes `documents` in `folder` together: all are replaced, or, when one cannot be
// written, none is and std::runtime_error says why. Further documents of a one-per-group
// format left by an earlier run with more groups are removed. Returns the paths written.
std::vector<std::string> write_documents(const std::vector<Document>& documents,
                                         const std::string& folder);

// Whether `name` is a document some format writes, further ones ("SYNCED-2.mlt") included.
bool is_document_name(std::string_view name);

// The applications that open the document `name` ("SYNCED.otio" → "DaVinci Resolve,
// OpenTimelineIO tools"); empty for a name that is none of ours.
std::string applications_for(std::string_view name);

// An editing application the user edits in, and the synced document that opens best in
// it (for a one-per-group format, the first group's; "" for Other: no one document).
struct Editor {
  std::string_view key;       // as brenvik-sync --editor and the settings take it: "resolve"
  std::string_view name;      // "DaVinci Resolve"
  std::string_view document;  // "SYNCED.fcpxml"
};

// Final Cut Pro, Premiere Pro, DaVinci Resolve, Kdenlive, Shotcut, Other, in that order.
const std::vector<Editor>& editors();

// The editor by its key or its name, any case ("resolve", "DaVinci Resolve"); null for
// none of them.
const Editor* find_editor(std::string_view key_or_name);

// Whether `name` is the editor's document, a further group's one included ("SYNCED-2.mlt").
bool opens_in(const Editor& editor, std::string_view name);

// When an earlier run wrote the documents in `folder`, local time: "14:02" today,
// "2026-12-08 14:02" another day; empty when the folder holds none of ours.
std::string earlier_run_time(const std::string& folder);
