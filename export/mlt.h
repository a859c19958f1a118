#pragma once
// MLT XML of one layout, as Shotcut and Kdenlive open it and melt renders it.

#include "export/timeline_layout.h"

#include <string>

// A profile of `rate` and width x height; a playlist per track (video tracks without
// their sound, audio tracks without their picture), each sound at its 48 kHz sample and
// each picture at its nearest frame. A rate that is not positive is taken as 25/1.
std::string mlt_document(const GroupLayout& layout, ExactRate rate, int width, int height);
