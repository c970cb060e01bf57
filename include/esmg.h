/* Session services: what an application and the session manager say to each other, and how. */
#ifndef TAVIRON_ESMG_H
#define TAVIRON_ESMG_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include "eerr.h"
#include "emet.h"
#include "epmg.h"
#include "estr.h"
#include "ewin.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

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
/* Hands the chain to the session manager to run (protocol 8, no wait); without a session:
   reported. */
void esmg_SequenceStart(const Esmg_Sequence *chain, Eerr_ErrorReport **err);
/* Runs the chain and waits for its end: through the session manager (protocol 8, then the
   result, protocol 43) when a session is started; otherwise here, step after step, each to its
   end, calling a step's completion callback with its exit code (-1 when the step could not be
   started). Refused in the session manager. */
void esmg_SequenceRun(const Esmg_Sequence *chain, Eerr_ErrorReport **err);


/* Preferences and configuration databases */

/* The preference service of the connection: esmg_SessionOpen installs these as the lower layer's
   preference and configuration methods (a batch run: the preference get alone). In a connected
   application they ask the session manager; in the session manager and a batch run they answer
   from the local databases. */
/* Fills the record's value and type. */
void esmg_GetPreference(Epmg_Preference *record, Eerr_ErrorReport **err);
/* esmg_GetPreference on *record; on failure *record is set to null (the get method of the lower
   layer's configuration layer). */
void esmg_PreferenceGet(Epmg_Preference **record, Eerr_ErrorReport **err);
/* In the session manager: into the class's database, then the callbacks registered for it run.
   Elsewhere: to the session manager (protocol 17). */
void esmg_PutPreference(Epmg_Preference *record, Eerr_ErrorReport **err);
/* Spreads a change: protocol 17 (in the session manager to all applications, then the given
   callbacks run). */
void esmg_BroadCastPreferenceChange(Epmg_Preference *record, Epmg_CallbackNode *callbacks);
/* Runs each callback of the list: here when it lives in this process, else through the broadcast
   function to its process (protocol 20). */
void esmg_InvokePreferenceCallbacks(Epmg_Preference *record, Epmg_CallbackNode *callbacks);
void esmg_AddPreferenceCallback(Epmg_PreferenceCallbackRecord *record, Eerr_ErrorReport **err);
void esmg_RemovePreferenceCallback(Epmg_PreferenceCallbackRecord *record,
                                   Eerr_ErrorReport **err);
/* In the session manager the user / global level is written (a failure is reported); in every
   process the session manager is then told (protocol 21 / 22). */
void esmg_SaveUserPreference(Eerr_ErrorReport **err);
void esmg_SaveGlobalPreference(Eerr_ErrorReport **err);
/* Asks the session manager to open the preference editor (protocol 52). */
void esmg_OpenPreferenceEditor(void);
/* A non-zero word lets a job register preference callbacks; returns the word. */
int32_t esmg_OverrideJobPreferenceCheck(int32_t word);

/* The local tape list of the device class "tapes". */
typedef struct Esmg_TapeNode Esmg_TapeNode;
struct Esmg_TapeNode {
  Esmg_TapeNode *next;
  char *device;
  char *name;
};
Esmg_TapeNode *esmg_SetLocalTapesDB(Esmg_TapeNode *list);
Esmg_TapeNode *esmg_GetLocalTapesDB(void);

/* The device classes "printers", "cdroms" and "tapes" (any case): 1 when the class answered the
   record's key (value and type filled, or a report), 0 otherwise (another class, or a tape not in
   the list or with an unknown key). The category names the device. Printer keys (any case):
   "model" and "device" (string), "mirror" (boolean), "numcopies", "mediawidth", "mediaheight"
   (millimetres), "densitywidth", "densityheight" (dots per inch), "totalpixelwidth",
   "totalpixelheight", "intenselevel" (numbers), "unittype", "dotsunittype" and "color"
   ("color" or "monochrome") (enumerations). CD-ROM keys: "model", "host", "directory" (any case)
   and "device"; tape keys: "model", "device" and "host". */
int32_t esmg_GetPreferenceNT(Epmg_Preference *record, Eerr_ErrorReport **err);
/* The device mode of a printer of the printer table, or of a device-mode block another process
   published under the name (ewin_PublishFileMapping: two 16-bit little-endian sizes, then the
   device mode and the names block): 1 with heap copies of both blocks and their sizes; 0 with
   all outputs null and 0 for "file", "eps", a null name, or a name that gives none. The names
   block: four 16-bit offsets (driver, device, port, default flag 0) and the three names. */
int32_t esmg_GetDevMode(const char *device, void **devMode, int32_t *devModeSize, void **names,
                        int32_t *namesSize);
/* The device categories of a configuration class, or null. */
Estr_StringList *esmg_GetDeviceList(const char *className, Eerr_ErrorReport **err);
/* Writes a category of a configuration class (never of "printers"). */
void esmg_WriteCategory(const char *className, const char *category, const char *directory,
                        const char *suffix, Eerr_ErrorReport **err);

/* The configuration-database methods of a connected application: each asks the session manager
   (protocol 45) and waits. */
Estr_StringList *esmg_EcfgQueryCreateAndExecute(const char *className, const char *category,
                                                const char *instance, const char *key,
                                                int32_t flags, Eerr_ErrorReport **err);
char *esmg_EcfgGetClass(const char *className);
Estr_StringList *esmg_EcfgGetDatabaseDirectories(const char *className, int32_t *current,
                                                 Eerr_ErrorReport **err);
Estr_StringList *esmg_EcfgGetDatabases(const char *className, int32_t *current,
                                       Eerr_ErrorReport **err);
void esmg_EcfgSetDatabaseLevel(const char *className, const char *directory, const char *database,
                               Eerr_ErrorReport **err);
void esmg_EcfgInstallChangeImmediate(const char *className, int32_t operation, int32_t immediate,
                                     const char *name, const char *key, int32_t valueKind,
                                     void *value, Eerr_ErrorReport **err);

/* Jobs and progress meters */

/* Starts a job: a batch run (TAVIRON_BATCH_RUN set to "1") when no session manager answers,
   else connected as a job, announcing its name. */
void esmg_JobInit(const char *name, Eerr_ErrorReport **err);
/* The job's state text (protocol 11) and progress in percent (protocol 12), when connected. */
void esmg_JobState(const char *text, Eerr_ErrorReport **err);
void esmg_JobProgress(int32_t percent, Eerr_ErrorReport **err);
/* The job's farewell (protocol 13); the session ends. */
void esmg_JobEnd(Eerr_ErrorReport **err);
/* 0, always. */
int32_t esmg_IsJob(void);
/* The progress slot of the default meter table: a meter's value rounded to a whole number, sent
   when it changed (protocol 12); a user interrupt ends the process with exit code 1. */
void esmg_defaultmeterinfofunc(Emet_MeterInfo *meter, void *data, double percent,
                               Eerr_ErrorReport **err);
/* The meter table that drives the progress-reporting library's meter, and its data (one per
   process). */
typedef struct Esmg_ProgressMeterData Esmg_ProgressMeterData;
const Emet_MeterFuncs *ProgressReportingMeterFuncs(void);
Esmg_ProgressMeterData *ProgressReportingMeterData(void);

/* Process control, commands and DLL invocation */

/* Process kinds of esmg_ProcessStart. */
#define ESMG_PROCESS_APPLICATION 1
#define ESMG_PROCESS_NAMED 2

/* The session manager's handler of process requests (records of types 37 to 42 on the stack).
   While one is set, process requests go to it instead of being sent. */
typedef int32_t (*Esmg_ProcessControlFunc)(Esmg_Protocol *request, Eerr_ErrorReport **err);
Esmg_ProcessControlFunc esmg_SetProcessControlFunc(Esmg_ProcessControlFunc function);
/* A callback the session manager runs when a process ends. */
typedef void (*Esmg_ProcessTermCallback)(int32_t processId, void *userData);

/* Starts argv[0] (kind 1 or 2) through the session manager: the process id, or 0 with a report. */
int32_t esmg_ProcessStart(int32_t kind, int32_t argc, char *const *argv, Eerr_ErrorReport **err);
void esmg_ProcessStop(int32_t processId, Eerr_ErrorReport **err);
int32_t esmg_IsProcessRunning(int32_t processId, Eerr_ErrorReport **err);
int32_t esmg_IsProcessReady(int32_t processId, Eerr_ErrorReport **err);
void esmg_ProcessAddTermCallback(int32_t processId, Esmg_ProcessTermCallback callback,
                                 void *userData, Eerr_ErrorReport **err);
void esmg_ProcessRemoveTermCallback(int32_t processId, Eerr_ErrorReport **err);
/* 1 when another process of that name is running (not this one). */
int32_t esmg_IsPreviousProcessReadyBySameName(const char *name, Eerr_ErrorReport **err);
void esmg_ProcessChangeName(const char *name, Eerr_ErrorReport **err);
/* The handle of the named application, 0 when there is none. */
int32_t esmg_GetAppHandle(const char *name, Eerr_ErrorReport **err);
/* Sends words[0] (the application's name) and the other words as a command (protocol 4). */
void esmg_SendCommand(int32_t count, char *const *words, Eerr_ErrorReport **err);

/* A function of a DLL that the session manager calls: (data, times called before). */
typedef void (*Esmg_DLLFunction)(const char *data, int32_t count);
typedef struct Esmg_DLLInvocation {
  char *className;
  char *data;
  char *instanceName;
  char *functionName;
  int32_t count; /* calls so far */
} Esmg_DLLInvocation;
Esmg_DLLInvocation *esmg_DLLInvocationCreate(const char *className, const char *data,
                                             const char *instanceName, const char *functionName);
/* Calls the function of the open DLL instance in the session manager (asked through protocol 44
   from another process). A function called before runs again only when repeat is non-zero. */
void esmg_DLLFunctionInvoke(const char *className, const char *data, const char *instanceName,
                            const char *functionName, int32_t repeat, Eerr_ErrorReport **err);
/* The session manager's side: 0 when the function ran or had run before, -1 with a report. */
int32_t esmg_DoDLLFunctionInvoke(const char *className, const char *data,
                                 const char *instanceName, const char *functionName,
                                 int32_t repeat, Eerr_ErrorReport **err);

/* Log messages */

/* The application's log function: (level, finished text, error slot). A report it leaves in the
   slot is deleted. */
typedef int32_t (*Esmg_LogFunction)(int32_t level, const char *text, Eerr_ErrorReport **err);

/* Formats one line (printf style) and routes it: to the installed log function, else to the
   session manager (protocol 6) when a session is started, else (levels 0 are dropped while the
   terse flag is set) to the batch log file in a batch run, else to a message box captioned with
   the application title. Level 1 is always shown, 0 is verbose. Nothing happens (result 0) when
   the slot already holds a report or the format is null or refused; otherwise the result is 1. */
int32_t esmg_LogMessage(int32_t level, Eerr_ErrorReport **err, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
/* The same with an argument list; also the plug-in layer's log function. */
int32_t esmg_LogMessageFunc(int32_t level, Eerr_ErrorReport **err, const char *format,
                            va_list ap);
/* Installs the log function (null removes it); returns it. */
Esmg_LogFunction esmg_SetLogFunction(Esmg_LogFunction function);
Esmg_LogFunction esmg_GetLogFunction(void);

/* The lower layer's alternate error function: nothing when the user interrupted; the chain to
   the session manager (protocol 5) when a session is started; else esmg_LogErrorContents. */
void esmg_LogError(void *context, Eerr_ErrorReport *chain, void *ignored, Eerr_ErrorReport **err);
/* Logs the chain, report by report: severity 0 its message (level 1), -1 its message (level 0),
   others "N: #code from reporter" and then "N: message" or, without a message,
   "N:  <next reporter> failed" (N: WARNING, ERROR or UNKNOWN). Texts are taken literally. */
void esmg_LogErrorContents(Eerr_ErrorReport *chain, void *ignored, Eerr_ErrorReport **err);

/* The batch log file: set once (later calls are ignored); the name or null. */
void esmg_LogFileSet(const char *name);
const char *esmg_LogFileGet(void);
/* Appends text to the batch log file. Text is gathered until a piece ends with a line feed or
   the gathered text would reach 1024 characters, then written with what was gathered. */
void esmg_LogFileWrite(const char *text);
/* The session manager's log-file name (protocol 56) as a new heap string, or null. */
char *esmg_GetLogFileFromSessionManager(void);

/* The caption of message boxes: "NORIX TAVIRON" until a title is set. The setter keeps a copy
   and returns it. */
const char *esmg_ApplicationTitleSet(const char *title);
const char *esmg_ApplicationTitleGet(void);

/* The session log callback, kept by the session manager. */
typedef void (*Esmg_SessionLogCallback)(void *userData);
typedef struct Esmg_SessionLogCallbackRecord {
  Esmg_SessionLogCallback callback;
  void *userData;
  int32_t processId; /* the process in which the callback lives */
} Esmg_SessionLogCallbackRecord;
/* In the session manager: replaces the stored record (ownProcess 1: this process's id instead of
   processId). Elsewhere: protocol 53 with callback and user data. */
void esmg_AddSessionLogCallback(Esmg_SessionLogCallback callback, void *userData,
                                int32_t processId, int32_t ownProcess);
/* In the session manager: drops the stored record. Elsewhere: protocol 55. */
void esmg_ClearSessionLogCallback(void);
/* In the session manager: calls the record's callback (null: the stored record) here when it
   lives in this process, else hands protocol 54 to the broadcast function for that process. */
void esmg_InvokeSessionLogCallback(const Esmg_SessionLogCallbackRecord *record);

/* The file layer's log function of a job: "\nJob: <text>" to the debugger output (standard
   error while a debugger is attached). 0 when the slot holds a report or the format is null. */
int32_t esmg_DebugOutputLog(int32_t level, Eerr_ErrorReport **err, const char *format,
                            va_list ap);

/* 1 when TAVIRON_BATCH_RUN exists (whatever its value). */
int32_t esmg_IsBatchRun(void);

/* The user interrupt: the flag, set by a "NORIX_APP_CANCEL" message in this process's queue
   (looked for at most every 1500 ms) or by esmg_InterruptSet, until cleared. */
int32_t esmg_InterruptQuery(void);
void esmg_InterruptSet(void);
void esmg_InterruptClear(void);

/* Message boxes of this Linux build write "caption: text" on standard error and answer with the
   default button. Styles and answers: */
#define ESMG_MB_OK 0x0000
#define ESMG_MB_OKCANCEL 0x0001
#define ESMG_MB_ABORTRETRYIGNORE 0x0002
#define ESMG_MB_YESNOCANCEL 0x0003
#define ESMG_MB_YESNO 0x0004
#define ESMG_MB_RETRYCANCEL 0x0005
#define ESMG_MB_ICONERROR 0x0010
#define ESMG_MB_ICONQUESTION 0x0020
#define ESMG_MB_ICONWARNING 0x0030
#define ESMG_MB_ICONINFORMATION 0x0040
#define ESMG_MB_DEFBUTTON2 0x0100
#define ESMG_MB_DEFBUTTON3 0x0200
#define ESMG_MB_TASKMODAL 0x2000
#define ESMG_IDOK 1
#define ESMG_IDCANCEL 2
#define ESMG_IDABORT 3
#define ESMG_IDRETRY 4
#define ESMG_IDIGNORE 5
#define ESMG_IDYES 6
#define ESMG_IDNO 7
int32_t esmg_MessageBox(const char *text, const char *caption, uint32_t style);

/* Application start and end */

/* An application calls esmg_ApplicationInit first and ends through esmg_ProcessExit or
   esmg_ProcessCleanupCode. Instance handles are the application's own words, kept as given. */
/* The version check, then the main window (esmg_MainWindowCreate): 1 when the window was made;
   otherwise "Could not create main window.\nClick OK to exit." is shown and 0 returned. */
int32_t esmg_ApplicationInit(void *instance);
/* 1 when the system is usable or its version cannot be read ("Could not obtain version
   information.\nError no %d" is then shown), 0 when it is too old. */
int32_t esmg_OSVersionCheck(void);
/* Registers "EEML_TERM_SIGNAL", makes the hidden main window of the class "eemlMainWindowClass"
   (titled with the process id: a window here is a named endpoint, one per class and title) and
   sets up the product environment (estr_NorixEnvSet) when no session manager's window exists or
   TAVIRON_HOME or PERSONAL is unset. 1 when the window was made, else 0. */
int32_t esmg_MainWindowCreate(void *instance);
#define ESMG_MAIN_WINDOW_CLASS "eemlMainWindowClass"
/* Keeps the window unless it is 0; returns the window given. */
Ewin_Window esmg_SetAppMainWindowHandle(Ewin_Window window);
/* The main window, 0 while there is none. */
Ewin_Window esmg_GetAppMainWindowHandle(void);
void *esmg_MainInstanceSet(void *instance);
void *esmg_MainInstanceGet(void);
/* Asks the session manager to let the process go ("NORIX_REQ_QUIT", wParam the main window,
   unless this process is the session manager or a batch run), frees the annotation package data
   and the map-composition package's share of the toolkit record, and ends the toolkit record
   (eint_DeInit). Runs within the final clean-up of esmg_ProcessCleanupCode. */
void esmg_ApplicationEnd(void);

/* Process exit handlers: a list with the newest handler at its head. */
typedef void (*Esmg_ExitFunction)(int32_t exitCode, void *userData);
/* Kinds: 0 runs once, at the next clean-up; 1 at every clean-up; 2 at every clean-up, in a pass
   before all others. */
#define ESMG_EXIT_ONCE 0
#define ESMG_EXIT_EVERY 1
#define ESMG_EXIT_FIRST 2
typedef struct Esmg_ExitHandler Esmg_ExitHandler;
struct Esmg_ExitHandler {
  int32_t active; /* 1 while the handler is to run; 0 once retired */
  Esmg_ExitFunction function;
  int32_t kind;
  void *userData;
  Esmg_ExitHandler *next;
  Esmg_ExitHandler *previous;
};
/* Keeps the memory blocks (emsc heap; null entries allowed) that the final clean-up frees with
   their array; returns count. */
int32_t esmg_ProcessInit(int32_t count, void **blocks);
/* A new active handler at the head of the list; null for a null function. */
Esmg_ExitHandler *esmg_ProcessExitHandlerRegister(Esmg_ExitFunction function, int32_t kind,
                                                  void *userData);
/* A handler of the list is retired while the handlers run, otherwise unlinked and freed; one not
   in the list is left alone. The result has no meaning (0). */
int32_t esmg_ProcessExitHandlerRemove(Esmg_ExitHandler *handler);
/* Stops the walk of the handlers after the handler running now. */
void esmg_ProcessExitInterrupt(void);
/* Runs the handlers with the exit code (kind 2 first, then kinds 0 and 1, newest first; kind 0
   is retired before its call and freed after the walk), then, once per process, the final
   clean-up: esmg_ApplicationEnd, the blocks of esmg_ProcessInit, every DLL instance, the main
   window. 0 when called while the handlers run (nothing is done), else 1. */
int32_t esmg_ProcessCleanupCode(int32_t exitCode);
/* esmg_ProcessCleanupCode with the code, then the process ends with it. */
void esmg_ProcessExit(int32_t exitCode) __attribute__((noreturn));
/* esmg_ProcessCleanupCode(-111). */
void esmg_ProcessCleanup(void);

/* The command-line arguments: *argc and *argv (a heap vector of heap strings ended by a null
   entry; free each and the vector with emsc_HeapFree). Nothing happens unless both are given.
   Sources: null or any other text, the process's own command line; "@name", the argument file
   of a sequence step (the count on the first line, then an argument a line; only the lines
   there are read, at most the count; the file is deleted unless the preference
   "zav"/"save_job_cmd_line_file" is set), and a file that cannot be opened ends the process with
   exit code 1 after "The command line file \"%s\" could not be opened."; "0x<handle> <process>",
   the argument block that process published for the handle (NUL-terminated strings ended by an
   empty one; " " stands for an empty argument; see platform/README.md). Then every "-logfile"
   (any case) followed by a name is removed with the name, the first name becoming the batch log
   file when none is set. The result has no meaning (0). */
int32_t esmg_ComLineArgsGet(const char *source, int32_t *argc, char ***argv);
/* The name under which a process publishes (ewin_PublishFileMapping) the argument block it hands
   another process as "0x<handle> <process id>": "TavironArguments.<process id>.<handle in
   lower-case hexadecimal>". */
#define ESMG_ARGUMENT_BLOCK_NAME_FORMAT "TavironArguments.%d.%x"

/* Application environment and registry */

/* The path of the product's key in the registry's local hive: REGISTRY_BASE_PATH_OVERRIDE (read
   on the first call) when set, else "SOFTWARE\\NORIX\\<product>\\<version>". */
const char *esmg_RegistryPathGet(void);
/* Set a component only while it is empty; the getters give the default ("TAVIRON", "10") when
   none was set. */
void esmg_RegistryPathProductComponentSet(const char *text);
void esmg_RegistryPathVersionComponentSet(const char *text);
const char *esmg_RegistryPathProductComponentGet(void);
const char *esmg_RegistryPathVersionComponentGet(void);
/* "SOFTWARE\\NORIX\\KVT\\10". */
const char *esmg_RegistryPathGetVOD(void);
/* The default environment table: 58 entries "NAME=value" (ten marked with a leading "+"), then
   an empty entry. Paths use "/". */
const char *const *esmg_DefaultEnvironmentGet(void);
/* Adds the default entries the registry value "Environment" of the product key lacks (the value
   is written only when it gains entries); problems are shown in message boxes. */
void esmg_RegistrySetDefaultEnvironmentValuesIfNecessary(void);

/* Sets up the product environment, once per process: the basic variables, home and personal
   directories, the global data store, the files of the previous personal directory, the
   variables of the registry value "Environment" (else the default table) with their search lists
   expanded, PATH, and "$TAVIRON_HOME/taviron.env". */
void estr_NorixEnvSet(void);
/* TAVIRON_HOME and ARCHM (from the program's location when either is unset), TAVIRON_TOOLKIT_HOME,
   TAVIRON_HOME_PATH, ARCHM_PATH, ARCH and CPUCOUNT. */
void estr_SetupBasicEnv(void);
/* New strings of the home and personal directories; 1 when HOME was set, else 0. */
int32_t estr_ComputeHOMEAndPERSONAL(char **home, char **personal);
/* A new string of the global data store (VOD_GLOBAL_DATA, else the machine's application-data
   folder "/var/lib/NORIX/TAVIRON10/"), or null: 1 when VOD_GLOBAL_DATA was set, else 1 when the
   folder is writable and 0 when not. */
int32_t estr_ComputeGlobalAppStore(char **path);
/* Sets VOD_GLOBAL_DATA to the path unless it is null. */
void estr_SetGlobalStore(int32_t ignored, const char *path);

/* The environment-strings block ("NAME=value" strings, each with its NUL, ended by an empty
   string, in a block of the emsc heap): one word of this process (a pointer never crosses a
   process). The free hands the block kept to emsc_HeapFree and forgets it. */
void esmg_SetEnvironmentStrings(char *block);
char *esmg_GetEnvironmentStrings(void);
void esmg_FreeEnvironmentStrings(void);

/* Session-manager connection */

/* Destination kinds of a broadcast: 0 none in particular, 3 the application named by the
   destination word, 4 spread to all (notifications), 9 the application with the process id. */
#define ESMG_DEST_NONE 0
#define ESMG_DEST_NAMED 3
#define ESMG_DEST_SPREAD 4
#define ESMG_DEST_PROCESS 9

/* Connection kinds: 1 interactive application, 2 job. */
#define ESMG_CONNECT_APPLICATION 1
#define ESMG_CONNECT_JOB 2

/* The session manager's broadcast function: (record, destination kind, destination word); the
   record stays the caller's. */
typedef void (*Esmg_BroadcastProtocolFunc)(Esmg_Protocol *record, int32_t kind,
                                           intptr_t destination);
/* The application's handler of records the session manager sends. */
typedef int32_t (*Esmg_AppProtoFunc)(Esmg_Protocol *record, void *userData);
/* The test of a wait: 1 accepts the record. */
typedef int32_t (*Esmg_ProtocolTest)(Esmg_Protocol *record, void *userData);

/* The window class of the session manager's window (its title is the session manager's name). */
#define ESMG_SESSION_MANAGER_CLASS "eemlsessionmanager"
#define ESMG_SESSION_MANAGER_DEFAULT_NAME "sessionmanager10"

/* Name and lookup. */
const char *esmg_GetSessionManagerName(void);
void esmg_InitSessionManagerName(const char *name, Eerr_ErrorReport **err);
void esmg_ResolveSessionManagerName(void);
Ewin_Window esmg_FindSessionManagerWindow(void);
int32_t esmg_IsSessionManagerNameDefault(void);
int32_t esmg_IsSessionManagerRunning(void);
void esmg_SessionManagerLookup(void);

/* Connection. A failed connection shows "Could not connect to Session Manager!" and leaves the
   process unconnected; the process goes on. */
void esmg_SessionConnect(const char *name, int32_t kind, Eerr_ErrorReport **err);
void esmg_SessionOpen(const char *name, int32_t kind, intptr_t ignored1, intptr_t ignored2,
                      intptr_t ignored3, intptr_t ignored4, Eerr_ErrorReport **err);
void OpenSessionPipes(Eerr_ErrorReport **err, const char *name, int32_t kind);
void esmg_SessionDisconnect(Eerr_ErrorReport **err);
int32_t esmg_SessionCreate(void);
void esmg_SessionDelete(void);
int32_t esmg_SessionIdGet(void);
void esmg_SetSessionManager(void);
int32_t esmg_SessionIsStarted(void);
int32_t esmg_SetSessionIsStarted(int32_t flag);
int32_t esmg_IsSessionManager(void);
/* 0 in the session manager, 1 in a connected process, 4 otherwise. */
int32_t esmg_FindAppType(void);
Esmg_BroadcastProtocolFunc esmg_SetBroadcastProtocolFunc(Esmg_BroadcastProtocolFunc function);
Esmg_BroadcastProtocolFunc esmg_GetBroadcastProtocolFunc(void);
Esmg_AppProtoFunc esmg_SetAppProtoFunc(Esmg_AppProtoFunc function, void *userData);
int32_t esmg_CallAppProtoFunc(Esmg_Protocol *record);
/* "<base temporary directory>/TavironSession.<host name>", in a static buffer. */
const char *esmg_SessionNameBase(void);
/* Kept for the applications; nothing here reads them. */
void *esmg_SetGetAppToSessionPipeFunc(void *function);
void *esmg_SetProcessMessageFunc(void *function);
void *esmg_SetWorkProcInfo(void *first, void *second);
void *esmg_SetInputId(void *id);
int32_t esmg_GetSessionToAppPipe(void);
int32_t esmg_GetAppToSessionPipe(void);
void esmg_SetConnectionInfo(void *info);
void esmg_SetReadyWriteProcInfo(void *function, void *data);

/* Transport. The arguments after the type code are those of esmg_AssembleProtocol. */
void esmg_Broadcast(int32_t kind, intptr_t destination, int32_t type, ...);
/* The reply (the caller's), or null: without a session, in the session manager, after 20000 ms
   without reply, or when the send or the reply fails. */
Esmg_Protocol *esmg_BroadcastAndWait(int32_t kind, intptr_t destination, int32_t type, ...);
/* Waits for a record of the type (ESMG_PROTOCOL_ANY: any type) that the test accepts (no test:
   any of the type), from the queue of received records first; other records that arrive are
   queued. Null when the session manager cannot be reached or the connection is lost. */
Esmg_Protocol *esmg_WaitForProtocolWithFunc(int32_t ignored, int32_t type, Esmg_ProtocolTest test,
                                            void *userData);
Esmg_Protocol *esmg_WaitForProtocol(int32_t ignored, int32_t type);
/* Sends the packet without waiting and frees it (null result); in the session manager the
   packet is returned unsent. */
Esmg_Packet *esmg_PostPacket(Esmg_Packet *packet);

TAVIRON_END_DECLS

#endif
