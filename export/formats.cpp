#include "export/formats.h"

#include "core/files.h"
#include "core/log.h"
#include "export/fcp_merged.h"
#include "export/fcp_project.h"
#include "export/fcpxml.h"
#include "export/mlt.h"
#include "export/otio.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

namespace {

constexpr std::string_view kFinalCutPro7 = "Final Cut Pro 7, DaVinci Resolve";
constexpr std::string_view kPremierePro = "Premiere Pro";
constexpr std::string_view kOpenTimelineIO = "DaVinci Resolve, OpenTimelineIO tools";
constexpr std::string_view kMlt = "Shotcut, melt";
constexpr std::string_view kKdenlive = "Kdenlive";
constexpr std::string_view kFcpxml = "Final Cut Pro 10/11, DaVinci Resolve";

// Timeline names inside the newer documents, and the FCPXML event that holds them.
constexpr const char* kSyncedName = "SYNCED";
constexpr const char* kUnsyncedName = "UNSYNCED";
constexpr const char* kEventName = "Brenvik";

std::vector<std::string> xmeml_texts(const ExportInput& in, const ExportSettings& s) {
  const ProjectDocuments docs = build_documents(in.timeline, s.fps, s.width, s.height, s.premiere);
  return {docs.synced_fcp, docs.unsynced_fcp, docs.synced_pp, docs.unsynced_pp};
}

std::vector<std::string> merged_texts(const ExportInput& in, const ExportSettings& s) {
  MergedDocuments docs = merged_documents(in.groups, s.fps, s.width, s.height, s.premiere);
  return {std::move(docs.fcp), std::move(docs.premiere)};
}

std::vector<std::string> otio_texts(const ExportInput& in, const ExportSettings& s) {
  return {otio_document(in.groups, s.rate, kSyncedName),
          otio_document({in.unsynced}, s.rate, kUnsyncedName)};
}

std::vector<std::string> fcpxml_texts(const ExportInput& in, const ExportSettings& s) {
  return {fcpxml_document(in.groups, s.rate, s.width, s.height, kEventName, true),
          fcpxml_document({in.unsynced}, s.rate, s.width, s.height, kEventName)};
}

// An MLT document, and so a Kdenlive project, holds one timeline: one per group, then
// the unsynced files'.
template <std::string (*Document)(const GroupLayout&, ExactRate, int, int)>
std::vector<std::string> one_per_group(const ExportInput& in, const ExportSettings& s) {
  std::vector<std::string> texts;
  for (const GroupLayout& group : in.groups) texts.push_back(Document(group, s.rate, s.width, s.height));
  texts.push_back(Document(in.unsynced, s.rate, s.width, s.height));
  return texts;
}

// The stem and the suffix of a first group's document: "SYNCED" and ".mlt".
std::pair<std::string_view, std::string_view> stem_and_suffix(std::string_view first) {
  const std::size_t dot = std::min(first.rfind('.'), first.size());
  return {first.substr(0, dot), first.substr(dot)};
}

// "SYNCED-3.mlt" for group 3 of the format whose first group's document is "SYNCED.mlt".
std::string further_name(std::string_view first, std::size_t group) {
  const auto [stem, suffix] = stem_and_suffix(first);
  return std::string(stem) + "-" + std::to_string(group) + std::string(suffix);
}

// Whether `name` is a further document ("SYNCED-<k>.mlt", k >= 2, no leading zero) of the
// format whose first group's document is `first`: a run with fewer groups than the one
// before removes those it did not write, and leaves names that only look like one alone.
bool is_further_name(std::string_view name, std::string_view first) {
  const auto [stem, suffix] = stem_and_suffix(first);
  const std::size_t prefix = stem.size() + 1;
  if (name.size() <= prefix + suffix.size() || !name.starts_with(stem) || name[stem.size()] != '-' ||
      !name.ends_with(suffix))
    return false;
  const std::string_view number = name.substr(prefix, name.size() - prefix - suffix.size());
  if (!std::all_of(number.begin(), number.end(),
                   [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return false;
  return number.front() != '0' && number != "1";
}

}  // namespace

ExportSettings export_settings(float fps, int width, int height, int premiere) {
  return {fps, exact_rate(fps), width, height, premiere};
}

ExportInput export_input(const Timeline& timeline) {
  return {timeline, layout_groups(timeline), layout_unsynced(timeline)};
}

const std::vector<TimelineFormat>& timeline_formats() {
  static const std::vector<TimelineFormat> formats = {
      {"Final Cut Pro 7 XML (xmeml 4), for Final Cut Pro and in Premiere Pro's flavour",
       {{"SYNCED_fcp.XML", kFinalCutPro7},
        {"UNSYNCED_fcp.XML", kFinalCutPro7},
        {"SYNCED_premierePro.XML", kPremierePro},
        {"UNSYNCED_premierePro.XML", kPremierePro}},
       false,
       xmeml_texts},
      {"OpenTimelineIO", {{"SYNCED.otio", kOpenTimelineIO}, {"UNSYNCED.otio", kOpenTimelineIO}},
       false, otio_texts},
      {"FCPXML 1.9", {{"SYNCED.fcpxml", kFcpxml}, {"UNSYNCED.fcpxml", kFcpxml}}, false,
       fcpxml_texts},
      {"MLT", {{"SYNCED.mlt", kMlt}, {"UNSYNCED.mlt", kMlt}}, true, one_per_group<mlt_document>},
      {"Kdenlive", {{"SYNCED.kdenlive", kKdenlive}, {"UNSYNCED.kdenlive", kKdenlive}}, true,
       one_per_group<kdenlive_document>},
      // Synced files only, so the pair is one per flavour.
      {"Final Cut Pro 7 XML ready to cut: pictures linked with the main sound",
       {{"SYNCED_merged_fcp.XML", kFinalCutPro7}, {"SYNCED_merged_premierePro.XML", kPremierePro}},
       false,
       merged_texts},
  };
  return formats;
}

std::vector<Document> timeline_documents(const Timeline& timeline, const ExportSettings& settings) {
  const Timeline clips = from_media_starts(timeline);
  const ExportInput input = export_input(clips);
  std::vector<Document> documents;
  for (const TimelineFormat& format : timeline_formats()) {
    std::vector<std::string> texts = format.write(input, settings);
    if (!format.one_per_group) {
      for (std::size_t k = 0; k < texts.size() && k < format.documents.size(); ++k)
        documents.push_back({std::string(format.documents[k].name), std::move(texts[k])});
      continue;
    }
    for (std::size_t g = 0; g + 1 < texts.size(); ++g)
      documents.push_back({g == 0 ? std::string(format.documents[0].name)
                                  : further_name(format.documents[0].name, g + 1),
                           std::move(texts[g])});
    documents.push_back({std::string(format.documents[1].name), std::move(texts.back())});
  }
  return documents;
}

std::vector<std::string> write_documents(const std::vector<Document>& documents,
                                         const std::string& folder) {
  std::vector<std::pair<std::string, const std::string*>> files;
  std::set<std::string> names;
  for (const Document& document : documents) {
    files.emplace_back(folder + "/" + document.name, &document.text);
    names.insert(document.name);
  }
  write_files_atomically(files);

  // A further group's document left by an earlier run would be taken for this run's.
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (names.count(name) != 0) continue;
    for (const TimelineFormat& format : timeline_formats()) {
      if (!format.one_per_group || !is_further_name(name, format.documents[0].name)) continue;
      std::filesystem::remove(entry.path(), error);
      if (error) logthis("could not remove the earlier " + name + ": " + error.message());
    }
  }

  std::vector<std::string> written;
  for (const auto& file : files) written.push_back(absolute_path(file.first));
  return written;
}

bool is_document_name(std::string_view name) { return !applications_for(name).empty(); }

std::string applications_for(std::string_view name) {
  for (const TimelineFormat& format : timeline_formats())
    for (const DocumentName& document : format.documents)
      if (name == document.name ||
          (format.one_per_group && is_further_name(name, document.name)))
        return std::string(document.applications);
  return {};
}

const std::vector<Editor>& editors() {
  // Final Cut Pro since 10 and Resolve read FCPXML with its media times whole; Resolve's
  // other two imports drop the timecodes or the clips' sound offsets.
  static const std::vector<Editor> list = {
      {"finalcut", "Final Cut Pro", "SYNCED.fcpxml"},
      {"premiere", "Premiere Pro", "SYNCED_premierePro.XML"},
      {"resolve", "DaVinci Resolve", "SYNCED.fcpxml"},
      {"kdenlive", "Kdenlive", "SYNCED.kdenlive"},
      {"shotcut", "Shotcut", "SYNCED.mlt"},
      {"other", "Other", ""},
  };
  return list;
}

const Editor* find_editor(std::string_view key_or_name) {
  const auto same = [](std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
  };
  for (const Editor& editor : editors())
    if (same(key_or_name, editor.key) || same(key_or_name, editor.name)) return &editor;
  return nullptr;
}

bool opens_in(const Editor& editor, std::string_view name) {
  if (editor.document.empty()) return false;
  return name == editor.document || is_further_name(name, editor.document);
}

std::string earlier_run_time(const std::string& folder) {
  std::error_code error;
  auto latest = std::filesystem::file_time_type::min();
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    if (entry.is_regular_file(error) && is_document_name(entry.path().filename().string()))
      latest = std::max(latest, entry.last_write_time(error));
  if (latest == std::filesystem::file_time_type::min()) return {};
  const std::time_t when = std::chrono::system_clock::to_time_t(
      std::chrono::file_clock::to_sys(latest));
  const std::time_t now = std::time(nullptr);
  std::tm then_tm{}, now_tm{};
  localtime_r(&when, &then_tm);
  localtime_r(&now, &now_tm);
  const bool today = then_tm.tm_year == now_tm.tm_year && then_tm.tm_yday == now_tm.tm_yday;
  char text[32];
  std::strftime(text, sizeof text, today ? "%H:%M" : "%Y-%m-%d %H:%M", &then_tm);
  return text;
}
