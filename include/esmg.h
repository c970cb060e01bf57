/* Session services: what an application and the session manager say to each other, and how. */
#ifndef TAVIRON_ESMG_H
#define TAVIRON_ESMG_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include "eerr.h"
#include "estr.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Protocol records and packets */

/* Type codes run from 0 to 62. */
#define ESMG_PROTOCOL_TYPE_COUNT 63
/* Key of esmg_GetProtocolFromQ that takes the oldest record of any type. */
#define ESMG_PROTOCOL_ANY 30
/* What a packet that cannot be read gives. */
#define ESMG_PROTOCOL_UNREADABLE 32
/* A configuration-database request (sub-request in word 2). */
#define ESMG_PROTOCOL_ECFG 45

/* Results of esmg_EcfgProtocolProcess. */
#define ESMG_ECFG_ANSWERED 9
#define ESMG_ECFG_NOT_HANDLED 10

/* One step of a sequence chain. */
typedef void (*Esmg_SequenceCallback)(int32_t exitCode, void *userData);
typedef struct Esmg_Sequence Esmg_Sequence;
struct Esmg_Sequence {
  Esmg_Sequence *next;            /* null at the end */
  char *label;                    /* owned */
  int32_t argc;                   /* at least 1 */
  char **argv;                    /* owned: argc owned strings and a null entry; argv[0] is the program */
  Esmg_SequenceCallback callback; /* completion callback, or null */
  void *userData;
};

/* A value list (type 2): items in list order; an item of kind 2 holds a string, any other
   kind a double. */
typedef struct Esmg_ValueItem Esmg_ValueItem;
struct Esmg_ValueItem {
  Esmg_ValueItem *next;
  int32_t kind;
  union {
    char *string; /* kind 2: owned */
    double number;
  } value;
};
typedef struct Esmg_ValueList {
  int32_t first;
  int32_t count; /* number of items */
  Esmg_ValueItem *items;
} Esmg_ValueList;

/* The owned 8-byte value cell of a configuration change: a string (kind not 0) or a double
   (kind 0). */
typedef union Esmg_ValueCell {
  char *string; /* owned */
  double number;
} Esmg_ValueCell;

/* One argument word of a record. Which member a word uses is fixed by the record's type. */
typedef union Esmg_ProtocolWord {
  int32_t i;
  void *p;           /* a callback or user data: crosses processes as a token */
  char *s;           /* owned string, may be null */
  char **sa;         /* owned array of owned strings (count in the word before) */
  Estr_StringList *sl;
  Eerr_ErrorReport *report;
  Esmg_ValueList *values;
  Esmg_Sequence *sequence;
  unsigned char *bytes; /* type 14 data (count in the word before) */
  Esmg_ValueCell *cell;
  double d; /* the number of the preference block, in word 8 (word 9 is not used) */
} Esmg_ProtocolWord;

/* A protocol record: a type code and that type's argument words. Words are numbered as the
   exchange numbers them: the arguments are w[2] to w[13]; w[0] and w[1] are not used (the type
   and reserved words have their own fields). Every word a type does not set is 0. */
typedef struct Esmg_Protocol {
  int32_t type;     /* 0 to 62 */
  int32_t reserved; /* 0 */
  Esmg_ProtocolWord w[14];
} Esmg_Protocol;

typedef struct Esmg_PacketOps Esmg_PacketOps;

/* A packet: little-endian bytes, the total length in bytes 0 to 3, the type code in bytes 4 to 7,
   then the type's fields. */
typedef struct Esmg_Packet {
  int32_t capacity; /* size of the buffer */
  int32_t position; /* write position while built, read position while read */
  int32_t expected; /* total length of a packet being read; 0 while one is built */
  unsigned char *buffer;
  const Esmg_PacketOps *ops;
  int32_t failed; /* set when a put could not grow the buffer */
} Esmg_Packet;

/* The field operations, in this order. A put appends at the position and advances it; a get
   reads at the position, never past the packet's total length, advances it and returns 1, or
   returns 0 (nothing stored) when the bytes there do not hold the field. */
struct Esmg_PacketOps {
  void (*putInt)(Esmg_Packet *packet, int32_t value);
  int32_t (*getInt)(Esmg_Packet *packet, int32_t *value);
  void (*putString)(Esmg_Packet *packet, const char *text);
  int32_t (*getString)(Esmg_Packet *packet, char **text);
  void (*putDouble)(Esmg_Packet *packet, double value);
  int32_t (*getDouble)(Esmg_Packet *packet, double *value);
  void (*putSequence)(Esmg_Packet *packet, const Esmg_Sequence *chain);
  int32_t (*getSequence)(Esmg_Packet *packet, Esmg_Sequence **chain);
  void (*putStringList)(Esmg_Packet *packet, const Estr_StringList *list);
  int32_t (*getStringList)(Esmg_Packet *packet, Estr_StringList **list);
  void (*putStringArray)(Esmg_Packet *packet, int32_t count, char *const *strings);
  int32_t (*getStringArray)(Esmg_Packet *packet, int32_t *count, char ***strings);
  void (*putValueList)(Esmg_Packet *packet, const Esmg_ValueList *list);
  int32_t (*getValueList)(Esmg_Packet *packet, Esmg_ValueList **list);
  void (*putReport)(Esmg_Packet *packet, const Eerr_ErrorReport *chain);
  int32_t (*getReport)(Esmg_Packet *packet, Eerr_ErrorReport **chain);
  void (*putOptional)(Esmg_Packet *packet, int32_t kind, const Esmg_ValueCell *cell);
  int32_t (*getOptional)(Esmg_Packet *packet, int32_t *kind, Esmg_ValueCell **cell);
};

/* Records. esmg_AssembleProtocol takes the type's arguments after the type code (32-bit values
   as int, the number of type 17 as double, everything else as pointers); strings, arrays,
   lists, reports and data are copied. Null when memory runs out. */
Esmg_Protocol *esmg_AssembleProtocol(int32_t type, ...);
Esmg_Protocol *esmg_AssembleProtocolV(int32_t type, va_list ap);
/* A deep copy; null for null or when memory runs out. */
Esmg_Protocol *esmg_CopyProtocol(const Esmg_Protocol *record);
/* Frees the owned words of the record's type and the record; null is accepted. */
void esmg_FreeProtocol(Esmg_Protocol *record);

/* The process-wide queue of received records. The put returns 0 (the record stays the caller's)
   when no room can be had. The get removes and returns the oldest record of the type
   (ESMG_PROTOCOL_ANY: of any type), or null. */
int32_t esmg_PutProtocolInQ(Esmg_Protocol *record);
Esmg_Protocol *esmg_GetProtocolFromQ(int32_t type);
int32_t esmg_IsProtocolQueue(void);

/* Callbacks and user data cross processes as 32-bit tokens. A pointer gets one token for the
   life of the process (null is 0); a token maps back to the pointer in the process that made
   it, and to null in any other process (and for 0). A record read from a packet holds, for a
   token this process did not make, an opaque stand-in that is never a valid address and that
   turns back into the same token when the record is sent on. Words sent as tokens: words 10
   and 11 of types 16 to 20, words 7 and 8 of types 37 to 42, words 2 and 3 of types 53 and 54,
   and the completion callback and user data of every step of a sequence chain (type 8). */
int32_t esmg_TokenFromPointer(const void *pointer);
void *esmg_PointerFromToken(int32_t token);

/* Packets. */
Esmg_Packet *esmg_NewPacket(void);
void esmg_FreePacket(Esmg_Packet *packet);
Esmg_Packet *esmg_PacketEmpty(Esmg_Packet *packet);
/* 1 when a packet being read has all its bytes; the position is then set to 4. */
int32_t esmg_PacketIsComplete(Esmg_Packet *packet);
/* A new packet of the record (a type outside 0..62 gives the type code alone); null when memory
   runs out or the record is null. */
Esmg_Packet *esmg_BuildProtocolPacket(int32_t ignored, const Esmg_Protocol *record);
/* The record at the packet's position; a packet whose fields cannot be read gives a record of
   type 32 (null only when memory runs out). Position and expected length end at 0. */
Esmg_Protocol *esmg_ReadProtocolFromPacket(Esmg_Packet *packet);
/* Loads byteCount bytes holding a packet (from a transport) into the packet: 1 when the bytes
   hold a total length from 8 to byteCount; 0 (packet emptied) otherwise. Bytes past the total
   length are ignored. */
int32_t esmg_ReadPacketDataFromPipe(const void *bytes, size_t byteCount, Esmg_Packet *packet);
/* The record in the bytes, read through a process-wide packet; type 32 when they do not hold
   a readable packet. */
Esmg_Protocol *esmg_ReadProtocolFromPipe(const void *bytes, size_t byteCount);
/* Builds the packet and sends it without waiting; in the session manager the packet is returned
   unsent, elsewhere null. Part of the transport. */
Esmg_Packet *esmg_WriteProtocolToPipe(int32_t ignored, const Esmg_Protocol *record);

/* Configuration-database requests (type 45). Sub-requests and their arguments after the
   sub-request code:
   0 query: class, category, instance, key (strings), flags, result list, report
   1 class lookup: class, report
   2 database directories, 3 databases: class, result list, entry count, report
   4 set database level: class, directory, database, report
   5 install change: class, operation, immediate, name, key, value kind, value, report; the value
     is in the form ecfg_InstallChangeImmediate takes it: kind 0 a double * (or null), any other
     kind an Estr_StringList * whose first string is carried (or null). */
void esmg_EcfgProtocolAssemble(Esmg_Protocol *record, va_list ap);
/* Deep copy of the request words of source into destination (whose words are overwritten);
   0 when memory runs out (destination then owns what was copied so far). */
int32_t esmg_EcfgProtocolDuplicate(Esmg_Protocol *destination, const Esmg_Protocol *source);
void esmg_EcfgFreeProtocol(Esmg_Protocol *record);
void esmg_EcfgProtocolWriteToPacket(Esmg_Packet *packet, const Esmg_Protocol *record);
/* 0 when the fields cannot be read (the words read so far are kept by the record). */
int32_t esmg_EcfgProtocolReadFromPacket(Esmg_Packet *packet, Esmg_Protocol *record);
/* Answers a request in place from the local configuration databases: ESMG_ECFG_ANSWERED, or
   ESMG_ECFG_NOT_HANDLED for another type or an unknown sub-request. *errorFlag is set to 0. */
int32_t esmg_EcfgProtocolProcess(Esmg_Protocol *record, int32_t *errorFlag);

/* Sequence chains. esmg_SequenceCreate appends a step (label and arguments copied) and returns
   the chain's first step; a step without arguments is refused with a report and the chain is
   returned unchanged. */
Esmg_Sequence *esmg_SequenceCreate(Esmg_Sequence *chain, const char *label, int32_t argc,
                                   char *const *argv, Eerr_ErrorReport **err);
void esmg_SequenceFree(Esmg_Sequence *chain);
void esmg_FreeSequence(Esmg_Sequence *chain);

#ifdef __cplusplus
}
#endif

#endif
