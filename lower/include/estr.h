/* 8-bit strings, string lists, environment, formatting and UTF-16 text. */
#ifndef TAVIRON_ESTR_H
#define TAVIRON_ESTR_H

#include <stdarg.h>
#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#include "eerr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* A list of count heap strings (a slot may be null). */
typedef struct {
  int32_t count;
  char **strings;
} Estr_StringList;

/* A heap copy of the text, or null for null (or when out of memory). */
char *estr_Duplicate(const char *text);
/* Non-zero when a and b are equal ignoring case (two nulls are equal, null and text are not). */
int estr_Eqic(const char *a, const char *b);
/* Non-zero when the first n characters of text and prefix are equal ignoring case (a text that
   ends before n characters must end at the same place in both); n <= 0 is always equal. */
int estr_Eqnic(const char *text, const char *prefix, int32_t n);
/* Ordering of two texts by their bytes (unsigned): -1, 0 or 1. A null text sorts before any text;
   two nulls are equal. */
int estr_CompareString(const char *a, const char *b);
/* The first place in text where sub occurs (case-sensitive), or null when it does not occur or
   either is null. An empty sub is found at the start. */
char *estr_SubString(const char *text, const char *sub);
/* The same, ignoring case. */
char *estr_SubStringic(const char *text, const char *sub);
/* Non-zero when the character occurs in text (the terminator does not count). */
int estr_IsCharPresent(const char *text, int character);
/* Converts the text to lower / upper case in place (ASCII letters) and returns it; null gives null. */
char *estr_LowerCase(char *text);
char *estr_UpperCase(char *text);

/* Wildcard match of a whole name: "*" matches any run of characters (also none), "?" exactly one
   character; every other character matches itself, ignoring case (ASCII letters). Non-zero on a
   match; a null pattern or name never matches. Matching time is bounded by the product of the
   two lengths. */
int estr_WildCompare(const char *pattern, const char *name);
/* The same, case-sensitive. */
int estr_WildCompareSensitive(const char *pattern, const char *name);
/* Non-zero when the text holds a wildcard character ("*" or "?"). */
int estr_IsWild(const char *text);
/* A heap copy of the text without its surrounding double quotes: a text that begins with '"'
   yields what follows up to the next '"' (or to the end when none follows); any other text is
   copied whole. Null gives null. */
char *estr_GetQuotedString(const char *text);

/* Formatting. The format is printf's, checked before use: %n, wide characters and strings, and
   positional arguments are refused with a report, as is any unknown conversion. "%R" takes no
   argument and yields nothing (the relate-name marker of joined column names: "%R//%s" gives
   "//" and the name).
   With a buffer, the text goes into it and the buffer is returned; the buffer must hold
   ESTR_SPRINTF_BUFFER_SIZE bytes, and a longer text is refused with a report (the buffer then
   holds ""). Without a buffer a new heap string is returned. An argument may point into the
   buffer. A width, or the precision of a number, that could not fit is refused before anything
   is formatted (also one given by an argument, "*"): above ESTR_SPRINTF_BUFFER_SIZE - 1 with a
   buffer, above 1048576 without. Failure: null with a report. */
#define ESTR_SPRINTF_BUFFER_SIZE 256
char *estr_Sprintf(char *buffer, const char *format, Eerr_ErrorReport **err, ...);
/* A new heap string formatted like estr_Sprintf without a buffer; null for a refused format
   (widths and precisions included) or out of memory. */
char *estr_Vsprintf(const char *format, va_list ap);
/* A heap string holding a then b (null counts as ""). The target (a heap string or null) is
   reused: it is resized, or replaced and freed when a or b points into it. On failure null is
   returned and the target is left as it was. */
char *estr_StringCat(char *target, const char *a, const char *b);
/* Makes destination (a heap string or null) a copy of source and returns it (resized or new; the
   old block is freed when replaced). A null source frees destination and returns null. On failure
   null with a report, and destination is left as it was. */
char *estr_StringCopy(char *destination, const char *source, Eerr_ErrorReport **err);
/* The text of the run time's current error number (errno); valid until the next call in the same
   thread. */
const char *estr_ErrnoString(void);

/* Compiled number formats of attribute columns: the spreadsheet-style column format text, with
   up to four sections "positive;negative;zero;text". A number section holds digit placeholders
   "0" (digit or 0), "#" (digit or nothing), "?" (digit or space), a decimal point ".", a
   thousands separator "," between integer placeholders (commas right after the last digit
   placeholder divide by 1000 each), "%" (multiplies by 100), an exponent "E+0"/"E-0"/"e+0"/"e-0",
   and "General"; numbers are taken to 15 significant digits and rounded half away from zero at
   the last place shown. A date section uses y yy yyyy, m mm mmm mmmm mmmmm, d dd ddd dddd, h hh, m mm
   (minutes after h or before s), s ss, AM/PM, am/pm, A/P, a/p; the number is a day count from
   30 December 1899 with the time of day as the fraction. The text section may use "@". Literal
   text: "quoted", \c, _c (a space), *c (no fill: ignored), [$text] and [$text-locale], and the
   characters $ - + / ( ) : ! ^ & ' ~ { } < > = and space; a colour in brackets ([Red], [Color5]
   ...) is accepted and ignored. An empty text is "General". Anything else (conditions, elapsed
   times, fractions of seconds, stray letters) is refused with a report. */
typedef struct Estr_XLFormat Estr_XLFormat;
#define ESTR_XLFORMAT_GENERAL 0
#define ESTR_XLFORMAT_NUMBER 1
#define ESTR_XLFORMAT_DATE 2
#define ESTR_XLFORMAT_TEXT 3
/* Compiles the format; *kind (when kind is not null) receives the kind of its first section
   (ESTR_XLFORMAT_...). Null with a report when the text is malformed. */
Estr_XLFormat *estr_XLFormatCreate(const char *formatText, int32_t *kind, Eerr_ErrorReport **err);
/* Frees a compiled format; null is accepted. */
void estr_XLFormatFree(Estr_XLFormat *format);
/* Prints value by the format into buffer (size bytes, terminator included). flags must be 0.
   EMSC_TRUE on success; EMSC_FALSE with a report when an argument is wrong or the text does not
   fit (the buffer then holds "" when it has room for it). Non-finite values print as "NaN",
   "Infinity", "-Infinity"; dates out of the years 0..9999 are refused. */
int32_t estr_XLFormatPrintNumber(double value, const Estr_XLFormat *format, char *buffer,
                                 int32_t size, int32_t flags, Eerr_ErrorReport **err);

/* Path pieces, written into the caller's buffer of size bytes (always terminated, cut to fit);
   each returns the buffer, or null when the buffer is null or size < 1. Only "/" separates
   directories. */
/* Directory part without the final "/" ("/a/b" of "/a/b/c.img"; "/" of "/c.img"; "" of "c.img"). */
char *estr_GetPathPart(const char *name, char *buffer, int32_t size);
/* The name after the last "/". */
char *estr_GetNamePart(const char *path, char *buffer, int32_t size);
/* The text after the last "." of the name part; "" when there is none. */
char *estr_GetExtPart(const char *path, char *buffer, int32_t size);
/* The name without its node part: a final "(:node...)" or, in the name part, ":node..."
   ("/d/x.img" of both "/d/x.img(:Layer_1)" and "/d/x.img:Layer_1"). */
char *estr_GetNonNodePart(const char *name, char *buffer, int32_t size);
/* Non-zero when the name exists and is not a directory. */
int estr_IsFile(const char *name);
/* Converts path separators for this platform in place ("\" becomes "/") and returns the text. */
char *estr_ConvertPathNT(char *text);

/* Environment. */
/* A heap copy of the variable's value, or null when it is unset. */
char *estr_GetEnv(const char *name);
/* Sets the variable to value (null counts as ""). The environment takes its own copy, so the
   caller's buffer may live on or be freed. 0 on success, -1 for a missing or invalid name (empty
   or holding "=") or when the environment cannot grow. */
int32_t estr_PutEnv(const char *name, const char *value);
/* Non-zero when the variable is set (also when set to ""). */
int estr_CheckEnv(const char *name);
/* Expands "$NAME" and "${NAME}" references. With a null buffer and size 0 returns a new heap
   string; otherwise fills the buffer of size bytes and returns it. Null when the expansion fails
   or does not fit (the buffer then holds ""). */
char *estr_PathExpand(const char *text, char *buffer, int32_t size);
/* A new heap string with variable references replaced; failure reported. */
char *estr_StringExpand(const char *text, Eerr_ErrorReport **err);
/* The process command line: a heap vector of *count heap strings followed by a null entry (free
   each string and the vector with emsc_HeapFree). count may be null. Failure: null with a report
   and *count 0. */
char **estr_ArgsGet(int32_t *count, Eerr_ErrorReport **err);

/* A list of count empty (null) slots; count 0 gives an empty list. Negative counts are refused. */
Estr_StringList *estr_StringListCreate(int32_t count, Eerr_ErrorReport **err);
/* Frees the strings and the list; null is accepted. */
void estr_StringListDelete(Estr_StringList *list, Eerr_ErrorReport **err);
/* A deep copy of list, into destination when given (its old strings are freed) or a new list;
   null list gives null. */
Estr_StringList *estr_StringListCopy(const Estr_StringList *list, Estr_StringList *destination,
                                     Eerr_ErrorReport **err);
/* Appends a copy of text (null appends an empty slot) and returns the list; a null list starts
   a new one. On failure the list is returned unchanged with a report. */
Estr_StringList *estr_StringListAppend(Estr_StringList *list, const char *text,
                                       Eerr_ErrorReport **err);
/* The count; 0 for null. */
int32_t estr_StringListCount(const Estr_StringList *list);
/* A new list holding copies of count strings. */
Estr_StringList *estr_StringToStringList(int32_t count, const char *const *strings,
                                         Eerr_ErrorReport **err);

/* UTF-16 text (char16_t, null-terminated). 8-bit text is Latin-1. */
/* A new UTF-16 copy of the 8-bit text (each byte widened); null for null or out of memory. */
char16_t *estr_Ascii2Unicode(const char *text);
/* A new 8-bit copy of the UTF-16 text; a unit above 255 becomes '?'. Null for null or out of
   memory. */
char *estr_Unicode2Ascii(const char16_t *text);
/* A copy; null for null or out of memory. */
char16_t *estr_UnicodeStrDup(const char16_t *text);
/* Length in 16-bit units; 0 for null. */
int32_t estr_UnicodeStrLen(const char16_t *text);
/* A new string holding a then b (null counts as empty); null when out of memory. */
char16_t *estr_UnicodeStrCat(const char16_t *a, const char16_t *b);
/* A new copy of the text in visual (drawing) order: within each line (lines end at CR or LF), a
   run of right-to-left characters, with the neutrals and numbers between them, is reversed;
   numbers inside it keep their digit order, combining marks stay with their base, surrogate pairs
   stay whole, and brackets inside it are mirrored. Lines are laid left to right. The 8-bit form
   holds no right-to-left characters (Latin-1) and returns a copy. Null for null; out of memory is
   reported. */
char *estr_TranslateTextToVisual(const char *text, Eerr_ErrorReport **err);
char16_t *estr_TranslateTextToVisualUC(const char16_t *text, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif
