#pragma once
// MLT XML of one layout, as Shotcut opens it and melt renders it, and as a Kdenlive
// project.

#include "export/timeline_layout.h"

#include <string>

// A profile of `rate` and width x height; a playlist per track (video tracks without
// their sound, audio tracks without their picture), each sound at its 48 kHz sample and
// each picture at its nearest frame. A rate that is not positive is taken as 25/1.
std::string mlt_document(const GroupLayout& layout, ExactRate rate, int width, int height);

// The same timeline as a Kdenlive project: a bin ("main_bin") with one clip per file,
// every timeline clip tied to its bin clip by kdenlive:id, the tracks named and the
// sound tracks marked as Kdenlive marks its own, the delays as its Compensation Delay.
std::string kdenlive_document(const GroupLayout& layout, ExactRate rate, int width, int height);
