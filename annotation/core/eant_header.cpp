// The header of an annotation layer (its record and stored design) and the "AnnotationVersion"
// node below a layer or library node.
#include <cstring>

#include "eant_internal.h"
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
  const Emif_Design *design = data->dictionary ? emif_FindDesignByName(data->dictionary, kVersion.name, &inner) : nullptr;
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

} // extern "C"
