// Printers from the printer table file.
#include "eprn.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "guard.h"

struct Eprn_Printer {
  std::string name, driver, port;
  Eprn_DevMode mode;
};

struct Eprn_DeviceContext {
  Eprn_DevMode mode;
};

namespace {

std::string TablePath() {
  if (const char *table = std::getenv("TAVIRON_PRINTER_TABLE"); table && *table) return table;
  const char *home = std::getenv("TAVIRON_HOME");
  return std::string(home ? home : "") + "/etc/printers.tab";
}

std::string Trim(const std::string &text) {
  std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A whole decimal number from low to high.
bool Number(const std::string &text, long low, long high, int16_t &out) {
  if (text.empty()) return false;
  char *end = nullptr;
  errno = 0;
  long value = std::strtol(text.c_str(), &end, 10);
  if (errno || *end || value < low || value > high) return false;
  out = static_cast<int16_t>(value);
  return true;
}

bool ParseLine(const std::string &line, Eprn_Printer &printer) {
  std::vector<std::string> fields;
  std::size_t at = 0;
  for (;;) {
    std::size_t bar = line.find('|', at);
    fields.push_back(Trim(line.substr(at, bar == std::string::npos ? std::string::npos : bar - at)));
    if (bar == std::string::npos) break;
    at = bar + 1;
  }
  if (fields.size() != 9 || fields[0].empty()) return false;
  printer.name = fields[0];
  printer.driver = fields[1];
  printer.port = fields[2];
  Eprn_DevMode mode{};
  int16_t width = 0, height = 0;
  if (!Number(fields[3], 1, 9999, mode.copies) || !Number(fields[4], 1, 3000, width) ||
      !Number(fields[5], 1, 3000, height) || !Number(fields[6], 1, 9600, mode.xResolution) ||
      !Number(fields[7], 1, 9600, mode.yResolution))
    return false;
  if (fields[8] == "color")
    mode.color = EPRN_COLOR;
  else if (fields[8] == "mono")
    mode.color = EPRN_MONOCHROME;
  else
    return false;
  std::strncpy(mode.deviceName, printer.name.c_str(), EPRN_DEVICE_NAME_SIZE - 1);
  mode.size = sizeof(Eprn_DevMode);
  mode.paperWidth = static_cast<int16_t>(width * 10);
  mode.paperLength = static_cast<int16_t>(height * 10);
  printer.mode = mode;
  return true;
}

std::vector<Eprn_Printer> ReadTable() {
  std::vector<Eprn_Printer> printers;
  std::ifstream in(TablePath());
  for (std::string line; std::getline(in, line);) {
    std::string text = Trim(line);
    if (text.empty() || text[0] == '#') continue;
    Eprn_Printer printer;
    if (ParseLine(text, printer)) printers.push_back(std::move(printer));
  }
  return printers;
}

char *Copy(const std::string &text) { return strdup(text.c_str()); }

bool Valid(const Eprn_DevMode &mode) {
  return mode.size >= sizeof(Eprn_DevMode) && mode.paperWidth > 0 && mode.paperLength > 0 &&
         mode.xResolution > 0 && mode.yResolution > 0;
}

} // namespace

extern "C" {

Eprn_PrinterInfo *eprn_EnumPrinters(int32_t *count) try {
  if (count) *count = 0;
  std::vector<Eprn_Printer> printers = ReadTable();
  if (printers.empty() || !count) return nullptr;
  auto *list = static_cast<Eprn_PrinterInfo *>(std::calloc(printers.size(), sizeof(Eprn_PrinterInfo)));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < printers.size(); ++i) {
    list[i].printerName = Copy(printers[i].name);
    list[i].driverName = Copy(printers[i].driver);
    list[i].portName = Copy(printers[i].port);
    if (!list[i].printerName || !list[i].driverName || !list[i].portName) {
      eprn_FreePrinters(list, static_cast<int32_t>(i + 1));
      return nullptr;
    }
  }
  *count = static_cast<int32_t>(printers.size());
  return list;
} TAVIRON_GUARD_QUIET(nullptr)

void eprn_FreePrinters(Eprn_PrinterInfo *printers, int32_t count) try {
  if (!printers) return;
  for (int32_t i = 0; i < count; ++i) {
    std::free(printers[i].printerName);
    std::free(printers[i].driverName);
    std::free(printers[i].portName);
  }
  std::free(printers);
} TAVIRON_GUARD_QUIET_VOID

Eprn_Printer *eprn_OpenPrinter(const char *name) try {
  if (!name) return nullptr;
  for (Eprn_Printer &printer : ReadTable())
    if (printer.name == name) return new Eprn_Printer(std::move(printer));
  return nullptr;
} TAVIRON_GUARD_QUIET(nullptr)

void eprn_ClosePrinter(Eprn_Printer *printer) try { delete printer; } TAVIRON_GUARD_QUIET_VOID

int32_t eprn_DocumentProperties(Eprn_Printer *printer, Eprn_DevMode *mode) try {
  if (!printer) return -1;
  if (!mode) return static_cast<int32_t>(sizeof(Eprn_DevMode));
  *mode = printer->mode;
  return 1;
} TAVIRON_GUARD_QUIET(-1)

int32_t eprn_GetPrinter(Eprn_Printer *printer, Eprn_PrinterInfo *info) try {
  if (!printer || !info) return 0;
  info->printerName = Copy(printer->name);
  info->driverName = Copy(printer->driver);
  info->portName = Copy(printer->port);
  if (info->printerName && info->driverName && info->portName) return 1;
  std::free(info->printerName);
  std::free(info->driverName);
  std::free(info->portName);
  *info = {};
  return 0;
} TAVIRON_GUARD_QUIET(0)

Eprn_DeviceContext *eprn_CreateDC(const char *, const char *, const Eprn_DevMode *mode) try {
  if (!mode || !Valid(*mode)) return nullptr;
  return new Eprn_DeviceContext{*mode};
} TAVIRON_GUARD_QUIET(nullptr)

int32_t eprn_GetDeviceCaps(const Eprn_DeviceContext *context, int32_t index) try {
  if (!context) return 0;
  const Eprn_DevMode &mode = context->mode;
  // Millimetres from tenths, dots from millimetres at the resolution (25.4 mm to the inch).
  auto dots = [](int32_t tenths, int32_t dpi) {
    return static_cast<int32_t>(static_cast<int64_t>(tenths) * dpi / 254);
  };
  switch (index) {
  case EPRN_HORZSIZE: return mode.paperWidth / 10;
  case EPRN_VERTSIZE: return mode.paperLength / 10;
  case EPRN_HORZRES: return dots(mode.paperWidth, mode.xResolution);
  case EPRN_VERTRES: return dots(mode.paperLength, mode.yResolution);
  case EPRN_LOGPIXELSX: return mode.xResolution;
  case EPRN_LOGPIXELSY: return mode.yResolution;
  default: return 0;
  }
} TAVIRON_GUARD_QUIET(0)

void eprn_DeleteDC(Eprn_DeviceContext *context) try { delete context; } TAVIRON_GUARD_QUIET_VOID

} // extern "C"
