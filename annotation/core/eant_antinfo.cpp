// The annotation info: the contents of one layer (create, initialise, copy, free, print), its
// writer and reader as a layer node, whole-layer rendering in one call or in budgeted steps,
// the clearing of its cached renderer objects, map transforms and reprojection, fresh element
// identifiers and the database access of smart text.
//
// A few services of other parts of the package are not in the tree yet; the info reaches each of
// them through one small function of this file (the "For now" section), which the unit that
// builds the service replaces with its call.
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "eant_internal.h"
#include "egda_pixel.h"
#include "efio.h"
#include "emsc.h"
#include "keywords.h"

namespace lower = taviron::lower;
using namespace taviron::eant;

namespace {

constexpr const char *kStyleLibraryNode = "StyleLibrary";
constexpr const char *kElementListNode = "ElementList";
constexpr const char *kSelectedStylesNode = "SelectedStyles";

// ---- For now: services whose units are still to come ---------------------------------------

// The default symbol library: an empty one with its own default style library.
Eant_SymbolLibrary *DefaultSymbolLibrary(Eerr_ErrorReport **err) {
  Eant_SymbolLibrary *library = eant_SymbolLibraryCreate(err);
  if (!library) return nullptr;
  if (!(library->styleLibrary = eant_StyleLibraryCreateDefault(nullptr, err))) eant_SymbolLibraryFree(&library);
  return library;
}

// A reference to the first style of a list, or null when the list is empty.
Eant_Style *FirstOf(Edlm_List *list, Eerr_ErrorReport **err) {
  const int32_t count = list ? edlm_CountList(list, nullptr) : 0;
  for (int32_t i = 0; i < count; ++i)
    if (*static_cast<void **>(edlm_GetAddr(list, i, nullptr)))
      return eant_StyleSetValues(nullptr, nullptr, nullptr, i, err);
  return nullptr;
}

// The selected styles of a layer: the first styles of its own library, the package's text
// height and symbol size in output units.
bool InitSelectedStyles(Eant_AnnotationInfo *info, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  Eant_SelectedStyles *styles = eant_SelectedStylesCreate(&inner);
  if (!styles) {
    lower::PassOn(err, inner);
    return false;
  }
  if (Eant_StyleLibrary *library = info->styleLib) {
    styles->selectedLineStyle = FirstOf(library->lineStyles, &inner);
    styles->selectedFillStyle = FirstOf(library->fillStyles, &inner);
    styles->selectedTextStyle = FirstOf(library->textStyles, &inner);
    styles->selectedColor = FirstOf(library->colors, &inner);
  }
  const Eant_InitData *data = PackageData(info->initToolkitData);
  styles->selectedTextHeight = data ? data->textHeight : 0;
  styles->selectedSymbolScale = data ? data->symbolSize : 0;
  if (!inner)
    styles->textHeightScaleUnits =
        eant_CoordDefinitionSetValues(nullptr, EEVG_OUTPUT, data ? data->textUnits : nullptr, &inner);
  if (!inner)
    styles->symbolScaleUnits =
        eant_CoordDefinitionSetValues(nullptr, EEVG_OUTPUT, data ? data->symbolUnits : nullptr, &inner);
  if (inner) {
    eant_SelectedStylesFree(&styles);
    lower::PassOn(err, inner);
    return false;
  }
  eant_SelectedStylesFree(&info->selectedStyles);
  info->selectedStyles = styles;
  return true;
}

// ---- Helpers of the writer and reader ---------------------------------------------------------

// Frees an info an operation made unless the operation hands it out (also when an exception
// leaves the operation).
struct InfoDeleter {
  void operator()(Eant_AnnotationInfo *info) const noexcept { eant_AnnotationInfoFree(&info); }
};
using InfoPtr = std::unique_ptr<Eant_AnnotationInfo, InfoDeleter>;

// The options of an option list (code 0 and a value; code 1 ends the list): the version-flags
// permission, and for the reader whether the elements before a damaged element record are kept.
struct Options {
  int32_t permission = 1;
  int32_t keepReadElements = 0;
};
constexpr lower::Keyword kWriteOptionKeywords[] = {{EANT_OPTION_VERSION_FLAGS, {lower::Value::Int}}};
constexpr lower::KeywordList kWriteOptionList{{kWriteOptionKeywords}, "Invalid option %d", EANT_OPTION_END};
constexpr lower::Keyword kReadOptionKeywords[] = {{EANT_OPTION_VERSION_FLAGS, {lower::Value::Int}},
                                                  {EANT_OPTION_KEEP_READ_ELEMENTS, {lower::Value::Int}}};
constexpr lower::KeywordList kReadOptionList{{kReadOptionKeywords}, "Invalid option %d", EANT_OPTION_END};

bool ReadOptions(const lower::KeywordList &list, va_list ap, const char *reporter, Options &options,
                 Eerr_ErrorReport **err) {
  options = Options{};
  return lower::ReadKeywords(list, ap, reporter, 1, err, [&](int32_t code, const lower::KeywordValues &v) {
    (code == EANT_OPTION_VERSION_FLAGS ? options.permission : options.keepReadElements) = v.Int(0);
    return true;
  });
}

// Changes the file's mode back when it ends, and frees the file context.
class FileMode {
public:
  FileMode(Ehfa_File *file, Eant_FileIO *io) : file_(file), io_(io) {}
  ~FileMode() {
    if (changed_) {
      lower::CalleeReport inner;
      if (write_)
        ehfa_FileChange(file_, &inner, EHFA_CHANGE_WRITE_MODE, 1, 1, 0, 1, 0);
      else
        ehfa_FileChange(file_, &inner, EHFA_CHANGE_BRACKET, 0, 0, 7, 0, 0);
      if (inner) eerr_PrintErrorReport(inner.Get(), 1, nullptr);
    }
    eant_FileIOFree(&io_);
  }
  FileMode(const FileMode &) = delete;
  FileMode &operator=(const FileMode &) = delete;
  bool Change(bool write, Eerr_ErrorReport **err) {
    write_ = write;
    changed_ = (write ? ehfa_FileChange(file_, err, EHFA_CHANGE_WRITE_MODE, 0, 1, 1, 1, 0)
                      : ehfa_FileChange(file_, err, EHFA_CHANGE_BRACKET, 1, 0, 7, 1, 0)) == 0;
    return changed_;
  }

private:
  Ehfa_File *file_;
  Eant_FileIO *io_;
  bool changed_ = false, write_ = false;
};

// Returns to the layer node (a failure is of no consequence to the caller).
void BackTo(Ehfa_File *file, const std::string &layerPath) {
  ehfa_EntrySeek(file, EHFA_PATH, layerPath.c_str(), nullptr);
}

// Removes every child of the layer node of that name (what an earlier write of the layer left),
// so that a part written anew replaces it instead of standing behind it. False with the report.
bool RemoveChildren(Ehfa_File *file, const std::string &layerPath, const char *name, Eerr_ErrorReport **err) {
  for (;;) {
    if (!ehfa_EntrySeek(file, EHFA_PATH, layerPath.c_str(), err)) return false;
    if (!ehfa_EntrySeek(file, EHFA_CHILD_NAMED, name, err)) return !(err && *err);
    if (ehfa_EntryDelete(file, err) != 0) return false;
  }
}

// The path of the current entry.
std::string CurrentPath(Ehfa_File *file, Eerr_ErrorReport **err) {
  char *path = ehfa_CurrentEntryPath(file, err);
  std::string text = path ? path : "";
  emsc_HeapFree(path);
  return text;
}
std::string ChildPath(const std::string &parent, const char *child) {
  return parent == ":" ? ":" + std::string(child) : parent + ":" + child;
}

// Sets a conversion up for a render and puts it back as it was when it ends.
class RenderSetup {
public:
  RenderSetup(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, _exfr_XForm *transform)
      : conversion_(conversion), transform_(conversion->mapTransform) {
    if (!conversion->mapUnits && info->mapInfo && info->mapInfo->units.data)
      conversion->mapUnits =
          lower::HeapCopy(info->mapInfo->units.data, std::strlen(info->mapInfo->units.data));
    conversion->mapTransform = transform;
    eant_DBIDataSet(info->dbiData);
  }
  ~RenderSetup() {
    eant_DBIDataSet(nullptr);
    conversion_->mapTransform = transform_;
    if (madeReference_) {
      eevg_CoordFree(&conversion_->referenceCoord);
      conversion_->referenceCoord = reference_;
    }
  }
  RenderSetup(const RenderSetup &) = delete;
  RenderSetup &operator=(const RenderSetup &) = delete;
  // The reference coordinate at the centre of the layer box (kept after the render when keep).
  bool Reference(const Eant_AntHeader *header, bool keep, Eerr_ErrorReport **err) {
    if (!header || !IsCorners(header->bBox)) return true;
    Eevg_Coord *centre = eevg_CoordCreate(err);
    if (!centre) return false;
    centre->x = centre->y = 0;
    for (int32_t c = 0; c < 4; ++c) {
      centre->x += lower::At<double>(*header->bBox, 0, c) / 4;
      centre->y += lower::At<double>(*header->bBox, 1, c) / 4;
    }
    if (keep) {
      conversion_->referenceCoord = centre;
      return true;
    }
    reference_ = std::exchange(conversion_->referenceCoord, centre);
    madeReference_ = true;
    return true;
  }

private:
  Eant_CoordSysConversion *conversion_;
  _exfr_XForm *transform_;
  Eevg_Coord *reference_ = nullptr;
  bool madeReference_ = false;
};

// The conversion of a layer whose box is `box`: paper of 10 units across the box.
Eant_CoordSysConversion *BoxConversion(const Evec_Bbox *box, const char *mapUnits, Eerr_ErrorReport **err) {
  const double xmin = lower::At<double>(*box, 0, 0), ymin = lower::At<double>(*box, 1, 0);
  const double xmax = lower::At<double>(*box, 0, 1), ymax = lower::At<double>(*box, 1, 1);
  return eant_CoordSysConversionSetValues(nullptr, 1, 1, (xmax - xmin) / 10, (ymax - ymin) / 10, xmin, ymin,
                                          "inches", mapUnits, err);
}

} // namespace

extern "C" {

// ---- Records -------------------------------------------------------------------------------------

Eant_FileIO *eant_FileIOCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *io = lower::HeapNew<Eant_FileIO>();
  if (!io) lower::Report(err, "eant_FileIOCreate", 1, "Error allocating fileIO");
  return io;
}
TAVIRON_GUARD(err, nullptr)

void eant_FileIOFree(Eant_FileIO **fileIO) try {
  if (fileIO && *fileIO) emsc_HeapFreeEx(fileIO);
}
TAVIRON_GUARD_QUIET_VOID

Eant_AnnotationInfo *eant_AnnotationInfoCreate(Eint_InitToolkitData *toolkit, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *info = lower::HeapNew<Eant_AnnotationInfo>();
  if (!info) {
    lower::Report(err, "eant_AnnotationInfoCreate", 1, "Error allocating Annotation Info");
    return nullptr;
  }
  info->initToolkitData = toolkit;
  return info;
}
TAVIRON_GUARD(err, nullptr)

Eant_AnnotationInfo *eant_AnnotationInfoBareCreate(Eerr_ErrorReport **err) try {
  static const char *reporter = "DefaultStyleLibraryCreate";
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_AnnotationInfo *info = eant_AnnotationInfoCreate(eint_GetInit(), &inner);
  if (!info) {
    lower::ReportCallee(err, inner, reporter, __LINE__, "eant_AnnotationInfoCreate");
    return nullptr;
  }
  if (!(info->antHead = eant_AntHeaderCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, __LINE__, "eant_AntHeaderCreate");
    return info;
  }
  if (!(info->styleLib = eant_StyleLibraryCreateDefault(nullptr, &inner))) {
    lower::ReportCallee(err, inner, reporter, __LINE__, "eant_StyleLibraryCreateDefault");
    return info;
  }
  if (!(info->symbolLib = DefaultSymbolLibrary(&inner))) {
    lower::ReportCallee(err, inner, reporter, __LINE__, "eant_SymbolLibraryCreateDefault");
    return info;
  }
  if (!InitSelectedStyles(info, &inner))
    lower::ReportCallee(err, inner, reporter, __LINE__, "eant_SelectedStylesInit");
  return info;
}
TAVIRON_GUARD(err, nullptr)

void eant_AnnotationInfoInit(Eant_AnnotationInfo *info, Eevg_Control *control, const Eevg_Color *background,
                             Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationInfoInit";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input Eant_AnnotationInfo");
    return;
  }
  lower::CalleeReport inner;
  if (!info->antHead && !(info->antHead = eant_AntHeaderCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_AntHeaderCreate");
    return;
  }
  // Without a style library the layer takes the styles of the user's default styles file, else
  // of the shared one; without either it starts from the default libraries.
  if (!info->styleLib) {
    char *name = eant_GetDefaultStylesFileName(1, &inner);
    if (name && efio_FileExists(name, nullptr) != 1) {
      emsc_HeapFree(name);
      name = eant_GetDefaultStylesFileName(2, &inner);
    }
    if (!name) {
      lower::ReportCallee(err, inner, reporter, 3, "eant_GetDefaultStylesFileName");
      return;
    }
    eant_DefaultStylesRead(info, name, nullptr);
    emsc_HeapFree(name);
    if (info->styleLib && !info->symbolLib && !(info->symbolLib = DefaultSymbolLibrary(&inner))) {
      lower::ReportCallee(err, inner, reporter, 5, "eant_StyleLibraryCreateDefault for symbolLib");
      return;
    }
  }
  if (!info->styleLib) {
    if (!(info->styleLib = eant_StyleLibraryCreateDefault(background, &inner))) {
      lower::ReportCallee(err, inner, reporter, 4, "eant_StyleLibraryCreateDefault");
      return;
    }
    if (!info->symbolLib && !(info->symbolLib = DefaultSymbolLibrary(&inner))) {
      lower::ReportCallee(err, inner, reporter, 5, "eant_StyleLibraryCreateDefault for symbolLib");
      return;
    }
    if (!InitSelectedStyles(info, &inner)) {
      lower::ReportCallee(err, inner, reporter, 6, "eant_SelectedStylesInit");
      return;
    }
    if (!(info->currentStyles = eant_SelectedStylesCopy(info->selectedStyles, info->currentStyles, &inner))) {
      lower::ReportCallee(err, inner, reporter, 7, "eant_SelectedStylesCopy for currentStyles");
      return;
    }
    if (!(info->defaultStyles = eant_SelectedStylesCopy(info->selectedStyles, info->defaultStyles, &inner))) {
      lower::ReportCallee(err, inner, reporter, 8, "eant_SelectedStylesCopy for defaultStyles");
      return;
    }
  }
  eant_GetFakeEevgDrawing(info, control, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 9, "eant_GetFakeEevgDrawing");
}
TAVIRON_GUARD_VOID(err)

void eant_AnnotationInfoFree(Eant_AnnotationInfo **info) try {
  if (!info || !*info) return;
  Eant_AnnotationInfo *i = *info;
  eant_AntHeaderFree(&i->antHead);
  eant_ElementListFree(&i->elements);
  eprj_MapInfoFree(&i->mapInfo);
  eprj_ProParametersFree(&i->proParameters);
  eant_StyleLibraryFree(&i->styleLib);
  eant_SymbolLibraryFree(&i->symbolLib);
  eant_ClearClipWindow(i, nullptr);
  eant_CriteriaFree(&i->criteria);
  eant_SelectedStylesFree(&i->selectedStyles);
  eant_SelectedStylesFree(&i->currentStyles);
  eant_SelectedStylesFree(&i->defaultStyles);
  if (i->eevgInfo) eevg_Free(&i->eevgInfo, nullptr);
  if (i->fakeDrawing) eevg_DrawingFree(&i->fakeDrawing, nullptr);
  for (Eant_Callback *&list : i->callbacks) eant_CallbackFree(&list);
  eant_DBIDataFree(&i->dbiData);
  emsc_HeapFreeEx(info);
}
TAVIRON_GUARD_QUIET_VOID

void eant_AnnotationPrint(Eant_AnnotationInfo *info, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationPrint";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input annotation information");
    return;
  }
  efio_Printf(info->modified ? "   modified - true\n" : "   modified - false\n");
  lower::CalleeReport inner;
  if (info->antHead) {
    eant_AntHeaderPrint(info->antHead, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 2, "eant_AntHeaderPrint");
  }
  if (info->proParameters) {
    eprj_ProParametersPrint(info->proParameters, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 3, "eprj_ProParametersPrint");
  }
  for (const Eant_StyleLibrary *library = info->styleLib; library; library = library->next) {
    eant_StyleLibraryListPrint(library, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 4, "eant_StyleLibraryListPrint");
  }
  for (const Eant_SymbolLibrary *library = info->symbolLib; library; library = library->next)
    efio_Printf("Symbol Library: %s\n", Text(library->fileNodeName) ? Text(library->fileNodeName) : "NULL");
  if (info->elements) {
    efio_Printf("Elements:\n");
    eant_ElementListPrint(info->elements, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 6, "eant_ElementListPrint");
  }
}
TAVIRON_GUARD_VOID(err)

Eant_AnnotationInfo *eant_AnnotationInfoCopy(Eant_AnnotationInfo *source, Eant_AnnotationInfo *target,
                                             Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationInfoCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eant_AnnotationInfo");
    return target;
  }
  if (source == target) return target;
  lower::CalleeReport inner;
  InfoPtr made;
  if (!target) {
    if (!(target = eant_AnnotationInfoCreate(source->initToolkitData, &inner))) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_AnnotationInfoCreate");
      return nullptr;
    }
    made.reset(target);
  }
  auto fail = [&](int32_t code, const char *callee) {
    lower::ReportCallee(err, inner, reporter, code, callee);
    return made ? nullptr : target; // a record made here is freed
  };
  if (source->antHead) {
    Eant_AntHeader *header = eant_AntHeaderCopy(source->antHead, target->antHead, &inner);
    if (!header) return fail(3, "eant_AntHeaderCopy");
    target->antHead = header;
  } else {
    eant_AntHeaderFree(&target->antHead);
  }
  eant_ElementListFree(&target->elements);
  if (source->elements) {
    if (!(target->elements = eant_ElementListCopy(source->elements, nullptr, &inner)))
      return fail(4, "eant_ElementListCopy");
    eant_ElementListReplaceAntInfo(target->elements, target, &inner);
    if (inner) return fail(5, "eant_ElementListReplaceAntInfo");
  }
  if (source->mapInfo) {
    Eprj_MapInfo *map = eprj_MapInfoCopy(source->mapInfo, target->mapInfo, &inner);
    if (!map) return fail(6, "eprj_MapInfoCopy");
    target->mapInfo = map;
  } else {
    eprj_MapInfoFree(&target->mapInfo);
  }
  if (source->proParameters) {
    Eprj_ProParameters *parameters =
        eprj_ProParametersCopy(source->proParameters, target->proParameters, &inner);
    if (!parameters) return fail(7, "eprj_ProParametersCopy");
    target->proParameters = parameters;
  } else {
    eprj_ProParametersFree(&target->proParameters);
  }
  eant_StyleLibraryFree(&target->styleLib);
  if (source->styleLib && !(target->styleLib = eant_StyleLibraryCopy(source->styleLib, nullptr, &inner)))
    return fail(8, "eant_StyleLibraryCopy");
  eant_SymbolLibraryFree(&target->symbolLib);
  if (source->symbolLib && !(target->symbolLib = SymbolLibraryCopy(source->symbolLib, &inner)))
    return fail(9, "eant_SymbolLibraryCopy");
  // A copy has no criteria (its own clip window goes with them) and nothing selected.
  eant_ClearClipWindow(target, nullptr);
  eant_CriteriaFree(&target->criteria);
  target->selectedElements = nullptr;
  struct Styles {
    Eant_SelectedStyles *Eant_AnnotationInfo::*member;
    int32_t code;
  } styles[] = {{&Eant_AnnotationInfo::selectedStyles, 10},
                {&Eant_AnnotationInfo::defaultStyles, 11},
                {&Eant_AnnotationInfo::currentStyles, 12}};
  for (const Styles &s : styles) {
    if (!(source->*s.member)) {
      eant_SelectedStylesFree(&(target->*s.member));
      continue;
    }
    Eant_SelectedStyles *copy = eant_SelectedStylesCopy(source->*s.member, target->*s.member, &inner);
    if (!copy) return fail(s.code, "eant_SelectedStylesCopy");
    target->*s.member = copy;
  }
  target->clipWindow = nullptr;
  if (source->fakeDrawing && !target->fakeDrawing) {
    eant_GetFakeEevgDrawing(target, nullptr, &inner);
    if (inner) return fail(13, "eant_GetFakeEevgDrawing");
  }
  target->modified = 1;
  for (Eant_Callback *&list : target->callbacks) eant_CallbackFree(&list);
  target->undoStack = nullptr;
  target->undoFlag = 0;
  target->reserved = 0;
  eant_DBIDataFree(&target->dbiData);
  made.release();
  return target;
}
TAVIRON_GUARD(err, nullptr)

// ---- Writing and reading ----------------------------------------------------------------------

void eant_AnnotationInfoWriteWithOptions(Ehfa_File *file, const char *nodePath, const char *nodeName,
                                         Eant_AnnotationInfo *info, Eerr_ErrorReport **err, ...) try {
  static const char *reporter = "eant_AnnotationInfoWriteWithOptions";
  lower::Clear(err);
  Options options;
  va_list ap;
  va_start(ap, err);
  const bool read = ReadOptions(kWriteOptionList, ap, reporter, options, err);
  va_end(ap);
  if (!read) return;
  if (!info) return lower::Report(err, reporter, 1, "Invalid input annotation info");
  if (!file) return lower::Report(err, reporter, 2, "Invalid input ehfaFile");
  lower::CalleeReport inner;
  Eant_FileIO *io = eant_FileIOCreate(&inner);
  if (!io) return lower::ReportCallee(err, inner, reporter, 3, "eant_FileIOCreate");
  io->file = file;
  io->versionFlags = options.permission;
  FileMode mode(file, io);
  if (!mode.Change(true, &inner))
    return lower::ReportChained(err, inner, reporter, 2365, "ehfa_FileChange fail");
  ++io->depth;

  eant_AntHeaderWrite(io, nodePath, nodeName, info->antHead, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 4, "eant_AntHeaderWrite");
  const std::string layer = CurrentPath(file, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 4, "ehfa_CurrentEntryPath");
  eant_AnnotationVersionWrite(io, nullptr, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 5, "eant_AnnotationVersionWrite");
  BackTo(file, layer);
  if (io->versionFlags == 1) {
    eant_AnnotationVersionFlagsWrite(io, nullptr, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 6, "eant_AnnotationVersionFlagsWrite");
    BackTo(file, layer);
  }
  if (info->mapInfo) {
    if (eprj_MapInfoWrite(file, layer.c_str(), info->mapInfo, &inner) != 0 || inner)
      return lower::ReportCallee(err, inner, reporter, 7, "eprj_MapInfoWrite");
    BackTo(file, layer);
    if (info->proParameters) {
      if (eprj_ProParametersWrite(file, layer.c_str(), info->proParameters, &inner) != 0 || inner)
        return lower::ReportCallee(err, inner, reporter, 8, "eprj_ProParametersWrite");
      BackTo(file, layer);
    }
  }
  if (info->styleLib) {
    eant_StyleLibraryWrite(io, layer.c_str(), kStyleLibraryNode, info->styleLib, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 9, "eant_StyleLibraryWrite");
    BackTo(file, layer);
  }
  // The symbol library is written here once its writer is in the tree.
  // The element list and the default styles of an earlier write of this layer are replaced, not
  // kept beside the new ones (a reader would find the old ones first, and an emptied list would
  // come back).
  if (!RemoveChildren(file, layer, kElementListNode, &inner) ||
      !RemoveChildren(file, layer, kSelectedStylesNode, &inner))
    return lower::ReportCallee(err, inner, reporter, 11, "ehfa_EntryDelete");
  BackTo(file, layer);
  eant_ElementNodeAndListWrite(io, layer.c_str(), EANT_ELEMENTLIST, kElementListNode, info->elements, &inner);
  if (inner && inner->severity >= 2)
    return lower::ReportCallee(err, inner, reporter, 11, "eant_ElementNodeAndListWrite");
  inner.Drop(); // an empty list is only a warning
  BackTo(file, layer);
  if (info->defaultStyles) {
    eant_SelectedStylesWrite(io, layer.c_str(), info->defaultStyles, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 12, "eant_SelectedStylesWrite");
    BackTo(file, layer);
  }
  ehfa_FileFlush(file, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 13, "ehfa_FileFlush");
  info->modified = 0;
}
TAVIRON_GUARD_VOID(err)

void eant_AnnotationInfoWrite(Ehfa_File *file, const char *nodePath, const char *nodeName,
                              Eant_AnnotationInfo *info, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  eant_AnnotationInfoWriteWithOptions(file, nodePath, nodeName, info, &inner, EANT_OPTION_END);
  lower::PassOn(err, inner);
}
TAVIRON_GUARD_VOID(err)

Eant_AnnotationInfo *eant_AnnotationInfoReadWithOptions(Ehfa_File *file, const char *nodePath,
                                                        Eant_AnnotationInfo *info, Eerr_ErrorReport **err,
                                                        ...) try {
  static const char *reporter = "eant_AnnotationInfoReadWithOptions";
  lower::Clear(err);
  Options options;
  va_list ap;
  va_start(ap, err);
  const bool read = ReadOptions(kReadOptionList, ap, reporter, options, err);
  va_end(ap);
  if (!read) return info;
  if (!file) {
    lower::Report(err, reporter, 1, "Invalid input ehfaFile");
    return info;
  }
  lower::CalleeReport inner, damage;
  InfoPtr made;
  if (info) {
    eant_ElementListFree(&info->elements);
  } else {
    if (!(info = eant_AnnotationInfoCreate(file->init, &inner))) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_AnnotationInfoCreate");
      return nullptr;
    }
    made.reset(info);
  }
  auto fail = [&](int32_t code, const char *callee) {
    lower::ReportCallee(err, inner, reporter, code, callee);
    return made ? nullptr : info; // a record made here is freed
  };
  {
    Eant_FileIO *io = eant_FileIOCreate(&inner);
    if (!io) return fail(3, "eant_FileIOCreate");
    io->file = file;
    if (options.keepReadElements == 1) io->reserved |= EANT_FILEIO_KEEP_READ_ELEMENTS;
    FileMode mode(file, io);
    if (!mode.Change(false, &inner)) return fail(4, "ehfa_FileChange");
    ++io->depth;

    eant_AnnotationVersionRead(io, nodePath, &inner);
    if (inner) return fail(5, "eant_AnnotationVersionRead");
    eant_AnnotationVersionFlagsRead(io, nodePath, &inner);
    if (inner) return fail(6, "eant_AnnotationVersionFlagsRead");
    if (options.permission == 0) io->versionFlags = 0;

    Eant_AntHeader *header = eant_AntHeaderRead(io, nodePath, info->antHead, &inner);
    if (inner || !header) {
      lower::ReportChained(err, inner, reporter, 7, "Error returned from eant_AntHeaderRead for layer %s",
                           nodePath ? nodePath : "");
      return made ? nullptr : info; // a record made here is freed
    }
    info->antHead = header;
    const std::string layer = CurrentPath(file, &inner);
    if (inner) return fail(7, "ehfa_CurrentEntryPath");

    // Map information and projection are optional.
    if (Eprj_MapInfo *map = eprj_MapInfoRead(file, layer.c_str(), info->mapInfo, 0, &inner); map && !inner) {
      info->mapInfo = map;
      BackTo(file, layer);
      Eprj_ProParameters *parameters =
          eprj_ProParametersRead(file, layer.c_str(), info->proParameters, 0, &inner);
      if (parameters && !inner) info->proParameters = parameters;
    } else if (map != info->mapInfo) {
      eprj_MapInfoFree(&map);
    }
    inner.Drop();
    BackTo(file, layer);

    Eant_Element *elements = eant_ElementNodeAndListRead(info, io, layer.c_str(), EANT_ELEMENTLIST, &inner);
    if (inner && inner->severity >= 2) {
      eant_ElementListFree(&elements);
      return fail(8, "eant_ElementNodeAndListRead");
    }
    // A list cut short at a damaged element (asked for; the list reader's code 3) is told to the
    // caller; a missing list node (code 2) only means no elements.
    if (options.keepReadElements == 1 && inner && inner->code == 3) lower::PassOn(&damage, inner);
    inner.Drop();
    info->elements = elements;
    BackTo(file, layer);

    if (Eant_SelectedStyles *styles =
            eant_SelectedStylesRead(io, layer.c_str(), info->selectedStyles, &inner);
        styles && !inner)
      info->selectedStyles = styles;
    inner.Drop();
    BackTo(file, layer);

    Eant_StyleLibrary *library =
        eant_StyleLibraryRead(io, ChildPath(layer, kStyleLibraryNode).c_str(), info->styleLib, &inner);
    if (library && !inner) {
      info->styleLib = library;
    } else {
      if (library != info->styleLib) eant_StyleLibraryFree(&library);
      eant_StyleLibraryFree(&info->styleLib);
    }
    inner.Drop();
    BackTo(file, layer);
    // The symbol library is read here once its reader is in the tree.
  }
  if (info->symbolLib && !info->symbolLib->styleLibrary) {
    Eant_StyleLibrary *own = eant_StyleLibraryCreate(&inner);
    if (!own) return fail(10, "eant_StyleLibraryCreate");
    info->symbolLib->styleLibrary = own;
    const int32_t count = info->styleLib && info->styleLib->lineStyles
                              ? edlm_CountList(info->styleLib->lineStyles, nullptr)
                              : 0;
    for (int32_t i = 0; i < count; ++i) {
      if (!*static_cast<void **>(edlm_GetAddr(info->styleLib->lineStyles, i, nullptr))) continue;
      eant_LineStyleCopyBetweenLibs(i, info->styleLib, own, &inner);
      if (inner) return fail(11, "eant_LineStyleCopyBetweenLibs");
    }
  }
  // Number 0 of every kind of style exists, whatever the file held.
  eant_LibrariesValidate(info, &inner);
  if (inner) return fail(12, "eant_LibrariesValidate");
  if (!info->selectedStyles && !InitSelectedStyles(info, &inner)) return fail(13, "eant_SelectedStylesInit");
  if (!(info->currentStyles = eant_SelectedStylesCopy(info->selectedStyles, info->currentStyles, &inner)))
    return fail(14, "eant_SelectedStylesCopy");
  if (!(info->defaultStyles = eant_SelectedStylesCopy(info->selectedStyles, info->defaultStyles, &inner)))
    return fail(15, "eant_SelectedStylesCopy");
  info->modified = 0;
  made.release();
  lower::PassOn(err, damage);
  return info;
}
TAVIRON_GUARD(err, nullptr)

Eant_AnnotationInfo *eant_AnnotationInfoRead(Ehfa_File *file, const char *nodePath, Eant_AnnotationInfo *info,
                                             Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_AnnotationInfo *read = eant_AnnotationInfoReadWithOptions(
      file, nodePath, info, &inner, EANT_OPTION_VERSION_FLAGS, 0, EANT_OPTION_END);
  lower::PassOn(err, inner);
  return read;
}
TAVIRON_GUARD(err, nullptr)

// ---- Rendering --------------------------------------------------------------------------------

void eant_AnnotationInfoClearEvaluatedStyles(Eant_AnnotationInfo *info, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationInfoClearEvaluatedStyles";
  lower::Clear(err);
  if (!info) return lower::Report(err, reporter, 1, "Invalid input antInfo");
  lower::CalleeReport inner;
  eant_StyleLibraryClearEvaluatedStyles(info->styleLib, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 2, "eant_StyleLibraryClearEvaluatedStyles");
  if (info->symbolLib) eant_StyleLibraryClearEvaluatedStyles(info->symbolLib->styleLibrary, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 3, "eant_SymbolLibraryClearEvaluatedStyles");
  if (const Eant_InitData *data = PackageData(info->initToolkitData))
    for (Eant_SymbolLibrary *library = data->symbolLibraryCache; library && !inner; library = library->next)
      eant_StyleLibraryClearEvaluatedStyles(library->styleLibrary, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 4, "eant_SymbolLibraryListClearEvaluatedStyles");
}
TAVIRON_GUARD_VOID(err)

void eant_AnnotationRenderWithoutClearingStyles(Eant_AnnotationInfo *info, _exfr_XForm *transform,
                                                Eant_CoordSysConversion *conversion, Eevg_Drawing *drawing,
                                                Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationRenderWithoutClearingStyles";
  lower::Clear(err);
  if (!info) return lower::Report(err, reporter, 1, "Invalid input annotation information");
  if (!conversion) return lower::Report(err, reporter, 2, "Invalid input coordConvert");
  lower::CalleeReport inner;
  RenderSetup setup(info, conversion, transform);
  if (!setup.Reference(info->antHead, false, &inner))
    return lower::ReportCallee(err, inner, reporter, 3, "eevg_CoordCreate");
  if (!info->elements) return;
  eant_ElementListRender(info->initToolkitData, info->styleLib, info->symbolLib, info->criteria,
                         info->elements, transform, conversion, drawing, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 4, "eant_ElementListRender");
}
TAVIRON_GUARD_VOID(err)

void eant_AnnotationRender(Eant_AnnotationInfo *info, _exfr_XForm *transform,
                           Eant_CoordSysConversion *conversion, Eevg_Drawing *drawing,
                           Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationRender";
  lower::Clear(err);
  lower::CalleeReport inner;
  eant_AnnotationInfoClearEvaluatedStyles(info, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 1, "eant_AnnotationInfoClearEvaluatedStyles");
  eant_AnnotationRenderWithoutClearingStyles(info, transform, conversion, drawing, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 2, "eant_ElementListRender");
  eant_AnnotationInfoClearEvaluatedStyles(info, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 3, "eant_AnnotationInfoClearEvaluatedStyles");
}
TAVIRON_GUARD_VOID(err)

void eant_RenderDataFree(Eant_RenderData **renderData) try {
  if (!renderData || !*renderData) return;
  edlm_FreeList((*renderData)->stack);
  emsc_HeapFreeEx(renderData);
}
TAVIRON_GUARD_QUIET_VOID

Eant_RenderData *eant_RenderDataCreateNoCount(Eant_AnnotationInfo *info, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_RenderDataCreateNoCount";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 4, "Invalid input antInfo");
    return nullptr;
  }
  auto *data = lower::HeapNew<Eant_RenderData>();
  if (!data) {
    lower::Report(err, reporter, 1, "Error allocating render data");
    return nullptr;
  }
  lower::CalleeReport inner;
  if (!(data->stack = edlm_NewStack(sizeof(Eant_Element *), &inner))) {
    lower::ReportCallee(err, inner, reporter, 2, "edlm_NewStack");
    eant_RenderDataFree(&data);
    return nullptr;
  }
  if (edlm_Push(data->stack, &info->elements, &inner) < 0) {
    lower::ReportCallee(err, inner, reporter, 3, "edlm_Push");
    eant_RenderDataFree(&data);
    return nullptr;
  }
  eant_AnnotationInfoClearEvaluatedStyles(info, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 4, "eant_AnnotationInfoClearEvaluatedStyles");
    eant_RenderDataFree(&data);
  }
  return data;
}
TAVIRON_GUARD(err, nullptr)

Eant_RenderData *eant_RenderDataCreate(Eant_AnnotationInfo *info, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_RenderDataCreate";
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_RenderData *data = eant_RenderDataCreateNoCount(info, &inner);
  if (!data) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_RenderDataCreateNoCount");
    return nullptr;
  }
  data->total = eant_ElementListCount(info->elements, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_ElementListCount");
    eant_RenderDataFree(&data);
  }
  return data;
}
TAVIRON_GUARD(err, nullptr)

int32_t eant_AnnotationRenderIncremental(Eant_AnnotationInfo *info, Eant_RenderData *renderData,
                                         _exfr_XForm *transform, Eant_CoordSysConversion *conversion,
                                         Eevg_Drawing *drawing, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationRenderIncremental";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input annotation information");
    return 1;
  }
  if (!renderData) {
    lower::Report(err, reporter, 2, "Invalid input renderData");
    return 1;
  }
  if (!conversion) {
    lower::Report(err, reporter, 3, "Invalid input coordConvert");
    return 1;
  }
  lower::CalleeReport inner;
  int32_t complete = 1;
  {
    RenderSetup setup(info, conversion, transform);
    // The reference coordinate stays in the conversion from one call to the next.
    if (!conversion->referenceCoord && !setup.Reference(info->antHead, true, &inner)) {
      lower::ReportCallee(err, inner, reporter, 4, "eevg_CoordCreate");
      return 1;
    }
    complete =
        eant_ElementListRenderIncremental(info->initToolkitData, renderData, info->styleLib, info->symbolLib,
                                          info->criteria, transform, conversion, drawing, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 5, "eant_ElementListRenderIncremental");
      return 1;
    }
  }
  if (complete) {
    eant_AnnotationInfoClearEvaluatedStyles(info, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 6, "eant_AnnotationInfoClearEvaluatedStyles");
  }
  return complete;
}
TAVIRON_GUARD(err, 1)

// ---- Whole-layer services ------------------------------------------------------------------------

void eant_AnnotationInfoTransformMap(Eant_AnnotationInfo *info, _exfr_XForm *transform, const char *mapUnits,
                                     void (*progress)(void *data, double percent, Eerr_ErrorReport **err),
                                     void *progressData, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationInfoTransformMap";
  lower::Clear(err);
  if (!info) return lower::Report(err, reporter, 1, "Invalid input annotation info");
  lower::CalleeReport inner;
  Eant_ProgressInfo record{progress, progressData, eant_ElementListCount(info->elements, &inner), 0};
  inner.Drop();
  const char *oldUnits = info->mapInfo ? info->mapInfo->units.data : nullptr;
  BoxPtr before(eant_GetAntBoundingBox(info, nullptr, &inner));
  if (!before)
    return lower::ReportChained(err, inner, reporter, 2, "Error returned from eant_GetAntBoundingBox.");
  Eant_CoordSysConversion *from = BoxConversion(before.get(), oldUnits, &inner);
  if (!from)
    return lower::ReportChained(err, inner, reporter, 3,
                                "Error returned from eant_CoordSysConversionSetValues for oldCoordConvert.");
  BoxPtr after(eant_GetAntBoundingBox(info, transform, &inner));
  Eant_CoordSysConversion *to = after ? BoxConversion(after.get(), mapUnits, &inner) : nullptr;
  auto done = [&]() {
    eant_CoordSysConversionFree(&from);
    eant_CoordSysConversionFree(&to);
  };
  if (!after) {
    done();
    return lower::ReportChained(err, inner, reporter, 4, "Error returned from eant_GetAntBoundingBox.");
  }
  if (!to) {
    done();
    return lower::ReportChained(err, inner, reporter, 5,
                                "Error returned from eant_CoordSysConversionSetValues for newCoordConvert.");
  }
  Eevg_Drawing *drawing = eant_CreateFakeEevgDrawingFromBoundingBox(after.get(), info->eevgInfo, &inner);
  if (!drawing) {
    done();
    return lower::ReportChained(err, inner, reporter, 6,
                                "Error returned from eant_CreateFakeEevgDrawingFromBoundingBox.");
  }
  if (info->fakeDrawing) eevg_DrawingFree(&info->fakeDrawing, nullptr);
  info->fakeDrawing = drawing;
  from->fakeDrawing = to->fakeDrawing = drawing;
  eant_ElementListTransformMap(info->elements, transform, from, to, mapUnits, &record, &inner);
  done();
  if (inner)
    return lower::ReportChained(err, inner, reporter, 7, "Error returned from eant_ElementListTransformMap.");
  BoxPtr box(eant_ElementListBoundingBoxGet(info->elements, &inner));
  if (!box)
    return lower::ReportChained(err, inner, reporter, 8,
                                "Error returned from eant_ElementListBoundingBoxCompute.");
  eant_SetAntBoundingBox(info, box.get(), &inner);
  if (inner) lower::ReportChained(err, inner, reporter, 9, "Error returned from eant_SetAntBoundingBox.");
}
TAVIRON_GUARD_VOID(err)

void eant_AnnotationInfoReproject(Eant_AnnotationInfo *info, const Eprj_ProParameters *parameters,
                                  const char *mapUnits,
                                  void (*progress)(void *data, double percent, Eerr_ErrorReport **err),
                                  void *progressData, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationInfoReproject";
  lower::Clear(err);
  if (!info) return lower::Report(err, reporter, 1, "Invalid input annotation info");
  if (!info->mapInfo || !info->proParameters || !parameters)
    return lower::Report(err, reporter, 2,
                         "Input annotation info does not have sufficent projection information.");
  lower::CalleeReport inner;
  Eprj_ProjectionPair *pair =
      eprj_ProjectionPairInit(eint_GetInit(), info->proParameters, parameters, &inner);
  if (!pair)
    return lower::ReportChained(err, inner, reporter, 3, "Error returned from eprj_ProjectionPairInit.");
  // The target units go straight to the transform (the projections take them without a map
  // information of their own).
  _exfr_XForm *transform =
      exfr_XFormCreateFromProjPairAndMapInfo(pair, info->mapInfo, nullptr, mapUnits, &inner);
  eprj_ProjectionPairFree(&pair);
  if (!transform)
    return lower::ReportChained(err, inner, reporter, 6,
                                "Error returned from exfr_XFormCreateFromProjPairAndMapInfo.");
  eant_AnnotationInfoTransformMap(info, transform, mapUnits, progress, progressData, &inner);
  exfr_XFormFree(&transform, nullptr);
  if (inner)
    return lower::ReportChained(err, inner, reporter, 7,
                                "Error returned from eant_AnnotationInfoTransformMap.");
  Eprj_ProParameters *copy = eprj_ProParametersCopy(parameters, info->proParameters, &inner);
  if (!copy)
    return lower::ReportChained(err, inner, reporter, 8, "Error returned from eprj_ProParametersCopy.");
  info->proParameters = copy;
  BoxPtr box(eant_GetAntBoundingBox(info, nullptr, &inner));
  if (!box)
    return lower::ReportChained(err, inner, reporter, 9, "Error returned from eant_GetAntBoundingBox.");
  const double xmin = lower::At<double>(*box, 0, 0), ymin = lower::At<double>(*box, 1, 0);
  const double xmax = lower::At<double>(*box, 0, 1), ymax = lower::At<double>(*box, 1, 1);
  if (eprj_MapInfoUpperLeftCenterSet(info->mapInfo, xmin, ymax, &inner) != 0)
    return lower::ReportChained(err, inner, reporter, 10,
                                "Error returned from eprj_MapInfoUpperLeftCenterSet.");
  if (eprj_MapInfoLowerRightCenterSet(info->mapInfo, xmax, ymin, &inner) != 0)
    return lower::ReportChained(err, inner, reporter, 11,
                                "Error returned from eprj_MapInfoLowerRightCenterSet.");
  if (eprj_MapInfoProjectionNameSet(info->mapInfo, parameters->proName.data, &inner) != 0)
    return lower::ReportChained(err, inner, reporter, 12,
                                "Error returned from eprj_MapInfoProjectionNameSet.");
  if (eprj_MapInfoUnitsSet(info->mapInfo, mapUnits, &inner) != 0)
    return lower::ReportChained(err, inner, reporter, 13, "Error returned from eprj_MapInfoUnitsSet.");
}
TAVIRON_GUARD_VOID(err)

void eant_AnnotationInfoMakeUniqueElementIDs(Eant_AnnotationInfo *info, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationInfoMakeUniqueElementIDs";
  lower::Clear(err);
  if (!info) return lower::Report(err, reporter, 1, "Invalid input antInfo");
  lower::CalleeReport inner;
  const int32_t next = eant_ElementListMakeUniqueIDs(info->elements, 0, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 2, "eant_ElementListMakeUniqueIDs");
  if (info->antHead) info->antHead->nextElement = static_cast<uint32_t>(next);
}
TAVIRON_GUARD_VOID(err)

void eant_AnnotationDBIDataFunctionsAndDataSet(Eant_AnnotationInfo *info,
                                               Eant_AttributeStringFunction attributeString,
                                               Eant_ColumnNumberFunction columnNumber, void *data,
                                               Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationDBIDataFunctionsAndDataSet";
  lower::Clear(err);
  if (!info) return lower::Report(err, reporter, 1, "Invalid input antInfo");
  lower::CalleeReport inner;
  Eant_DBIData *record =
      eant_DBIDataFunctionsAndDataSet(info->dbiData, attributeString, columnNumber, data, &inner);
  if (!record) return lower::ReportCallee(err, inner, reporter, 2, "eant_DBIDataFunctionsAndDataSet");
  info->dbiData = record;
}
TAVIRON_GUARD_VOID(err)

void eant_AnnotationDBIDataCurrentRowSet(Eant_AnnotationInfo *info, int32_t row, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationDBIDataCurrentRowSet";
  lower::Clear(err);
  if (!info) return lower::Report(err, reporter, 1, "Invalid input antInfo");
  lower::CalleeReport inner;
  eant_DBIDataCurrentRowSet(info->dbiData, row, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 2, "eant_DBIDataCurrentRowSet");
}
TAVIRON_GUARD_VOID(err)

} // extern "C"
