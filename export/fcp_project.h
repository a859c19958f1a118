#pragma once
// The four project documents and the output folder.

#include "core/results.h"

#include <string>
#include <utility>
#include <vector>

std::string FINAL_XML(std::string name, std::string children);
std::string FINAL_XMLPP(std::string name, std::string children);

struct ProjectDocuments {
  std::string synced_fcp;
  std::string unsynced_fcp;
  std::string synced_pp;
  std::string unsynced_pp;
  // The newer timelines, as (file name, text), written together with the four.
  std::vector<std::pair<std::string, std::string>> timelines;
};

// Master clips and sequences of every group and of the unsynced entries.
ProjectDocuments build_documents(const Timeline& timeline, float fps, int x, int y, int premiere);

// Writes the four files and the timelines in `folder` ("…/Brenvik.app/SYNCED") together:
// all are replaced, or, when one cannot be written, none is and std::runtime_error says
// why. Further MLT documents of an earlier run with more groups are removed. Returns the
// paths written.
std::vector<std::string> write_documents(const ProjectDocuments& docs, const std::string& folder);
