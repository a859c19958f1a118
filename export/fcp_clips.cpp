#include "export/fcp_clips.h"

#include "core/format.h"
#include "core/log.h"
#include "core/media_names.h"

#include <algorithm>
#include <iterator>
#include <ostream>
#include <string_view>

namespace {

// The clip writers echo what they made; nothing reads it, it is there to follow a run.
void trace_fragment(const std::string& text) { console() << text << "\n\n\n"; }

// Only the exact lower- and upper-case spellings count: "Mp3" is read as a video file.
bool has_wav_extension(std::string_view text) { return ends_in_either_case(text, kWavExtension); }
bool has_audio_extension(std::string_view text) {
  return std::any_of(std::begin(kMediaExtensions), std::end(kMediaExtensions), [&](const MediaExtension& e) {
    return e.audio_in_documents && ends_in_either_case(text, e.name);
  });
}

// A path reaches a document only as element text; "&" and "<" would break the document.
std::string path_url_text(const std::string& path) { return xml_escape(urito(path)); }

}  // namespace

std::string clip_track_XMLit_video(int id, std::string path) {
  std::string text = "<file id=\"";
  text += float2string(static_cast<float>(id));
  text += "\"><pathurl>";
  text += path_url_text(path);
  text += "</pathurl></file>";
  trace_fragment(text);
  return text;
}

std::string clipXMLit(std::string name, float fps, std::string fileElement, float duration) {
  // Frame counts stay fractional (29.97 fps × 10 s = 299.7 frames), as the editors accept.
  const float frames = fps * duration;
  std::string text = "<clip><rate><timebase>";
  text += float2string(fps);
  text += "</timebase></rate><name>";
  text += xml_escape(name);
  text += "</name><duration>";
  text += float2string(frames);
  text += "</duration>";
  text += fileElement;
  text += "</clip>";
  trace_fragment(text);
  return text;
}

std::string clip_track_XMLit_audioPP(int id, std::string path) {
  if (!has_wav_extension(path)) return {};
  std::string text = "<track><clipitem><file id=\"";
  text += float2string(static_cast<float>(id));
  text += "\"><pathurl>";
  text += path_url_text(path);
  text += "</pathurl><media><audio>";
  text +=
      "<samplecharacteristics></samplecharacteristics><channelcount>4</channelcount>"
      "<audiochannel></audiochannel>";
  text += "</audio></media></file></clipitem></track>";
  return text;
}

std::string clip_track_XMLit_videoPP(int id, std::string path) {
  if (has_wav_extension(path)) return {};
  std::string text = "<track><clipitem><file id=\"";
  text += float2string(static_cast<float>(id));
  text += "\"><pathurl>";
  text += path_url_text(path);
  text += "</pathurl><media><video></video><audio></audio></media></file></clipitem></track>";
  return text;
}

std::string clipXMLitPP(std::string path, float fps, std::string audioFragment,
                        std::string videoFragment, float /*duration*/) {
  const std::string rate = float2string(fps);
  console() << "klip xml fps=" << rate << '\n';
  // Premiere shows the name in its bin, where the file's own name reads best.
  const std::string name = correctxmlname(path);
  std::string text = "<clip><ismasterclip>TRUE</ismasterclip><rate><timebase>";
  text += rate;
  text += "</timebase></rate><name>";
  text += xml_escape(name);
  text += "</name><media><video>";
  text += videoFragment;
  if (has_audio_extension(name)) {
    text += "</video><audio>";
    text += audioFragment;
    text += "</audio></media></clip>";
  } else {
    text += "</video></media></clip>";
  }
  return text;
}
