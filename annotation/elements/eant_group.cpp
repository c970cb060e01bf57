// The group element: an ordered list of children that is drawn, hit, moved, flipped, restyled and
// stored as one element. A plain group carries nothing but the common part and its children; the
// kinds of map furniture (GroupKinds) add an Eant_Group naming the kind, stored as "Group Info",
// and replace some slots of the group's table. The group's box is always the union of its
// children's.
#include <cstdarg>

#include "eant_element_internal.h"
#include "efio.h"
#include "ehfa.h"
#include "ellm.h"
#include "emsc.h"
#include "estr.h"

namespace lower = taviron::lower;
using namespace taviron::eant;

namespace {

constexpr const char *kInvalidInput = "Invalid input element";
constexpr const char *kInvalidEant = "Invalid input Eant_Element";
constexpr const char *kInvalid = "Invalid element";
constexpr const char *kNotGroup = "Input element is not group";
constexpr const char *kNotAGroup = "Input element is not a group";
constexpr const char *kGroupDesign = "Group_Eant";
constexpr const char *kGroupNode = "Group Info";

const Eant_ElementFunctions &Table() { return ElementTypes::Of<GroupType>(); }

// The element as a group (codes 1 and 2 with the operation's texts); false after the report.
bool Check(const char *reporter, const Eant_Element *element, const char *invalid, const char *notGroup,
           Eerr_ErrorReport **err) {
  if (!element) {
    lower::Report(err, reporter, 1, "%s", invalid);
    return false;
  }
  if (element->elmType != EANT_GROUP) {
    lower::Report(err, reporter, 2, "%s", notGroup);
    return false;
  }
  return true;
}

// Backs the element up and registers the backup as a modification when the layer records undo
// (codes `code` and code + 1).
bool RecordModification(const char *reporter, int32_t code, Eant_AnnotationInfo *info, Eant_Element *element,
                        Eerr_ErrorReport **err) {
  if (!info || info->undoFlag != 1) return true;
  lower::CalleeReport inner;
  Eant_Element *backup = eant_ElementBackup(element, &inner);
  if (!backup || inner) {
    if (backup) DiscardElement(backup);
    lower::ReportCallee(err, inner, reporter, code, "eant_ElementBackup");
    return false;
  }
  eant_UndoSetupUndoModification(info, element, backup, &inner);
  if (!inner) return true;
  lower::ReportCallee(err, inner, reporter, code + 1, "eant_UndoSetupUndoModification");
  return false;
}

// The moved and modified callbacks of the element (codes `code` and code + 1); nothing without an
// annotation info.
bool FireMovedAndModified(const char *reporter, int32_t code, Eant_AnnotationInfo *info, Eant_Element *element,
                          Eerr_ErrorReport **err) {
  if (!info) return true;
  lower::CalleeReport inner;
  eant_DoElementMovedCallbacks(info, element, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, code, "eant_DoElementMovedCallbacks");
    return false;
  }
  eant_DoElementModifiedCallbacks(info, element, &inner);
  if (!inner) return true;
  lower::ReportCallee(err, inner, reporter, code + 1, "eant_DoElementModifiedCallbacks");
  return false;
}

// One style setter handed to every child: the group (and, one by one, each child) backed up and
// registered as a modification when the layer records undo; `apply(child, inner)` calls the
// child's own slot through its dispatcher. The recomputing setters set the group's box after
// every child and fire its moved and modified callbacks once at the end. A failure stops at that
// child; the children done before it keep their new style.
template <class Apply>
void Propagate(const char *reporter, Eant_AnnotationInfo *info, Eant_Element *group, bool recompute,
               const char *childOperation, Apply &&apply, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!Check(reporter, group, kInvalidInput, kNotGroup, err)) return;
  if (!RecordModification(reporter, 3, info, group, err)) return;
  const bool recording = info && info->undoFlag == 1;
  lower::CalleeReport inner;
  for (Eant_Element *child = group->child; child; child = child->next) {
    Eant_Element *backup = nullptr;
    if (recording && !(backup = eant_ElementBackup(child, &inner))) {
      return lower::ReportCallee(err, inner, reporter, 5, "eant_ElementBackup");
    }
    apply(child, &inner);
    if (inner) {
      if (backup) DiscardElement(backup);
      return lower::ReportCallee(err, inner, reporter, 6, childOperation);
    }
    if (recompute && !SetGroupBoxFromChildren(reporter, 7, group, err)) {
      if (backup) DiscardElement(backup);
      return;
    }
    if (backup) {
      eant_UndoSetupUndoModification(info, child, backup, &inner);
      if (inner) return lower::ReportCallee(err, inner, reporter, 9, "eant_UndoSetupUndoModification");
    }
  }
  if (recompute) FireMovedAndModified(reporter, 10, info, group, err);
}

// The first child alone passed to a selection dispatcher.
template <class Select> auto FirstChild(const char *reporter, Eant_Element *group, Select &&select,
                                        const char *callee, Eerr_ErrorReport **err) {
  using Result = decltype(select(group, static_cast<Eerr_ErrorReport **>(nullptr)));
  lower::Clear(err);
  if (!Check(reporter, group, kInvalidInput, kNotGroup, err) || !group->child) return Result{};
  lower::CalleeReport inner;
  Result result = select(group->child, &inner);
  if (!inner) return result;
  lower::ReportCallee(err, inner, reporter, 3, callee);
  return Result{};
}

// A list operation on the children; nothing for an empty group.
template <class Apply>
void ForChildren(const char *reporter, Eant_Element *group, const char *invalid, const char *notGroup,
                 const char *callee, Apply &&apply, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!Check(reporter, group, invalid, notGroup, err) || !group->child) return;
  lower::CalleeReport inner;
  apply(group->child, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 3, callee);
}

// The read and peek codes of the file context: in file order, or by relation.
bool Sequential(const Eant_FileIO *fileIO) { return fileIO->versionFlags == 1; }

// The design of the element entries of the layer's version.
const char *ElementDesignName(const Eant_FileIO *fileIO) {
  return fileIO->annotationVersion < 2 ? "Element_Eant" : "Element_2_Eant";
}

struct GroupStored {
  int32_t type;
};

} // namespace

namespace taviron::eant {

bool SetGroupBoxFromChildren(const char *reporter, int32_t code, Eant_Element *group, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  BoxPtr box(eant_ElementListBoundingBoxGet(group->child, &inner));
  if (!box || inner) {
    lower::ReportCallee(err, inner, reporter, code, "eant_ElementListBoundingBoxGet");
    return false;
  }
  const double xmin = lower::At<double>(*box, 0, 0), xmax = lower::At<double>(*box, 0, 1);
  const double ymin = lower::At<double>(*box, 1, 0), ymax = lower::At<double>(*box, 1, 1);
  eant_ElementSetBBox(group, xmin, ymin, xmin, ymax, xmax, ymax, xmax, ymin, &inner);
  if (!inner) return true;
  lower::ReportCallee(err, inner, reporter, code + 1, "eant_ElementSetBBox");
  return false;
}

} // namespace taviron::eant

extern "C" {

// ---- The group record ----

Eant_Group *eant_GroupCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *group = lower::HeapNew<Eant_Group>();
  if (!group) lower::Report(err, "eant_GroupCreate", 1, "Error allocating Group");
  return group;
} TAVIRON_GUARD(err, nullptr)

Eant_Group *eant_GroupCopy(const Eant_Group *source, Eant_Group *target, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eant_Group");
    return target;
  }
  lower::CalleeReport inner;
  if (!target && !(target = eant_GroupCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_GroupCreate");
    return nullptr;
  }
  target->type = source->type;
  return target;
} TAVIRON_GUARD(err, nullptr)

void eant_GroupPrint(const Eant_Group *group, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!group) return lower::Report(err, "eant_GroupPrint", 1, "Invalid input Eant_Group");
  efio_Printf("Group info:\n");
  efio_Printf("type - %d\n", static_cast<int>(group->type));
} TAVIRON_GUARD_VOID(err)

void eant_GroupFree(Eant_Group **group) try {
  if (!group || !*group) return;
  lower::HeapDelete(*group);
  *group = nullptr;
} TAVIRON_GUARD_QUIET_VOID

void eant_GroupWrite(Eant_FileIO *fileIO, const Eant_Group *group, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupWrite";
  lower::Clear(err);
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return;
  if (!group) return lower::Report(err, reporter, 4, "Invalid input group");
  lower::CalleeReport inner;
  const Emif_Design *design = eant_PutDesignInDictionary(data, kGroupDesign, fileIO->file->dictionary, &inner);
  if (!design || inner)
    return lower::ReportCallee(err, inner, reporter, 5, "eant_PutDesignInDictionary for Group_Eant");
  const GroupStored stored{group->type};
  if (!ehfa_ObjectWrite(fileIO->file, nullptr, kGroupNode, kGroupDesign, EHFA_CHILD, &stored, design, &inner) ||
      inner)
    lower::ReportCallee(err, inner, reporter, 6, "ehfa_ObjectWrite");
} TAVIRON_GUARD_VOID(err)

Eant_Group *eant_GroupRead(Eant_FileIO *fileIO, Eant_Group *group, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupRead";
  lower::Clear(err);
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return nullptr;
  lower::CalleeReport inner;
  Eant_Group *made = nullptr;
  if (!group && !(group = made = eant_GroupCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 4, "eant_GroupCreate");
    return nullptr;
  }
  const Emif_Design *design = data->dictionary ? emif_FindDesignByName(data->dictionary, kGroupDesign, &inner) : nullptr;
  if (!design) {
    eant_GroupFree(&made);
    lower::ReportCallee(err, inner, reporter, 5, "emif_FindDesignByName");
    return nullptr;
  }
  GroupStored stored{0};
  const int32_t code = Sequential(fileIO) ? EHFA_FOLLOWING : EHFA_CHILD_OF;
  if (!ehfa_ObjectRead(fileIO->file, nullptr, kGroupDesign, code, &stored, design, &inner) || inner) {
    const bool madeHere = made != nullptr;
    eant_GroupFree(&made);
    ReportWarning(err, inner, reporter, 6, "Error returned from ehfa_ObjectRead for child");
    return madeHere ? nullptr : group;
  }
  group->type = stored.type;
  return group;
} TAVIRON_GUARD(err, nullptr)

// ---- The element ----

Eant_ElementFunctions *eant_GroupElementFunctionsCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_ElementFunctions *table = eant_ElementFunctionsCreate(&inner);
  if (!table || inner) {
    emsc_HeapFree(table);
    lower::ReportCallee(err, inner, "eant_GroupElementFunctionsCreate", 1, "eant_ElementFunctionsCreate");
    return nullptr;
  }
  *table = Table();
  return table;
} TAVIRON_GUARD(err, nullptr)

Eant_Element *eant_GroupElementCreate(Eant_AnnotationInfo *info, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_Element *element = eant_ElementCreate(info, &inner);
  if (!element) {
    lower::ReportCallee(err, inner, "eant_GroupElementCreate", 1, "eant_ElementCreate");
    return nullptr;
  }
  element->elmType = EANT_GROUP;
  element->functions = &Table();
  return element;
} TAVIRON_GUARD(err, nullptr)

void eant_GroupElementSetChildren(Eant_Element *element, Eant_Element *list, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupElementSetChildren";
  lower::Clear(err);
  if (!Check(reporter, element, kInvalidInput, kNotGroup, err) || !list) return;
  // The list must be a chain of its own: one linked into another list (or the group itself) would
  // end up owned twice.
  if (list->previous || list->parent || list == element)
    return lower::Report(err, reporter, 3, "Input element list belongs to another list");
  for (Eant_Element *at = list; at; at = at->next) at->rowNumber = -1;
  if (element->child) {
    if (!ellm_Add(element->child, ELLM_APPEND, list))
      return lower::Report(err, reporter, 4, "Input element list belongs to another list");
    return;
  }
  element->child = list;
  list->parent = element;
} TAVIRON_GUARD_VOID(err)

Eant_Element *eant_GroupElementSetValues(Eant_AnnotationInfo *info, Eant_Element *element,
                                         Eant_CoordSysConversion *, Eerr_ErrorReport **err, ...) try {
  static const char *reporter = "eant_GroupElementSetValues";
  using V = lower::Value;
  static constexpr lower::Keyword kKeywords[] = {TAVIRON_EANT_COMMON_KEYWORDS, {EANT_ELEMKEY_CHILDREN, {V::Pointer}}};
  static constexpr lower::KeywordList kList{{kKeywords}, "Invalid keyword option for group element"};
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_Element *made = nullptr;
  if (!element && !(element = made = eant_GroupElementCreate(info, &inner))) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_GroupElementCreate");
    return nullptr;
  }
  if (element->elmType != EANT_GROUP) {
    lower::Report(err, reporter, 2, "%s", kNotGroup);
    return element;
  }
  bool children = false;
  va_list ap;
  va_start(ap, err);
  const bool ended = lower::ReadKeywords(kList, ap, reporter, 10, err, [&](int32_t key, const lower::KeywordValues &v) {
    bool handled = false, moved = false;
    const bool applied = element::ApplyCommonKeyword(reporter, element, key, v, handled, moved, err);
    if (handled) return applied;
    eant_GroupElementSetChildren(element, v.Pointer<Eant_Element>(0), &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 9, "eant_GroupElementSetChildren");
      return false;
    }
    children = true;
    return true;
  });
  va_end(ap);
  bool ok = ended;
  if (ok && children) {
    ok = SetGroupBoxFromChildren(reporter, 11, element, err);
    if (ok && info) {
      eant_DoElementMovedCallbacks(info, element, &inner);
      if (inner) ok = (lower::ReportCallee(err, inner, reporter, 13, "eant_DoElementMovedCallbacks"), false);
    }
  }
  if (ok && info) {
    eant_DoElementModifiedCallbacks(info, element, &inner);
    if (inner) ok = (lower::ReportCallee(err, inner, reporter, 14, "eant_DoElementModifiedCallbacks"), false);
  }
  if (!ok && made) {
    eant_GroupElementFree(&made);
    return nullptr;
  }
  return element;
} TAVIRON_GUARD(err, nullptr)

void eant_GroupElementRead(Eant_AnnotationInfo *info, Eant_FileIO *fileIO, Eant_Element *element,
                           Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupElementRead";
  lower::Clear(err);
  if (!Check(reporter, element, kInvalidInput, kNotGroup, err)) return;
  if (!fileIO || !fileIO->file) return lower::Report(err, reporter, 3, "Invalid input fileIO");
  element->functions = &Table();
  Ehfa_File *file = fileIO->file;
  const bool sequential = Sequential(fileIO);
  // Nothing below the element's entry: an empty group. (Peeking in file order would find the
  // entry after the group instead.)
  if (!ehfa_EntryCurrentHasChild(file)) return;
  lower::CalleeReport inner;
  const Ehfa_Entry *first = ehfa_EntryPeek(file, sequential ? EHFA_FOLLOWING : EHFA_FIRST_CHILD, nullptr, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 3, "eant_EntryPeek");
  if (!first) return;
  if (first->name && estr_Eqic(first->name, kGroupNode)) {
    auto *group = static_cast<Eant_Group *>(element->info);
    const bool madeHere = group == nullptr;
    group = eant_GroupRead(fileIO, group, &inner);
    if (!group || inner) return lower::ReportCallee(err, inner, reporter, 4, "eant_GroupRead");
    element->info = group;
    const bool more = ehfa_EntryCurrentHasNext(file) != 0;
    const bool known = GroupKinds::Dispatch(group->type, [&](auto kind) {
      decltype(kind)::type::ReadKind(info, fileIO, element, &inner);
    });
    if (!known) {
      // A plain group's table frees no group record: the one read here goes now.
      if (madeHere) {
        eant_GroupFree(&group);
        element->info = nullptr;
      }
      return lower::Report(err, reporter, 4, "Invalid groupType");
    }
    if (inner) return lower::ReportCallee(err, inner, reporter, 5, "specific group read");
    if (!sequential && (!ehfa_EntrySeek(file, EHFA_PARENT, nullptr, &inner) || inner))
      return lower::ReportCallee(err, inner, reporter, 6, "ehfa_EntrySeek for parent");
    if (!more) return;
  }
  // The children: in file order they follow; otherwise they are the entries of the element design
  // below the group's entry, after the group's own nodes.
  if (!sequential && !ehfa_EntrySeek(file, EHFA_CHILD_OF, ElementDesignName(fileIO), &inner)) {
    if (inner) lower::ReportCallee(err, inner, reporter, 7, "eant_ElementListRead");
    return;
  }
  Eant_Element *list = eant_ElementListRead(info, fileIO, nullptr, sequential ? EHFA_FOLLOWING : EHFA_CURRENT, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 7, "eant_ElementListRead");
  if (list) {
    element->child = list;
    list->parent = element;
  }
  if (!sequential) {
    lower::CalleeReport seek;
    if (!ehfa_EntrySeek(file, EHFA_PARENT, nullptr, &seek) || seek)
      lower::ReportCallee(err, seek, reporter, 8, "ehfa_EntrySeek for parent");
  }
} TAVIRON_GUARD_VOID(err)

// ---- Slots ----

Eant_Element *eant_GroupElementCopy(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupElementCopy";
  lower::Clear(err);
  if (!Check(reporter, source, kInvalidEant, kNotAGroup, err)) return nullptr;
  // A destination linked into a list is refused: freeing it as a list would free its siblings
  // and leave its neighbours dangling.
  if (target && (target->next || target->previous || target->parent)) {
    lower::Report(err, reporter, 5, "Output element is linked into an element list");
    return nullptr;
  }
  eant_ElementListFree(&target);
  lower::CalleeReport inner;
  Eant_Element *copy = eant_ElementCopy(source, nullptr, &inner);
  if (!copy || inner) {
    if (copy) eant_ElementFree(&copy);
    lower::ReportCallee(err, inner, reporter, 3, "eant_ElementCopy");
    return nullptr;
  }
  copy->info = nullptr;
  copy->child = nullptr;
  if (source->child) {
    Eant_Element *children = eant_ElementListCopy(source->child, nullptr, &inner);
    if (!children || inner) {
      eant_ElementListFree(&children);
      eant_ElementFree(&copy);
      lower::ReportCallee(err, inner, reporter, 4, "eant_ElementCopy");
      return nullptr;
    }
    copy->child = children;
    children->parent = copy;
  }
  return copy;
} TAVIRON_GUARD(err, nullptr)

void eant_GroupElementPrint(Eant_Element *element, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupElementPrint";
  lower::Clear(err);
  lower::CalleeReport inner;
  eant_ElementPrint(element, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 1, "eant_ElementPrint");
  if (!element->child) return;
  eant_ElementListPrint(element->child, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 2, "eant_ElementListPrint");
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementRender(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *symbols,
                             Eant_Criteria *criteria, Eevg_Drawing *drawing, Eant_Element *element,
                             _exfr_XForm *xform, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  ForChildren(
      "eant_GroupElementRender", element, kInvalid, kNotGroup, "eant_ElementListRender",
      [&](Eant_Element *children, Eerr_ErrorReport **inner) {
        eant_ElementListRender(toolkit, styles, symbols, criteria, children, xform, conversion, drawing, inner);
      },
      err);
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementFree(Eant_Element **element) try {
  if (!element || !*element) return;
  eant_ElementListFree(&(*element)->child);
  eant_ElementFree(element);
} TAVIRON_GUARD_QUIET_VOID

void eant_GroupElementWrite(Eant_FileIO *fileIO, const char *nodePath, int32_t position, Eant_Element *element,
                            Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupElementWrite";
  lower::Clear(err);
  if (!Check(reporter, element, kInvalidInput, kNotGroup, err)) return;
  lower::CalleeReport inner;
  eant_ElementWrite(fileIO, nodePath, position, element, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 3, "eant_ElementWrite");
  if (!element->child) return;
  eant_ElementListWrite(fileIO, nullptr, EHFA_CHILD, element->child, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 4, "eant_ElementListWrite");
  if (!ehfa_EntrySeek(fileIO->file, EHFA_PARENT, nullptr, &inner) || inner)
    lower::ReportCallee(err, inner, reporter, 5, "ehfa_EntrySeek for parent");
} TAVIRON_GUARD_VOID(err)

int32_t eant_CoordInGroupElement(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles,
                                 Eant_SymbolLibrary *symbols, Eant_Criteria *criteria, Eant_Element *element,
                                 _exfr_XForm *xform, Eant_CoordSysConversion *conversion, Egda_BaseData *coord,
                                 Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordInGroupElement";
  lower::Clear(err);
  if (!Check(reporter, element, kInvalidEant, kNotAGroup, err) || !element->child) return 0;
  lower::CalleeReport inner;
  const int32_t inBox = eant_CoordInBoundingBox(element->bBox, element->xformMatrix, xform, coord, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_CoordInBoundingBox");
    return 0;
  }
  if (!inBox) return 0;
  const Eant_Element *hit = eant_SelectNextElementByCoord(toolkit, styles, symbols, criteria, element->child, xform,
                                                          conversion, coord, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 4, "eant_SelectNextElementByCoord");
    return 0;
  }
  return hit ? 1 : 0;
} TAVIRON_GUARD(err, 0)

void eant_GroupElementSetLineStyleByStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                                          Eerr_ErrorReport **err) try {
  Propagate(
      __func__, info, element, false, "eant_ElementSetLineStyle",
      [&](Eant_Element *child, Eerr_ErrorReport **inner) { eant_ElementSetLineStyle(info, child, style, inner); }, err);
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementSetLineStyleByStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element,
                                                       int32_t number, Eant_CoordSysConversion *conversion,
                                                       Eerr_ErrorReport **err) try {
  Propagate(
      __func__, info, element, true, "eant_ElementSetLineStyleAndRecalcBbox",
      [&](Eant_Element *child, Eerr_ErrorReport **inner) {
        eant_ElementSetLineStyleAndRecalcBbox(info, child, number, conversion, inner);
      },
      err);
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementSetFillStyleByStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                                          Eerr_ErrorReport **err) try {
  Propagate(
      __func__, info, element, false, "eant_ElementSetFillStyle",
      [&](Eant_Element *child, Eerr_ErrorReport **inner) { eant_ElementSetFillStyle(info, child, style, inner); }, err);
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementSetFillStyleByStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element,
                                                       int32_t number, Eant_CoordSysConversion *conversion,
                                                       Eerr_ErrorReport **err) try {
  Propagate(
      __func__, info, element, true, "eant_ElementSetFillStyleAndRecalcBbox",
      [&](Eant_Element *child, Eerr_ErrorReport **inner) {
        eant_ElementSetFillStyleAndRecalcBbox(info, child, number, conversion, inner);
      },
      err);
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementSetTextStyleHeightAndScaleUnitsByStyle(Eant_AnnotationInfo *info, Eant_Element *element,
                                                             int32_t number, double height,
                                                             Eant_CoordDefinition *heightUnits,
                                                             Eant_CoordSysConversion *conversion,
                                                             Eerr_ErrorReport **err) try {
  Propagate(
      __func__, info, element, true, "eant_ElementSetTextStyleAndHeight",
      [&](Eant_Element *child, Eerr_ErrorReport **inner) {
        eant_ElementSetTextStyleAndHeight(info, child, number, height, heightUnits, conversion, inner);
      },
      err);
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementSetTextStyleAndHeightByStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                                   double height, const char *heightUnits,
                                                   Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupElementSetTextStyleAndHeightByStyle";
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_CoordDefinition *units = eant_CoordDefinitionSetValues(nullptr, EEVG_OUTPUT, heightUnits, &inner);
  if (!units || inner) {
    eant_CoordDefinitionFree(&units);
    return lower::ReportCallee(err, inner, reporter, 1, "eant_CoordDefinitionSetValues");
  }
  eant_GroupElementSetTextStyleHeightAndScaleUnitsByStyle(info, element, number, height, units, conversion, &inner);
  eant_CoordDefinitionFree(&units);
  if (inner)
    lower::ReportCallee(err, inner, reporter, 2, "eant_GroupElementSetTextStyleHeightAndScaleUnitsByStyle");
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementSetSymbolDataScaleAndOverrideColor(Eant_AnnotationInfo *info, Eant_Element *element,
                                                         int32_t number, double scale,
                                                         Eant_CoordDefinition *scaleUnits, int32_t overrideFlag,
                                                         int32_t overrideColor, Eant_CoordSysConversion *conversion,
                                                         Eerr_ErrorReport **err) try {
  Propagate(
      __func__, info, element, true, "eant_ElementSetSymbolData",
      [&](Eant_Element *child, Eerr_ErrorReport **inner) {
        eant_ElementSetSymbolData(info, child, number, scale, scaleUnits, overrideFlag, overrideColor, conversion,
                                  inner);
      },
      err);
} TAVIRON_GUARD_VOID(err)

Egda_BaseData *eant_GroupElementBboxCalculateNoSave(Eant_Element *element, _exfr_XForm *xform,
                                                    Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupElementBboxCalculateNoSave";
  lower::Clear(err);
  if (!Check(reporter, element, kInvalidInput, kNotGroup, err) || !element->child) return nullptr;
  lower::CalleeReport inner;
  BoxPtr box(eant_ElementListBoundingBoxCalculateNoSave(element->child, xform, conversion, &inner));
  if (!box || inner) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_ElementListBoundingBoxCalculateNoSave");
    return nullptr;
  }
  Egda_BaseData *corners = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner);
  if (!corners || inner) {
    egda_BaseDataDelete(corners, nullptr);
    lower::ReportCallee(err, inner, reporter, 4, "efga_MatrixCreate");
    return nullptr;
  }
  const double x[2] = {lower::At<double>(*box, 0, 0), lower::At<double>(*box, 0, 1)};
  const double y[2] = {lower::At<double>(*box, 1, 0), lower::At<double>(*box, 1, 1)};
  constexpr int kCorner[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}}; // (x index, y index) of each corner
  for (int32_t i = 0; i < 4; ++i) {
    At(corners, 0, i) = x[kCorner[i][0]];
    At(corners, 1, i) = y[kCorner[i][1]];
  }
  return corners;
} TAVIRON_GUARD(err, nullptr)

void eant_GroupElementSelectStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                                  Eant_StyleUpdateFunction update, void *updateData, Eerr_ErrorReport **err) try {
  FirstChild(
      __func__, element,
      [&](Eant_Element *child, Eerr_ErrorReport **inner) {
        eant_ElementSelectStyle(info, child, flags, update, updateData, inner);
        return 0;
      },
      "eant_ElementSelectStyle", err);
} TAVIRON_GUARD_VOID(err)

int32_t eant_GroupElementSelectSingleStyleOnly(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                                               Eerr_ErrorReport **err) try {
  return FirstChild(
      __func__, element,
      [&](Eant_Element *child, Eerr_ErrorReport **inner) {
        return eant_ElementSelectSingleStyleOnly(info, child, flags, inner);
      },
      "eant_ElementSelectSingleStyleOnly", err);
} TAVIRON_GUARD(err, 0)

void eant_GroupElementCopyStyleBetweenLibs(Eant_Element *element, Eant_StyleLibrary *from, Eant_StyleLibrary *to,
                                           Eerr_ErrorReport **err) try {
  ForChildren(
      __func__, element, kInvalidEant, kNotAGroup, "eant_ElementListCopyStyleBetweenLibs",
      [&](Eant_Element *children, Eerr_ErrorReport **inner) {
        eant_ElementListCopyStyleBetweenLibs(children, from, to, inner);
      },
      err);
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementCopySymbolDataBetweenLibs(Eant_Element *element, Eant_SymbolLibrary *from,
                                                Eant_SymbolLibrary *to, Eerr_ErrorReport **err) try {
  ForChildren(
      __func__, element, kInvalidEant, kNotAGroup, "eant_ElementListCopySymbolDataBetweenLibs",
      [&](Eant_Element *children, Eerr_ErrorReport **inner) {
        eant_ElementListCopySymbolDataBetweenLibs(children, from, to, inner);
      },
      err);
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementUpdateInfo(Eant_Element *element, Eant_CoordSysConversion *conversion,
                                 Eerr_ErrorReport **err) try {
  ForChildren(
      __func__, element, kInvalidEant, kNotAGroup, "eant_ElementListUpdateInfo",
      [&](Eant_Element *children, Eerr_ErrorReport **inner) { eant_ElementListUpdateInfo(children, conversion, inner); },
      err);
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementReplaceValues(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupElementReplaceValues";
  lower::Clear(err);
  if (!Check(reporter, source, kInvalidEant, kNotAGroup, err)) return;
  if (!target) return lower::Report(err, reporter, 3, "Invalid output Eant_Element");
  lower::CalleeReport inner;
  eant_ElementReplaceValues(source, target, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 4, "eant_ElementReplaceValues");
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementConvertToMap(Eant_Element *element, Eant_CoordSysConversion *conversion,
                                   Eerr_ErrorReport **err) try {
  ForChildren(
      __func__, element, kInvalidEant, kNotAGroup, "eant_ElementListConvertToMap",
      [&](Eant_Element *children, Eerr_ErrorReport **inner) {
        eant_ElementListConvertToMap(children, conversion, inner);
      },
      err);
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementTransformMap(Eant_Element *element, _exfr_XForm *xform, Eant_CoordSysConversion *from,
                                   Eant_CoordSysConversion *to, const char *mapUnits, Eant_ProgressInfo *progress,
                                   Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupElementTransformMap";
  lower::Clear(err);
  if (!Check(reporter, element, kInvalid, kNotGroup, err) || !element->child) return;
  lower::CalleeReport inner;
  eant_ElementListTransformMap(element->child, xform, from, to, mapUnits, progress, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 3, "eant_ElementListTransformMap");
  SetGroupBoxFromChildren(reporter, 4, element, err);
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementIncrementCount(Eant_Element *element, Eant_ElementInfo *counts, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupElementIncrementCount";
  lower::Clear(err);
  if (!Check(reporter, element, kInvalidEant, kNotAGroup, err)) return;
  if (!counts) return lower::Report(err, reporter, 3, "Invalid input Eant_ElementInfo");
  ++counts->total;
  ++counts->groups;
} TAVIRON_GUARD_VOID(err)

const char *eant_GroupElementGetTypeString(Eant_Element *element, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupElementGetTypeString";
  lower::Clear(err);
  if (!Check(reporter, element, kInvalidEant, kNotAGroup, err)) return nullptr;
  char *copy = estr_Duplicate("Group");
  if (!copy) lower::Report(err, reporter, 3, "Error allocating type string");
  return copy;
} TAVIRON_GUARD(err, nullptr)

int32_t eant_GroupElementCanBeFlipped(Eant_Element *element, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupElementCanBeFlipped";
  lower::Clear(err);
  if (!Check(reporter, element, kInvalidEant, kNotAGroup, err)) return 0;
  if (!element->child) return 1;
  lower::CalleeReport inner;
  const int32_t can = eant_ElementListCanBeFlipped(element->child, &inner);
  if (!inner) return can;
  lower::ReportCallee(err, inner, reporter, 3, "eant_ElementListCanBeFlipped");
  return 0;
} TAVIRON_GUARD(err, 0)

void eant_GroupElementFlip(Eant_AnnotationInfo *info, Eant_Element *element, Eant_CoordSysConversion *conversion,
                           void *flipData, Efga_Polynomial *polynomial, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GroupElementFlip";
  lower::Clear(err);
  if (!Check(reporter, element, kInvalidEant, kNotGroup, err)) return;
  if (!RecordModification(reporter, 3, info, element, err)) return;
  lower::CalleeReport inner;
  // The children's moved callbacks are held back: the group reports the move once. A group inside
  // a group being flipped finds them held back already and leaves them so: releasing them would
  // let the outer group's remaining children report their moves.
  const Eant_Callback *first = info ? info->callbacks[EANT_ELEMENT_MOVED] : nullptr;
  const bool holdBack = !first || first->doCall == 1;
  if (info && holdBack) eant_SetDocallForElementMovedCallbacks(info, 0, &inner);
  if (!info || inner) {
    if (!info) lower::Report(&inner, "eant_SetDocallForElementMovedCallbacks", 1, "Invalid input antInfo");
    return lower::ReportCallee(err, inner, reporter, 5, "eant_SetDocallForElementMovedCallbackS");
  }
  if (element->child) {
    eant_ElementListFlip(info, element->child, conversion, flipData, polynomial, &inner);
    if (inner) {
      if (holdBack) eant_SetDocallForElementMovedCallbacks(info, 1, nullptr);
      return lower::ReportCallee(err, inner, reporter, 6, "eant_ElementListFlip");
    }
  }
  if (holdBack) {
    eant_SetDocallForElementMovedCallbacks(info, 1, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 7, "eant_SetDocallForElementMovedCallbacks");
  }
  if (element->child) {
    eant_ElementBboxComputeAndReset(element, conversion, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 8, "eant_ElementBboxComputeAndReset");
  }
  eant_AntBoundingBoxUpdateByElement(info, element, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 9, "eant_AntBoundingBoxUpdateByElement");
  if (!FireMovedAndModified(reporter, 10, info, element, err)) return;
  info->modified = 1;
} TAVIRON_GUARD_VOID(err)

} // extern "C"
