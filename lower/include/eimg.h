/* Raster layers: the layers (bands) of image files, read and written as pixel rectangles; layer
   stacks; pixel rectangles and their stacks.

   An image file is a hierarchical file (ehfa). A layer is an entry under the file's root holding
   a record of the design "Eimg_Layer" (width, height, layer type, pixel type, block width, block
   height, as stored 32-bit values), its pixels in blocks of the file's block table, and its
   attachments (map information, projection) as entries below it. Layers are named
   "file(:node)" (also "file:node"); the node is "Layer_1", "Layer_2", ... for the bands of an
   image, or any node name. A name without a node part means the file's first layer.

   Blocks. A layer is cut into blocks of blockWidth x blockHeight pixels (128 x 128 unless keyword 2
   says otherwise at creation), block (r, c) covering columns c * blockWidth .. and rows
   r * blockHeight ..; each block is stored whole (the part of an edge block outside the layer
   is zero), its pixels row by row in the layer's pixel type, little-endian, one byte per pixel
   for u1, u2 and u4. A block never written reads as zeros: the content of a new layer is 0
   everywhere inside it.

   Pixel rectangles are Egda_BaseData matrices (eimg_PixelRectCreate makes rasters of height rows
   and width columns). A read or write of a window of width x height at (column, row) moves the
   window to or from the upper-left width x height elements of the rectangle, which must be at
   least that large (any object type: rasters and scalars row by row, tables and matrices column
   by column). Pixel values are converted between the layer's pixel type and the rectangle's:
   - a value that the target type holds is kept exactly;
   - into an integer type a value is rounded to the nearest integer (halves away from zero) and
     clamped to the type's range (u1, u2, u4: 0 to 1, 3, 15); NaN gives 0;
   - into f32 a value beyond its range becomes +-infinity;
   - from a complex type into a real type the real part is taken; into a complex type the
     imaginary part is 0 (complex to complex converts both parts).
   Reads outside the layer give the boundary value (keyword 6; 0 by default); writes outside the
   layer are dropped (the part inside is written). String rectangles (type 13) are refused.

   Caching. Each open layer keeps the blocks of its recent windows in memory (least recently used
   first out; at least 64 blocks and twice those of the current window, within 64 MiB whatever
   the block size): reads and writes move whole blocks between the file and the cache and convert
   whole rows. A layer's written blocks reach the file only at eimg_LayerRasterFlush and at
   eimg_LayerClose, which write and commit them to disk as one unit; until then the written
   blocks that leave the cache wait in a temporary file of the layer. A process that ends or is
   killed leaves each layer as of its last flush, whatever the other layers of its file did. The
   layers of one file opened in one process share one open file, which holds no write
   transaction between calls (other handles on the file work meanwhile). An open layer is used by
   one thread at a time; layers of different files are independent.

   Option keywords: a list "code, values..., 0" after err. Codes and their values:
     2 (block width, block height: int)   creation: block size, each 1 to 4096, at most 16 MiB
                                          a block; elsewhere accepted and not used
     3, 4, 7, 11, 21, 25, 26, 29, 256     no values; accepted (statistics at close (7), output
                                          options and layer kinds belong to later work)
     6 (pixel rectangle or null)          boundary value: element (0, 0) of the rectangle (any
                                          real or complex type; 1 x 1 f64 by convention); null
                                          resets it to 0
     9 (name, bin count: int, bin function)  descriptor table; accepted and not used yet
     10 (transform, pixel rectangle)      accepted and not used yet
     14 (Emet_MeterInfo * or null)        progress meter: eimg_LayerClose and eimg_LayerStackClose
                                          show the writing of the layer's cached blocks on it
     22 (matrix or null), 28 (word)       excluded values / output option; kept for later work
     27 (area of interest or null)        attaches (borrows) the area of interest, null detaches
                                          it; a render context the layer holds is freed
     34 (x skip, y skip: int)             accepted and not used yet
     41 (transform or null, method name or null)  the read transform: reads take the layer's
                                          pixels through it (see eimg_LayerRead); null values
                                          remove it. The layer keeps its own copy.
   Any other code is refused with a report (the rest of the list is not read). */
#ifndef TAVIRON_EIMG_H
#define TAVIRON_EIMG_H

#include <stdint.h>

#include "eerr.h"
#include "egda.h"
#include "eint.h"
#include "emif.h"
#include "eprj.h"
#include "estr.h"
#include "exfr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* Layer types. */
#define EIMG_THEMATIC 0
#define EIMG_ATHEMATIC 1
#define EIMG_FFT_OF_REAL_DATA 2

/* Default block size of new layers. */
#define EIMG_DEFAULT_BLOCK_SIZE 128

/* Option keywords (see above). */
#define EIMG_OPTION_BLOCK_SIZE 2          /* block width, block height */
#define EIMG_OPTION_INPUT 3               /* flag: a layer opened for reading (accepted) */
#define EIMG_OPTION_OUTPUT 4              /* flag: a layer made for writing (accepted) */
#define EIMG_OPTION_BOUNDARY_VALUE 6      /* pixel rectangle or null */
#define EIMG_OPTION_STATISTICS 7          /* flag: statistics at close (accepted) */
#define EIMG_OPTION_DESCRIPTOR_TABLE 9    /* name, bin count, bin function (accepted) */
#define EIMG_OPTION_RESAMPLE 10           /* transform, pixel rectangle (accepted) */
#define EIMG_OPTION_FLAG_11 11            /* flag (accepted) */
#define EIMG_OPTION_METER 14              /* Emet_MeterInfo * or null */
#define EIMG_OPTION_FLAG_21 21            /* flag (accepted) */
#define EIMG_OPTION_EXCLUDED_VALUES 22    /* matrix or null (kept) */
#define EIMG_OPTION_FLAG_25 25            /* flag (accepted) */
#define EIMG_OPTION_FLAG_26 26            /* flag (accepted) */
#define EIMG_OPTION_AOI 27                /* area of interest or null */
#define EIMG_OPTION_OUTPUT_WORD 28        /* word (kept) */
#define EIMG_OPTION_FLAG_29 29            /* flag (accepted) */
#define EIMG_OPTION_SKIP_FACTORS 34       /* x skip, y skip (accepted) */
#define EIMG_OPTION_READ_TRANSFORM 41     /* transform or null, method name or null */
#define EIMG_OPTION_FLAG_256 256          /* flag (accepted) */

/* Frees the render context that the area-of-interest rendering stores in a layer. */
typedef void (*Eimg_RenderContextFree)(void *context);

/* An open layer. The first six words are the stored layer record. Callers read the fields; the
   area-of-interest rendering also sets aoiRenderContext and its free function, which the layer
   calls when the area of interest changes and at close. */
typedef struct Eimg_Layer {
  int32_t width;        /* columns */
  int32_t height;       /* rows */
  int32_t layerType;    /* EIMG_THEMATIC, EIMG_ATHEMATIC, EIMG_FFT_OF_REAL_DATA */
  int32_t pixelType;    /* Egda_PixelType 0 to 12 */
  int32_t blockWidth;
  int32_t blockHeight;
  int32_t blocksAcross; /* ceil(width / blockWidth) */
  int32_t blocksDown;   /* ceil(height / blockHeight) */
  int32_t numberOfClasses; /* 0 (class tables come with later work) */
  char *name;           /* the layer name "file(:node)" */
  void *driver;         /* foreign-format driver data; null for image files */
  void *aoi;            /* the attached area of interest (keyword 27), borrowed; or null */
  void *aoiRenderContext;                 /* owned by the layer once stored, or null */
  Eimg_RenderContextFree aoiRenderContextFree; /* frees it (may be null) */
  void *internal;       /* private */
} Eimg_Layer;

/* A stack of open layers. */
typedef struct {
  int32_t count;
  Eimg_Layer **layers;
} Eimg_LayerStack;

/* ---- Layers ---------------------------------------------------------------------------- */

/* The names "file(:node)" of the file's layers, in file order (file as given). A file that is not
   an image file, or a missing one, gives a report and null; a file without layers an empty list
   (count 0). init may be null. */
Estr_StringList *eimg_LayerGetNames(const char *fileName, Eint_InitToolkitData *init,
                                    Eerr_ErrorReport **err);
/* Splits a layer name into its file part and its layer part (the node path without its leading
   ":", "" when the name has none): new heap strings in *fileName and *layerName (either address
   may be null). 0, or -1 with a report for an invalid name. */
int32_t eimg_LayerNameParse(const char *name, char **fileName, char **layerName,
                            Eerr_ErrorReport **err);
/* Opens the layer (option keywords after err, ended by 0). A missing file or layer, or a
   corrupt layer record, gives a report and null. */
Eimg_Layer *eimg_LayerOpen(const char *name, Eint_InitToolkitData *init, Eerr_ErrorReport **err,
                           ...);
/* Creates the layer width x height of the layer type (0 to 2) and pixel type (0 to 12), creating
   the image file when it does not exist; a layer of that name is replaced (its blocks and the
   entries below it are deleted) by the new layer's first commit (its flush or close, a record
   written below it), in one transaction: until then the old layer stays whole in the file and
   the new layer starts empty. An existing file that is not an image file is refused. The node
   is made under the root (its parent path must exist). Option keywords after err, ended by 0. */
Eimg_Layer *eimg_LayerCreate(const char *name, int32_t layerType, int32_t pixelType, int32_t width,
                             int32_t height, Eint_InitToolkitData *init, Eerr_ErrorReport **err,
                             ...);
/* Writes the layer's changed blocks, commits them, and frees the layer (also when writing fails:
   the report says what was lost; the file keeps the layer as of its last flush). Null
   accepted. */
void eimg_LayerClose(Eimg_Layer *layer, Eerr_ErrorReport **err);
/* Deletes an image file (a layer name stands for its file). A file with open layers, a missing
   file or one that is not an image file is refused. 0, or -1 with a report. */
int32_t eimg_FileDestroy(const char *fileName, Eerr_ErrorReport **err);
/* Applies the option keywords after err (ended by 0). 0, or -1 with a report; keywords before a
   refused one stay applied. */
int32_t eimg_LayerChangeOptions(Eimg_Layer *layer, Eerr_ErrorReport **err, ...);

/* Reads the window of width x height pixels at (column, row) into the rectangle. Without a read
   transform the layer's own pixels are read. With one, destination pixel (column + j, row + i)
   takes the value at source pixel T(column + j, row + i) (pixel centres at whole numbers):
   "Nearest Neighbor" the nearest pixel; "Bilinear Interpolation" the four around it weighted by
   distance; "Cubic Convolution" the sixteen around it (cubic kernel, a = -0.5). Source pixels
   outside the layer count with the boundary value. Interpolation computes in double (complex
   double for complex layers) and stores as the conversion rule says. 0, or -1 with a report. */
int32_t eimg_LayerRead(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height,
                       Egda_BaseData *rect, Eerr_ErrorReport **err);
/* Writes the upper-left width x height of the rectangle at (column, row); the part outside the
   layer is dropped. 0, or -1 with a report. */
int32_t eimg_LayerWrite(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width, int32_t height,
                        const Egda_BaseData *rect, Eerr_ErrorReport **err);
/* Direct raster access (the renderer's file device): as eimg_LayerRead and eimg_LayerWrite but
   always the layer's own pixels, never through the read transform. */
int32_t eimg_LayerRasterPixelRectGet(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width,
                                     int32_t height, Egda_BaseData *rect, Eerr_ErrorReport **err);
int32_t eimg_LayerRasterPixelRectSet(Eimg_Layer *layer, int32_t column, int32_t row, int32_t width,
                                     int32_t height, const Egda_BaseData *rect,
                                     Eerr_ErrorReport **err);
/* Writes the layer's changed blocks to the file and commits them, as one unit (on failure none
   of them is written and they stay changed). mode (4 by the renderer) is accepted and not used.
   0, or -1 with a report. */
int32_t eimg_LayerRasterFlush(Eimg_Layer *layer, int32_t mode, Eerr_ErrorReport **err);

/* The layer's map information as a new record (free with eprj_MapInfoFree): the stored one, or
   for a layer without one the default: projection "Unknown", units "other", upper-left centre
   (0, 0), lower-right centre (width - 1, 1 - height), pixel size 1 x 1 (map coordinates
   (column, -row)). */
Eprj_MapInfo *eimg_LayerMapInfoGet(Eimg_Layer *layer, Eerr_ErrorReport **err);
/* Map information and projection are stored below the layer's entry: the nodes "Map_Info",
   "Projection" and "XForm" (eprj and exfr records). */

/* The stored map information, into info (its old contents replaced) or a new record; null
   without a report when the layer has none, null with a report when it cannot be read. */
Eprj_MapInfo *eimg_MapInfoRead(Eimg_Layer *layer, Eprj_MapInfo *info, Eerr_ErrorReport **err);
/* Stores the map information (replacing it). 0, or -1 with a report. */
int32_t eimg_MapInfoWrite(Eimg_Layer *layer, const Eprj_MapInfo *info, Eerr_ErrorReport **err);
/* The stored projection parameters, into parameters or a new record; null without a report when
   the layer has none. */
Eprj_ProParameters *eimg_ProParametersRead(Eimg_Layer *layer, Eprj_ProParameters *parameters,
                                           Eerr_ErrorReport **err);
/* Stores the projection parameters (replacing them). 0, or -1 with a report. */
int32_t eimg_ProParametersWrite(Eimg_Layer *layer, const Eprj_ProParameters *parameters,
                                Eerr_ErrorReport **err);
/* The layer's map projection: *projection receives a new projection made from the stored
   parameters (free with eprj_ProjectionFree), or null when the layer has none (0 returned). -1
   with a report when the parameters cannot be read or made into a projection. */
int32_t eimg_LayerMapProjectionRead(Eimg_Layer *layer, Eprj_MapProjection **projection,
                                    Eerr_ErrorReport **err);
/* Stores the projection's parameters. 0, or -1 with a report (a null projection included). */
int32_t eimg_LayerMapProjectionWrite(Eimg_Layer *layer, const Eprj_MapProjection *projection,
                                     Eerr_ErrorReport **err);
/* The older map-information triple: the stored map information (null when none), the stored
   projection parameters (null when none), and the transform from map coordinates to the layer's
   pixel coordinates: the stored transform when one was written, else the one the map
   information gives (exfr_XFormCreateFromMapInfo, direction 1), for a layer without map
   information the default's (column = x, row = -y). Each out-parameter may be null (that part
   is not read); the caller frees what it receives (eprj_MapInfoFree, eprj_ProParametersFree,
   exfr_XFormFree). 0, or -1 with a report (all parts then null). */
int32_t eimg_LayerMapInformationRead(Eimg_Layer *layer, Eprj_MapInfo **info,
                                     Eprj_ProParameters **parameters, _exfr_XForm **xform,
                                     Eerr_ErrorReport **err);
/* Stores the parts given (null parts are left as they are). 0, or -1 with a report. */
int32_t eimg_LayerMapInformationWrite(Eimg_Layer *layer, const Eprj_MapInfo *info,
                                      const Eprj_ProParameters *parameters,
                                      const _exfr_XForm *xform, Eerr_ErrorReport **err);

/* The layer's read transform (keyword 41), owned by the layer; null when it has none. */
const _exfr_XForm *eimg_LayerTransformationQuery(const Eimg_Layer *layer);

/* Writes the record as the entry at the node of a name "file(:node)" (replacing an entry of
   that name; the parent path must exist), creating the image file when it does not exist. The
   arguments after err (24, the record's size, by convention) are accepted and not read. 0, or -1
   with a report. */
int32_t eimg_FileDataWrite(const char *name, const Emif_Design *design, const void *data,
                           Eerr_ErrorReport **err, ...);
/* Reads the record at the node of a name "file(:node)". With *design given the record is
   decoded into that design (items matched by name); with *design null it is decoded by the
   stored design, and *design receives that design (kept by the layer for the process: do not
   free it). The new record is stored in *data and returned (free with emif_ObjectFree). A
   missing file or entry, or a corrupt record, gives a report and null. */
void *eimg_FileDataRead(const char *name, const Emif_Design **design, void **data,
                        Eerr_ErrorReport **err);

/* ---- Layer stacks ----------------------------------------------------------------------- */

/* Opens every named layer (the options apply to each). Null with a report when one fails (the
   layers opened are closed). */
Eimg_LayerStack *eimg_LayerStackOpen(const Estr_StringList *names, Eint_InitToolkitData *init,
                                     Eerr_ErrorReport **err, ...);
/* Creates every named layer alike (options as eimg_LayerCreate). */
Eimg_LayerStack *eimg_LayerStackCreate(const Estr_StringList *names, int32_t layerType,
                                       int32_t pixelType, int32_t width, int32_t height,
                                       Eint_InitToolkitData *init, Eerr_ErrorReport **err, ...);
/* Applies the options to every layer. 0, or -1 with a report. */
int32_t eimg_LayerStackChangeOptions(Eimg_LayerStack *stack, Eerr_ErrorReport **err, ...);
/* Closes every layer (all are closed even when one fails; the first failure is reported) and
   frees the stack. Null accepted. */
void eimg_LayerStackClose(Eimg_LayerStack *stack, Eerr_ErrorReport **err);
/* Reads / writes the window of every layer: layer i to or from rectangle i of the pixel stack,
   which needs at least as many rectangles as the stack has layers. */
int32_t eimg_LayerStackRead(Eimg_LayerStack *stack, int32_t column, int32_t row, int32_t width,
                            int32_t height, Egda_BaseDataStack *rects, Eerr_ErrorReport **err);
int32_t eimg_LayerStackWrite(Eimg_LayerStack *stack, int32_t column, int32_t row, int32_t width,
                             int32_t height, const Egda_BaseDataStack *rects,
                             Eerr_ErrorReport **err);
/* eimg_LayerStackRead of the layers' own pixels (never through a read transform). */
int32_t eimg_LayerStackRasterPixelRectStackGet(Eimg_LayerStack *stack, int32_t column, int32_t row,
                                               int32_t width, int32_t height,
                                               Egda_BaseDataStack *rects, Eerr_ErrorReport **err);
/* The names "file(:Layer_1)" ... "file(:Layer_count)" (count >= 0). */
Estr_StringList *eimg_LayerNameStackCreate(const char *fileName, int32_t count,
                                           Eerr_ErrorReport **err);
/* Frees a list of layer names (from eimg_LayerGetNames or eimg_LayerNameStackCreate); null
   accepted. */
void eimg_LayerNameStackDelete(Estr_StringList *names, Eerr_ErrorReport **err);

/* ---- Windows and pixel rectangles -------------------------------------------------------- */

/* An image window: width x height pixels with its upper-left pixel at column x, row y. */
Egda_Window *eimg_WindowCreate(int32_t width, int32_t height, int32_t x, int32_t y,
                               Eerr_ErrorReport **err);
void eimg_WindowDelete(Egda_Window *window, Eerr_ErrorReport **err);
/* A zero-filled raster of height rows and width columns of the pixel type (0 to 12). */
Egda_BaseData *eimg_PixelRectCreate(int32_t width, int32_t height, int32_t pixelType,
                                    Eerr_ErrorReport **err);
/* Frees the rectangle; null accepted. */
void eimg_PixelRectDelete(Egda_BaseData *rect, Eerr_ErrorReport **err);
/* count zero-filled rasters as one stack that owns them: free with eimg_PixelRectStackDelete or
   egda_BaseDataStackDelete (the same). */
Egda_BaseDataStack *eimg_PixelRectStackCreate(int32_t count, int32_t width, int32_t height,
                                              int32_t pixelType, Eerr_ErrorReport **err);
void eimg_PixelRectStackDelete(Egda_BaseDataStack *stack, Eerr_ErrorReport **err);
/* A copy of the stack (its planes and contents) into destination, or a new stack when it is
   null (egda_BaseDataStackCopy). */
Egda_BaseDataStack *eimg_PixelRectStackCopy(const Egda_BaseDataStack *stack,
                                            Egda_BaseDataStack *destination,
                                            Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif
