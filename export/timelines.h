#pragma once
// The newer timelines of a run — OpenTimelineIO, MLT, FCPXML — beside the four classic
// documents, from the same timeline.

#include "core/results.h"

#include <string>
#include <utility>
#include <vector>

// (file name, text) of every newer document: SYNCED.otio, SYNCED.fcpxml, SYNCED.mlt (one
// MLT document holds one timeline: the second group on goes to SYNCED-2.mlt, …) and
// UNSYNCED.otio / .fcpxml / .mlt with the files that synced with nothing.
std::vector<std::pair<std::string, std::string>> timeline_documents(const Timeline& timeline,
                                                                    float fps, int width,
                                                                    int height);

// Whether `name` is one of the further MLT documents ("SYNCED-<n>.mlt", n >= 2): a run
// with fewer groups than the one before removes those it did not write.
bool is_further_mlt_name(const std::string& name);

// The applications that open a document, by its file name ("SYNCED.otio" → "DaVinci
// Resolve, Kdenlive, OpenTimelineIO tools"); empty for a name that is none of ours.
std::string applications_for(const std::string& document_name);
