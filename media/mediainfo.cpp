// The one translation unit that includes MediaInfoDLL.h: the header defines static
// state and functions, and the library is loaded at run time, never linked.
#include "media/media.h"

#include <cstdlib>
#include <dlfcn.h>
#include <exception>
#include <locale.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-variable"
#pragma GCC diagnostic ignored "-Wcast-function-type"
#include <MediaInfoDLL/MediaInfoDLL.h>
#pragma GCC diagnostic pop

namespace {

namespace mi = MediaInfoDLL;

// The header's loader takes the name it was compiled with; tests name a missing library
// here to run without it. The handle stays open, so the loader finds the library loaded.
bool library_present() {
  const char* configured = std::getenv(kMediaInfoLibraryVariable);
  const char* name = configured != nullptr && *configured != '\0' ? configured : MEDIAINFODLL_NAME;
  return dlopen(name, RTLD_LAZY) != nullptr;
}

// The header's loader keeps unguarded globals; a function-local static loads it once,
// whichever thread asks first.
bool library_loaded() {
  static const bool loaded = library_present() && MediaInfoDLL_Load() == 1;
  return loaded;
}

// MediaInfo turns a char path into wide text with the calling thread's LC_CTYPE, so
// under the "C" locale of a bare command line every non-ASCII path fails to open. The
// engine's paths are UTF-8 whatever the front end's locale says, and the global locale
// is not ours to change from a worker thread, so only this thread switches, and only
// for the length of the call.
class Utf8ThreadLocale {
 public:
  Utf8ThreadLocale() {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (utf8 != static_cast<locale_t>(0)) previous_ = uselocale(utf8);
  }
  ~Utf8ThreadLocale() {
    if (previous_ != static_cast<locale_t>(0)) uselocale(previous_);
  }
  Utf8ThreadLocale(const Utf8ThreadLocale&) = delete;
  Utf8ThreadLocale& operator=(const Utf8ThreadLocale&) = delete;

 private:
  locale_t previous_ = static_cast<locale_t>(0);
};

}  // namespace

bool mediainfo_available() { return library_loaded(); }

std::string getmediainfo(std::string path) {
  if (!library_loaded()) return mi::Unable_Load_DLL;
  try {
    Utf8ThreadLocale locale;
    mi::MediaInfo info;
    if (!info.IsReady()) return mi::Unable_Load_DLL;
    if (info.Open(path) == 0) return "";
    // Parameter indices move between library versions; the name does not.
    return info.Get(mi::Stream_Video, 0, "FrameRate");
  } catch (const std::exception&) {
    return "";
  }
}
