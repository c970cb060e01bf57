// The frames of the local-socket transport as they travel: the header and the sending of a frame
// with a descriptor beside it. Shared by the transport, its tests and its fuzz target; not
// installed.
#ifndef TAVIRON_PLATFORM_EWIN_FRAME_H
#define TAVIRON_PLATFORM_EWIN_FRAME_H

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/types.h>

namespace taviron::ewin {

// Header: magic, kind, flags, name length (2 bytes), sequence, message, wParam, lParam; all
// little-endian. The name follows, then, with kFlagBytes, the bytes of the mapping.
constexpr uint32_t kMagic = 0x314D5754; // "TWM1"
constexpr std::size_t kHeaderSize = 32;
constexpr uint8_t kPost = 1, kSend = 2, kReply = 3;
constexpr uint8_t kFlagHandle = 1; // a sealed memory file holding the mapping is passed beside
constexpr uint8_t kFlagBytes = 2;  // the mapping's bytes follow the name

struct FrameHeader {
  uint8_t kind = kPost;
  uint8_t flags = 0;
  uint16_t nameLength = 0;
  uint32_t seq = 0;
  uint32_t message = 0;
  int64_t wParam = 0, lParam = 0;
};

inline void PutHeader(unsigned char *p, const FrameHeader &h) {
  auto put = [](unsigned char *at, uint64_t value, int size) {
    for (int i = 0; i < size; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
  };
  put(p, kMagic, 4);
  p[4] = h.kind;
  p[5] = h.flags;
  put(p + 6, h.nameLength, 2);
  put(p + 8, h.seq, 4);
  put(p + 12, h.message, 4);
  put(p + 16, static_cast<uint64_t>(h.wParam), 8);
  put(p + 24, static_cast<uint64_t>(h.lParam), 8);
}

// The header and the name (the name length is the name's).
inline std::string FrameBytes(FrameHeader header, const std::string &name) {
  std::string bytes(kHeaderSize, '\0');
  header.nameLength = static_cast<uint16_t>(name.size());
  PutHeader(reinterpret_cast<unsigned char *>(bytes.data()), header);
  return bytes + name;
}

// Sends the bytes as one frame, the descriptor (unless -1) passed beside it; sendmsg's result.
inline ssize_t SendFrame(int socketFd, const void *bytes, std::size_t size, int fd, int flags) {
  iovec io{const_cast<void *>(bytes), size};
  msghdr header{};
  header.msg_iov = &io;
  header.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (fd >= 0) {
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    cmsghdr *cm = CMSG_FIRSTHDR(&header);
    cm->cmsg_level = SOL_SOCKET;
    cm->cmsg_type = SCM_RIGHTS;
    cm->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(cm), &fd, sizeof(int));
  }
  ssize_t sent;
  do {
    sent = sendmsg(socketFd, &header, flags);
  } while (sent < 0 && errno == EINTR);
  return sent;
}

} // namespace taviron::ewin

#endif
