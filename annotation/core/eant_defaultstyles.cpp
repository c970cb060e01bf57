// The default styles file "antstyles.ads": the styles selected in one run, kept for the next. It
// lies in a directory of the preferences search path (the user's copy and a shared one) and holds
// a style library and the selected styles directly below the root.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "eant_internal.h"
#include "efio.h"
#include "efnp.h"
#include "emsc.h"
#include "estr.h"

namespace lower = taviron::lower;
using taviron::eant::HeapText;

namespace {

constexpr const char *kFileName = "antstyles.ads";
constexpr int32_t kPathSize = 256;

// The user's configuration folder of the library, which holds the file when no preferences path
// is set: $XDG_CONFIG_HOME/taviron, else $HOME/.config/taviron; empty when neither is set.
std::string UserFolder() {
  const char *config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config) return std::string(config) + "/taviron";
  const char *home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config/taviron";
  return {};
}

} // namespace

extern "C" {

char *eant_GetDefaultStylesFileName(int32_t kind, Eerr_ErrorReport **err) try {
  static const char *reporter = "GetPreferenceDirectory";
  lower::Clear(err);
  const bool user = kind == 1 || kind == 3, shared = kind == 2 || kind == 4;
  if (!user && !shared) return nullptr;
  lower::CalleeReport inner;
  const char *personal = std::getenv("PERSONAL");
  // Without a preferences path (unset) the user's configuration folder is the one directory; it
  // is made when the file is first written, not when its name is only wanted.
  const char *variable = std::getenv("NORIX_PREFERENCES_PATH");
  const std::string fallback = variable ? std::string() : UserFolder();
  struct List {
    Efio_SearchList *list;
    ~List() { efio_FreeSL(list); }
  } path{fallback.empty() ? efio_CreateSLFromEnv(0, "NORIX_PREFERENCES_PATH", nullptr, &inner) : nullptr};
  if (fallback.empty() && !path.list) {
    lower::ReportChained(err, inner, reporter, __LINE__, "efio_CreateSLFromEnv failed");
    return nullptr;
  }
  const int32_t count = fallback.empty() ? path.list->count : 1;
  if (count < 1) {
    lower::Report(err, reporter, __LINE__, "Environment variable NORIX_PREFERENCES_PATH yields invalid search list");
    return nullptr;
  }
  const char *directory = nullptr;
  if (count == 1) {
    directory = user && personal ? personal : !fallback.empty() ? fallback.c_str() : path.list->directories[0];
  } else {
    directory = path.list->directories[user ? count - 1 : count - 2];
  }
  HeapText name{efnp_FileNameAddName(directory, kFileName, &inner)};
  if (!name) {
    lower::ReportChained(err, inner, reporter, __LINE__, "efnp_fileNameAddName failed");
    return nullptr;
  }
  if (directory != fallback.c_str() && efio_MaybeMakeDir(directory, &inner) != 0) {
    lower::ReportChained(err, inner, reporter, __LINE__, "efio_MaybeMakeDir failed");
    return nullptr;
  }
  return name.release();
}
TAVIRON_GUARD(err, nullptr)

void eant_DefaultStylesWrite(Eant_AnnotationInfo *info, const char *fileName, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_DefaultStylesWrite";
  lower::Clear(err);
  if (!info || !fileName) return lower::Report(err, reporter, __LINE__, "Annotation info parameters are null");
  if (!info->styleLib) return lower::Report(err, reporter, __LINE__, "Annotation style library is null");
  if (!info->symbolLib) return lower::Report(err, reporter, __LINE__, "Annotation symbol library is null");
  if (!info->selectedStyles)
    return lower::Report(err, reporter, __LINE__, "Annotation selected styles are null");
  char expanded[kPathSize];
  if (!estr_PathExpand(fileName, expanded, kPathSize))
    return lower::Report(err, reporter, __LINE__, "Invalid style settings file path");

  // The new file is built beside the old one under a temporary name and renamed over it only
  // when it is complete: a failed or interrupted write leaves the old file as it was. Its folder
  // is made first when it is missing (the user's configuration folder, on the first write).
  const std::filesystem::path parent = std::filesystem::path(expanded).parent_path();
  const std::string directory = parent.empty() ? std::string(".") : parent.string();
  std::error_code made;
  std::filesystem::create_directories(directory, made);
  if (made) {
    return lower::Report(err, reporter, __LINE__, "Unable to create directory %s: %s", directory.c_str(),
                         made.message().c_str());
  }
  lower::CalleeReport inner;
  HeapText temporary{efio_TempName(directory.c_str(), "antstyles", &inner)};
  if (!temporary) return lower::ReportCallee(err, inner, reporter, __LINE__, "efio_TempName");
  Ehfa_File *file = ehfa_FileCreateWithOptions(temporary.get(), info->initToolkitData, &inner, 2, 0, 1, 1, 1, 0);
  if (!file) {
    taviron::eant::RemoveScratch(temporary.get()); // whatever a failed creation left
    return lower::ReportChained(err, inner, reporter, __LINE__, "Error creating the hierarchical file");
  }
  auto discard = [&] {
    ehfa_FileClose(std::exchange(file, nullptr), nullptr);
    taviron::eant::RemoveScratch(temporary.get());
  };
  Eant_FileIO *io = eant_FileIOCreate(&inner);
  if (!io) {
    discard();
    return lower::ReportCallee(err, inner, reporter, __LINE__, "eant_FileIOCreate");
  }
  io->file = file;
  io->versionFlags = 1;
  // The symbol library node is written here once the symbol library has its writer.
  bool written = false;
  eant_StyleLibraryWrite(io, ":", "StyleLibrary", info->styleLib, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, __LINE__, "eant_StyleLibraryWrite");
  } else {
    eant_SelectedStylesWrite(io, ":", info->selectedStyles, &inner);
    if (inner)
      lower::ReportCallee(err, inner, reporter, __LINE__, "eant_SelectedStylesWrite");
    else
      written = true;
  }
  eant_FileIOFree(&io);
  if (!written) return discard();
  ehfa_FileClose(std::exchange(file, nullptr), &inner);
  if (inner) {
    taviron::eant::RemoveScratch(temporary.get());
    return lower::ReportCallee(err, inner, reporter, __LINE__, "ehfa_FileClose");
  }
  if (efio_FileNameChange(temporary.get(), expanded, 0, &inner) != 0) {
    taviron::eant::RemoveScratch(temporary.get());
    lower::ReportChained(err, inner, reporter, __LINE__, "Error replacing the old hierarchical file");
  }
}
TAVIRON_GUARD_VOID(err)

void eant_DefaultStylesRead(Eant_AnnotationInfo *info, const char *fileName, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_DefaultStylesRead";
  lower::Clear(err);
  // Failures are printed, never handed back: a damaged file must not stop a layer being made.
  lower::CalleeReport report;
  Eerr_ErrorReport **printed = &report;
  if (!info || !fileName) {
    lower::Report(printed, reporter, __LINE__, "Annotation info parameters are null");
    eerr_PrintErrorReport(report.Get(), 1, nullptr);
    return;
  }
  char expanded[kPathSize];
  if (!estr_PathExpand(fileName, expanded, kPathSize)) {
    lower::Report(printed, reporter, __LINE__, "Invalid style settings file path");
    eerr_PrintErrorReport(report.Get(), 1, nullptr);
    return;
  }
  if (efio_FileExists(expanded, nullptr) != 1) return;

  lower::CalleeReport inner;
  Ehfa_File *file = ehfa_FileOpen(expanded, "r", info->initToolkitData, &inner);
  Eant_FileIO *io = nullptr;
  Eant_StyleLibrary *library = nullptr;
  Eant_SelectedStyles *selected = nullptr, *current = nullptr, *defaults = nullptr;
  [&] {
    if (!file) return lower::ReportChained(printed, inner, reporter, __LINE__, "Error opening style settings file");
    if (!(io = eant_FileIOCreate(&inner)))
      return lower::ReportCallee(printed, inner, reporter, __LINE__, "eant_FileIOCreate");
    io->file = file;
    io->versionFlags = 1;
    library = eant_StyleLibraryRead(io, ":StyleLibrary", nullptr, &inner);
    if (inner || !library)
      return lower::ReportChained(printed, inner, reporter, __LINE__, "Error reading default style library");
    // The symbol library is read here once the symbol library has its reader.
    selected = eant_SelectedStylesRead(io, ":", nullptr, &inner);
    if (inner || !selected)
      return lower::ReportChained(printed, inner, reporter, __LINE__, "Error reading default selected styles");
    if (!(current = eant_SelectedStylesCopy(selected, nullptr, &inner)))
      return lower::ReportCallee(printed, inner, reporter, __LINE__, "eant_SelectedStylesCopy for currentStyles");
    if (!(defaults = eant_SelectedStylesCopy(selected, nullptr, &inner)))
      return lower::ReportCallee(printed, inner, reporter, __LINE__, "eant_SelectedStylesCopy for defaultStyles");
  }();
  if (report) {
    eerr_PrintErrorReport(report.Get(), 1, nullptr);
    eant_StyleLibraryFree(&library);
    eant_SelectedStylesFree(&selected);
    eant_SelectedStylesFree(&current);
    eant_SelectedStylesFree(&defaults);
  } else {
    eant_StyleLibraryFree(&info->styleLib);
    eant_SelectedStylesFree(&info->selectedStyles);
    eant_SelectedStylesFree(&info->currentStyles);
    eant_SelectedStylesFree(&info->defaultStyles);
    info->styleLib = library;
    info->selectedStyles = selected;
    info->currentStyles = current;
    info->defaultStyles = defaults;
  }
  eant_FileIOFree(&io);
  ehfa_FileClose(file, nullptr);
}
TAVIRON_GUARD_QUIET_VOID

} // extern "C"
