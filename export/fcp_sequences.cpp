#include "export/fcp_sequences.h"

#include "core/format.h"

#include <cmath>

namespace {

// The editors read a sequence's length from its clips; this value only has to be there.
constexpr const char* kSequenceDuration = "20000";

// Premiere's description of the sequence's video format. The pieces are joined by tabs,
// which the importer tolerates between elements; the block ends by opening <width>.
constexpr const char* kCodecBlock =
    "</timebase></rate><codec><name>Apple ProRes 422</name>\t"
    "<appspecificdata>\t"
    "<appname>Final Cut Pro</appname>\t"
    "<appmanufacturer>Apple Inc.</appmanufacturer>\t"
    "<appversion>7.0</appversion>\t"
    "<data>\t"
    "<qtcodec>\t"
    "<codecname>Apple ProRes 422</codecname>\t"
    "<codectypename>Apple ProRes 422</codectypename>\t"
    "<codectypecode>apcn</codectypecode>\t"
    "<codecvendorcode>appl</codecvendorcode>\t"
    "<spatialquality>1024</spatialquality>\t"
    "<temporalquality>0</temporalquality>\t"
    "<keyframerate>0</keyframerate>\t"
    "<datarate>0</datarate>\t"
    "</qtcodec>\t"
    "</data>\t"
    "</appspecificdata></codec><width>";

// Premiere's timeline view settings, pasted after the sequence id: the leading quote
// closes the id value (which thus ends with a blank) and the last value is closed by the
// quote that normally ends the id. Fixed values, whatever the sequence holds.
constexpr const char* kPremiereAttributes =
    " \" TL.SQAudioVisibleBase=\"0\" TL.SQVideoVisibleBase=\"0\" TL.SQVisibleBaseTime=\"0\""
    " TL.SQAVDividerPosition=\"0.5\" TL.SQHideShyTracks=\"0\" TL.SQHeaderWidth=\"164\""
    " Monitor.ProgramZoomOut=\"152409600000000\" Monitor.ProgramZoomIn=\"0\""
    " TL.SQTimePerPixel=\"0.2\" MZ.EditLine=\"4979454480000\""
    " MZ.Sequence.PreviewFrameSizeHeight=\"480\" MZ.Sequence.PreviewFrameSizeWidth=\"720\""
    " MZ.Sequence.AudioTimeDisplayFormat=\"200\" MZ.Sequence.VideoTimeDisplayFormat=\"110\""
    " MZ.Sequence.PreviewRenderingClassID=\"1061109567\""
    " MZ.Sequence.PreviewRenderingPresetCodec=\"1886532148\""
    " MZ.Sequence.PreviewRenderingPresetPath=\"EncoderPresets/SequencePreview/"
    "38110ea1-bd95-43ea-9e3a-7c407f3e32c8/Quicktime DV 24p.epr\""
    " MZ.Sequence.PreviewUseMaxRenderQuality=\"false\" MZ.Sequence.PreviewUseMaxBitDepth=\"false\""
    " MZ.Sequence.EditingModeGUID=\"38110ea1-bd95-43ea-9e3a-7c407f3e32c8\""
    " MZ.WorkOutPoint=\"13349175840000\" MZ.WorkInPoint=\"0";

// A count as float2string writes it: the documents show ids and sizes in that notation.
std::string float_notation(int value) { return float2string(static_cast<float>(value)); }

// Start and end in frames; the end is taken from the signed start so a clip placed before
// zero keeps its length.
std::string clip_item(int id, float offset, float duration, float fps) {
  const float start = offset * fps;
  const float end = start + duration * fps;
  std::string text = "<track><clipitem><start>";
  text += float2string(std::fabs(start));
  text += "</start><end>";
  text += float2string(std::fabs(end));
  text += "</end><file id=\"";
  text += float_notation(id);
  text += "\"/></clipitem></track>";
  return text;
}

}  // namespace

std::string Seq_track_XMLit_video(int id, float offset, float duration, float fps) {
  return clip_item(id, offset, duration, fps);
}

std::string Seq_track_XMLit_audio(int id, float offset, float duration, float fps) {
  return clip_item(id, offset, duration, fps);
}

std::string Seq_XMLit(int id, std::string name, float fps, int /*x*/, int /*y*/, std::string video,
                      std::string audio, int /*depth*/, int /*rate*/) {
  std::string text = "<sequence id=\"";
  text += float_notation(id);
  text += "\"><name>";
  text += xml_escape(name);
  text += "</name><duration>";
  text += kSequenceDuration;
  text += "</duration><rate><timebase>";
  text += float2string(fps);
  text += "</timebase></rate><media><video>";
  text += video;
  text += "</video><audio>";
  text += audio;
  text += "</audio></media></sequence>";
  return text;
}

std::string Seq_track_XMLit_videoPP(int id, float offset, float duration, float fps) {
  return clip_item(id, offset, duration, fps);
}

std::string Seq_track_XMLit_audioPP(int id, float offset, float duration, float fps) {
  return clip_item(id, offset, duration, fps);
}

std::string Seq_XMLitPP(int id, std::string name, float fps, int x, int y, std::string video,
                        std::string audio, int depth, int rate, int premiere) {
  const std::string timebase = float2string(fps);
  std::string text = "<sequence id=\"";
  text += float_notation(id);
  if (premiere != 0) text += kPremiereAttributes;
  text += "\"><name>";
  text += xml_escape(name);
  text += "</name><rate><timebase>";
  text += timebase;
  text += "</timebase></rate><media><video><format><samplecharacteristics><rate><timebase>";
  text += timebase;
  text += kCodecBlock;
  text += float_notation(x);
  text += "</width><height>";
  text += float_notation(y);
  text += "</height></samplecharacteristics></format>";
  text += video;
  text += "</video><audio><format><samplecharacteristics><depth>";
  text += float_notation(depth);
  text += "</depth><samplerate>";
  text += float_notation(rate);
  text += "</samplerate></samplecharacteristics></format>";
  text += audio;
  text += "</audio></media></sequence>";
  return text;
}
