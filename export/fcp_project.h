#pragma once
// The four project documents and the output folder.

#include "core/results.h"

#include <string>
#include <vector>

std::string FINAL_XML(std::string name, std::string children);
std::string FINAL_XMLPP(std::string name, std::string children);

struct ProjectDocuments {
  std::string synced_fcp;
  std::string unsynced_fcp;
  std::string synced_pp;
  std::string unsynced_pp;
};

// Master clips and sequences of every group and of the unsynced entries.
ProjectDocuments build_documents(const Timeline& timeline, float fps, int x, int y, int premiere);

// Writes the four files in `folder` ("…/Brenvik.app/SYNCED") together: all four are
// replaced, or, when one cannot be written, none is and std::runtime_error says why.
void write_documents(const ProjectDocuments& docs, const std::string& folder);
