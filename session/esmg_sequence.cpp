// Sequence chains: steps of a program and its arguments, run one after the other.
#include "emsc.h"
#include "esmg.h"
#include "esmg_protocol_internal.h"
#include "guard.h"

extern "C" {

Esmg_Sequence *esmg_SequenceCreate(Esmg_Sequence *chain, const char *label, int32_t argc,
                                   char *const *argv, Eerr_ErrorReport **err) try {
  static const char *reporter = "esmg_SequenceCreate";
  if (err) *err = nullptr;
  // A step needs its program: a step without arguments would also end the chain where it
  // travels to the session manager.
  if (argc < 1 || !argv || !argv[0]) {
    if (err)
      *err = eerr_CreateErrorReport(reporter, 1, EERR_FATAL, nullptr,
                                    "A sequence step needs a program (argument count %d)",
                                    static_cast<int>(argc));
    return chain;
  }
  auto *step = static_cast<Esmg_Sequence *>(emsc_HeapMalloc(sizeof(Esmg_Sequence)));
  if (step) {
    step->argc = argc;
    if (!taviron::session::CopyString(label, &step->label) ||
        !taviron::session::CopyStringArray(argc, argv, &step->argv)) {
      esmg_SequenceFree(step);
      step = nullptr;
    }
  }
  if (!step) {
    if (err)
      *err = eerr_CreateErrorReport(reporter, 2, EERR_FATAL, nullptr,
                                    "Out of memory for a sequence step");
    return chain;
  }
  if (!chain) return step;
  Esmg_Sequence *last = chain;
  while (last->next) last = last->next;
  last->next = step;
  return chain;
} TAVIRON_GUARD(err, nullptr)

void esmg_SequenceFree(Esmg_Sequence *chain) try {
  while (chain) {
    Esmg_Sequence *next = chain->next;
    emsc_HeapFree(chain->label);
    taviron::session::FreeStringArray(chain->argc, chain->argv);
    emsc_HeapFree(chain);
    chain = next;
  }
} TAVIRON_GUARD_QUIET_VOID

void esmg_FreeSequence(Esmg_Sequence *chain) try { esmg_SequenceFree(chain); } TAVIRON_GUARD_QUIET_VOID

} // extern "C"
