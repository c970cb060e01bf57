/* Printers: the printers of this machine, their device modes and the capabilities of a device
   context made for one.
   The printers are listed in a printer table file: TAVIRON_PRINTER_TABLE, else
   "$TAVIRON_HOME/etc/printers.tab". One printer per line, fields separated by "|" (blanks around
   a field are dropped), blank lines and lines starting with "#" skipped:
     name | driver | port | copies | paper width mm | paper height mm | x dpi | y dpi | colour
   with copies 1 to 9999, paper sizes 1 to 3000 mm, resolutions 1 to 9600 dpi and the colour
   "color" or "mono". A line that does not hold all nine fields so is skipped; a name of 32
   characters or more is kept whole in the list and cut to 31 in the device mode. Missing file: no
   printers. */
#ifndef TAVIRON_EPRN_H
#define TAVIRON_EPRN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define EPRN_DEVICE_NAME_SIZE 32
#define EPRN_MONOCHROME 1
#define EPRN_COLOR 2

/* The settings of a printer for one document. A block of bytes that processes hand each other
   (little-endian); size is the block's size, sizeof(Eprn_DevMode). */
typedef struct Eprn_DevMode {
  char deviceName[EPRN_DEVICE_NAME_SIZE]; /* terminated within the array */
  uint16_t size;
  int16_t copies;
  int16_t paperWidth;  /* tenths of a millimetre */
  int16_t paperLength; /* tenths of a millimetre */
  int16_t xResolution; /* dots per inch */
  int16_t yResolution;
  int16_t color;       /* EPRN_MONOCHROME or EPRN_COLOR */
  int16_t reserved;
} Eprn_DevMode;

/* A printer of the table: its name, driver and port (heap strings of the list). */
typedef struct Eprn_PrinterInfo {
  char *printerName;
  char *driverName;
  char *portName;
} Eprn_PrinterInfo;

/* The printers of the table, in file order; *count of them (0 and null when there are none).
   Free with eprn_FreePrinters. */
Eprn_PrinterInfo *eprn_EnumPrinters(int32_t *count);
void eprn_FreePrinters(Eprn_PrinterInfo *printers, int32_t count);

typedef struct Eprn_Printer Eprn_Printer;
/* The printer of that name (compared byte for byte), or null. */
Eprn_Printer *eprn_OpenPrinter(const char *name);
void eprn_ClosePrinter(Eprn_Printer *printer);
/* With a null mode: the size of the printer's device mode. Otherwise fills *mode with the
   printer's settings and returns 1. -1 on failure. */
int32_t eprn_DocumentProperties(Eprn_Printer *printer, Eprn_DevMode *mode);
/* Fills *info with copies of the printer's name, driver and port (free each with free());
   1 on success, 0 on failure. */
int32_t eprn_GetPrinter(Eprn_Printer *printer, Eprn_PrinterInfo *info);

/* Capabilities of a device context. */
#define EPRN_HORZSIZE 1   /* printable width, millimetres */
#define EPRN_VERTSIZE 2   /* printable height, millimetres */
#define EPRN_HORZRES 3    /* printable width, dots */
#define EPRN_VERTRES 4    /* printable height, dots */
#define EPRN_LOGPIXELSX 5 /* dots per inch across */
#define EPRN_LOGPIXELSY 6 /* dots per inch down */

typedef struct Eprn_DeviceContext Eprn_DeviceContext;
/* A device context for the device with these settings (driver and device names may be null);
   null without settings or for settings out of range. */
Eprn_DeviceContext *eprn_CreateDC(const char *driver, const char *device,
                                  const Eprn_DevMode *mode);
/* A capability (EPRN_HORZSIZE ...); 0 for an unknown index. */
int32_t eprn_GetDeviceCaps(const Eprn_DeviceContext *context, int32_t index);
void eprn_DeleteDC(Eprn_DeviceContext *context);

#ifdef __cplusplus
}
#endif

#endif
