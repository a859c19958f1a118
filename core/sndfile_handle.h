#pragma once
// An open libsndfile handle that closes itself. Header only: core links no libsndfile,
// and only the targets that do include this.

#include <sndfile.h>

#include <memory>

struct SndfileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using Sndfile = std::unique_ptr<SNDFILE, SndfileCloser>;
