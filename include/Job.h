// A job as an object: the constructor starts the job (esmg_JobInit), the destructor ends it
// (esmg_JobEnd). Reports of the job calls are thrown as EerrException; the destructor never
// throws.
#ifndef TAVIRON_JOB_H
#define TAVIRON_JOB_H

#include <cstdint>
#include <string>

#include "taviron_export.h"

namespace NorixSession {

class TAVIRON_API Job {
public:
  explicit Job(const std::u16string &name);
  // A copy starts no job (its destructor still ends the job of the process, if any).
  Job(const Job &other);
  Job &operator=(const Job &other);
  virtual ~Job();

  void Progress(int32_t percent);
  void State(const std::u16string &text);
};

} // namespace NorixSession

#endif
