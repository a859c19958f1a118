#pragma once
// OpenTimelineIO JSON: a SerializableCollection.1 holding one Timeline.1 per layout.

#include "export/timeline_layout.h"

#include <string>
#include <vector>

// Times in each track at `rate` (video tracks) or at the audio sample (audio tracks), as
// exact as the format allows; every clip's metadata carries "brenvik": source, offset_s,
// drift_ppm, refined.
std::string otio_document(const std::vector<GroupLayout>& layouts, ExactRate rate,
                          const std::string& name);
