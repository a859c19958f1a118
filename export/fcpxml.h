#pragma once
// FCPXML 1.9: one <format>, an <asset> per file, an <event> with a <project> per layout;
// ready to cut, the event also holds each layout as a multicam clip (a <media> of one
// angle per lane) with a project of it, and a synchronised clip per camera clip with the
// layout's main sound.

#include "export/timeline_layout.h"

#include <string>
#include <vector>

// Clip offsets on the format's frame grid; the remainder is carried by the clip's start
// inside its media.
std::string fcpxml_document(const std::vector<GroupLayout>& layouts, ExactRate rate, int width,
                            int height, const std::string& event_name, bool ready_to_cut = false);
