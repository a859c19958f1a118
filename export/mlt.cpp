#include "export/mlt.h"

std::string mlt_document(const GroupLayout&, ExactRate, int, int) { return {}; }
