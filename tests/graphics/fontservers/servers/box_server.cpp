// A font server for the tests whose glyphs are boxes: em 1000, ascent 800, descent 200, every
// advance 500 (the pair "AV" kerned by -100), side space 50, and for every visible character the
// box (50, 0)-(450, 700) as one closed contour. The font file name chooses a fault:
// "box_negative_em", "box_negative_descent", "box_nan_width" and "box_extra_points" (an outline
// claiming more points than it sent). Built in variants: BOX_TITLE names it, BOX_SPECIAL adds
// TextRenderSpecial, BOX_NO_SIDE_SPACE leaves TextCharSideSpaceGet out, BOX_NO_DESCENT
// TextDescentGet, BOX_REFUSE refuses every font.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "eevg_fontserver.h"
#include "eevg_internal.h"
#include "emsc.h"
#include "estr.h"

#define ENTRY extern "C" __attribute__((visibility("default")))

namespace {

enum Mode { kPlain = 1, kNegativeEm, kNegativeDescent, kNanWidth, kExtraPoints };

int32_t fontGets = 0, fontFrees = 0, lastFreed = 0;

int32_t ModeOf(const Eevg_Drawing *drawing) {
  return drawing && drawing->text.font ? drawing->text.font->handle : kPlain;
}

bool Visible(char16_t c) { return c > 32; }

} // namespace

ENTRY int32_t BoxFontGetCount() { return fontGets; }
ENTRY int32_t BoxFontFreeCount() { return fontFrees; }
ENTRY int32_t BoxLastFreed() { return lastFreed; }

// The tests make one allocation of the heap fail at a time: the titles are asked for again once,
// so that only the renderer's handling of the failure shows.
ENTRY int32_t InstanceTitleListGet(int32_t *count, char ***titles) {
  auto **list = static_cast<char **>(emsc_HeapMalloc(sizeof(char *)));
  if (!list) list = static_cast<char **>(emsc_HeapMalloc(sizeof(char *)));
  if (!list) return -1;
  list[0] = estr_Duplicate(BOX_TITLE);
  if (!list[0]) list[0] = estr_Duplicate(BOX_TITLE);
  *count = 1;
  *titles = list;
  return list[0] ? 0 : -1;
}

ENTRY int32_t TextFontGet(const char *name, Eerr_ErrorReport **err) {
  ++fontGets;
#ifdef BOX_REFUSE
  *err = eerr_CreateErrorReport("TextFontGet", 1, EERR_FATAL, nullptr, "No such font %s", name);
  return 0;
#else
  (void)err;
  static const char *const faults[] = {"box_negative_em", "box_negative_descent", "box_nan_width",
                                       "box_extra_points"};
  for (int32_t i = 0; i < 4; ++i)
    if (std::strcmp(name, faults[i]) == 0) return kNegativeEm + i;
  return kPlain;
#endif
}

ENTRY void TextFontFree(int32_t font) {
  ++fontFrees;
  lastFreed = font;
}

ENTRY void TextStringInit(Eevg_Drawing *, Eerr_ErrorReport **) {}

ENTRY double TextCharWidthCalc(Eevg_Drawing *drawing, char16_t previous, char16_t next,
                               Eerr_ErrorReport **) {
  if (ModeOf(drawing) == kNanWidth) return std::nan("");
  if (previous == 0) return 0;
  return (previous == u'A' && next == u'V') ? 400 : 500;
}

ENTRY void TextCharOutlineGet(Eevg_Drawing *drawing, char16_t c, Eerr_ErrorReport **) {
  if (!Visible(c)) return;
  eevg_DispMove(drawing, 50, 0, nullptr);
  eevg_DispDraw(drawing, 450, 0, nullptr);
  eevg_DispDraw(drawing, 450, 700, nullptr);
  eevg_DispDraw(drawing, 50, 700, nullptr);
  eevg_DispDraw(drawing, 50, 0, nullptr);
  if (ModeOf(drawing) == kExtraPoints) drawing->pointCount += 5;
}

ENTRY void TextCharBoundingBoxGet(Eevg_Drawing *, char16_t c, int32_t *x0, int32_t *y0, int32_t *x1,
                                  int32_t *y1, Eerr_ErrorReport **) {
  const bool visible = Visible(c);
  *x0 = visible ? 50 : 0;
  *y0 = 0;
  *x1 = visible ? 450 : 0;
  *y1 = visible ? 700 : 0;
}

ENTRY double TextEmValueGet(Eevg_Drawing *drawing, Eerr_ErrorReport **) {
  return ModeOf(drawing) == kNegativeEm ? -1000 : 1000;
}

ENTRY double TextAscentGet(Eevg_Drawing *, Eerr_ErrorReport **) { return 800; }

#ifndef BOX_NO_DESCENT
ENTRY double TextDescentGet(Eevg_Drawing *drawing, Eerr_ErrorReport **) {
  return ModeOf(drawing) == kNegativeDescent ? -200 : 200;
}
#endif

#ifndef BOX_NO_SIDE_SPACE
ENTRY double TextCharSideSpaceGet(Eevg_Drawing *, char16_t, Eerr_ErrorReport **) { return 50; }
#endif

#ifdef BOX_SPECIAL
ENTRY int32_t TextRenderSpecial() { return 1; }
#endif
