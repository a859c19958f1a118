#pragma once
// Master clip elements, Final Cut Pro and Premiere Pro flavours.

#include <string>

std::string clip_track_XMLit_video(int id, std::string path);
std::string clipXMLit(std::string name, float fps, std::string fileElement, float duration);

std::string clip_track_XMLit_audioPP(int id, std::string path);
std::string clip_track_XMLit_videoPP(int id, std::string path);
std::string clipXMLitPP(std::string path, float fps, std::string audioFragment,
                        std::string videoFragment, float duration);
