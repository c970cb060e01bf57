// Where the renderer looks for its font lists and font servers when the environment names none:
// beside the library as installed, then in the build tree.
#include <dlfcn.h>

#include <string>

#include "eevg.h"
#include "eevg_internal.h"

// The folders relative to the library's own folder once installed, and the build tree's folders.
#ifndef TAVIRON_INSTALLED_FONT_DIR
#define TAVIRON_INSTALLED_FONT_DIR "../share/taviron/fonts"
#endif
#ifndef TAVIRON_INSTALLED_FONT_SERVERS_DIR
#define TAVIRON_INSTALLED_FONT_SERVERS_DIR "taviron/fontservers"
#endif
#ifndef TAVIRON_BUILD_FONT_DIR
#define TAVIRON_BUILD_FONT_DIR "."
#endif
#ifndef TAVIRON_FONT_SERVERS_DIR
#define TAVIRON_FONT_SERVERS_DIR "."
#endif

namespace {

// The folder of the object holding this code (the shared library, or a program it is linked
// into), "" when the system cannot tell.
std::string OwnFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void *>(&eevg_Init), &info) == 0 || !info.dli_fname) return {};
  const std::string path = info.dli_fname;
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string Join(const char *first, const char *relative, const char *build) {
  std::string list = first;
  const std::string own = OwnFolder();
  if (!own.empty()) list += ":" + own + "/" + relative;
  return list + ":" + build;
}

} // namespace

namespace taviron::graphics {

std::string DefaultFontPath() { return Join(".:$TAVIRON_HOME/etc/fonts", TAVIRON_INSTALLED_FONT_DIR, TAVIRON_BUILD_FONT_DIR); }

std::string DefaultFontServersPath() {
  return Join("$TAVIRON_HOME/lib/fontservers", TAVIRON_INSTALLED_FONT_SERVERS_DIR, TAVIRON_FONT_SERVERS_DIR);
}

} // namespace taviron::graphics
