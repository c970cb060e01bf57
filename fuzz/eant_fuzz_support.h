// What the annotation fuzz targets share: the hook that puts an element type of their own in
// place of the package's, and such a type of the common element part alone.
#ifndef TAVIRON_FUZZ_EANT_FUZZ_SUPPORT_H
#define TAVIRON_FUZZ_EANT_FUZZ_SUPPORT_H

#include <cstdint>

#include "eant.h"

namespace taviron::eant {
void SetTestElementType(int32_t code,
                        void (*read)(Eant_AnnotationInfo *, Eant_FileIO *, Eant_Element *, Eerr_ErrorReport **),
                        int32_t (*checkForSmartData)(Eant_Element *, Eerr_ErrorReport **));
} // namespace taviron::eant

namespace taviron::fuzz {

// An element type that frees, copies, writes and reads the common part alone. Self adds what
// else it does (a static Render is put in the table when there is one) and holds the table:
//   struct Type : CommonElementType<Type> { static const Eant_ElementFunctions table; };
//   const Eant_ElementFunctions Type::table = Type::MakeTable();
template <class Self> struct CommonElementType {
  static void Free(Eant_Element **element) { eant_ElementFree(element); }
  static Eant_Element *Copy(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err) {
    return eant_ElementCopy(source, target, err);
  }
  static void Write(Eant_FileIO *io, const char *path, int32_t position, Eant_Element *element,
                    Eerr_ErrorReport **err) {
    eant_ElementWrite(io, path, position, element, err);
  }
  static void Read(Eant_AnnotationInfo *, Eant_FileIO *, Eant_Element *element, Eerr_ErrorReport **) {
    element->functions = &Self::table;
  }
  static Eant_ElementFunctions MakeTable() {
    Eant_ElementFunctions t{};
    t.free = &Self::Free;
    t.copyElement = &Self::Copy;
    t.writeElement = &Self::Write;
    if constexpr (requires { &Self::Render; }) t.renderElement = &Self::Render;
    return t;
  }
};

} // namespace taviron::fuzz

#endif
