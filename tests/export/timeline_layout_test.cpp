#include "tests/export/layout_fixture.h"

namespace {

// Each track as "V0:0,10.5" (kind, device, clip starts), joined by " | ".
std::string summary(const GroupLayout& g) {
  std::ostringstream out;
  out.precision(10);
  for (const LayoutTrack& track : g.tracks) {
    out << (out.tellp() > 0 ? " | " : "") << (track.video ? "V" : "A") << track.device << ":";
    for (std::size_t c = 0; c < track.clips.size(); ++c)
      out << (c ? "," : "") << track.clips[c].member.exact_start;
  }
  return out.str();
}

}  // namespace

TEST(TimelineLayout, ExactRatesAndFileUrls) {
  const std::pair<double, const char*> cases[] = {
      {23.976, "24000/1001"}, {29.97, "30000/1001"}, {59.94, "60000/1001"}, {25, "25/1"}, {50, "50/1"}};
  for (const auto& [fps, expected] : cases)
    for (const ExactRate r : {exact_rate(fps), exact_rate(static_cast<float>(fps))})
      EXPECT_EQ(std::to_string(r.num) + "/" + std::to_string(r.den), expected) << fps;
  EXPECT_EQ(file_url("/media/cam a.mov"), "file:///media/cam%20a.mov");
  EXPECT_EQ(file_url("/m/caf\xC3\xA9/t_1-2.~v.wav"), "file:///m/caf%C3%A9/t_1-2.~v.wav");
  EXPECT_EQ(file_url("/m/100%&#?.mov"), "file:///m/100%25%26%23%3F.mov");
}

TEST(TimelineLayout, DevicesGetTracksOfTheirOwn) {
  // Camera 0: a2 follows a1 (a3 touches a2 within the margin), a4 overlaps them and takes a
  // further track. Camera 5 and recorder 6: one file each.
  const GroupLayout g = layouts(group(
      {member(0, 0, "/m/a1.mov", 0.0, 10.0, 25.0f), member(1, 0, "/m/a2.mov", 10.5, 5.0, 25.0f),
       member(2, 0, "/m/a3.mov", 15.499, 1.0, 25.0f), member(3, 0, "/m/a4.mov", 5.0, 10.0, 25.0f),
       member(5, 5, "/m/cam b.mov", 12.3456789, 4.0, 25.0f),
       member(6, 6, "/m/zoom.wav", 1.5, 20.0, 999.0f)})).at(0);
  EXPECT_EQ(g.name, "Sync group 1");
  EXPECT_DOUBLE_EQ(g.duration, 21.5);
  // Video tracks first, by device; a video file is on a video and on an audio track.
  EXPECT_EQ(summary(g), "V0:0,10.5,15.499 | V0:5 | V5:12.3456789 | A0:0,10.5,15.499 | A0:5 | "
                        "A5:12.3456789 | A6:1.5");
  EXPECT_EQ(g.tracks[1].name, "a1.mov … a4.mov");  // every track of the device, named by it
  EXPECT_EQ(g.tracks[2].name, "cam b.mov");
  EXPECT_EQ(g.tracks[2].clips[0].url, "file:///m/cam%20b.mov");
}

TEST(TimelineLayout, DevicesAreNamedByWhatTheirFilesShare) {
  using Names = std::vector<std::string>;
  EXPECT_EQ(device_name(Names{"cam_b_part1.mov", "cam_b_part2.mov"}), "cam_b_part (2 files)");
  EXPECT_EQ(device_name(Names{"ZOOM0001.WAV", "ZOOM0002.WAV", "ZOOM0013.WAV"}), "ZOOM (3 files)");
  EXPECT_EQ(device_name(Names{"rec take 1.wav", "rec take 2.wav"}), "rec take (2 files)");
  // A device's own number stays: two cameras numbered alike keep their names apart.
  EXPECT_EQ(device_name(Names{"cam1_001.mov", "cam1_002.mov"}), "cam1 (2 files)");
  EXPECT_EQ(device_name(Names{"cam2_001.mp4", "cam2_024.mp4"}), "cam2 (2 files)");
  // Numbering alone, or names that share nothing, leave the first and the last.
  EXPECT_EQ(device_name(Names{"C0001.MP4", "C0002.MP4"}), "C0001.MP4 … C0002.MP4");
  EXPECT_EQ(device_name(Names{"wide.mov", "close.mov"}), "wide.mov … close.mov");
  EXPECT_EQ(device_name(Names{"zoom.wav"}), "zoom.wav");
}

TEST(TimelineLayout, ADeviceSplitOverGroupsIsNamedAlikeInEach) {
  Timeline t;
  t.groups.resize(2);
  t.groups[0].members = {member(0, 0, "/m/cam_b_part1.mov", 0.0, 10.0, 25.0f), member(2, 2, "/m/rec.wav", 0.0, 30.0, 999.0f)};
  t.groups[1].members = {member(1, 0, "/m/cam_b_part2.mov", 0.0, 10.0, 25.0f), member(3, 3, "/m/phone.m4a", 2.0, 5.0, 999.0f)};
  const std::vector<GroupLayout> g = layout_groups(t);
  ASSERT_EQ(g.size(), 2u);
  EXPECT_EQ(g[0].tracks[0].name, "cam_b_part (2 files)");
  EXPECT_EQ(g[1].tracks[0].name, "cam_b_part (2 files)");
  EXPECT_EQ(g[0].tracks.back().name, "rec.wav");
}

TEST(TimelineLayout, UnsyncedFilesFollowOneAnother) {
  Timeline t;
  // A file without readable sound has no length and no place among them.
  t.unsynced = {member(4, 4, "/m/x.mov", 0.0, 10.0, 29.97f), member(5, 5, "/m/y.wav", 0.0, 2.5, 999.0f),
                member(7, 7, "/m/notes.mov", 0.0, 0.0, 0.0f), member(6, 6, "/m/z.mov", 0.0, 4.0, 29.97f)};
  const GroupLayout g = layouts(t, true).at(0);
  EXPECT_EQ(g.name, "Unsynced");
  EXPECT_DOUBLE_EQ(g.duration, 16.5);
  EXPECT_EQ(summary(g), "V-1:0,12.5 | A-1:0,10,12.5");
  for (const LayoutTrack& track : g.tracks) EXPECT_EQ(track.name, "Unsynced");
}
