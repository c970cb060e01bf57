/* Designs (named record layouts), dictionaries of designs, and the record codec that moves a
   record between its in-memory stored form and its external (file) form. */
#ifndef TAVIRON_EMIF_H
#define TAVIRON_EMIF_H

#include <stdint.h>
#include <stdio.h>

#include "eerr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* ---- Item type codes ---------------------------------------------------------------------
   A code is a base type, optionally with one of the three modifiers added. */
#define EMIF_TYPE_OBJECT 1    /* nested record of the named design, held inline */
#define EMIF_TYPE_RECORD 2    /* the same as 1 */
#define EMIF_TYPE_ENUM 3      /* 32-bit enumeration; its item names follow, ended by a null */
#define EMIF_TYPE_BYTE 4      /* unsigned 8-bit (as 7) */
#define EMIF_TYPE_U8 7
#define EMIF_TYPE_CHAR 8
#define EMIF_TYPE_U16 9
#define EMIF_TYPE_S16 10
#define EMIF_TYPE_U32 11
#define EMIF_TYPE_S32 12
#define EMIF_TYPE_F32 13
#define EMIF_TYPE_F64 14
#define EMIF_TYPE_BASEDATA 17 /* an Egda_BaseData held inline */
#define EMIF_FIXED_ARRAY 0x100   /* count elements inline; the count follows the item name */
#define EMIF_COUNTED_ARRAY 0x200 /* {int32 count, T *elements} */
#define EMIF_POINTER 0x400       /* T *, null when absent */
#define EMIF_TYPE_STRING (EMIF_COUNTED_ARRAY + EMIF_TYPE_CHAR) /* 520: Emif_String */

/* The counted 8-bit string of stored records (item type 520): count = bytes of the text
   including its terminating zero (0 for a null string). A stored text may hold several
   zero-separated parts; count then covers them all. */
typedef struct {
  int32_t count;
  char *string;
} Emif_String;

typedef struct Emif_Dictionary Emif_Dictionary;
typedef struct Emif_Design Emif_Design;

/* ---- Dictionaries ------------------------------------------------------------------------- */

/* A new empty dictionary. */
Emif_Dictionary *emif_DictionaryCreate(Eerr_ErrorReport **err);
/* Frees the dictionary and every design in it (their handles become invalid); null accepted. */
void emif_DictionaryDelete(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);

/* ---- Designs ----------------------------------------------------------------------------
   emif_DesignCreate (dictionary or null, name, err, item type, item name [, extra], ..., 0):
   the extra of an item is, by its base type: for 3 the enumeration item names ended by a null
   (an empty list accepts any value); for 1 and 2 the name of the nested design; then, for a
   fixed array (+0x100), the element count (int). Nested designs must exist first: in the
   dictionary, or among the free-standing designs when the dictionary is null; the new design
   keeps its own reference to their layout, so they may be deleted afterwards. A design that
   nests itself (directly or through others) is refused, so are duplicate item names and a
   design without items. In a dictionary a name is unique: creating a design whose name is
   taken returns the existing design when its layout is the same and fails otherwise. Without
   a dictionary the design is free-standing (emif_DesignDestroy or emif_DesignDelete(null, ...)
   frees it). */
Emif_Design *emif_DesignCreate(Emif_Dictionary *dictionary, const char *name,
                               Eerr_ErrorReport **err, ...);
/* The design of that name, or null without a report when there is none (a null dictionary
   searches the free-standing designs, the newest first). */
Emif_Design *emif_FindDesignByName(const Emif_Dictionary *dictionary, const char *name,
                                   Eerr_ErrorReport **err);
/* Copies the design into the dictionary, the designs it nests first (each under its own name,
   unless the dictionary holds it already), and returns the dictionary's design. A design of the
   same name with another layout in the dictionary is refused. */
Emif_Design *emif_AddDesignToDictionary(Emif_Dictionary *dictionary, const Emif_Design *design,
                                        Eerr_ErrorReport **err);
/* Removes and frees a design: designOrName is either a design handle (of the dictionary, or a
   free-standing one when the dictionary is null) or a design name. A missing design is
   reported. */
void emif_DesignDelete(Emif_Dictionary *dictionary, const void *designOrName,
                       Eerr_ErrorReport **err);
/* Frees a design (taking it out of its dictionary, if it has one); null accepted. */
void emif_DesignDestroy(Emif_Design *design);

/* The design's name; its size in the stored form (bytes, natural alignment of this build); the
   offset of an item in the stored form (-1 when the design has no item of that name); the
   number of items. */
const char *emif_DesignName(const Emif_Design *design);
int32_t emif_DesignSize(const Emif_Design *design);
int32_t emif_DesignItemOffset(const Emif_Design *design, const char *itemName);
int32_t emif_DesignItemCount(const Emif_Design *design);
/* Non-zero when the design's stored form is size bytes with its items at offsets[0 .. count-1]
   (count must equal the number of items): the check that a C struct matches its design. */
int32_t emif_DesignMatchesLayout(const Emif_Design *design, int32_t size, const int32_t *offsets,
                                 int32_t count);

/* ---- Records ---------------------------------------------------------------------------- */

/* A zero-filled record of the design's size. */
void *emif_NewObject(const Emif_Design *design, Eerr_ErrorReport **err);
/* Frees what a record owns by its design (strings, arrays, pointed-to objects and matrices, the
   buffers of inline matrices) and zeroes those fields; the record itself stays. */
void emif_ObjectFreeContents(const Emif_Design *design, void *record);
/* emif_ObjectFreeContents, then the record; null accepted. */
void emif_ObjectFree(const Emif_Design *design, void *record);

/* The external form of a record: a new heap buffer in *bytes of *size bytes. 0 on success, -1
   with a report on failure (a count below zero, a counted array without elements, an
   enumeration value outside its items, a bad matrix). */
int32_t emif_ObjectEncode(const Emif_Design *design, const void *record, uint8_t **bytes,
                          int32_t *size, Eerr_ErrorReport **err);
/* Decodes size bytes laid out by the design `stored` into a record of `design` (new when record
   is null) and returns the record. Items are matched by name: an item of the record's design
   that the stored design lacks (or holds with another type) keeps its value. A pointer item
   whose stored object is present is decoded into the object the field already points to, or into
   a new one; an absent one leaves the field as it was. The record owns what its fields hold (as
   emif_ObjectFreeContents frees it): what a successful decode replaced is freed. Every count is checked against the bytes
   left, every enumeration value, pixel type and presence flag is checked, and all bytes must be
   used: a corrupt record gives a report, frees what was decoded, puts the given record back as
   it was, and returns null. A null stored design means `design`. */
void *emif_ObjectDecode(const Emif_Design *stored, const Emif_Design *design,
                        const uint8_t *bytes, int32_t size, void *record,
                        Eerr_ErrorReport **err);
/* Reads one record of the design from the file's current position into record (new when null)
   and returns it; it moves exactly the record's external bytes. reserved: pass 0. */
void *emif_ConvertToHost(FILE *file, int32_t reserved, const Emif_Design *design, void *record,
                         Eerr_ErrorReport **err);
/* Writes the record's external form at the file's current position. 0 on success, -1 with a
   report on failure. reserved: pass 0. */
int32_t emif_ConvertToMIF(FILE *file, int32_t reserved, const Emif_Design *design,
                          const void *record, Eerr_ErrorReport **err);

/* ---- Counted strings -------------------------------------------------------------------- */

/* Replaces the counted string's text with a copy of text (null gives {0, null}); the old text is
   freed. Returns target, or null when memory runs out (target then unchanged). */
Emif_String *emif_EmifStringFromString(Emif_String *target, const char *text);
/* Replaces target with a copy of source (its count bytes); returns target, null on failure. */
Emif_String *emif_EmifStringFromEmifString(Emif_String *target, const Emif_String *source);
/* The text as a new heap string (up to its first zero), or null for a null string. */
char *emif_EmifStringToString(const Emif_String *source);

/* The item type (base code) that stores one element of each pixel type, indexed by the pixel
   type 0 to 13 (Egda_PixelType); 0 where no item type stores it (complex, string). */
const int32_t *emsc_AddressOf_emif_Type(void);

TAVIRON_END_DECLS

#endif
