#include "export/fcp_clips.h"

#include "core/log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace {

using ::testing::HasSubstr;

// The writers trace to the console; keep the test output readable.
class FcpClips : public ::testing::Test {
 protected:
  std::ostringstream trace_;
  ConsoleCapture capture_{trace_};
};


std::string fcp_clip(const std::string& path, int id, float fps, float seconds) {
  return clipXMLit(path, fps, clip_track_XMLit_video(id, path), seconds);
}

std::string pp_clip(const std::string& path, int id = 7) {
  return clipXMLitPP(path, 25.0f, clip_track_XMLit_audioPP(id, path),
                     clip_track_XMLit_videoPP(id, path), 60.0f);
}

}  // namespace

TEST_F(FcpClips, MasterClipCarriesRateFramesAndFileReference) {
  EXPECT_EQ(fcp_clip("/Users/editor/a.mov", 4, 25.0f, 60.0f),
            "<clip><rate><timebase>25</timebase></rate><name>/Users/editor/a.mov</name>"
            "<duration>1500</duration><file id=\"4\"><pathurl>"
            "file://localhost//Users/editor/a.mov</pathurl></file></clip>");
  // Frame counts are not rounded; large ones take the exponent form.
  const std::pair<std::string, const char*> cases[] = {
      {fcp_clip("/c.mov", 1005, 29.97f, 10.0f),
       "29.97</timebase></rate><name>/c.mov</name>"
       "<duration>299.7</duration><file id=\"1005\">"},
      {fcp_clip("/w.wav", 105, 999.0f, 3.0f),
       "999</timebase></rate><name>/w.wav</name><duration>2997<"},
      {fcp_clip("/l.mov", 0, 25.0f, 48000.0f), "<duration>1.2e+06</duration>"},
      {fcp_clip("", 0, 25.0f, 0.0f),
       "<name></name><duration>0</duration><file id=\"0\"><pathurl>"
       "file://localhost/</pathurl>"}};
  for (const auto& [clip, part] : cases) EXPECT_THAT(clip, HasSubstr(part));
}

TEST_F(FcpClips, NamesAndPathUrlsEscapeMarkupCharactersOnly) {
  const std::string clip = fcp_clip("/My Clips/a&b <\"c\">.mov", 1, 25.0f, 1.0f);
  EXPECT_THAT(clip, HasSubstr("<name>/My Clips/a&amp;b &lt;\"c\"&gt;.mov</name>"));
  EXPECT_THAT(clip, HasSubstr("<pathurl>file://localhost//My%20Clips/a%26b%20&lt;%22c%22&gt;.mov</pathurl>"));
  const std::string pp = pp_clip("/x/<a>&\xc4\x8d.mov");
  EXPECT_THAT(pp, HasSubstr("<name>&lt;a&gt;&amp;\xc4\x8d.mov</name>"));
  EXPECT_THAT(pp, HasSubstr("<pathurl>file://localhost//x/&lt;a&gt;%26\xc4\x8d.mov</pathurl>"));
}

TEST_F(FcpClips, PremiereClipShapeFollowsTheExtension) {
  const std::string wav_track =
      "<track><clipitem><file id=\"7\"><pathurl>file://localhost//a/b.wav</pathurl><media><audio>"
      "<samplecharacteristics></samplecharacteristics><channelcount>4</channelcount>"
      "<audiochannel></audiochannel></audio></media></file></clipitem></track>";
  const std::string head =
      "<clip><ismasterclip>TRUE</ismasterclip><rate><timebase>25</timebase></rate><name>";
  EXPECT_EQ(clip_track_XMLit_videoPP(7, "/a/b.wav"), "");
  EXPECT_EQ(clip_track_XMLit_audioPP(7, "/a/b.mov"), "");
  EXPECT_EQ(pp_clip("/a/b.wav"), head + "b.wav</name><media><video></video><audio>" + wav_track +
                                     "</audio></media></clip>");
  EXPECT_THAT(pp_clip("/a/B.WAV"), HasSubstr("B.WAV</name><media><video></video><audio><track>"));
  const std::string mp3_track =
      "<track><clipitem><file id=\"7\"><pathurl>file://localhost//a/m.mp3</pathurl><media>"
      "<video></video><audio></audio></media></file></clipitem></track>";
  EXPECT_EQ(pp_clip("/a/m.mp3"), head + "m.mp3</name><media><video>" + mp3_track +
                                     "</video><audio></audio></media></clip>");
  // Only the exact lower- and upper-case spellings are audio extensions.
  for (const char* video : {"/a/m.Mp3", "/a/c.mov", "/a/w.Wav", "/a/x"})
    EXPECT_THAT(pp_clip(video), HasSubstr("</track></video></media></clip>"));
}
