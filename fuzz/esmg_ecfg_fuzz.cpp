// Configuration-database requests (type 45) answered by the session manager's side from the
// local configuration databases. Each input gives the texts of two configuration files of the
// class "devices" (a site level and a user level, each with a database of its own) and then
// requests: built from the input's choices (sub-request, class, names, flags, change values)
// and sent through a packet, or, when the input asks for it, its remaining bytes read as a
// packet. Every request must be answered (or refused for an unknown sub-request) without a
// crash, and the answered record must travel back through a packet unchanged.
//
// Input: [options] [site text] 0x01 [user text] 0x01 [requests...]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ecfg.h"
#include "eerr.h"
#include "esmg.h"
#include "estr.h"
#include "fuzz_support.h"

namespace {

using taviron::fuzz::Reader;

// A short name: null, one of the names the files use, or up to 15 bytes of the input.
std::string Name(Reader &in, bool &null) {
  static const char *const kNames[] = {"Scanner", "Printer", "model", "device", "host",
                                       "local", "shared", "", "scanner", "MODEL"};
  const uint8_t kind = in.Byte();
  null = kind < 16;
  if (null) return {};
  if (kind < 128) return kNames[kind % std::size(kNames)];
  std::string text;
  for (int n = kind % 16; n > 0 && in.More(); --n) text += static_cast<char>(in.Byte());
  return text;
}

struct Folders {
  std::string site, user;
  Folders() {
    site = taviron::fuzz::ScratchFile("site");
    user = taviron::fuzz::ScratchFile("user");
    std::filesystem::create_directories(site);
    std::filesystem::create_directories(user);
    setenv("NORIX_CFG_PATH", (site + ":" + user).c_str(), 1);
    setenv("NORIX_CFG_DATABASES", "local;shared", 1);
  }
};

void WriteText(const std::string &path, const std::string &text) {
  if (FILE *f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

std::vector<uint8_t> Bytes(const Esmg_Protocol *record) {
  std::vector<uint8_t> bytes;
  if (Esmg_Packet *packet = esmg_BuildProtocolPacket(0, record)) {
    bytes.assign(packet->buffer, packet->buffer + packet->position);
    esmg_FreePacket(packet);
  }
  return bytes;
}

Esmg_Protocol *Read(const std::vector<uint8_t> &bytes) {
  return esmg_ReadProtocolFromPipe(bytes.empty() ? nullptr : bytes.data(), bytes.size());
}

// A request of the input's choosing, as esmg_AssembleProtocol takes its arguments.
Esmg_Protocol *Assemble(Reader &in) {
  static const char *const kClasses[] = {"devices", "DEVICES", "printers", "missing", "", "a/b"};
  const uint8_t sub = in.Byte();
  const int32_t request = sub < 250 ? sub % 6 : sub; // now and then an unknown sub-request
  const uint8_t which = in.Byte();
  const char *className = which % 8 < std::size(kClasses) ? kClasses[which % 8] : nullptr;
  bool nulls[4];
  const std::string a = Name(in, nulls[0]);
  const std::string b = Name(in, nulls[1]);
  const std::string c = Name(in, nulls[2]);
  const std::string d = Name(in, nulls[3]);
  const char *s[4] = {nulls[0] ? nullptr : a.c_str(), nulls[1] ? nullptr : b.c_str(),
                      nulls[2] ? nullptr : c.c_str(), nulls[3] ? nullptr : d.c_str()};
  static const int32_t kFlags[] = {ECFG_QUERY_INSTANCES, ECFG_QUERY_KEY_VALUES,
                                   ECFG_QUERY_INSTANCE_PAIRS, 0};
  const uint8_t choice = in.Byte();
  const int32_t flags = choice < 240 ? kFlags[choice % 4] : static_cast<int32_t>(choice) << 8;
  switch (request) {
  case 0: return esmg_AssembleProtocol(45, 0, className, s[0], s[1], s[2], flags, nullptr, nullptr);
  case 1: return esmg_AssembleProtocol(45, 1, className, nullptr);
  case 2:
  case 3: return esmg_AssembleProtocol(45, request, className, nullptr, static_cast<int>(choice), nullptr);
  case 4: return esmg_AssembleProtocol(45, 4, className, s[0], s[1], nullptr);
  case 5: {
    const int32_t operation = choice % 3 == 0 ? ECFG_CHANGE_CREATE_INSTANCE
                              : choice % 3 == 1 ? ECFG_CHANGE_SET_KEY
                                                : choice;
    const uint8_t kind = in.Byte();
    const double number = kind;
    const char *strings[] = {s[3], s[2]};
    Estr_StringList list{kind & 2 ? 2 : 1, const_cast<char **>(strings)};
    // Kind 0 carries a double, any other kind a list whose first string is carried.
    if (kind & 1)
      return esmg_AssembleProtocol(45, 5, className, operation, 1, s[0], s[1],
                                   kind & 4 ? ECFG_VALUE_STRING_LIST : 2 + (kind >> 4),
                                   kind & 8 ? nullptr : &list, nullptr);
    return esmg_AssembleProtocol(45, 5, className, operation, 1, s[0], s[1], ECFG_VALUE_NONE,
                                 kind & 8 ? nullptr : &number, nullptr);
  }
  default: return esmg_AssembleProtocol(45, request);
  }
}

// Answers the request and checks that the answer travels back whole.
void Answer(Esmg_Protocol *request) {
  if (!request) return;
  const bool known = request->type == ESMG_PROTOCOL_ECFG && request->w[2].i >= 0 && request->w[2].i <= 5;
  int32_t flag = -1;
  const int32_t answer = esmg_EcfgProtocolProcess(request, &flag);
  if (flag != 0 || answer != (known ? ESMG_ECFG_ANSWERED : ESMG_ECFG_NOT_HANDLED)) __builtin_trap();
  if (known) {
    const std::vector<uint8_t> reply = Bytes(request);
    Esmg_Protocol *back = Read(reply);
    if (!back || back->type != ESMG_PROTOCOL_ECFG || Bytes(back) != reply) __builtin_trap();
    esmg_FreeProtocol(back);
  }
  esmg_FreeProtocol(request);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const Folders folders;
  Reader in{data, size};
  const uint8_t options = in.Byte();
  WriteText(folders.site + "/devices.cfg", in.Part());
  WriteText(folders.user + "/devices.local.cfg", in.Part());
  Eerr_ErrorReport *err = nullptr;
  ecfg_Init(&err); // every class read again from the files
  eerr_DeleteErrorReportEx(&err);

  if (options & 1) {
    // The rest is a packet from another process.
    Esmg_Protocol *record = esmg_ReadProtocolFromPipe(data + in.at, size - in.at);
    if (record && record->type == ESMG_PROTOCOL_ECFG) Answer(record);
    else esmg_FreeProtocol(record);
  } else {
    for (int n = 0; n < 8 && in.More(); ++n) {
      Esmg_Protocol *request = Assemble(in);
      if (!request) continue;
      // As the session manager receives it: through a packet.
      Esmg_Protocol *received = Read(Bytes(request));
      esmg_FreeProtocol(request);
      Answer(received);
    }
  }
  if (options & 2) {
    ecfg_SaveChangeList("devices", 0, &err);
    eerr_DeleteErrorReportEx(&err);
  }
  return 0;
}
