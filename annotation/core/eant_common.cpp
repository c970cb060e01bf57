// What the units of the package share: the file-context checks, writing a named child, the
// definition of a record's designs, warnings, and the shape test of polynomials.
#include <cstdarg>

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

bool IsAffine(const Efga_Polynomial *polynomial) {
  if (!polynomial || polynomial->order != 1) return false;
  const Egda_BaseData *linear = polynomial->coefficients, *constants = polynomial->constants;
  return linear && constants && linear->rows == 2 && linear->columns == 2 && constants->rows == 2 &&
         constants->columns >= 1 && linear->pixelType == EGDA_TYPE_F64 && constants->pixelType == EGDA_TYPE_F64 &&
         linear->origin && constants->origin;
}

void ReportWarning(Eerr_ErrorReport **err, lower::CalleeReport &inner, const char *reporter, int32_t code,
                   const char *format, ...) {
  Eerr_ErrorReport *below = inner.Release();
  if (!err) {
    eerr_DeleteErrorReportEx(&below);
    return;
  }
  va_list ap;
  va_start(ap, format);
  *err = eerr_CreateErrorReportV(reporter, code, EERR_WARNING, lower::JoinChains(below, *err), format, ap);
  va_end(ap);
}

} // namespace taviron::eant
