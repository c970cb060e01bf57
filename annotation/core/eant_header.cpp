// The header of an annotation layer (its record, stored design, copy, print, writer and reader),
// the "AnnotationVersion" and "AnnotationVersionFlags" nodes below a layer or library node, and
// the map information and projection a layer hands out.
#include <cmath>
#include <cstring>
#include <utility>

#include "eant_internal.h"
#include "egda_pixel.h"
#include "efio.h"
#include "emsc.h"

namespace lower = taviron::lower;
namespace record = taviron::record;
using namespace taviron::eant;

namespace {

// The header as stored: the polynomials in their private form.
struct AntHeaderStored {
  Eant_CharStr name;
  Eant_CharStr description;
  int32_t outputUnits;
  uint32_t nextElement;
  Efga_PolynomialPrivate *xformMatrix;
  Efga_PolynomialPrivate *ixformMatrix;
  Egda_BaseData *bBox;
  int32_t versionNumber;
};
constexpr record::Item kAntHeaderItems[] = {
    TAVIRON_ITEM(AntHeaderStored, name, EMIF_TYPE_STRING),
    TAVIRON_ITEM(AntHeaderStored, description, EMIF_TYPE_STRING),
    TAVIRON_ITEM(AntHeaderStored, outputUnits, EMIF_TYPE_ENUM).Enum(kCoordSystems),
    TAVIRON_ITEM(AntHeaderStored, nextElement, EMIF_TYPE_U32),
    TAVIRON_ITEM(AntHeaderStored, xformMatrix, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kPolynomial),
    TAVIRON_ITEM(AntHeaderStored, ixformMatrix, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kPolynomial),
    TAVIRON_ITEM(AntHeaderStored, bBox, EMIF_POINTER + EMIF_TYPE_BASEDATA),
    TAVIRON_ITEM(AntHeaderStored, versionNumber, EMIF_TYPE_S32)};
constexpr record::Design kAntHeader = record::DesignOf<AntHeaderStored>("AntHeader_Eant", kAntHeaderItems);
static_assert(kAntHeader.Matches());

struct AnnotationVersion {
  int32_t version;
};
constexpr record::Item kVersionItems[] = {TAVIRON_ITEM(AnnotationVersion, version, EMIF_TYPE_S32)};
constexpr record::Design kVersion = record::DesignOf<AnnotationVersion>("AnnotationVersion_Eant", kVersionItems);
static_assert(kVersion.Matches());

constexpr const char *kVersionNode = "AnnotationVersion";
constexpr const char *kFlagsNode = "AnnotationVersionFlags";
constexpr const char *kFlagsType = "AnnotationVersionFlags_Eant";

// Frees what a header owns, leaving the record with empty strings and no parts.
void EmptyHeader(Eant_AntHeader &header) {
  eant_CharStrFree(&header.name);
  eant_CharStrFree(&header.description);
  efga_PolynomialDelete(std::exchange(header.xformMatrix, nullptr), nullptr);
  efga_PolynomialDelete(std::exchange(header.ixformMatrix, nullptr), nullptr);
  egda_BaseDataDelete(std::exchange(header.bBox, nullptr), nullptr);
}

// Owns the private forms of a header being written (made by efga_PolynomialCopyToPrivate: one
// block each).
struct PrivateForms {
  Efga_PolynomialPrivate *x = nullptr, *ix = nullptr;
  ~PrivateForms() {
    emsc_HeapFree(x);
    emsc_HeapFree(ix);
  }
};

// x and y of corner c of a 2 x 4 corner box.
double CornerX(const Egda_BaseData *box, int c) { return lower::At<double>(*box, 0, c); }
double CornerY(const Egda_BaseData *box, int c) { return lower::At<double>(*box, 1, c); }

// Saves the current entry of a file and frees the saved position when it ends.
class Position {
public:
  explicit Position(Ehfa_File *file) : file_(file) {}
  ~Position() { ehfa_EntryPositionFree(position_); }
  Position(const Position &) = delete;
  Position &operator=(const Position &) = delete;
  bool Save(Eerr_ErrorReport **err) { return (position_ = ehfa_EntryPositionGet(file_, err)) != nullptr; }
  bool Restore(Eerr_ErrorReport **err) { return ehfa_EntryPositionSet(file_, position_, err) == 0; }

private:
  Ehfa_File *file_;
  Ehfa_EntryPosition *position_ = nullptr;
};

} // namespace

extern "C" {

Eant_AntHeader *eant_AntHeaderStructureCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *header = static_cast<Eant_AntHeader *>(emsc_HeapMalloc(sizeof(Eant_AntHeader)));
  if (!header) {
    lower::Report(err, "eant_AntHeaderStructureCreate", 1, "Error allocating Annotation Header");
    return nullptr;
  }
  header->outputUnits = EEVG_MAP;
  header->versionNumber = EANT_ANNOTATION_VERSION;
  return header;
} TAVIRON_GUARD(err, nullptr)

Eant_AntHeader *eant_AntHeaderCreate(Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AntHeaderCreate";
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_AntHeader *header = eant_AntHeaderStructureCreate(&inner);
  if (!header) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_AntHeaderStructureCreate");
    return nullptr;
  }
  header->xformMatrix = efga_PolyCreate2DIdentity(nullptr, &inner);
  if (!header->xformMatrix) {
    // The identity is made as eant_IdentityPolynomialCreate makes it, and reported so.
    lower::ReportCallee(&inner, nullptr, "eant_IdentityPolynomialCreate", 1, "efga_PolyCreate2DIdentity");
    lower::ReportCallee(err, inner, reporter, 2, "eant_IdentityPolynomialCreate");
    eant_AntHeaderFree(&header);
    return nullptr;
  }
  header->ixformMatrix = efga_PolynomialCopy(header->xformMatrix, nullptr, &inner);
  if (!header->ixformMatrix) {
    lower::ReportCallee(err, inner, reporter, 3, "efga_PolynomialCopy");
    eant_AntHeaderFree(&header);
    return nullptr;
  }
  return header;
} TAVIRON_GUARD(err, nullptr)

void eant_AntHeaderFree(Eant_AntHeader **header) try {
  if (!header || !*header) return;
  Eant_AntHeader *h = *header;
  eant_CharStrFree(&h->name);
  eant_CharStrFree(&h->description);
  efga_PolynomialDelete(h->xformMatrix, nullptr);
  efga_PolynomialDelete(h->ixformMatrix, nullptr);
  egda_BaseDataDelete(h->bBox, nullptr);
  emsc_HeapFreeEx(header);
} TAVIRON_GUARD_QUIET_VOID

Emif_Design *eant_AntHeaderDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_AntHeaderDesignDefine", {{&kAntHeader}}, err);
} TAVIRON_GUARD(err, nullptr)

Eant_AntHeader *eant_AntHeaderCopy(const Eant_AntHeader *source, Eant_AntHeader *target, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AntHeaderCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eant_AntHeader");
    return target;
  }
  if (source == target) return target;
  lower::CalleeReport inner;
  Eant_AntHeader *made = nullptr;
  if (!target && !(target = made = eant_AntHeaderCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_AntHeaderCreate");
    return nullptr;
  }
  auto fail = [&](int32_t code, const char *callee) {
    lower::ReportCallee(err, inner, reporter, code, callee);
    auto *result = made ? nullptr : target; // a record made here is freed
    eant_AntHeaderFree(&made);
    return result;
  };
  if (!eant_CharStrCopy(&source->name, &target->name, &inner)) return fail(3, "eant_CharStrCopy for name");
  if (!eant_CharStrCopy(&source->description, &target->description, &inner))
    return fail(4, "eant_CharStrCopy for description");
  target->outputUnits = source->outputUnits;
  if (source->xformMatrix) {
    Efga_Polynomial *copy = efga_PolynomialCopy(source->xformMatrix, target->xformMatrix, &inner);
    if (!copy) return fail(5, "efga_PolynomialCopy for xformMatrix");
    target->xformMatrix = copy;
  } else {
    efga_PolynomialDelete(std::exchange(target->xformMatrix, nullptr), nullptr);
  }
  if (source->ixformMatrix) {
    Efga_Polynomial *copy = efga_PolynomialCopy(source->ixformMatrix, target->ixformMatrix, &inner);
    if (!copy) return fail(6, "efga_PolynomialCopy for ixformMatrix");
    target->ixformMatrix = copy;
  } else {
    efga_PolynomialDelete(std::exchange(target->ixformMatrix, nullptr), nullptr);
  }
  if (source->bBox) {
    if (!target->bBox && !(target->bBox = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner)))
      return fail(7, "efga_MatrixCreate");
    if (!egda_BaseDataCopy(source->bBox, target->bBox, &inner)) return fail(8, "efga_MatrixCopy");
  } else {
    egda_BaseDataDelete(std::exchange(target->bBox, nullptr), nullptr);
  }
  target->nextElement = 0;
  target->versionNumber = source->versionNumber;
  target->modTime = source->modTime;
  return target;
} TAVIRON_GUARD(err, nullptr)

void eant_AntHeaderPrint(const Eant_AntHeader *header, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  efio_Printf("Annotation Header:\n");
  if (!header) return;
  if (const char *name = Text(header->name))
    efio_Printf("   name - %s\n", name);
  else
    efio_Printf("   name - NULL\n");
  if (const char *description = Text(header->description))
    efio_Printf("   description - %s\n", description);
  else
    efio_Printf("   description - NULL\n");
  efio_Printf("   outputUnits - %d\n", header->outputUnits);
  efio_Printf("   nextElement - %ld\n", static_cast<long>(header->nextElement));
  if (IsCorners(header->bBox)) {
    const Egda_BaseData *box = header->bBox;
    efio_Printf("   bBox - %lg, %lg     %lg, %lg\n", CornerX(box, 0), CornerY(box, 0), CornerX(box, 1),
                CornerY(box, 1));
    efio_Printf("          %lg, %lg     %lg, %lg\n", CornerX(box, 2), CornerY(box, 2), CornerX(box, 3),
                CornerY(box, 3));
  } else {
    efio_Printf("   bBox - NULL\n");
  }
  efio_Printf("   versionNumber - %ld\n", static_cast<long>(header->versionNumber));
  // Cut toward zero; a time no long holds prints as 0.
  const double whole = std::trunc(header->modTime);
  efio_Printf("   modTime - %ld\n", whole > -9.2e18 && whole < 9.2e18 ? static_cast<long>(whole) : 0L);
} TAVIRON_GUARD_VOID(err)

void eant_AntHeaderWrite(Eant_FileIO *fileIO, const char *nodePath, const char *nodeName, Eant_AntHeader *header,
                         Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AntHeaderWrite";
  lower::Clear(err);
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return;
  if (!header || !nodeName) {
    lower::Report(err, reporter, 4, "Invalid input antHeader");
    return;
  }
  Ehfa_File *file = fileIO->file;
  lower::CalleeReport inner;
  if (!eant_PutDesignInDictionary(data, "Efga_Polynomial", file->dictionary, &inner)) {
    lower::ReportCallee(err, inner, reporter, 5, "eant_PutDesignInDictionary for Efga_Polynomial");
    return;
  }
  const Emif_Design *design = eant_PutDesignInDictionary(data, kAntHeader.name, file->dictionary, &inner);
  if (!design) {
    lower::ReportCallee(err, inner, reporter, 6, "eant_PutDesignInDictionary for AntHeader_Eant");
    return;
  }
  if (nodePath && !ehfa_EntrySeek(file, EHFA_PATH, nodePath, &inner)) {
    lower::ReportCallee(err, inner, reporter, 7, "ehfa_EntrySeek for nodepath");
    return;
  }
  PrivateForms forms;
  if (header->xformMatrix && !(forms.x = efga_PolynomialCopyToPrivate(header->xformMatrix, &inner))) {
    lower::ReportCallee(err, inner, reporter, 10, "efga_PolynomialCopyToPrivate for xformMatrix");
    return;
  }
  if (header->ixformMatrix && !(forms.ix = efga_PolynomialCopyToPrivate(header->ixformMatrix, &inner))) {
    lower::ReportCallee(err, inner, reporter, 11, "efga_PolynomialCopyToPrivate for ixformMatrix");
    return;
  }
  const AntHeaderStored stored{header->name,   header->description, header->outputUnits,   header->nextElement,
                               forms.x,        forms.ix,            header->bBox,          header->versionNumber};
  // An existing child of that name is rewritten; otherwise a new last child is added.
  const Ehfa_Entry *entry = WriteChild(file, nodeName, kAntHeader.name, &stored, design, &inner);
  if (!entry) {
    lower::ReportCallee(err, inner, reporter, 12, "ehfa_ObjectWrite");
    return;
  }
  header->modTime = entry->modTime;
} TAVIRON_GUARD_VOID(err)

Eant_AntHeader *eant_AntHeaderRead(Eant_FileIO *fileIO, const char *nodePath, Eant_AntHeader *header,
                                   Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AntHeaderRead";
  lower::Clear(err);
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return header;
  Ehfa_File *file = fileIO->file;
  lower::CalleeReport inner;
  const Ehfa_Entry *entry = nodePath ? ehfa_EntrySeek(file, EHFA_PATH, nodePath, &inner)
                                     : ehfa_EntrySeek(file, EHFA_CURRENT_ENTRY, nullptr, &inner);
  if (!entry) {
    if (nodePath)
      lower::ReportChained(err, inner, reporter, 4, "Layer %s not found in file", nodePath);
    else
      lower::ReportChained(err, inner, reporter, 5, "No current node");
    return header;
  }
  if (!entry->type || std::strcmp(entry->type, kAntHeader.name) != 0) {
    if (nodePath)
      lower::Report(err, reporter, 6, "Layer %s is not an annotation layer", nodePath);
    else
      lower::Report(err, reporter, 6, "Current layer is not an annotation layer");
    return header;
  }
  const double modTime = entry->modTime;
  const Emif_Design *design =
      data->dictionary ? emif_FindDesignByName(data->dictionary, kAntHeader.name, &inner) : nullptr;
  if (!design) {
    lower::ReportCallee(err, inner, reporter, 8, "emif_FindDesignByName");
    return header;
  }
  // The record is read into a fresh stored form whose defaults stand for the items an older
  // record lacks; the header changes only when everything converted.
  AntHeaderStored stored{};
  stored.outputUnits = EEVG_NDU;
  stored.versionNumber = EANT_ANNOTATION_VERSION;
  if (!ehfa_ObjectRead(file, nullptr, nullptr, EHFA_CURRENT_ENTRY, &stored, design, &inner)) {
    record::FreeContents(kAntHeader, &stored);
    lower::ReportCallee(err, inner, reporter, 9, "ehfa_ObjectRead for child");
    return header;
  }
  Eant_AntHeader read{};
  auto fail = [&](int32_t code, const char *callee) {
    EmptyHeader(read);
    record::FreeContents(kAntHeader, &stored);
    lower::ReportCallee(err, inner, reporter, code, callee);
    return header;
  };
  if (stored.xformMatrix && !(read.xformMatrix = efga_PolynomialCopyFromPrivate(stored.xformMatrix, &inner)))
    return fail(10, "efga_PolynomialCopyFromPrivate for xformMatrix");
  if (stored.ixformMatrix && !(read.ixformMatrix = efga_PolynomialCopyFromPrivate(stored.ixformMatrix, &inner)))
    return fail(11, "efga_PolynomialCopyFromPrivate for ixformMatrix");
  Eant_AntHeader *made = nullptr;
  if (!header && !(header = made = eant_AntHeaderStructureCreate(&inner)))
    return fail(7, "eant_AntHeaderStructureCreate");
  EmptyHeader(*header);
  header->name = std::exchange(stored.name, Eant_CharStr{});
  header->description = std::exchange(stored.description, Eant_CharStr{});
  header->outputUnits = stored.outputUnits;
  header->nextElement = stored.nextElement;
  header->xformMatrix = read.xformMatrix;
  header->ixformMatrix = read.ixformMatrix;
  header->bBox = std::exchange(stored.bBox, nullptr);
  header->versionNumber = EANT_ANNOTATION_VERSION;
  header->modTime = modTime;
  record::FreeContents(kAntHeader, &stored);
  return header;
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_AnnotationVersionDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_AnnotationVersionDesignDefine", {{&kVersion}}, err);
} TAVIRON_GUARD(err, nullptr)

void eant_AnnotationVersionWrite(Eant_FileIO *fileIO, const char *nodePath, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationVersionWrite";
  lower::Clear(err);
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return;
  Ehfa_File *file = fileIO->file;
  lower::CalleeReport inner;
  if (nodePath && !ehfa_EntrySeek(file, EHFA_PATH, nodePath, &inner)) {
    lower::ReportCallee(err, inner, reporter, 4, "ehfa_EntrySeek for nodepath");
    return;
  }
  const Emif_Design *design = eant_PutDesignInDictionary(data, kVersion.name, file->dictionary, &inner);
  if (!design) {
    lower::ReportCallee(err, inner, reporter, 7, "eant_PutDesignInDictionary for AnnotationVersion_Eant");
    return;
  }
  const AnnotationVersion version{EANT_ANNOTATION_VERSION};
  if (!WriteChild(file, kVersionNode, kVersion.name, &version, design, &inner))
    lower::ReportCallee(err, inner, reporter, 8, "ehfa_ObjectWrite");
} TAVIRON_GUARD_VOID(err)

void eant_AnnotationVersionRead(Eant_FileIO *fileIO, const char *nodePath, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationVersionRead";
  lower::Clear(err);
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return;
  Ehfa_File *file = fileIO->file;
  lower::CalleeReport inner;
  const Emif_Design *design =
      data->dictionary ? emif_FindDesignByName(data->dictionary, kVersion.name, &inner) : nullptr;
  if (!design) {
    lower::ReportCallee(err, inner, reporter, 4, "emif_FindDesignByName");
    return;
  }
  AnnotationVersion version{0};
  // A layer without a version node is of version 0; a read that fails otherwise (memory ran out)
  // is reported, never taken for version 0, which would read the layer with the wrong design.
  auto readVersion = [&](const char *path) {
    if (ehfa_ObjectRead(file, path, kVersionNode, EHFA_CHILD_NAMED, &version, design, &inner)) return true;
    if (inner && inner->code == 4 && inner->reporter && std::strcmp(inner->reporter, "ehfa_ObjectRead") == 0) {
      inner.Drop(); // no version node
      version.version = 0;
      return true;
    }
    lower::ReportCallee(err, inner, reporter, 8, "ehfa_ObjectRead");
    return false;
  };
  if (nodePath && nodePath[0] == ':') {
    // An absolute path: its child is read, then the path's node becomes current.
    if (!readVersion(nodePath)) return;
    if (!ehfa_EntrySeek(file, EHFA_PATH, nodePath, &inner)) lower::ReportChained(err, inner, reporter, 7, "Error seeking back to nodepath");
    fileIO->annotationVersion = version.version;
    return;
  }
  if (nodePath && !ehfa_EntrySeek(file, EHFA_CHILD_NAMED, nodePath, &inner)) {
    lower::ReportCallee(err, inner, reporter, 5, "ehfa_EntrySeek");
    return;
  }
  Position position(file);
  if (!position.Save(&inner)) {
    lower::ReportCallee(err, inner, reporter, 6, "ehfa_EntryPositionGet");
    return;
  }
  if (!readVersion(nullptr)) {
    lower::CalleeReport ignored;
    position.Restore(&ignored);
    return;
  }
  if (!position.Restore(&inner)) lower::ReportChained(err, inner, reporter, 7, "Error seeking back to nodepath");
  fileIO->annotationVersion = version.version;
} TAVIRON_GUARD_VOID(err)

void eant_AnnotationVersionFlagsWrite(Eant_FileIO *fileIO, const char *nodePath, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationVersionFlagsWrite";
  lower::Clear(err);
  if (!fileIO || !fileIO->file) {
    lower::Report(err, reporter, 1, "Invalid input fileIO");
    return;
  }
  Ehfa_File *file = fileIO->file;
  lower::CalleeReport inner;
  if (nodePath && !ehfa_EntrySeek(file, EHFA_PATH, nodePath, &inner)) {
    lower::ReportCallee(err, inner, reporter, 2, "ehfa_EntrySeek for nodepath");
    return;
  }
  if (fileIO->versionFlags != 1) return; // sequential reading is not allowed: nothing is written
  const bool present = ehfa_EntryPeek(file, EHFA_CHILD_NAMED, kFlagsNode, &inner) != nullptr;
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 3, "ehfa_EntryPositionGet");
    return;
  }
  const Ehfa_Entry *written =
      present ? (ehfa_EntrySeek(file, EHFA_CHILD_NAMED, kFlagsNode, &inner)
                     ? ehfa_EntryWrite(file, nullptr, nullptr, kFlagsType, EHFA_OVERWRITE, &inner)
                     : nullptr)
              : ehfa_EntryWrite(file, nullptr, kFlagsNode, kFlagsType, EHFA_CHILD, &inner);
  if (!written) {
    lower::ReportCallee(err, inner, reporter, 5, "ehfa_EntryWrite");
    return;
  }
  ehfa_EntrySeek(file, EHFA_PARENT, nullptr, &inner);
  inner.Drop();
} TAVIRON_GUARD_VOID(err)

void eant_AnnotationVersionFlagsRead(Eant_FileIO *fileIO, const char *nodePath, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AnnotationVersionFlagsRead";
  lower::Clear(err);
  if (!fileIO || !fileIO->file) {
    lower::Report(err, reporter, 1, "Invalid input fileIO");
    return;
  }
  Ehfa_File *file = fileIO->file;
  lower::CalleeReport inner;
  if (nodePath) {
    const bool absolute = nodePath[0] == ':';
    if (!ehfa_EntrySeek(file, absolute ? EHFA_PATH : EHFA_CHILD_NAMED, nodePath, &inner)) {
      lower::ReportCallee(err, inner, reporter, absolute ? 3 : 2, "ehfa_EntrySeek");
      return;
    }
  }
  Position position(file);
  if (!position.Save(&inner)) {
    lower::ReportCallee(err, inner, reporter, 4, "ehfa_EntryPositionGet");
    return;
  }
  const bool present = ehfa_EntryPeek(file, EHFA_CHILD_NAMED, kFlagsNode, &inner) != nullptr;
  inner.Drop(); // a failed lookup counts as no node
  fileIO->versionFlags = 0;
  if (present) {
    if (!PackageData(file->init)) {
      lower::Report(err, reporter, 5, "Toolkit or Annotation Package has not been initialized");
      return;
    }
    fileIO->versionFlags = 1;
  }
  if (!position.Restore(&inner)) lower::ReportCallee(err, inner, reporter, 6, "ehfa_EntryPositionSet");
} TAVIRON_GUARD_VOID(err)

// ---- Map information and projection -------------------------------------------------------------

Eprj_MapInfo *eant_MapInfoGet(Eant_AnnotationInfo *info, Eprj_MapInfo *mapInfo, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_MapInfoGet";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input annotation info");
    return mapInfo;
  }
  if (!info->antHead) {
    lower::Report(err, reporter, 2, "Invalid ant header in annotation info");
    return mapInfo;
  }
  if (!info->mapInfo) {
    eprj_MapInfoFree(&mapInfo);
    return nullptr;
  }
  lower::CalleeReport inner;
  Eprj_MapInfo *made = nullptr;
  auto fail = [&](int32_t code, const char *callee) {
    lower::ReportCallee(err, inner, reporter, code, callee);
    auto *result = made ? nullptr : mapInfo; // a record made here is freed
    eprj_MapInfoFree(&made);
    return result;
  };
  Eprj_MapInfo *copy = eprj_MapInfoCopy(info->mapInfo, mapInfo, &inner);
  if (!copy) return fail(3, "eprj_MapInfoCopy");
  if (!mapInfo) made = copy;
  mapInfo = copy;
  BoxPtr box(eant_GetAntBoundingBox(info, nullptr, &inner));
  if (!box) return fail(5, "eant_GetAntBoundingBox");
  const double xmin = lower::At<double>(*box, 0, 0), ymin = lower::At<double>(*box, 1, 0);
  const double xmax = lower::At<double>(*box, 0, 1), ymax = lower::At<double>(*box, 1, 1);
  if (eprj_MapInfoUpperLeftCenterSet(mapInfo, xmin, ymax, &inner) != 0)
    return fail(6, "eprj_MapInfoUpperLeftCenterSet");
  if (eprj_MapInfoLowerRightCenterSet(mapInfo, xmax, ymin, &inner) != 0)
    return fail(7, "eprj_MapInfoLowerRightCenterSet");
  evec_BboxDelete(box.release(), &inner);
  if (inner) return fail(8, "evec_BboxDelete");
  if (eprj_MapInfoPixelSizeSet(mapInfo, 1.0, 1.0, &inner) != 0) return fail(9, "eprj_MapInfoPixelSizeSet");
  return mapInfo;
} TAVIRON_GUARD(err, nullptr)

Eprj_MapInfo *eant_MapInfoRead(Eant_Layer *layer, Eprj_MapInfo *mapInfo, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_MapInfoRead";
  lower::Clear(err);
  if (!layer) {
    lower::Report(err, reporter, 1, "Invalid input annotation layer");
    return mapInfo;
  }
  lower::CalleeReport inner;
  Eprj_MapInfo *result = eant_MapInfoGet(layer->antInfo, mapInfo, &inner);
  if (!result || inner) lower::ReportCallee(err, inner, reporter, 2, "eant_MapInfoGet");
  return result;
} TAVIRON_GUARD(err, nullptr)

Eprj_ProParameters *eant_ProParametersGet(Eant_AnnotationInfo *info, Eprj_ProParameters *parameters,
                                          Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ProParametersGet";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input annotation info");
    return parameters;
  }
  if (!info->proParameters) {
    eprj_ProParametersFree(&parameters);
    return nullptr;
  }
  lower::CalleeReport inner;
  Eprj_ProParameters *copy = eprj_ProParametersCopy(info->proParameters, parameters, &inner);
  if (!copy) lower::ReportCallee(err, inner, reporter, 2, "eprj_ProParametersCopy");
  return copy ? copy : parameters;
} TAVIRON_GUARD(err, nullptr)

Eprj_ProParameters *eant_ProParametersRead(Eant_Layer *layer, Eprj_ProParameters *parameters,
                                           Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ProParametersRead";
  lower::Clear(err);
  if (!layer) {
    lower::Report(err, reporter, 1, "Invalid input annotation layer");
    return parameters;
  }
  lower::CalleeReport inner;
  Eprj_ProParameters *result = eant_ProParametersGet(layer->antInfo, parameters, &inner);
  if (!result || inner) lower::ReportCallee(err, inner, reporter, 2, "eant_ProParametersGet");
  return result;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
