// What every fuzz target may share: a reader of the input bytes and the folder of the files it
// writes.
#ifndef TAVIRON_FUZZ_FUZZ_SUPPORT_H
#define TAVIRON_FUZZ_FUZZ_SUPPORT_H

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace taviron::fuzz {

// Takes the input a piece at a time; past its end every byte reads as 0.
struct Reader {
  const uint8_t *data;
  size_t size;
  size_t at = 0;
  bool More() const { return at < size; }
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  // A little-endian number of the given count of bytes.
  uint32_t Word(int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(Byte()) << (8 * i);
    return value;
  }
  // The next n bytes (fewer at the end).
  std::string Bytes(size_t n) {
    n = std::min(n, size - at);
    std::string text(reinterpret_cast<const char *>(data + at), n);
    at += n;
    return text;
  }
  // The text up to the next 0x01 (or the end).
  std::string Part() {
    std::string text;
    while (at < size && data[at] != 1) text += static_cast<char>(data[at++]);
    if (at < size) ++at;
    return text;
  }
  // Mostly moderate values, sometimes the raw bits of a double (NaN, infinities, huge).
  double Number(double range) {
    const uint8_t kind = Byte();
    if (kind < 200) return (static_cast<int>(Byte()) - 128) / 128.0 * range;
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = bits << 8 | Byte();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
};

// A folder of this process under TMPDIR (else /tmp) for the files a target writes, made at its
// first use and removed with everything in it when the process ends. (A target stopped by a
// finding ends without clean-up: scripts/fuzz gives each target a TMPDIR of its own and removes
// it.)
inline const std::string &ScratchDirectory() {
  struct Folder {
    std::string path;
    Folder() {
      const char *tmp = std::getenv("TMPDIR");
      std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/taviron_fuzz_XXXXXX";
      if (!mkdtemp(pattern.data())) std::abort();
      path = pattern;
    }
    ~Folder() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  static const Folder folder;
  return folder.path;
}

// The path of a file in the scratch folder.
inline std::string ScratchFile(const std::string &name) { return ScratchDirectory() + "/" + name; }

} // namespace taviron::fuzz

#endif
