#include "export/fcp_sequences.h"

#include <gtest/gtest.h>

#include <algorithm>

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

  const std::string codec = plain.substr(head.size(), plain.size() - head.size() - tail.size());
  EXPECT_EQ(codec.size(), 543u);
  EXPECT_EQ(std::count(codec.begin(), codec.end(), '\t'), 17);
  EXPECT_TRUE(codec.starts_with("</timebase></rate><codec><name>Apple ProRes 422</name>\t"));
  EXPECT_NE(codec.find("\t<codectypecode>apcn</codectypecode>\t"), std::string::npos);
  EXPECT_TRUE(codec.ends_with("</appspecificdata></codec><width>")) << codec;

  for (int premiere : {1, -3}) {
    const std::string marked =
        Seq_XMLitPP(0, "0", 25.0f, 1920, 1080, "V", "A", 16, 48000, premiere);
    const std::string open = "<sequence id=\"0";
    ASSERT_TRUE(marked.starts_with(open));
    ASSERT_EQ(marked.substr(open.size() + 875), plain.substr(open.size())) << premiere;
    const std::string run = marked.substr(open.size(), 875);
    EXPECT_TRUE(run.starts_with(" \" TL.SQAudioVisibleBase=\"0\" TL.SQVideoVisibleBase=\"0\""));
    EXPECT_NE(run.find(" MZ.Sequence.PreviewRenderingPresetPath=\"EncoderPresets/SequencePreview/"
                       "38110ea1-bd95-43ea-9e3a-7c407f3e32c8/Quicktime DV 24p.epr\" "),
              std::string::npos);
    EXPECT_TRUE(run.ends_with(" MZ.WorkInPoint=\"0")) << run;
    size_t attributes = 0;
    for (size_t at = run.find("=\""); at != std::string::npos; at = run.find("=\"", at + 1))
      ++attributes;
    EXPECT_EQ(attributes, 22u);
  }
}
