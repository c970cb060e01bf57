/* File names and node names: layer names "file(:node:node)" / "file:node", node paths ":a:b",
   and plain file names. */
#ifndef TAVIRON_EFNP_H
#define TAVIRON_EFNP_H

#include <stdint.h>

#include "eerr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* Node paths. A node path is ":" (the root) or ":" followed by node names separated by ":",
   e.g. ":Layer_1" or ":a:b"; node names are not empty and hold no ":", "(" or ")".

   Layer names. A layer name is a file name followed by an optional node part:
   - "file(:a:b)": the text after the last "(:" up to a closing ")" that ends the name; several
     node paths may be listed there separated by "," ("file(:a,:b)");
   - "file:a:b": the node path starts at the first ":" of the name that is not a drive letter's
     (a ":" at the second place after a letter, followed by "/", "\" or the end, as in
     "C:/data/x.img:Layer_1");
   - "file": no node part.
   An empty file part, a "(:" without its closing ")" at the end, or an invalid node path is
   rejected with a report. */

/* A parsed layer name. files[0] is the file part; a name holds one file. */
typedef struct {
  char **files;      /* fileCount heap strings */
  char **nodes;      /* nodeCount heap node paths (each starting with ":"), or null */
  int32_t fileCount;
  int32_t nodeCount;
} Efnp_NodeList;

/* A node path split at its last ":". */
typedef struct {
  char *parentPath; /* the text before the last ":", or ":" when that is the first character */
  char *nodeName;   /* the text after it */
} Efnp_NodeName;

/* Part masks of layer names and node paths. */
#define EFNP_FILE_PART 31     /* the file name */
#define EFNP_NODE_PART 448    /* the node path (192 | 256) */
#define EFNP_PARENT_PATH 192  /* the node path without its last (or chosen) node */
#define EFNP_NODE_NAME 256    /* the last (or chosen) node name */

/* Parses a layer name; null with a report when it is invalid or memory runs out. */
Efnp_NodeList *efnp_FileNodeListParse(const char *name, Eerr_ErrorReport **err);
/* Frees a node list; null is accepted. */
void efnp_FreeNodeList(Efnp_NodeList *list, Eerr_ErrorReport **err);

/* Splits text at its last ":" (not a drive letter's): ":a:b" gives ":a" and "b", ":a" gives ":"
   and "a", and a layer name "f.img(:Layer_1)" gives "f.img(" and "Layer_1)". Null with a report
   when there is no such ":" or nothing follows it. */
Efnp_NodeName *efnp_NodeNameParse(const char *nodePath, Eerr_ErrorReport **err);
/* Frees a node name; null is accepted. */
void efnp_FreeNodeName(Efnp_NodeName *name, Eerr_ErrorReport **err);

/* parentPath joined with nodeName by one ":" (a null or empty parent is the root ":"): a new
   heap string, or null with a report for an empty node name. */
char *efnp_PathJoin(const char *parentPath, const char *nodeName, Eerr_ErrorReport **err);

/* A part of a layer name as a new heap string: any bit of EFNP_FILE_PART gives the file part;
   EFNP_NODE_PART the node path, EFNP_PARENT_PATH its parent path, EFNP_NODE_NAME its last node
   name ("" when the name has no node part; the first node path when it lists several). A mask
   with both file and node bits gives "file(node path)". Null with a report for an invalid name
   or a mask without these bits. reserved1, reserved2: pass 0. */
char *efnp_FileNodeListGet(const char *name, int32_t parts, int32_t reserved1, int32_t reserved2,
                           Eerr_ErrorReport **err);
/* The layer name "file(node path)" as a new heap string when parts has a bit of EFNP_NODE_PART
   and the node path is not empty (a node path without its leading ":" gets one), else a copy of
   file. Null with a report for an empty file. reserved: pass 0. */
char *efnp_FileNodeListSet(const char *file, const char *nodePath, int32_t parts, int32_t reserved,
                           Eerr_ErrorReport **err);

/* Positions of nodes in a node path count from 1 (the first node). In efnp_NodePathGet, 0 and -1
   are the last node, -2 the one before it, and so on. In efnp_NodePathSet, 1 .. length replace
   that node, -1, -2 ... replace counting from the end, and 0 or length + 1 append a node. */

/* A piece of a node path as a new heap string: EFNP_NODE_NAME the node at the position,
   EFNP_PARENT_PATH the path of the nodes before it (":" for the first). Null with a report for
   an invalid path, part or position. */
char *efnp_NodePathGet(const char *nodePath, int32_t part, int32_t position,
                       Eerr_ErrorReport **err);
/* The node path (null is the root) with nodeName set at the position, as a new heap string;
   part must be EFNP_NODE_NAME. Null with a report for an invalid path, name, part or position. */
char *efnp_NodePathSet(const char *nodePath, const char *nodeName, int32_t part, int32_t position,
                       Eerr_ErrorReport **err);
/* The number of nodes of a node path (0 for the root and for null), -1 when it is invalid. */
int32_t efnp_NodePathLength(const char *nodePath);
/* The root node path ":" (static text). */
const char *efnp_NodePathRoot(void);

/* The last component of a file path (trailing "/" and "\" ignored), extension kept, as a new
   heap string; null with a report when there is none. */
char *efnp_FileNameGet(const char *path, Eerr_ErrorReport **err);
/* directory joined with name by one "/" (an empty or null directory gives name): a new heap
   string, or null with a report for an empty name. */
char *efnp_FileNameAddName(const char *directory, const char *name, Eerr_ErrorReport **err);
/* Non-zero when two file names are equal; case counts (the platform's rule). Two nulls are
   equal, a null and a text are not. */
int32_t efnp_FileNameEquals(const char *a, const char *b);
/* The length of a file name in bytes; 0 for null. */
int32_t efnp_FileNameLength(const char *name);
/* The internal form of a stored file name: a copy with every "\" turned into "/". Null with a
   report for a null name. */
char *efnp_FileNameExternalToInternal(const char *name, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif
