// Arbitrary frames from another process to a window's endpoint, each alone or with a memory file
// (sealed or not) passed beside it. Whatever the window takes must be a message whose mapping,
// if any, can be read whole.
//
// Input: chunks of [length (2 bytes, little-endian), how (1 byte), length bytes]; how 0 sends the
// bytes as a frame, 1 adds a sealed memory file holding them, 2 an unsealed one.
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "../platform/ewin_frame.h"
#include "ewin.h"
#include "fuzz_support.h"

namespace {

std::string endpoint;

void SetUp() {
  const std::string &runtime = taviron::fuzz::ScratchDirectory();
  setenv("TAVIRON_RUNTIME_DIR", runtime.c_str(), 1);
  if (!ewin_CreateWindow("fuzz", "frames", [](Ewin_Window, uint32_t, Ewin_Param,
                                              Ewin_Param lParam) -> Ewin_Param {
        ewin_CloseHandle(lParam);
        return 0;
      }))
    abort();
  endpoint = runtime + "/fuzz.frames";
}

int Connect() {
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, endpoint.c_str(), endpoint.size() + 1);
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) abort();
  return fd;
}

int MemoryFile(const uint8_t *bytes, size_t size, bool sealed) {
  int fd = memfd_create("fuzz", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0 || write(fd, bytes, size) != static_cast<ssize_t>(size)) abort();
  if (sealed) fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE);
  return fd;
}

// Sends one frame; false when the connection has ended.
bool Send(int socketFd, const uint8_t *bytes, size_t size, int file) {
  return taviron::ewin::SendFrame(socketFd, bytes, size, file, MSG_NOSIGNAL) >= 0 ||
         errno == EAGAIN;
}

// Takes what the window received, and throws away the replies that came back.
void Drain(int socketFd) {
  Ewin_Msg msg;
  while (ewin_PeekMessage(&msg, 0, 0, 0, EWIN_PM_REMOVE)) {
    int64_t size = ewin_GetFileMappingSize(msg.lParam);
    if (size > 0) {
      auto *view = static_cast<volatile unsigned char *>(ewin_MapViewOfFile(msg.lParam));
      if (!view) __builtin_trap();
      (void)(view[0] + view[size - 1]);
      ewin_UnmapViewOfFile(const_cast<unsigned char *>(view));
    }
    ewin_CloseHandle(msg.lParam);
  }
  char reply[512];
  while (recv(socketFd, reply, sizeof reply, MSG_DONTWAIT) > 0) {
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static int socketFd = (SetUp(), Connect());
  while (size >= 3) {
    size_t length = data[0] | (static_cast<size_t>(data[1]) << 8);
    uint8_t how = data[2];
    data += 3;
    size -= 3;
    if (length > size) length = size;
    int file = how == 1 || how == 2 ? MemoryFile(data, length, how == 1) : -1;
    bool open = Send(socketFd, data, length, file);
    if (file >= 0) close(file);
    Drain(socketFd);
    if (!open) { // ended by the window (a zero-length frame) or broken: a new connection
      close(socketFd);
      socketFd = Connect();
    }
    data += length;
    size -= length;
  }
  Drain(socketFd);
  return 0;
}
