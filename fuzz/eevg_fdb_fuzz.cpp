// Random text through the font data base grammar "eevg_FDB": every input either parses into a
// list of complete entries or gives a report, and leaves nothing behind. Inputs holding a NUL
// byte are read from a file, the others as text.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "eevg.h"
#include "eerr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  int fd = -1;
  std::string path;
  if (text.find('\0') != std::string::npos) {
    fd = memfd_create("eevg_fdb_fuzz", 0);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      if (fd >= 0) close(fd);
      return 0;
    }
    path = "/proc/self/fd/" + std::to_string(fd);
  }
  Eevg_FontDataBaseRecord *head = nullptr, *tail = nullptr;
  int32_t count = 0;
  Eerr_ErrorReport *err = nullptr;
  const int32_t status = eevg_FontDataBaseParse(fd < 0 ? const_cast<char *>(text.c_str()) : nullptr,
                                                fd < 0 ? nullptr : path.c_str(), &head, &tail,
                                                &count, &err);
  if (fd >= 0) close(fd);
  if ((status == 0) == (err != nullptr)) abort();
  int32_t seen = 0;
  for (Eevg_FontDataBaseRecord *r = head; r; r = r->next) {
    if (!r->fontName || !r->fontFileName || !r->psFileName || !r->zavFont || !r->chooserString ||
        !r->fontServerName || (r->insertDir != 0 && r->insertDir != 1))
      abort();
    if (!r->next && r != tail) abort();
    ++seen;
  }
  if (seen != count || (status != 0 && count != 0)) abort();
  eevg_FontDataBaseFree(&head);
  eerr_DeleteErrorReportEx(&err);
  return 0;
}
