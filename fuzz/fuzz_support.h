// What every fuzz target may share: the folder of the files it writes.
#ifndef TAVIRON_FUZZ_FUZZ_SUPPORT_H
#define TAVIRON_FUZZ_FUZZ_SUPPORT_H

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace taviron::fuzz {

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
