#include "export/otio.h"

#include "tests/export/layout_fixture.h"

#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

double seconds(const json& time) {
  EXPECT_EQ(time.at("OTIO_SCHEMA"), "RationalTime.1");
  EXPECT_TRUE(time.at("value").is_number_float() && time.at("rate").is_number_float()) << time;
  return time.at("value").get<double>() / time.at("rate").get<double>();
}

// The clips of a track, each with its place: the durations of the items before it.
std::vector<std::pair<json, double>> placed_clips(const json& track) {
  std::vector<std::pair<json, double>> out;
  double at = 0.0;
  for (const json& item : track.at("children")) {
    if (item.at("OTIO_SCHEMA") == "Clip.2") out.emplace_back(item, at);
    at += seconds(item["source_range"].at("duration"));
  }
  return out;
}

void expect_item(const json& item, const char* schema) {
  EXPECT_EQ(item.at("OTIO_SCHEMA"), schema);
  for (const char* field : {"metadata", "name", "source_range", "effects", "markers", "enabled"})
    EXPECT_TRUE(item.contains(field)) << field << " in " << item;
}

}  // namespace

TEST(Otio, PublishedSchemasAndEveryClipAtItsExactPlace) {
  const Timeline t = event();
  const std::vector<TimelineMember>& members = t.groups[0].members;
  const json doc = json::parse(otio_document(layouts(t, true), exact_rate(29.97), "SYNCED"));
  EXPECT_EQ(doc.at("OTIO_SCHEMA"), "SerializableCollection.1");
  ASSERT_EQ(doc.at("children").size(), 2u);
  EXPECT_EQ(doc["children"][1].at("name"), "Unsynced");
  const json& timeline = doc["children"][0];
  EXPECT_EQ(timeline.at("OTIO_SCHEMA"), "Timeline.1");
  EXPECT_EQ(timeline.at("name"), "Sync group 1");
  EXPECT_EQ(seconds(timeline.at("global_start_time")), 0.0);
  expect_item(timeline.at("tracks"), "Stack.1");
  const json& tracks = timeline["tracks"]["children"];
  ASSERT_EQ(tracks.size(), 5u);  // video: cam a, cam b; audio: cam a, cam b, recorder
  for (std::size_t k = 0; k < tracks.size(); ++k) {
    const bool video = k < 2;
    expect_item(tracks[k], "Track.1");
    EXPECT_TRUE(tracks[k].at("source_range").is_null());
    EXPECT_EQ(tracks[k].at("kind"), video ? "Video" : "Audio");
    for (const json& item : tracks[k].at("children")) {
      expect_item(item, item.at("OTIO_SCHEMA") == "Gap.1" ? "Gap.1" : "Clip.2");
      EXPECT_DOUBLE_EQ(item["source_range"]["duration"]["rate"].get<double>(),
                       video ? 30000.0 / 1001.0 : 48000.0);
    }
    const auto placed = placed_clips(tracks[k]);
    EXPECT_EQ(placed.size(), k == 0 || k == 2 ? 2u : 1u);  // camera A has two files
    for (const auto& [clip, at] : placed) {
      const json& ours = clip.at("metadata").at("brenvik");
      const auto m = std::find_if(members.begin(), members.end(),
                                  [&](const TimelineMember& m) { return m.path == ours.at("source"); });
      ASSERT_NE(m, members.end()) << ours;
      EXPECT_NEAR(at, m->exact_start, 1e-4) << m->path << (video ? " video" : " audio");
      const json partner = m->placed_by < 0 ? json() : json(members[m->placed_by].path);
      const bool corrected = !m->corrected.empty();
      EXPECT_EQ(ours, json({{"source", m->path}, {"corrected", corrected}, {"offset_s", m->exact_start},
                            {"rate_ppm", m->rate_ppm}, {"drift_ppm", m->drift_ppm}, {"refined", m->refined},
                            {"second_look", m->second_look}, {"placed_by", partner}}));
      // A corrected copy runs on the reference clock: 40 ppm fast comes out shorter.
      const double length = corrected ? m->length / (1.0 + 40e-6) : m->length;
      EXPECT_EQ(seconds(clip["source_range"].at("start_time")), 0.0);
      // Camera A's first file ends where its second begins, 0.5 ms short of its end.
      EXPECT_NEAR(seconds(clip["source_range"].at("duration")), length - (m->entry == 0 ? 0.0005 : 0), 1e-9);
      EXPECT_EQ(clip.at("active_media_reference_key"), "DEFAULT_MEDIA");
      const json& ref = clip.at("media_references").at("DEFAULT_MEDIA");
      EXPECT_EQ(ref.at("OTIO_SCHEMA"), "ExternalReference.1");
      EXPECT_EQ(ref.at("target_url"), file_url(corrected ? m->corrected : m->path));
      EXPECT_NEAR(seconds(ref["available_range"].at("duration")), length, 1e-9);
    }
  }
}

TEST(Otio, NamesAreEscaped) {
  // A quote, a backslash, a tab, a byte that is not UTF-8 and a valid "é".
  const Timeline t = group({member(0, 0, "/m/say \"hi\" \\ \t\xFF caf\xC3\xA9.mov", 0.0, 10.0, 25.0f)});
  const std::string text = otio_document(layouts(t), exact_rate(25.0), "a \"b\" \\ c");
  json doc;
  ASSERT_NO_THROW(doc = json::parse(text)) << text;
  EXPECT_EQ(doc.at("name"), "a \"b\" \\ c");
  for (const json& track : doc["children"][0]["tracks"]["children"])
    EXPECT_EQ(track["children"].at(0).at("name"), "say \"hi\" \\ \t\xEF\xBF\xBD caf\xC3\xA9.mov");
}
