#include "export/fcp_project.h"

// Placeholder until the documents land.
std::string FINAL_XML(std::string, std::string) { return {}; }
std::string FINAL_XMLPP(std::string, std::string) { return {}; }
ProjectDocuments build_documents(const SyncGroups&, const std::vector<std::string>&,
                                 const std::vector<float>&, const std::vector<std::string>&, float,
                                 int, int, int) {
  return {};
}
void write_documents(const ProjectDocuments&, const std::string&) {}
void show_folder(const std::string&) {}
