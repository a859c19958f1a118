#pragma once
// Sequence elements, Final Cut Pro and Premiere Pro flavours.

#include <string>

// One clip item in a track of its own; start and end in frames of `fps`.
std::string Seq_track_XMLit_video(int id, float offset, float duration, float fps);
std::string Seq_track_XMLit_audio(int id, float offset, float duration, float fps);
std::string Seq_XMLit(int id, std::string name, float fps, int x, int y, std::string video,
                      std::string audio, int depth, int rate);

std::string Seq_track_XMLit_videoPP(int id, float offset, float duration, float fps);
std::string Seq_track_XMLit_audioPP(int id, float offset, float duration, float fps);
std::string Seq_XMLitPP(int id, std::string name, float fps, int x, int y, std::string video,
                        std::string audio, int depth, int rate, int premiere);
