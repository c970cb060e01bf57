// Network services: the host name.
#include "eskt.h"
#include "guard.h"

#include <sys/utsname.h>

#include <cstring>

extern "C" {

int32_t eskt_GetHostname(char *buffer, int32_t size) try {
  if (!buffer || size <= 0) return -1;
  buffer[0] = '\0';
  struct utsname names {};
  if (uname(&names) != 0) return -1;
  const std::size_t length = strnlen(names.nodename, sizeof names.nodename);
  const std::size_t room = static_cast<std::size_t>(size) - 1;
  const std::size_t copied = length < room ? length : room;
  std::memcpy(buffer, names.nodename, copied);
  buffer[copied] = '\0';
  return copied == length ? 0 : -1;
} TAVIRON_GUARD_QUIET(-1)

} // extern "C"
