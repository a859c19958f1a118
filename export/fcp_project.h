#pragma once
// The four Final Cut Pro 7 documents (xmeml 4), for Final Cut Pro and in Premiere Pro's flavour.

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
