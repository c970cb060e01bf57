// Reads arbitrary bytes as a session-manager packet. Whatever reads as a record must build a
// packet that reads back to a record building the very same bytes.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "esmg.h"

namespace {

std::vector<unsigned char> Build(const Esmg_Protocol *record) {
  std::vector<unsigned char> bytes;
  if (Esmg_Packet *packet = esmg_BuildProtocolPacket(0, record)) {
    bytes.assign(packet->buffer, packet->buffer + packet->position);
    esmg_FreePacket(packet);
  }
  return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // An exact copy, so that a read past the end is seen.
  std::vector<unsigned char> input(data, data + size);
  Esmg_Protocol *record = esmg_ReadProtocolFromPipe(size ? input.data() : nullptr, size);
  if (!record) return 0;
  if (record->type != ESMG_PROTOCOL_UNREADABLE) {
    const std::vector<unsigned char> first = Build(record);
    Esmg_Protocol *again = esmg_ReadProtocolFromPipe(first.data(), first.size());
    if (!again || again->type != record->type || Build(again) != first) __builtin_trap();
    esmg_FreeProtocol(again);
    Esmg_Protocol *copy = esmg_CopyProtocol(record);
    if (!copy || Build(copy) != first) __builtin_trap();
    esmg_FreeProtocol(copy);
  }
  esmg_FreeProtocol(record);
  return 0;
}
