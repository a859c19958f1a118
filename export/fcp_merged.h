#pragma once
// The pair of Final Cut Pro 7 documents (xmeml 4) ready to cut, for Final Cut Pro and in
// Premiere Pro's flavour: every camera clip item linked with its own sound (switched off)
// and with the main sound's clip items cut to it, so that picture and main sound move
// together in an editor that keeps links.

#include "export/timeline_layout.h"

#include <string>

struct MergedDocuments {
  std::string fcp;
  std::string premiere;
};

// One sequence per layout: a video track per camera lane; per camera lane the main
// sound cut to its clips and the camera's own sound, linked to its pictures; then the
// lanes of the devices without video, the main sound's switched off where it is already
// heard. Frames of `fps`, fractional to the ten-thousandth, so that a sound sits at its
// place to the sample.
MergedDocuments merged_documents(const std::vector<GroupLayout>& layouts, float fps, int x, int y,
                                 int premiere);
