#pragma once
// Where a file's sound sits in the file, in the time an editor's timeline counts it by.

#include <string>

// An editor's timeline starts a file with video at its first picture and any other file
// at its first sample, while the analysis WAV starts at the first sample of the sound
// the transcoder picks. Cameras, phones and MPEG-TS files put the two apart by a few to
// a few hundred milliseconds, by a stream start or an edit list.
struct SoundStart {
  // Seconds from the first picture to the first sample of the analysed sound; negative
  // when the sound starts first; 0 for a file without video.
  double after_picture_s = 0.0;
  bool read = false;  // false: the container could not be read, and the sound counts from 0
};

// Reads the container's stream start times (edit lists applied, as the transcoder
// applies them) of the sound stream the transcoder decodes and of the first video stream
// that is not a cover picture.
SoundStart sound_start(const std::string& path);
