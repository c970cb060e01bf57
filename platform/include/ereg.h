/* The registry of the machine's local hive, as the session services use it, on Linux: a file
   store under a root folder (TAVIRON_REGISTRY_ROOT, else $XDG_CONFIG_HOME/taviron/registry, else
   $HOME/.config/taviron/registry).

   A key path names keys separated by "\" (empty components are skipped); each key is a folder,
   each value a file of its key's folder holding its type and its bytes. Names are compared
   without regard to ASCII case. A value is replaced whole: written beside and renamed into
   place, so a reader sees the old value or the new one, never a part. See platform/README.md. */
#ifndef TAVIRON_EREG_H
#define TAVIRON_EREG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Value types. */
#define EREG_NONE 0
#define EREG_SZ 1        /* text and its NUL */
#define EREG_EXPAND_SZ 2 /* text with variable references, and its NUL */
#define EREG_BINARY 3
#define EREG_DWORD 4     /* 32-bit little-endian */
#define EREG_MULTI_SZ 7  /* strings, each with its NUL, ended by an empty string */

/* Results. */
#define EREG_OK 0
#define EREG_NOT_FOUND 2    /* no such key or value */
#define EREG_ACCESS 5       /* the key cannot be opened so, or the value cannot be written */
#define EREG_BAD_VALUE 13   /* an argument is wrong (null name, negative size, over-long value) */
#define EREG_MORE_DATA 234  /* the buffer is too small: *size holds the size needed */
#define EREG_CORRUPT 1009   /* the stored value is not one (truncated, foreign or too large) */

/* The largest value stored. */
#define EREG_MAX_VALUE_SIZE (16 * 1024 * 1024)

typedef struct Ereg_Key Ereg_Key;

/* The root folder of the store (created with its parents when a key is created); null when
   neither variable gives one. Read on every call. */
const char *ereg_Root(void);

/* Opens an existing key for reading, or (write non-zero) for reading and writing: EREG_OK with
   *key set, EREG_NOT_FOUND when the key does not exist, EREG_ACCESS when it may not be written.
   An empty path is the root key. */
int32_t ereg_OpenKey(const char *path, int32_t write, Ereg_Key **key);
/* Opens a key for reading and writing, creating it and the keys above it when missing. */
int32_t ereg_CreateKey(const char *path, Ereg_Key **key);
/* Closes a key; null is accepted. */
void ereg_CloseKey(Ereg_Key *key);

/* Reads a value (a null or empty name is the key's default value). type and data may be null;
   *size gives the room of data on entry and receives the value's size. EREG_OK,
   EREG_NOT_FOUND, EREG_MORE_DATA (data untouched) or EREG_CORRUPT. */
int32_t ereg_QueryValue(Ereg_Key *key, const char *name, int32_t *type, void *data,
                        uint32_t *size);
/* Writes a value of the type and size bytes (at most EREG_MAX_VALUE_SIZE), replacing the one
   there. EREG_OK, EREG_ACCESS (a key opened for reading, or the write failed) or
   EREG_BAD_VALUE. */
int32_t ereg_SetValue(Ereg_Key *key, const char *name, int32_t type, const void *data,
                      uint32_t size);
/* Removes a value: EREG_OK, EREG_NOT_FOUND or EREG_ACCESS. */
int32_t ereg_DeleteValue(Ereg_Key *key, const char *name);

#ifdef __cplusplus
}
#endif

#endif
