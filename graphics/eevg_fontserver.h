// The font-server interface as the renderer calls it: the entry points a font server (a shared
// object of the class "FontServers" on NORIX_FONT_SERVERS_PATH) offers, the slots of the loaded-font
// table and the server instances. Font servers include this header with eevg_internal.h: their
// entries receive the drawing, whose text controls (drawing->text) hold the style, the loaded
// font slot with the server's font handle, the scales and the extra character spacing.
//
// Characters are 16-bit. Every error slot is set to null by the renderer before the call; the
// renderer ignores what the width, outline, box, metric and string-initialisation entries report
// but refuses values it cannot use (an em value that is not positive, a negative ascent or
// descent, a width that is no finite number, an outline that does not match what it sent).
#ifndef TAVIRON_GRAPHICS_EEVG_FONTSERVER_H
#define TAVIRON_GRAPHICS_EEVG_FONTSERVER_H

#include <cstdint>

#include "edll.h"
#include "eerr.h"
#include "eevg.h"

extern "C" {

// Fills the titles this server answers to: *count heap strings (emsc heap) in a heap array, both
// owned by the renderer afterwards. Negative means failure.
typedef int32_t (*Eevg_FSInstanceTitleListGet)(int32_t *count, char ***titles);
// Opens a font by its font file name: a 32-bit handle of the server's choice; a report fails it.
typedef int32_t (*Eevg_FSTextFontGet)(const char *fontFileName, Eerr_ErrorReport **err);
typedef void (*Eevg_FSTextFontFree)(int32_t font);
// Called at the start of every layout pass, after the em value was read.
typedef void (*Eevg_FSTextStringInit)(Eevg_Drawing *drawing, Eerr_ErrorReport **err);
// The step from the previous character's origin to the next one's (font units, kerning
// included); previous is 0 at a line start, next 0 at a line end.
typedef double (*Eevg_FSTextCharWidthCalc)(Eevg_Drawing *drawing, char16_t previous,
                                           char16_t next, Eerr_ErrorReport **err);
// Sends the character's outline in font units through eevg_DispMove, eevg_DispDraw and
// eevg_DispCurve (each contour closed by returning to its first point).
typedef void (*Eevg_FSTextCharOutlineGet)(Eevg_Drawing *drawing, char16_t character,
                                          Eerr_ErrorReport **err);
typedef void (*Eevg_FSTextCharBoundingBoxGet)(Eevg_Drawing *drawing, char16_t character,
                                              int32_t *x0, int32_t *y0, int32_t *x1, int32_t *y1,
                                              Eerr_ErrorReport **err);
// Em size, ascent and descent (both positive upward and downward) in font units.
typedef double (*Eevg_FSTextMetricGet)(Eevg_Drawing *drawing, Eerr_ErrorReport **err);
// Optional: font units taken off the step that leads to the character when its position is
// reported to a device of type 2.
typedef double (*Eevg_FSTextCharSideSpaceGet)(Eevg_Drawing *drawing, char16_t character,
                                              Eerr_ErrorReport **err);
// Optional: non-zero hands UTF-16 point text whole to the device's putTextUC.
typedef int32_t (*Eevg_FSTextRenderSpecial)(void);

} // extern "C"

// A slot of the control record's loaded-font table (EEVG_LOADED_FONT_SIZE bytes). The name holds
// at most 256 bytes and is not terminated when it fills them. server is the number of the server
// instance (FontServerOf), 0 for none.
struct Eevg_LoadedFont {
  char fileName[256];
  int32_t handle;
  int32_t server;
};
static_assert(sizeof(Eevg_LoadedFont) == EEVG_LOADED_FONT_SIZE);

// A font-server instance, made by the instance manager's create hook.
struct Eevg_FontServer {
  Edll_Handle handle;
  char *instanceName;
  char *dllFileName;
  char *dllName;
  int32_t titleCount;
  char **titles;
  Eevg_FSInstanceTitleListGet instanceTitleListGet;
  Eevg_FSTextFontGet textFontGet;
  Eevg_FSTextFontFree textFontFree;
  Eevg_FSTextStringInit textStringInit;
  Eevg_FSTextCharWidthCalc textCharWidthCalc;
  Eevg_FSTextCharOutlineGet textCharOutlineGet;
  Eevg_FSTextCharBoundingBoxGet textCharBoundingBoxGet;
  Eevg_FSTextMetricGet textEmValueGet;
  Eevg_FSTextMetricGet textAscentGet;
  Eevg_FSTextMetricGet textDescentGet;
  Eevg_FSTextCharSideSpaceGet textCharSideSpaceGet; // may be null
  Eevg_FSTextRenderSpecial textRenderSpecial;       // may be null
};

namespace taviron::graphics {

// The instance that serves a loaded font, null for none.
Eevg_FontServer *FontServerOf(const Eevg_LoadedFont *font);

} // namespace taviron::graphics

#endif
