// Font servers and text fonts: the server list of NORIX_FONT_SERVERS_PATH, the server instances,
// the loaded-font table, the font metrics in device units and the outline sink through which a
// server hands a glyph to the drawing.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "edll.h"
#include "eevg.h"
#include "eevg_text_internal.h"
#include "efio.h"
#include "efnp.h"
#include "emsc.h"
#include "estr.h"
#include "internal.h"
#include "ownership.h"

namespace lower = taviron::lower;
namespace gfx = taviron::graphics;
namespace text = taviron::graphics::text;


namespace {

constexpr const char *kClassName = "FontServers";
constexpr int32_t kSinkGrowth = 200;

// The DLLs of the server path and their instances (null until opened), in path order. DLLs that
// fail to open leave the list.
struct ServerList {
  bool made = false;
  int32_t count = 0;
  char **dlls = nullptr;
  Eevg_FontServer **instances = nullptr;
};
ServerList servers;

// The server list and the opened instances are changed by eevg_TextFontGet from any thread: under
// this lock, held for the whole load.
std::mutex &ServersMutex() {
  static std::mutex mutex;
  return mutex;
}

// Every instance opened, numbered from 1 in the order of opening: the numbers the font slots
// hold. Every text call finds its server here: readers hold this lock shared, and a load holds it
// alone (besides the server lock) only to add an instance.
std::shared_mutex &OpenedMutex() {
  static std::shared_mutex mutex;
  return mutex;
}
Eevg_FontServer **opened = nullptr;
int32_t openedCount = 0, openedCapacity = 0;

// The list of DLL files; false when memory runs out (nothing kept). An empty list is not kept
// either (the listing cannot tell an exhausted heap from an empty folder): the next load looks
// again.
bool MakeServerList() {
  const char *variable = std::getenv("NORIX_FONT_SERVERS_PATH");
  const std::string path = variable ? variable : gfx::DefaultFontServersPath();
  Estr_StringList *files = efio_SearchListGenerateAndIdentifyFiles(path.c_str(), "*.dll");
  if (!files || files->count <= 0) {
    estr_StringListDelete(files, nullptr);
    return true;
  }
  auto **instances = lower::HeapNewArray<Eevg_FontServer *>(files->count);
  if (!instances) {
    estr_StringListDelete(files, nullptr);
    return false;
  }
  servers.count = files->count;
  servers.dlls = files->strings;
  servers.instances = instances;
  files->strings = nullptr;
  files->count = 0;
  estr_StringListDelete(files, nullptr);
  servers.made = true;
  return true;
}

void DropServer(int32_t index) {
  emsc_HeapFree(servers.dlls[index]);
  for (int32_t i = index; i + 1 < servers.count; ++i) {
    servers.dlls[i] = servers.dlls[i + 1];
    servers.instances[i] = servers.instances[i + 1];
  }
  --servers.count;
}

void FreeInstance(void *object) {
  auto *server = static_cast<Eevg_FontServer *>(object);
  if (!server) return;
  emsc_HeapFree(server->instanceName);
  emsc_HeapFree(server->dllFileName);
  emsc_HeapFree(server->dllName);
  if (server->titles) {
    for (int32_t i = 0; i < server->titleCount; ++i) emsc_HeapFree(server->titles[i]);
    emsc_HeapFree(server->titles);
  }
  lower::HeapDelete(server);
}

// The instance manager's create hook: the entry points and the titles of one server.
void *CreateInstance(const char *instanceName, Edll_Handle handle, const char *dllName, int32_t,
                     Eerr_ErrorReport **err) {
  static const char *reporter = "FSInstanceCreate";
  lower::Clear(err);
  auto *server = lower::HeapNew<Eevg_FontServer>();
  if (server) {
    server->handle = handle;
    server->instanceName = estr_Duplicate(instanceName ? instanceName : "");
    server->dllName = estr_Duplicate(dllName ? dllName : "");
  }
  if (!server || !server->instanceName || !server->dllName) {
    FreeInstance(server);
    lower::Report(err, reporter, 1, "Error allocating fsInstance");
    return nullptr;
  }
  struct Entry {
    const char *name;
    void **slot;
    bool required;
  };
  const Entry entries[] = {
      {"InstanceTitleListGet", reinterpret_cast<void **>(&server->instanceTitleListGet), true},
      {"TextFontGet", reinterpret_cast<void **>(&server->textFontGet), true},
      {"TextFontFree", reinterpret_cast<void **>(&server->textFontFree), true},
      {"TextStringInit", reinterpret_cast<void **>(&server->textStringInit), true},
      {"TextCharWidthCalc", reinterpret_cast<void **>(&server->textCharWidthCalc), true},
      {"TextCharOutlineGet", reinterpret_cast<void **>(&server->textCharOutlineGet), true},
      {"TextCharBoundingBoxGet", reinterpret_cast<void **>(&server->textCharBoundingBoxGet), true},
      {"TextEmValueGet", reinterpret_cast<void **>(&server->textEmValueGet), true},
      {"TextAscentGet", reinterpret_cast<void **>(&server->textAscentGet), true},
      {"TextDescentGet", reinterpret_cast<void **>(&server->textDescentGet), true},
      {"TextCharSideSpaceGet", reinterpret_cast<void **>(&server->textCharSideSpaceGet), false},
      {"TextRenderSpecial", reinterpret_cast<void **>(&server->textRenderSpecial), false},
  };
  for (const Entry &entry : entries) {
    lower::CalleeReport inner;
    *entry.slot = edll_FindIfPresent(handle, entry.name, server->dllName, &inner);
    if (inner) {
      FreeInstance(server);
      lower::ReportChained(err, inner, reporter, 2, "Error returned from edll_FindIfPresent for %s",
                           entry.name);
      return nullptr;
    }
    if (!*entry.slot && entry.required) {
      lower::Report(err, reporter, 3, "%s missing from %s:  DLL ignored", entry.name,
                    server->instanceName);
      FreeInstance(server);
      return nullptr;
    }
  }
  int32_t count = 0;
  char **titles = nullptr;
  const int32_t status = server->instanceTitleListGet(&count, &titles);
  // The titles become the instance's whatever the answer, so that they are freed with it.
  server->titles = titles;
  server->titleCount = titles && count > 0 ? count : 0;
  if (status < 0 || count < 0 || (count > 0 && !titles)) {
    lower::Report(err, reporter, 4, "InstanceTitleListGet returning garbage from %s:  DLL ignored",
                  server->instanceName);
    FreeInstance(server);
    return nullptr;
  }
  return server;
}

// Whether the instance manager's report on a DLL says that it is no font server (it could not be
// loaded, is open from elsewhere under its name, or its create hook refused it), rather than
// that memory ran out.
bool NotAFontServer(const Eerr_ErrorReport *report) {
  if (!report || std::strcmp(report->reporter, "edll_InstanceOpenByClassName") != 0) return false;
  if (report->code == 3 || report->code == 5) return true;
  const Eerr_ErrorReport *hook = report->next;
  return report->code == 6 && hook && std::strcmp(hook->reporter, "FSInstanceCreate") == 0 &&
         hook->code != 1;
}

// Opens the instance of one DLL of the list and numbers it. *invalid tells a DLL that is no font
// server from one that could not be opened for want of memory.
Eevg_FontServer *OpenInstance(const char *path, bool *invalid, Eerr_ErrorReport **err) {
  static const char *reporter = "FSInstanceOpen";
  lower::Clear(err);
  lower::CalleeReport inner;
  lower::HeapPtr<char> baseName(efnp_FileNameGet(path, &inner));
  if (!baseName) {
    lower::ReportCallee(err, inner, reporter, 1, "efnp_FileNameGet");
    return nullptr;
  }
  {
    std::lock_guard<std::shared_mutex> lock(OpenedMutex());
    if (!lower::Grow(opened, openedCapacity, static_cast<int64_t>(openedCount) + 1)) {
      lower::Report(err, reporter, 3, "Error allocating the font server table");
      return nullptr;
    }
  }
  auto *server = static_cast<Eevg_FontServer *>(edll_InstanceOpenByClassName(
      kClassName, path, baseName.get(), 0, CreateInstance, FreeInstance, &inner));
  if (!server) {
    *invalid = NotAFontServer(inner.Get());
    if (!inner) lower::Report(&inner, reporter, 4, "Font server without instance");
    lower::ReportChained(err, inner, reporter, 2, "Error returned from edll_InstanceOpenByClassName for %s", path);
    return nullptr;
  }
  if (!server->dllFileName) server->dllFileName = estr_Duplicate(path);
  std::lock_guard<std::shared_mutex> lock(OpenedMutex());
  opened[openedCount++] = server;
  return server;
}

// The number of an opened instance.
int32_t NumberOf(const Eevg_FontServer *server) {
  for (int32_t i = 0; i < openedCount; ++i)
    if (opened[i] == server) return i + 1;
  return 0;
}

bool SameName(const char *name, const Eevg_LoadedFont &slot) {
  return name == slot.fileName || std::strncmp(name, slot.fileName, sizeof slot.fileName) == 0;
}

// The slot of the first inUse slots that holds the named font; -1 for none.
int32_t FindLoaded(const char *name, const Eevg_LoadedFont *slots, int32_t inUse) {
  for (int32_t i = 0; i < inUse; ++i)
    if (SameName(name, slots[i])) return i;
  return -1;
}

// A value of the server in font units, in device sub-pixels through the path matrix.
double DeviceUnits(const Eevg_Drawing *drawing, double value) {
  const double truncated = gfx::TruncateToInt32(value);
  const double scaled = truncated * drawing->text.pathMatrix[3] + 0 * drawing->text.pathMatrix[2];
  return static_cast<double>(gfx::TruncateToInt32(scaled + drawing->text.pathOffsetX));
}

// The server's metric in device units; 0 without a loaded font.
double DeviceMetric(Eevg_Drawing *drawing, Eevg_FSTextMetricGet Eevg_FontServer::*entry) {
  if (!drawing) return 0;
  Eevg_FontServer *server = gfx::FontServerOf(drawing->text.font);
  if (!server || !(server->*entry)) return 0;
  lower::CalleeReport ignored;
  return DeviceUnits(drawing, (server->*entry)(drawing, &ignored));
}

constexpr double kUnitLimit = 1 << 30;

bool FiniteUnits(double value) { return std::isfinite(value) && std::fabs(value) <= kUnitLimit; }

// Makes room for one more point in the drawing's buffer (by kSinkGrowth points).
bool SinkRoom(Eevg_Drawing *drawing) {
  if (drawing->pointCount < drawing->pointCapacity) return true;
  lower::Growth growth;
  growth.exact = true;
  growth.limit = INT32_MAX / 8;
  return lower::Grow(drawing->points, drawing->pointCapacity,
                     static_cast<int64_t>(drawing->pointCapacity) + kSinkGrowth, 2 * sizeof(int32_t), growth);
}

void SinkAppend(Eevg_Drawing *drawing, int32_t x, int32_t y) {
  drawing->points[2 * static_cast<std::ptrdiff_t>(drawing->pointCount)] = x;
  drawing->points[2 * static_cast<std::ptrdiff_t>(drawing->pointCount) + 1] = y;
  ++drawing->pointCount;
  drawing->text.penX = x;
  drawing->text.penY = y;
}

// A failure of the sink: the glyph cannot be used.
void SinkFailed(Eevg_Drawing *drawing) { drawing->text.sinkPoints = -1; }

// Records the sink's own count of points and contours after one of its steps.
void SinkDone(Eevg_Drawing *drawing) {
  if (drawing->text.sinkPoints < 0) return;
  drawing->text.sinkPoints = drawing->pointCount;
  drawing->text.sinkContours = drawing->polygonCount;
}

// Starts a contour at (x, y); false after a report.
bool SinkMove(Eevg_Drawing *drawing, int32_t x, int32_t y, const char *reporter,
              Eerr_ErrorReport **err) {
  if (drawing->polygonCount < 0 || drawing->polygonCount + 1 >= drawing->polygonStartCapacity) {
    SinkFailed(drawing);
    lower::Report(err, reporter, 1, "Too many polygons");
    return false;
  }
  if (!SinkRoom(drawing)) {
    SinkFailed(drawing);
    lower::Report(err, reporter, 1, "Too many polygon points");
    return false;
  }
  drawing->polygonStarts[drawing->polygonCount++] = drawing->pointCount;
  SinkAppend(drawing, x, y);
  return true;
}

bool CheckSink(const Eevg_Drawing *drawing, const char *reporter, Eerr_ErrorReport **err) {
  if (drawing && drawing->points && drawing->polygonStarts) return true;
  lower::Report(err, reporter, 1, "NULL Eevg Drawing Pointer");
  return false;
}

} // namespace

std::shared_mutex &text::FontTableMutex() {
  static std::shared_mutex mutex;
  return mutex;
}

Eevg_FontServer *gfx::FontServerOf(const Eevg_LoadedFont *font) {
  std::shared_lock<std::shared_mutex> lock(OpenedMutex());
  if (!font || font->server < 1 || font->server > openedCount) return nullptr;
  return opened[font->server - 1];
}

Eevg_FontServer *text::ServerOf(const Eevg_Drawing *drawing, Eerr_ErrorReport **err) {
  Eevg_FontServer *server = gfx::FontServerOf(drawing->text.font);
  if (!server) lower::Report(err, "eevg_TextStringInit", 1, "No font loaded for the text");
  return server;
}

bool text::ServerEm(Eevg_Drawing *drawing, int32_t &em, Eerr_ErrorReport **err) {
  Eevg_FontServer *server = ServerOf(drawing, err);
  if (!server) return false;
  lower::CalleeReport ignored;
  const double value = server->textEmValueGet(drawing, &ignored);
  if (!FiniteUnits(value) || std::trunc(value) < 1) {
    lower::Report(err, "eevg_TextStringInit", 2, "Font server %s gave the em value %g",
                  server->instanceName, value);
    return false;
  }
  em = static_cast<int32_t>(value);
  return true;
}

bool text::ServerLineMetrics(Eevg_Drawing *drawing, double &ascent, double &descent,
                             Eerr_ErrorReport **err) {
  Eevg_FontServer *server = ServerOf(drawing, err);
  if (!server) return false;
  lower::CalleeReport ignoredUp, ignoredDown;
  const double up = server->textAscentGet(drawing, &ignoredUp);
  const double down = server->textDescentGet(drawing, &ignoredDown);
  if (!FiniteUnits(up) || !FiniteUnits(down) || up < 0 || down < 0) {
    lower::Report(err, "eevg_TextLineMetrics", 1, "Font server %s gave the ascent %g and descent %g",
                  server->instanceName, up, down);
    return false;
  }
  ascent = DeviceUnits(drawing, up);
  descent = DeviceUnits(drawing, down);
  return true;
}

bool text::ServerUnits(const Eevg_Drawing *drawing, double value, const char *what, int32_t &units,
                       Eerr_ErrorReport **err) {
  if (FiniteUnits(value)) {
    units = static_cast<int32_t>(value);
    return true;
  }
  const Eevg_FontServer *server = gfx::FontServerOf(drawing->text.font);
  lower::Report(err, "eevg_TextCharWidths", 1, "Font server %s gave the %s %g",
                server ? server->instanceName : "?", what, value);
  return false;
}

bool text::ServerOutline(Eevg_Drawing *drawing, char16_t character, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_TextCharOutline";
  Eevg_FontServer *server = ServerOf(drawing, err);
  if (!server) return false;
  drawing->pointCount = 0;
  drawing->polygonCount = 0;
  drawing->polygonStarts[0] = 0;
  drawing->text.penX = drawing->text.penY = 0;
  drawing->text.sinkPoints = drawing->text.sinkContours = 0;
  lower::CalleeReport ignored;
  server->textCharOutlineGet(drawing, character, &ignored);
  const int32_t points = drawing->pointCount, contours = drawing->polygonCount;
  if (drawing->text.sinkPoints < 0) {
    drawing->pointCount = drawing->polygonCount = 0;
    lower::Report(err, reporter, 1, "Outline of character %u from font server %s does not fit the drawing",
                  static_cast<unsigned>(character), server->instanceName);
    return false;
  }
  bool sound = points == drawing->text.sinkPoints && contours == drawing->text.sinkContours &&
               points >= 0 && points <= drawing->pointCapacity && contours >= 0 &&
               contours <= drawing->polygonStartCapacity;
  for (int32_t i = 0; sound && i < contours; ++i)
    sound = drawing->polygonStarts[i] >= (i ? drawing->polygonStarts[i - 1] : 0) &&
            drawing->polygonStarts[i] <= points;
  if (!sound) {
    drawing->pointCount = drawing->polygonCount = 0;
    drawing->polygonStarts[0] = 0;
    lower::Report(err, reporter, 2,
                  "Outline of character %u from font server %s holds other points than it sent",
                  static_cast<unsigned>(character), server->instanceName);
    return false;
  }
  drawing->polygonStarts[contours] = points;
  return true;
}

extern "C" {

int32_t eevg_TextFontGet(const char *fontFileName, uint8_t *fontTable, int32_t *used,
                         int32_t capacity, Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_TextFontGet";
  lower::Clear(err);
  auto invalid = [&] {
    lower::Report(err, reporter, 6, "Invalid font table or font file name");
    return -1;
  };
  if (!fontFileName || !fontTable || !used || capacity < 0) return invalid();
  auto *slots = reinterpret_cast<Eevg_LoadedFont *>(fontTable);
  {
    std::shared_lock<std::shared_mutex> lookup(text::FontTableMutex());
    if (*used < 0) return invalid();
    const int32_t found = FindLoaded(fontFileName, slots, std::min(*used, capacity));
    if (found >= 0) return found;
  }
  std::lock_guard<std::shared_mutex> table(text::FontTableMutex());
  if (*used < 0) return invalid();
  const int32_t inUse = std::min(*used, capacity);
  const int32_t found = FindLoaded(fontFileName, slots, inUse);
  if (found >= 0) return found;
  if (inUse >= capacity) {
    lower::Report(err, reporter, 1, "No room for more fonts in font table");
    return -1;
  }
  std::lock_guard<std::mutex> lock(ServersMutex());
  if (!servers.made && !MakeServerList()) {
    lower::Report(err, reporter, 7, "Error allocating the font server list");
    return -1;
  }
  lower::CalleeReport inner;
  Eevg_FontDataBaseRecord *record = eevg_FontDataBaseLookupByFontFileName(nullptr, fontFileName, &inner);
  if (!record) {
    lower::ReportChained(err, inner, reporter, 2, "Font file name %s not found in font data base",
                         fontFileName);
    return -1;
  }
  const char *serverName = record->fontServerName ? record->fontServerName : "";
  Eevg_FontServer *chosen = nullptr;
  for (int32_t i = 0; i < servers.count && !chosen;) {
    if (!servers.instances[i]) {
      bool invalid = false;
      servers.instances[i] = OpenInstance(servers.dlls[i], &invalid, &inner);
      if (!servers.instances[i] && !invalid) {
        // Memory ran out: the load fails, and the next one tries this DLL again (going on could
        // choose another server than the one that serves the name).
        lower::PassOn(err, inner);
        lower::Report(err, reporter, 8, "Unable to open DLL instance %s", servers.dlls[i]);
        return -2;
      }
      if (!servers.instances[i]) {
        // A DLL that is no font server leaves the list for good.
        eerr_PrintErrorReport(inner.Get(), 0, nullptr);
        if (err)
          *err = eerr_CreateErrorReport(
              reporter, 3, EERR_WARNING, *err,
              "Unable to open DLL instance %s, the DLL doesn't appear to be a valid FontServer.",
              servers.dlls[i]);
        inner.Drop();
        DropServer(i);
        continue;
      }
    }
    Eevg_FontServer *server = servers.instances[i];
    for (int32_t t = 0; t < server->titleCount && !chosen; ++t)
      if (server->titles[t] && estr_Eqic(server->titles[t], serverName)) chosen = server;
    ++i;
  }
  if (!chosen) {
    lower::Report(err, reporter, 4, "Unrecognized font server %s", serverName);
    return -2;
  }
  const int32_t handle = chosen->textFontGet(fontFileName, &inner);
  if (inner) {
    lower::PassOn(err, inner);
    lower::Report(err, reporter, 5, "Error returned from fontGet for %s", fontFileName);
    return -2;
  }
  Eevg_LoadedFont &slot = slots[inUse];
  const std::size_t length = strnlen(fontFileName, sizeof slot.fileName);
  std::memset(slot.fileName, 0, sizeof slot.fileName);
  std::memcpy(slot.fileName, fontFileName, length);
  slot.handle = handle;
  slot.server = NumberOf(chosen);
  *used = inUse + 1;
  return inUse;
} TAVIRON_GUARD(err, -1)

void eevg_TextFontFree(void *slot) try {
  auto *font = static_cast<Eevg_LoadedFont *>(slot);
  if (font) text::Glyphs().Forget(font->server, font->handle);
  Eevg_FontServer *server = gfx::FontServerOf(font);
  if (server && server->textFontFree) server->textFontFree(font->handle);
} TAVIRON_GUARD_QUIET_VOID

double eevg_TextEmValueGet(Eevg_Drawing *drawing) try {
  return DeviceMetric(drawing, &Eevg_FontServer::textEmValueGet);
} TAVIRON_GUARD_QUIET(0.0)

double eevg_TextAscentGet(Eevg_Drawing *drawing) try {
  return DeviceMetric(drawing, &Eevg_FontServer::textAscentGet);
} TAVIRON_GUARD_QUIET(0.0)

double eevg_TextDescentGet(Eevg_Drawing *drawing) try {
  return DeviceMetric(drawing, &Eevg_FontServer::textDescentGet);
} TAVIRON_GUARD_QUIET(0.0)

int32_t eevg_DispMove(Eevg_Drawing *drawing, int32_t x, int32_t y, Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_DispMove";
  lower::Clear(err);
  if (!CheckSink(drawing, reporter, err)) return -1;
  if (!SinkMove(drawing, x, y, reporter, err)) return -1;
  SinkDone(drawing);
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t eevg_DispDraw(Eevg_Drawing *drawing, int32_t x, int32_t y, Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_DispDraw";
  lower::Clear(err);
  if (!CheckSink(drawing, reporter, err)) return -1;
  Eevg_TextControls &t = drawing->text;
  if (x == t.penX && y == t.penY) return 0;
  // A server that draws before it moves starts its contour at the pen.
  if (drawing->polygonCount <= 0 && !SinkMove(drawing, t.penX, t.penY, reporter, err)) return -1;
  const int32_t first = drawing->polygonStarts[drawing->polygonCount - 1];
  const int32_t n = drawing->pointCount;
  if (n - first > 1 && drawing->points[2 * n - 2] == t.penX && drawing->points[2 * n - 1] == t.penY) {
    const int64_t ax = static_cast<int64_t>(t.penX) - drawing->points[2 * n - 4];
    const int64_t ay = static_cast<int64_t>(t.penY) - drawing->points[2 * n - 3];
    const int64_t bx = static_cast<int64_t>(x) - t.penX, by = static_cast<int64_t>(y) - t.penY;
    if (static_cast<__int128>(ax) * by == static_cast<__int128>(ay) * bx) --drawing->pointCount;
  }
  if (!SinkRoom(drawing)) {
    SinkFailed(drawing);
    lower::Report(err, reporter, 1, "Too many polygon points");
    return -1;
  }
  SinkAppend(drawing, x, y);
  SinkDone(drawing);
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t eevg_DispCurve(Eevg_Drawing *drawing, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                       int32_t x3, int32_t y3, Eerr_ErrorReport **err, ...) try {
  static const char *reporter = "eevg_DispCurve";
  lower::Clear(err);
  if (!CheckSink(drawing, reporter, err)) return -1;
  Eevg_TextControls &t = drawing->text;
  if (drawing->polygonCount <= 0 && !SinkMove(drawing, t.penX, t.penY, reporter, err)) return -1;
  // The drawing's flatness holds on the page: in font units it is the flatness over the largest
  // stretch of the glyph matrix (a glyph of 16 pixels is not flattened to 1/100 of a pixel).
  const double stretch = std::max(std::fabs(t.glyphMatrix[2]) + std::fabs(t.glyphMatrix[0]),
                                  std::fabs(t.glyphMatrix[1]));
  const double units = stretch > 0 ? drawing->curveFlatness / stretch : drawing->curveFlatness;
  const int32_t flatness = static_cast<int32_t>(std::clamp(units, 2.0, 1e6));
  lower::CalleeReport inner;
  const int32_t status = gfx::eevg_CVPoly(drawing, t.penX, t.penY, x1, y1, x2, y2, x3, y3,
                                          flatness, &drawing->pointCapacity,
                                          &drawing->points, &drawing->pointCount,
                                          drawing->polygonStarts, drawing->polygonCount, &inner);
  t.penX = x3;
  t.penY = y3;
  if (status != 0) {
    SinkFailed(drawing);
    lower::ReportChained(err, inner, reporter, 1, "Unable to display curve");
    return -1;
  }
  SinkDone(drawing);
  return 0;
} TAVIRON_GUARD(err, -1)

} // extern "C"
