// A session manager for the tests. It makes itself the session manager with the library's own
// calls (esmg_SessionCreate, a broadcast function, the wait loop), opens the session manager's
// window named by TAVIRON_SESSION_MANAGER_NAME in TAVIRON_RUNTIME_DIR, and answers with
// scripted replies. Everything it receives is appended to the record file, one line each:
//   READY
//   CONNECT <pid> <kind> <window> <name>     (the connect record read from its mapping)
//   BADCONNECT                               (a connect mapping that does not hold one, or a
//                                             connect from another process than it claims)
//   POST <hex bytes of the packet>           (a record from the wait loop)
//   WAIT <hex bytes of the packet>           (a record sent with reply)
// Options:
//   --record FILE      the record file (required)
//   --log-file NAME    the answer to protocol 56 (default "manager.log")
//   --no-reply         answer a waiting send by closing the sender's connection
//   --hang             answer a waiting send after 25 s
//   --hang-connect     answer the connect after 25 s
//   --no-process       answer the process-id request with 0
//   --on T=A,B,...     when a record of type T is posted, send records of types A, B, ... to the
//                      application that connected last (14: opcode 7 and "xyz"; 43: the sequence
//                      result; 6: level 1 and "from manager"; others: no arguments)
// Replies to waiting sends are the request with the answer words set:
//   --pref C/K/N=T:V   preference get (16) of class C, category K, name N: value type T and value V
//                      (a string for types 1 and 4, else a number); others are not found
//   --devices C=A,B    device list (33) of class C; other classes answer with the error flag
//   --error T          replies of type T carry the error flag (33, 34, 37 to 42)
//   --pid N            the process id of replies to 37 and 46 (default 4242)
//   --handle N         the handle of replies to 15 (default 77)
//   --no-reply-to T    a waiting send of type T is answered by closing the connection
//   --sequence-result N  word 2 of the 43 that --on sends (default 0)
// Configuration requests (45) are answered from the local configuration databases. Preference
// callbacks registered with 18 run (through esmg_InvokePreferenceCallbacks) when a put (17) of
// the same class, category and name arrives.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "emsc.h"
#include "epmg.h"
#include "esmg.h"
#include "estr.h"
#include "ewin.h"

namespace {

std::string recordFile;
std::string logFileName = "manager.log";
bool noReply = false, hang = false, hangConnect = false, noProcess = false;
std::map<int32_t, std::vector<int32_t>> onPost;
std::map<int32_t, Ewin_Window> applications; // process id -> connection
int32_t lastApplication = 0;

struct ScriptedPreference {
  int32_t type;
  std::string value;
};
std::map<std::string, ScriptedPreference> preferences; // "class/category/name"
std::map<std::string, std::vector<std::string>> devices;
std::vector<int32_t> errorTypes, noReplyTypes;
int32_t replyProcessId = 4242, handleWord = 77, sequenceResult = 0;

// A preference callback registered by an application (18).
struct Callback {
  std::string key;
  void *callback;
  void *userData;
  int32_t processId;
};
std::vector<Callback> callbacks;

bool Has(const std::vector<int32_t> &types, int32_t type) {
  for (int32_t t : types)
    if (t == type) return true;
  return false;
}

std::string Text(const char *text) { return text ? text : ""; }

std::string KeyOf(const Esmg_Protocol *record) {
  return Text(record->w[2].s ? record->w[2].s : EPMG_DEFAULT_CLASS) + "/" + Text(record->w[3].s) +
         "/" + Text(record->w[4].s);
}

std::vector<std::string> Split(const std::string &text, char separator) {
  std::vector<std::string> parts;
  for (std::size_t at = 0; at <= text.size();) {
    std::size_t next = text.find(separator, at);
    if (next == std::string::npos) next = text.size();
    parts.push_back(text.substr(at, next - at));
    at = next + 1;
  }
  return parts;
}

// Sets the answer words of a reply (a copy of the request).
void Answer(Esmg_Protocol *reply) {
  const bool error = Has(errorTypes, reply->type);
  switch (reply->type) {
  case 15: reply->w[3].i = handleWord; break;
  case 16: {
    auto it = preferences.find(KeyOf(reply));
    if (it == preferences.end()) {
      reply->w[12].i = 1;
      break;
    }
    reply->w[5].i = it->second.type;
    if (it->second.type == 1 || it->second.type == 4)
      reply->w[6].s = estr_Duplicate(it->second.value.c_str());
    else
      reply->w[8].d = std::strtod(it->second.value.c_str(), nullptr);
    break;
  }
  case 33: {
    auto it = devices.find(Text(reply->w[2].s));
    if (error || it == devices.end()) {
      reply->w[4].i = 1;
      break;
    }
    for (const std::string &device : it->second)
      reply->w[3].sl = estr_StringListAppend(reply->w[3].sl, device.c_str(), nullptr);
    break;
  }
  case 34: reply->w[6].i = error; break;
  case 37: reply->w[5].i = replyProcessId; reply->w[6].i = error; break;
  case 38: case 39: case 40: case 41: case 42: reply->w[6].i = error; break;
  case 45: {
    int32_t flag = 0;
    esmg_EcfgProtocolProcess(reply, &flag);
    break;
  }
  case 46: reply->w[3].i = replyProcessId; break;
  case 56: reply->w[2].s = estr_Duplicate(logFileName.c_str()); break;
  default: break;
  }
}

// A put (17): the callbacks registered for it run.
void RunCallbacks(const Esmg_Protocol *put) {
  Epmg_Preference preference{};
  preference.className = put->w[2].s;
  preference.category = put->w[3].s;
  preference.name = put->w[4].s;
  preference.valueType = put->w[5].i;
  if (preference.valueType == EPMG_TYPE_STRING || preference.valueType == EPMG_TYPE_ENUM)
    preference.value.string = put->w[6].s;
  else if (preference.valueType == EPMG_TYPE_BOOLEAN)
    preference.value.boolean = put->w[8].d > 0;
  else if (preference.valueType == EPMG_TYPE_UNSIGNED)
    preference.value.unsignedInteger = static_cast<uint32_t>(put->w[8].d);
  else
    preference.value.number = put->w[8].d;
  std::vector<Epmg_CallbackNode> nodes;
  for (const Callback &callback : callbacks)
    if (callback.key == KeyOf(put))
      nodes.push_back({callback.processId, reinterpret_cast<Epmg_PreferenceCallback>(callback.callback),
                       callback.userData, nullptr});
  for (std::size_t i = 0; i + 1 < nodes.size(); ++i) nodes[i].next = &nodes[i + 1];
  if (!nodes.empty()) esmg_InvokePreferenceCallbacks(&preference, nodes.data());
}

void Record(const std::string &line) {
  FILE *file = std::fopen(recordFile.c_str(), "a");
  if (!file) return;
  std::fprintf(file, "%s\n", line.c_str());
  std::fclose(file);
}

std::string Hex(const Esmg_Protocol *record) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  Esmg_Packet *packet = esmg_BuildProtocolPacket(0, record);
  if (!packet) return out;
  for (int32_t i = 0; i < packet->position; ++i) {
    out += digits[packet->buffer[i] >> 4];
    out += digits[packet->buffer[i] & 15];
  }
  esmg_FreePacket(packet);
  return out;
}

// A mapping holding the record's packet, duplicated into the process; 0 on failure.
Ewin_Handle MappingFor(const Esmg_Protocol *record, int32_t processId) {
  Esmg_Packet *packet = esmg_BuildProtocolPacket(0, record);
  if (!packet) return 0;
  Ewin_Handle duplicate = 0;
  Ewin_Handle mapping = ewin_CreateFileMapping(static_cast<uint32_t>(packet->position));
  if (void *view = mapping ? ewin_MapViewOfFile(mapping) : nullptr) {
    std::memcpy(view, packet->buffer, static_cast<size_t>(packet->position));
    ewin_UnmapViewOfFile(view);
    Ewin_Handle process = ewin_OpenProcess(processId);
    if (!process || !ewin_DuplicateHandle(mapping, process, &duplicate)) duplicate = 0;
    if (process) ewin_CloseHandle(process);
  }
  if (mapping) ewin_CloseHandle(mapping);
  esmg_FreePacket(packet);
  return duplicate;
}

// The broadcast function: records go to the application of the process id (kind 9) or to the
// one that connected last.
void Broadcast(Esmg_Protocol *record, int32_t kind, intptr_t destination) {
  int32_t processId = kind == ESMG_DEST_PROCESS ? static_cast<int32_t>(destination)
                                                : lastApplication;
  auto it = applications.find(processId);
  if (it == applications.end()) return;
  Ewin_Handle handle = MappingFor(record, processId);
  if (handle &&
      !ewin_PostMessage(it->second, ewin_RegisterWindowMessage("NORIX_APP_PACKET_DATA"), 0,
                        handle))
    ewin_CloseHandle(handle);
}

// The process at the other end of the connection of the message being handled.
int32_t SourceProcess() { return ewin_GetWindowThreadProcessId(ewin_GetMessageSource(), nullptr); }

std::string ReadConnect(Ewin_Handle mapping, int32_t claimed) {
  int64_t size = ewin_GetFileMappingSize(mapping);
  auto *view = static_cast<const unsigned char *>(ewin_MapViewOfFile(mapping));
  if (!view) return "BADCONNECT";
  auto word = [&](int at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | view[at + i];
    return static_cast<int32_t>(v);
  };
  std::string line = "BADCONNECT";
  if (size >= 17) {
    int32_t length = word(12);
    if (length >= 0 && size == 17 + static_cast<int64_t>(length) && view[16 + length] == 0 &&
        word(0) == claimed && claimed == SourceProcess())
      line = "CONNECT " + std::to_string(word(0)) + " " + std::to_string(word(4)) + " " +
             std::to_string(word(8)) + " " +
             std::string(reinterpret_cast<const char *>(view + 16), static_cast<size_t>(length));
  }
  ewin_UnmapViewOfFile(view);
  return line;
}

Ewin_Param Procedure(Ewin_Window, uint32_t message, Ewin_Param wParam, Ewin_Param lParam) {
  if (message == ewin_RegisterWindowMessage("NORIX_SM_PROCESS"))
    return noProcess ? 0 : ewin_GetCurrentProcessId();
  if (message == ewin_RegisterWindowMessage("NORIX_SM_CONNECT")) {
    if (hangConnect) sleep(25);
    auto processId = static_cast<int32_t>(wParam);
    std::string line = ReadConnect(lParam, processId);
    Record(line);
    ewin_CloseHandle(lParam);
    if (line == "BADCONNECT") return 0;
    applications[processId] = ewin_GetMessageSource();
    lastApplication = processId;
    return 1;
  }
  if (message == ewin_RegisterWindowMessage("NORIX_SM_PACKET_DATA_WAIT")) {
    if (wParam != SourceProcess()) { // not from the process it claims
      ewin_CloseHandle(lParam);
      return 0;
    }
    int64_t size = ewin_GetFileMappingSize(lParam);
    const void *view = ewin_MapViewOfFile(lParam);
    Esmg_Protocol *request =
        esmg_ReadProtocolFromPipe(view, view ? static_cast<size_t>(size) : 0);
    if (view) ewin_UnmapViewOfFile(view);
    ewin_CloseHandle(lParam);
    if (!request) return 0;
    Record("WAIT " + Hex(request));
    if (noReply || Has(noReplyTypes, request->type)) {
      ewin_DestroyWindow(ewin_GetMessageSource());
      esmg_FreeProtocol(request);
      return 0;
    }
    if (hang) sleep(25);
    Esmg_Protocol *reply = esmg_CopyProtocol(request);
    if (reply) Answer(reply);
    Ewin_Handle handle = reply ? MappingFor(reply, static_cast<int32_t>(wParam)) : 0;
    esmg_FreeProtocol(reply);
    esmg_FreeProtocol(request);
    return handle;
  }
  return 0;
}

void Send(int32_t type) {
  intptr_t to = lastApplication;
  switch (type) {
  case 14: esmg_Broadcast(ESMG_DEST_PROCESS, to, 14, 7, 3, "xyz"); break;
  case 43: esmg_Broadcast(ESMG_DEST_PROCESS, to, 43, sequenceResult); break;
  case 6: esmg_Broadcast(ESMG_DEST_PROCESS, to, 6, 1, "from manager"); break;
  default: esmg_Broadcast(ESMG_DEST_PROCESS, to, type); break;
  }
}

} // namespace

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--record" && i + 1 < argc) recordFile = argv[++i];
    else if (arg == "--log-file" && i + 1 < argc) logFileName = argv[++i];
    else if (arg == "--no-reply") noReply = true;
    else if (arg == "--hang") hang = true;
    else if (arg == "--hang-connect") hangConnect = true;
    else if (arg == "--no-process") noProcess = true;
    else if (arg == "--pref" && i + 1 < argc) {
      std::string spec = argv[++i];
      std::size_t equals = spec.find('='), colon = spec.find(':', equals);
      if (equals == std::string::npos || colon == std::string::npos) return 2;
      preferences[spec.substr(0, equals)] = {std::atoi(spec.substr(equals + 1).c_str()),
                                             spec.substr(colon + 1)};
    } else if (arg == "--devices" && i + 1 < argc) {
      std::string spec = argv[++i];
      std::size_t equals = spec.find('=');
      if (equals == std::string::npos) return 2;
      devices[spec.substr(0, equals)] = Split(spec.substr(equals + 1), ',');
    } else if (arg == "--error" && i + 1 < argc) errorTypes.push_back(std::atoi(argv[++i]));
    else if (arg == "--no-reply-to" && i + 1 < argc) noReplyTypes.push_back(std::atoi(argv[++i]));
    else if (arg == "--pid" && i + 1 < argc) replyProcessId = std::atoi(argv[++i]);
    else if (arg == "--handle" && i + 1 < argc) handleWord = std::atoi(argv[++i]);
    else if (arg == "--sequence-result" && i + 1 < argc) sequenceResult = std::atoi(argv[++i]);
    else if (arg == "--on" && i + 1 < argc) {
      std::string spec = argv[++i];
      std::size_t equals = spec.find('=');
      if (equals == std::string::npos) return 2;
      auto &types = onPost[std::atoi(spec.substr(0, equals).c_str())];
      for (std::size_t at = equals + 1; at <= spec.size();) {
        std::size_t comma = spec.find(',', at);
        if (comma == std::string::npos) comma = spec.size();
        types.push_back(std::atoi(spec.substr(at, comma - at).c_str()));
        at = comma + 1;
      }
    } else {
      std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
      return 2;
    }
  }
  if (recordFile.empty()) return 2;

  esmg_SessionCreate();
  esmg_SetSessionIsStarted(1);
  esmg_SetBroadcastProtocolFunc(Broadcast);
  if (!ewin_CreateWindow(ESMG_SESSION_MANAGER_CLASS, esmg_GetSessionManagerName(), Procedure))
    return 3;
  Record("READY");
  for (;;) {
    Esmg_Protocol *record = esmg_WaitForProtocol(0, ESMG_PROTOCOL_ANY);
    if (!record) {
      usleep(1000);
      continue;
    }
    Record("POST " + Hex(record));
    if (record->type == 18)
      callbacks.push_back({KeyOf(record), record->w[10].p, record->w[11].p, lastApplication});
    if (record->type == 17) RunCallbacks(record);
    auto it = onPost.find(record->type);
    esmg_FreeProtocol(record);
    if (it != onPost.end())
      for (int32_t type : it->second) Send(type);
  }
}
