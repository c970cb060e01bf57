// What the units of the package share: the file-context checks, writing a named child, and the
// definition of a record's designs.
#include "eant_internal.h"

namespace taviron::eant {

Eant_InitData *CheckFileIO(const Eant_FileIO *fileIO, const char *reporter, Eerr_ErrorReport **err) {
  if (!fileIO || !fileIO->file) {
    lower::Report(err, reporter, 1, "Invalid input fileIO");
    return nullptr;
  }
  if (!fileIO->file->init) {
    lower::Report(err, reporter, 2, "%s", kToolkitNotInitialized);
    return nullptr;
  }
  Eant_InitData *data = PackageData(fileIO->file->init);
  if (!data) lower::Report(err, reporter, 3, "%s", kPackageNotInitialized);
  return data;
}

Ehfa_Entry *WriteChild(Ehfa_File *file, const char *name, const char *type, const void *record,
                       const Emif_Design *design, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  if (ehfa_EntryPeek(file, EHFA_CHILD_NAMED, name, &inner)) {
    if (!ehfa_EntrySeek(file, EHFA_CHILD_NAMED, name, err)) return nullptr;
    return ehfa_ObjectWrite(file, nullptr, nullptr, type, EHFA_OVERWRITE, record, design, err);
  }
  if (inner) {
    lower::PassOn(err, inner);
    return nullptr;
  }
  return ehfa_ObjectWrite(file, nullptr, name, type, EHFA_CHILD, record, design, err);
}

Emif_Design *DefineDesigns(Emif_Dictionary *dictionary, const char *reporter, std::initializer_list<DesignStep> steps,
                           Eerr_ErrorReport **err) {
  lower::Clear(err);
  Emif_Design *defined = nullptr;
  int32_t code = 0;
  for (const DesignStep &step : steps) {
    ++code;
    lower::CalleeReport inner;
    defined = record::Define(*step.design, dictionary, &inner);
    if (!defined) {
      if (step.namesDesign)
        lower::ReportChained(err, inner, reporter, code, "Error returned from emif_DefineObject for %s",
                             step.design->name);
      else
        lower::ReportCallee(err, inner, reporter, code, "emif_DefineObject");
      return nullptr;
    }
  }
  return defined;
}

} // namespace taviron::eant
