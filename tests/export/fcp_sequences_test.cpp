#include "export/fcp_sequences.h"

#include <gtest/gtest.h>


TEST(FcpSequences, ClipItemsPlaceFramesFromOffsetAndDuration) {
  EXPECT_EQ(Seq_track_XMLit_video(101, 10.0f, 20.0f, 25.0f),
            "<track><clipitem><start>250</start><end>750</end><file id=\"101\"/></clipitem>"
            "</track>");
  EXPECT_EQ(Seq_track_XMLit_audio(0, 0.0f, 1000.0f, 25.0f),
            "<track><clipitem><start>0</start><end>25000</end><file id=\"0\"/></clipitem></track>");
  EXPECT_EQ(Seq_track_XMLit_videoPP(1, 1.0f, 2.0f, 29.97f),
            "<track><clipitem><start>29.97</start><end>89.91</end><file id=\"1\"/></clipitem>"
            "</track>");
  EXPECT_EQ(Seq_track_XMLit_audioPP(1, 12.5f, 30.0f, 25.0f),
            Seq_track_XMLit_audio(1, 12.5f, 30.0f, 25.0f));
  // The end follows the signed start, so a clip before zero keeps its length.
  EXPECT_EQ(Seq_track_XMLit_video(2, -2.0f, 10.0f, 25.0f),
            "<track><clipitem><start>50</start><end>200</end><file id=\"2\"/></clipitem></track>");
}

TEST(FcpSequences, FinalCutSequenceHasFixedDurationAndNoFormat) {
  EXPECT_EQ(Seq_XMLit(0, "0", 25.0f, 1920, 1080, "V", "A", 16, 48000),
            "<sequence id=\"0\"><name>0</name><duration>20000</duration><rate><timebase>25"
            "</timebase></rate><media><video>V</video><audio>A</audio></media></sequence>");
}

TEST(FcpSequences, PremiereSequenceDescribesFormatAndOptionalAttributes) {
  const std::string plain = Seq_XMLitPP(0, "0", 25.0f, 1920, 1080, "V", "A", 16, 48000, 0);
  const std::string head =
      "<sequence id=\"0\"><name>0</name><rate><timebase>25</timebase></rate><media><video>"
      "<format><samplecharacteristics><rate><timebase>25";
  const std::string tail =
      "1920</width><height>1080</height></samplecharacteristics></format>V</video><audio>"
      "<format><samplecharacteristics><depth>16</depth><samplerate>48000</samplerate>"
      "</samplecharacteristics></format>A</audio></media></sequence>";
  ASSERT_TRUE(plain.starts_with(head) && plain.ends_with(tail)) << plain;

  EXPECT_NE(plain.find("<codec><name>Apple ProRes 422</name>"), std::string::npos);

  // Premiere's own sequence attributes come only when asked for, inside the opening tag.
  EXPECT_EQ(plain.find("MZ."), std::string::npos);
  const std::string marked = Seq_XMLitPP(0, "0", 25.0f, 1920, 1080, "V", "A", 16, 48000, 1);
  EXPECT_EQ(marked, Seq_XMLitPP(0, "0", 25.0f, 1920, 1080, "V", "A", 16, 48000, -3));
  const std::size_t tag_end = marked.find("\">");
  ASSERT_NE(tag_end, std::string::npos);
  EXPECT_NE(marked.substr(0, tag_end).find(" MZ.WorkInPoint=\"0"), std::string::npos);
  EXPECT_EQ(marked.substr(tag_end + 1), plain.substr(plain.find('>')));
}
