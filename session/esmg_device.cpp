// Device classes answered without a database: "printers" from the printer table, "cdroms" and the
// local tape list; device modes; device lists and category writes of configuration classes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>
#include <string>
#include <vector>

#include "ecfg.h"
#include "emsc.h"
#include "eprn.h"
#include "esmg.h"
#include "estr.h"
#include "ewin.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

const char *OrNull(const char *text) { return text ? text : "NULL"; }

bool SetText(Epmg_Preference *record, int32_t type, const char *text) {
  char *copy = estr_Duplicate(text ? text : "");
  if (!copy) throw std::bad_alloc();
  record->value.string = copy;
  record->valueType = type;
  return true;
}

void SetNumber(Epmg_Preference *record, double number) {
  record->value.number = number;
  record->valueType = EPMG_TYPE_NUMBER;
}

void SetBoolean(Epmg_Preference *record, int32_t value) {
  record->value.boolean = value;
  record->valueType = EPMG_TYPE_BOOLEAN;
}

// A device mode and its names block, as esmg_GetDevMode hands them out.
struct DevModeBlocks {
  void *mode = nullptr;
  int32_t modeSize = 0;
  void *names = nullptr;
  int32_t namesSize = 0;
  ~DevModeBlocks() {
    emsc_HeapFree(mode);
    emsc_HeapFree(names);
  }
};

uint16_t U16(const unsigned char *at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

void PutU16(unsigned char *at, uint32_t value) {
  at[0] = static_cast<unsigned char>(value);
  at[1] = static_cast<unsigned char>(value >> 8);
}

// The name at an offset of a names block; "" when it does not lie whole inside the block.
std::string NameAt(const DevModeBlocks &blocks, int which) {
  const auto *bytes = static_cast<const unsigned char *>(blocks.names);
  if (!bytes || blocks.namesSize < 8) return "";
  const uint16_t offset = U16(bytes + 2 * which);
  if (offset >= blocks.namesSize) return "";
  const void *end = std::memchr(bytes + offset, 0, static_cast<std::size_t>(blocks.namesSize - offset));
  return end ? std::string(reinterpret_cast<const char *>(bytes + offset)) : "";
}

// The printer's answers by key (compared without case).
struct PrinterKey {
  const char *key;
  std::function<void(Epmg_Preference *, const Eprn_DevMode &, const Eprn_DeviceContext *)> answer;
};

const std::vector<PrinterKey> &PrinterKeys() {
  using Mode = const Eprn_DevMode &;
  using Context = const Eprn_DeviceContext *;
  auto caps = [](int32_t index) {
    return [index](Epmg_Preference *r, Mode, Context dc) { SetNumber(r, eprn_GetDeviceCaps(dc, index)); };
  };
  auto deviceName = [](Epmg_Preference *r, Mode mode, Context) {
    SetText(r, EPMG_TYPE_STRING,
            std::string(mode.deviceName, strnlen(mode.deviceName, EPRN_DEVICE_NAME_SIZE)).c_str());
  };
  static const std::vector<PrinterKey> keys = {
      {"model", deviceName},
      {"device", deviceName},
      {"mirror", [](Epmg_Preference *r, Mode, Context) { SetBoolean(r, 0); }},
      {"numcopies", [](Epmg_Preference *r, Mode mode, Context) { SetNumber(r, mode.copies); }},
      {"mediawidth", caps(EPRN_HORZSIZE)},
      {"mediaheight", caps(EPRN_VERTSIZE)},
      {"unittype", [](Epmg_Preference *r, Mode, Context) { SetText(r, EPMG_TYPE_ENUM, "millimeter"); }},
      {"densitywidth", caps(EPRN_LOGPIXELSX)},
      {"densityheight", caps(EPRN_LOGPIXELSY)},
      {"dotsunittype", [](Epmg_Preference *r, Mode, Context) { SetText(r, EPMG_TYPE_ENUM, "inch"); }},
      {"totalpixelwidth", caps(EPRN_HORZRES)},
      {"totalpixelheight", caps(EPRN_VERTRES)},
      {"color",
       [](Epmg_Preference *r, Mode mode, Context) {
         SetText(r, EPMG_TYPE_ENUM, mode.color == EPRN_COLOR ? "color" : "monochrome");
       }},
      {"intenselevel", [](Epmg_Preference *r, Mode, Context) { SetNumber(r, 1); }},
  };
  return keys;
}

// The category is the printer's name.
void PrinterPreference(Epmg_Preference *record, Eerr_ErrorReport **err) {
  static const char *reporter = "GetWindowsPrinterPreference";
  DevModeBlocks blocks;
  // A device mode shorter than the settings it must hold is no device mode.
  if (!esmg_GetDevMode(record->category, &blocks.mode, &blocks.modeSize, &blocks.names,
                       &blocks.namesSize) ||
      !blocks.mode || blocks.modeSize < static_cast<int32_t>(sizeof(Eprn_DevMode))) {
    lower::Report(err, reporter, 2, "esmg_GetDevMode failed");
    return;
  }
  Eprn_DevMode mode;
  std::memcpy(&mode, blocks.mode, sizeof mode);
  const std::string driver = NameAt(blocks, 0), device = NameAt(blocks, 1);
  Eprn_DeviceContext *context = eprn_CreateDC(driver.c_str(), device.c_str(), &mode);
  if (!context) {
    lower::Report(err, reporter, 3, "Could not make a device context for %s", OrNull(record->category));
    return;
  }
  bool answered = false;
  for (const PrinterKey &key : PrinterKeys()) {
    if (!record->name || !estr_Eqic(record->name, key.key)) continue;
    key.answer(record, mode, context);
    answered = true;
    break;
  }
  eprn_DeleteDC(context);
  if (!answered) lower::Report(err, reporter, 1, "Unknown preference: %s", OrNull(record->name));
}

void CdromPreference(Epmg_Preference *record, Eerr_ErrorReport **err) {
  const char *key = record->name;
  if (key && std::strcmp(key, "model") == 0)
    SetText(record, EPMG_TYPE_STRING, "CD-ROM");
  else if (key && std::strcmp(key, "host") == 0)
    SetText(record, EPMG_TYPE_STRING, ".");
  else if (key && (estr_Eqic(key, "directory") || std::strcmp(key, "device") == 0))
    SetText(record, EPMG_TYPE_STRING, record->category);
  else
    lower::Report(err, "GetWindowsCDROMPreference", 1, "Unknown preference: %s", OrNull(key));
}

// 1 when the tape list has the device and the key is known.
int32_t TapePreference(Epmg_Preference *record, Eerr_ErrorReport **err) {
  const Esmg_TapeNode *node = esmg_GetLocalTapesDB();
  while (node && !(node->name && record->category && estr_Eqic(node->name, record->category)))
    node = node->next;
  if (!node) return 0;
  const char *key = record->name;
  if (key && std::strcmp(key, "model") == 0) return SetText(record, EPMG_TYPE_STRING, node->name);
  if (key && std::strcmp(key, "device") == 0) return SetText(record, EPMG_TYPE_STRING, node->device);
  if (key && std::strcmp(key, "host") == 0) return SetText(record, EPMG_TYPE_STRING, ".");
  lower::Report(err, "GetLocalTapePreference", 1, "Unknown preference: %s", OrNull(key));
  return 0;
}

// A names block: four 16-bit offsets, then the driver, device and port names with their NULs.
bool NamesBlock(const Eprn_PrinterInfo &info, DevModeBlocks &blocks) {
  const std::size_t driver = std::strlen(info.driverName), device = std::strlen(info.printerName),
                    port = std::strlen(info.portName);
  const std::size_t size = 8 + driver + 1 + device + 1 + port + 1;
  if (size > 0xFFFF) return false;
  auto *bytes = static_cast<unsigned char *>(emsc_HeapMalloc(size));
  if (!bytes) return false;
  PutU16(bytes, 8);
  PutU16(bytes + 2, static_cast<uint32_t>(driver + 9));
  PutU16(bytes + 4, static_cast<uint32_t>(driver + device + 10));
  PutU16(bytes + 6, 0);
  std::memcpy(bytes + 8, info.driverName, driver + 1);
  std::memcpy(bytes + 9 + driver, info.printerName, device + 1);
  std::memcpy(bytes + 10 + driver + device, info.portName, port + 1);
  blocks.names = bytes;
  blocks.namesSize = static_cast<int32_t>(size);
  return true;
}

bool IsTablePrinter(const char *name) {
  int32_t count = 0;
  Eprn_PrinterInfo *printers = eprn_EnumPrinters(&count);
  bool found = false;
  for (int32_t i = 0; i < count && !found; ++i) found = std::strcmp(printers[i].printerName, name) == 0;
  eprn_FreePrinters(printers, count);
  return found;
}

bool PrinterDevMode(const char *name, DevModeBlocks &blocks) {
  Eprn_Printer *printer = eprn_OpenPrinter(name);
  if (!printer) return false;
  const int32_t size = eprn_DocumentProperties(printer, nullptr);
  if (size < 1) {
    eprn_ClosePrinter(printer);
    blocks.modeSize = size;
    return true;
  }
  auto *mode = static_cast<Eprn_DevMode *>(
      emsc_HeapMalloc(std::max<std::size_t>(static_cast<std::size_t>(size), sizeof(Eprn_DevMode))));
  Eprn_PrinterInfo info{};
  const bool read = mode && eprn_DocumentProperties(printer, mode) == 1 && eprn_GetPrinter(printer, &info);
  eprn_ClosePrinter(printer);
  blocks.mode = mode;
  blocks.modeSize = size;
  const bool named = read && NamesBlock(info, blocks);
  std::free(info.printerName);
  std::free(info.driverName);
  std::free(info.portName);
  return named;
}

// A device-mode block another process published: two 16-bit sizes, the device mode, the names.
// The sizes are held against the bytes that are there.
bool PublishedDevMode(const char *name, DevModeBlocks &blocks) {
  Ewin_Handle mapping = ewin_OpenFileMapping(name);
  if (!mapping) return false;
  const int64_t size = ewin_GetFileMappingSize(mapping);
  const auto *view = static_cast<const unsigned char *>(ewin_MapViewOfFile(mapping));
  bool ok = false;
  if (view && size >= 4) {
    const uint16_t modeSize = U16(view), namesSize = U16(view + 2);
    if (4 + static_cast<int64_t>(modeSize) + namesSize <= size) {
      auto copy = [](const unsigned char *from, uint16_t count, void *&to) {
        if (count == 0) return true;
        to = emsc_HeapMalloc(count);
        if (to) std::memcpy(to, from, count);
        return to != nullptr;
      };
      ok = copy(view + 4, modeSize, blocks.mode) && copy(view + 4 + modeSize, namesSize, blocks.names);
      blocks.modeSize = modeSize;
      blocks.namesSize = namesSize;
    }
  }
  if (view) ewin_UnmapViewOfFile(view);
  ewin_CloseHandle(mapping);
  return ok;
}

} // namespace

extern "C" {

int32_t esmg_GetPreferenceNT(Epmg_Preference *record, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!record || !record->className) return 0;
  if (estr_Eqic(record->className, "printers")) {
    PrinterPreference(record, err);
    return 1;
  }
  if (estr_Eqic(record->className, "cdroms")) {
    CdromPreference(record, err);
    return 1;
  }
  if (estr_Eqic(record->className, "tapes")) return TapePreference(record, err);
  return 0;
} TAVIRON_GUARD(err, 0)

int32_t esmg_GetDevMode(const char *device, void **devMode, int32_t *devModeSize, void **names,
                        int32_t *namesSize) try {
  if (devMode) *devMode = nullptr;
  if (devModeSize) *devModeSize = 0;
  if (names) *names = nullptr;
  if (namesSize) *namesSize = 0;
  if (!device || estr_Eqic(device, "file") || std::strcmp(device, "eps") == 0) return 0;
  DevModeBlocks blocks;
  if (!(IsTablePrinter(device) ? PrinterDevMode(device, blocks) : PublishedDevMode(device, blocks)))
    return 0;
  if (devModeSize) *devModeSize = blocks.modeSize;
  if (namesSize) *namesSize = blocks.namesSize;
  if (devMode) *devMode = std::exchange(blocks.mode, nullptr);
  if (names) *names = std::exchange(blocks.names, nullptr);
  return 1;
} TAVIRON_GUARD_QUIET(0)

Estr_StringList *esmg_GetDeviceList(const char *className, Eerr_ErrorReport **err) try {
  static const char *reporter = "esmg_GetDeviceList";
  lower::Clear(err);
  lower::CalleeReport inner;
  if (esmg_IsSessionManager()) {
    Estr_StringList *list =
        ecfg_QueryCreateAndExecute(className, nullptr, nullptr, nullptr, ECFG_QUERY_INSTANCES, &inner);
    if (inner) lower::ReportChained(err, inner, reporter, 2519, "Trouble querying configuration database");
    return list;
  }
  Esmg_Protocol *reply = esmg_BroadcastAndWait(ESMG_DEST_NONE, 0, 33, className);
  if (!reply) {
    lower::Report(err, reporter, 2545, "Protocol receive error");
    return nullptr;
  }
  Estr_StringList *list = nullptr;
  if (reply->w[4].i) {
    lower::Report(err, reporter, 2555, "Couldn't get device list for %s from session manager",
                  OrNull(className));
  } else if (reply->w[3].sl) {
    list = estr_StringListCopy(reply->w[3].sl, nullptr, &inner);
    if (inner) {
      estr_StringListDelete(list, nullptr);
      list = nullptr;
      lower::ReportChained(err, inner, reporter, 2563, "Couldn't copy stringlist");
    }
  }
  esmg_FreeProtocol(reply);
  return list;
} TAVIRON_GUARD(err, nullptr)

void esmg_WriteCategory(const char *className, const char *category, const char *directory,
                        const char *suffix, Eerr_ErrorReport **err) try {
  static const char *reporter = "esmg_WriteCategory";
  lower::Clear(err);
  if (className && estr_Eqic(className, "printers")) return;
  if (esmg_IsSessionManager()) {
    lower::CalleeReport inner;
    ecfg_WriteCategory(className, category, directory, suffix, &inner);
    if (inner) lower::ReportChained(err, inner, reporter, 2634, "Trouble writing category");
    return;
  }
  Esmg_Protocol *reply =
      esmg_BroadcastAndWait(ESMG_DEST_NONE, 0, 34, className, category, directory, suffix);
  if (!reply) {
    lower::Report(err, reporter, 2661, "Protocol receive error");
    return;
  }
  if (reply->w[6].i) {
    const bool withSuffix = suffix && *suffix;
    lower::Report(err, reporter, 2673, "Couldn't write %s/%s%s%s.cfg for category %s ",
                  directory ? directory : "", className ? className : "", withSuffix ? "." : "",
                  withSuffix ? suffix : "", category ? category : "<none>");
  }
  esmg_FreeProtocol(reply);
} TAVIRON_GUARD_VOID(err)

} // extern "C"
