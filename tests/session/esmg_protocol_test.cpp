#include "esmg.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "ecfg.h"
#include "emsc.h"
#include "eprf.h"
#include "taviron_testing.h"

namespace {

using Bytes = std::vector<unsigned char>;

// ---------------------------------------------------------------------------------------------
// The fields of every type, written down independently of the library: a letter per field and
// the record word it fills. S string, I integer, D double, T callback or user-data pointer,
// A string array (count word, array in the next), L string list, V value list, Q sequence
// chain, E report chain, B data block (count in the word before), P the preference block,
// R the process block, X a configuration request.
const char *const kFields[ESMG_PROTOCOL_TYPE_COUNT] = {
    "S2 S3 S4",       // 0
    "S2",             // 1
    "S2 V3",          // 2
    "",               // 3
    "A2",             // 4
    "E2",             // 5
    "I2 S3",          // 6
    "A2",             // 7
    "Q2",             // 8
    "I2 I3 I4",       // 9
    "S2",             // 10
    "S2",             // 11
    "I2",             // 12
    "",               // 13
    "I2 I3 B4",       // 14
    "S2 I3",          // 15
    "P",              // 16
    "P",              // 17
    "P",              // 18
    "P",              // 19
    "P",              // 20
    "",               // 21
    "",               // 22
    "S2 S3 S4",       // 23
    "A2",             // 24
    "I2",             // 25
    "",               // 26
    "",               // 27
    "I2",             // 28
    "A2",             // 29
    "",               // 30
    "S2",             // 31
    "",               // 32
    "S2 L3 I4",       // 33
    "S2 S3 S4 S5 I6", // 34
    "",               // 35
    "S2 I3 I4",       // 36
    "R",              // 37
    "R",              // 38
    "R",              // 39
    "R",              // 40
    "R",              // 41
    "R",              // 42
    "I2",             // 43
    "S2 S3 S4 S5 I6", // 44
    "X",              // 45
    "S2 I3",          // 46
    "S2 I3",          // 47
    "S2",             // 48
    "S2 S3",          // 49
    "S2 S3",          // 50
    "A2",             // 51
    "",               // 52
    "T2 T3",          // 53
    "T2 T3",          // 54
    "",               // 55
    "S2",             // 56
    "A2",             // 57
    "",               // 58
    "",               // 59
    "",               // 60
    "I2",             // 61
    "I2",             // 62
};
const char *const kBlock = "S2 S3 S4 I5 S6 D8 T10 T11 I12 I13";
const char *const kProcess = "A2 I4 I5 I6 T7 T8";
const char *const kEcfg[6] = {
    "S3 S4 S5 S6 I7 L8 E9", "S3 E4", "S3 L4 I5 E6", "S3 L4 I5 E6", "S3 S4 S5 E6",
    "S3 I4 I5 S6 S7 O8 E10",
};

struct Spec {
  char kind;
  int word;
};

std::vector<Spec> Parse(const char *text) {
  if (std::strcmp(text, "P") == 0) text = kBlock;
  if (std::strcmp(text, "R") == 0) text = kProcess;
  std::vector<Spec> specs;
  std::istringstream in(text);
  std::string item;
  while (in >> item) specs.push_back({item[0], std::stoi(item.substr(1))});
  return specs;
}

std::vector<Spec> FieldsOf(const Esmg_Protocol &record) {
  if (record.type == ESMG_PROTOCOL_ECFG) {
    std::vector<Spec> specs{{'I', 2}};
    if (record.w[2].i >= 0 && record.w[2].i <= 5)
      for (const Spec &s : Parse(kEcfg[record.w[2].i])) specs.push_back(s);
    return specs;
  }
  if (record.type < 0 || record.type >= ESMG_PROTOCOL_TYPE_COUNT) return {};
  return Parse(kFields[record.type]);
}

int callbackTarget[4];
void SequenceDone(int32_t, void *) {}

// A record of the type with every field filled with a value of its own.
Esmg_Protocol *Filled(int32_t type, int32_t sub = 0) {
  auto *r = static_cast<Esmg_Protocol *>(emsc_HeapMalloc(sizeof(Esmg_Protocol)));
  r->type = type;
  if (type == ESMG_PROTOCOL_ECFG) r->w[2].i = sub;
  for (const Spec &s : FieldsOf(*r)) {
    Esmg_ProtocolWord &w = r->w[s.word];
    const std::string tag = std::to_string(type) + "/" + std::to_string(s.word);
    switch (s.kind) {
    case 'S':
      // Some words stay null: a null string travels as well.
      if (s.word != 6) w.s = estr_Duplicate(("text " + tag).c_str());
      break;
    case 'I':
      if (!(type == ESMG_PROTOCOL_ECFG && s.word == 2)) w.i = -1000 * type - s.word;
      break;
    case 'D': w.d = type + 0.125; break;
    case 'T': w.p = &callbackTarget[s.word % 4]; break;
    case 'A': {
      const char *strings[] = {"first", nullptr, "", "last"};
      w.i = 4;
      r->w[s.word + 1].sa = static_cast<char **>(emsc_HeapMalloc(5 * sizeof(char *)));
      for (int i = 0; i < 4; ++i) r->w[s.word + 1].sa[i] = estr_Duplicate(strings[i]);
      break;
    }
    case 'L': {
      const char *strings[] = {"x", tag.c_str()};
      w.sl = estr_StringToStringList(2, strings, nullptr);
      break;
    }
    case 'V': {
      auto *list = static_cast<Esmg_ValueList *>(emsc_HeapMalloc(sizeof(Esmg_ValueList)));
      auto *a = static_cast<Esmg_ValueItem *>(emsc_HeapMalloc(sizeof(Esmg_ValueItem)));
      auto *b = static_cast<Esmg_ValueItem *>(emsc_HeapMalloc(sizeof(Esmg_ValueItem)));
      list->first = 7;
      list->count = 2;
      list->items = a;
      a->next = b;
      a->kind = 2;
      a->value.string = estr_Duplicate("value");
      b->kind = 1;
      b->value.number = -2.5e300;
      w.values = list;
      break;
    }
    case 'Q': {
      char *first[] = {const_cast<char *>("prog"), const_cast<char *>("-x")};
      char *second[] = {const_cast<char *>("other")};
      Esmg_Sequence *chain = esmg_SequenceCreate(nullptr, "one", 2, first, nullptr);
      chain = esmg_SequenceCreate(chain, nullptr, 1, second, nullptr);
      chain->callback = SequenceDone;
      chain->userData = &callbackTarget[0];
      w.sequence = chain;
      break;
    }
    case 'E': {
      Eerr_ErrorReport *deep = eerr_CreateErrorReport(nullptr, 3, -1, nullptr, "deep %s", "50%");
      w.report = eerr_CreateErrorReport("outer", 12, 2, deep, nullptr);
      break;
    }
    case 'B': {
      r->w[s.word - 1].i = 5;
      w.bytes = static_cast<unsigned char *>(emsc_HeapMalloc(5));
      std::memcpy(w.bytes, "\x00\x01\xff\x7f\x80", 5);
      break;
    }
    case 'O': {
      w.i = 1;
      r->w[s.word + 1].cell = static_cast<Esmg_ValueCell *>(emsc_HeapMalloc(sizeof(Esmg_ValueCell)));
      r->w[s.word + 1].cell->string = estr_Duplicate("cell");
      break;
    }
    }
  }
  return r;
}

std::string Str(const char *s) { return s ? "\"" + std::string(s) + "\"" : "null"; }

// Equality of two records over the fields of their type. A report without reporter name comes
// back with an empty one.
void ExpectEqual(const Esmg_Protocol &a, const Esmg_Protocol &b) {
  ASSERT_EQ(a.type, b.type);
  EXPECT_EQ(b.reserved, 0);
  for (const Spec &s : FieldsOf(a)) {
    SCOPED_TRACE(std::string(1, s.kind) + std::to_string(s.word));
    const Esmg_ProtocolWord &x = a.w[s.word], &y = b.w[s.word];
    switch (s.kind) {
    case 'S': EXPECT_EQ(Str(x.s), Str(y.s)); break;
    case 'I': EXPECT_EQ(x.i, y.i); break;
    case 'D': EXPECT_EQ(x.d, y.d); break;
    case 'T': EXPECT_EQ(x.p, y.p); break;
    case 'A':
      ASSERT_EQ(x.i, y.i);
      for (int i = 0; i < x.i; ++i) EXPECT_EQ(Str(a.w[s.word + 1].sa[i]), Str(b.w[s.word + 1].sa[i]));
      break;
    case 'L':
      ASSERT_EQ(estr_StringListCount(x.sl), estr_StringListCount(y.sl));
      for (int i = 0; i < estr_StringListCount(x.sl); ++i)
        EXPECT_EQ(Str(x.sl->strings[i]), Str(y.sl->strings[i]));
      break;
    case 'V': {
      ASSERT_EQ(x.values == nullptr, y.values == nullptr);
      if (!x.values) break;
      EXPECT_EQ(x.values->first, y.values->first);
      EXPECT_EQ(x.values->count, y.values->count);
      const Esmg_ValueItem *i = x.values->items, *j = y.values->items;
      for (; i && j; i = i->next, j = j->next) {
        ASSERT_EQ(i->kind, j->kind);
        if (i->kind == 2) {
          EXPECT_EQ(Str(i->value.string), Str(j->value.string));
        }
        else
          EXPECT_EQ(i->value.number, j->value.number);
      }
      EXPECT_EQ(i, j); // both ended
      break;
    }
    case 'Q': {
      const Esmg_Sequence *i = x.sequence, *j = y.sequence;
      for (; i && j; i = i->next, j = j->next) {
        EXPECT_EQ(Str(i->label), Str(j->label));
        ASSERT_EQ(i->argc, j->argc);
        for (int k = 0; k <= i->argc; ++k) EXPECT_EQ(Str(i->argv[k]), Str(j->argv[k]));
        EXPECT_EQ(reinterpret_cast<void *>(i->callback), reinterpret_cast<void *>(j->callback));
        EXPECT_EQ(i->userData, j->userData);
      }
      EXPECT_EQ(i, j);
      break;
    }
    case 'E': {
      const Eerr_ErrorReport *i = x.report, *j = y.report;
      for (; i && j; i = i->next, j = j->next) {
        EXPECT_EQ(Str(i->reporter ? i->reporter : ""), Str(j->reporter ? j->reporter : ""));
        EXPECT_EQ(i->code, j->code);
        EXPECT_EQ(i->severity, j->severity);
        EXPECT_EQ(Str(i->message), Str(j->message));
      }
      EXPECT_EQ(i, j);
      break;
    }
    case 'B':
      ASSERT_EQ(a.w[s.word - 1].i, b.w[s.word - 1].i);
      EXPECT_EQ(0, std::memcmp(x.bytes, y.bytes, static_cast<size_t>(a.w[s.word - 1].i)));
      break;
    case 'O':
      ASSERT_EQ(x.i, y.i);
      ASSERT_EQ(a.w[s.word + 1].cell == nullptr, b.w[s.word + 1].cell == nullptr);
      if (!a.w[s.word + 1].cell) break;
      if (x.i != 0) {
        EXPECT_EQ(Str(a.w[s.word + 1].cell->string), Str(b.w[s.word + 1].cell->string));
      }
      else
        EXPECT_EQ(a.w[s.word + 1].cell->number, b.w[s.word + 1].cell->number);
      break;
    }
  }
}

Bytes PacketBytes(const Esmg_Protocol *record) {
  Esmg_Packet *packet = esmg_BuildProtocolPacket(0, record);
  EXPECT_NE(packet, nullptr);
  if (!packet) return {};
  Bytes bytes(packet->buffer, packet->buffer + packet->position);
  esmg_FreePacket(packet);
  return bytes;
}

Esmg_Protocol *ReadBytes(const Bytes &bytes) {
  return esmg_ReadProtocolFromPipe(bytes.empty() ? nullptr : bytes.data(), bytes.size());
}

// Little-endian words and text, for expected packets.
struct Wire {
  Bytes bytes;
  Wire &I(int32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(static_cast<uint32_t>(v) >> (8 * i)));
    return *this;
  }
  Wire &S(const char *text) {
    if (!text) return I(0);
    I(static_cast<int32_t>(std::strlen(text) + 1));
    bytes.insert(bytes.end(), text, text + std::strlen(text) + 1);
    return *this;
  }
  Wire &D(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    I(static_cast<int32_t>(bits));
    return I(static_cast<int32_t>(bits >> 32));
  }
  Wire &Raw(const Bytes &raw) {
    bytes.insert(bytes.end(), raw.begin(), raw.end());
    return *this;
  }
  // The packet: the total length in front.
  Bytes Packet() const {
    Wire whole;
    whole.I(static_cast<int32_t>(bytes.size() + 4));
    whole.Raw(bytes);
    return whole.bytes;
  }
};

class Protocol : public ::testing::Test {
protected:
  void SetUp() override {
    // The process-wide pipe packet is made on first use; make it before counting blocks.
    esmg_FreeProtocol(esmg_ReadProtocolFromPipe(nullptr, 0));
    while (Esmg_Protocol *r = esmg_GetProtocolFromQ(ESMG_PROTOCOL_ANY)) esmg_FreeProtocol(r);
    live_ = emsc_TestLiveBlocks();
  }
  void TearDown() override { EXPECT_EQ(emsc_TestLiveBlocks(), live_) << "heap blocks leaked"; }
  int64_t live_ = 0;
};

// ---------------------------------------------------------------------------------------------

TEST_F(Protocol, PacketsHaveTheExactBytes) {
  struct Case {
    const char *name;
    Esmg_Protocol *record;
    Bytes expected;
  };
  const char *args[] = {"prog", nullptr};
  double number = 2.5;
  const char *value[] = {"on"};
  Estr_StringList valueList{1, const_cast<char **>(value)};
  Eerr_ErrorReport *chain =
      eerr_CreateErrorReport("top", 1, 2, eerr_CreateErrorReport("low", 2, 1, nullptr, "m"), nullptr);
  const Case cases[] = {
      {"log line", esmg_AssembleProtocol(6, 1, "abc"),
       {20, 0, 0, 0, 6, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 'a', 'b', 'c', 0}},
      {"job end", esmg_AssembleProtocol(13), {8, 0, 0, 0, 13, 0, 0, 0}},
      {"null string", esmg_AssembleProtocol(10, nullptr), Wire().I(10).I(0).Packet()},
      {"empty string", esmg_AssembleProtocol(10, ""), Wire().I(10).I(1).Raw({0}).Packet()},
      {"viewer data", esmg_AssembleProtocol(14, 7, 3, "\x01\x00\x02"),
       Wire().I(14).I(7).I(3).Raw({1, 0, 2}).Packet()},
      {"preference put", esmg_AssembleProtocol(17, "cls", "cat", "key", 2, nullptr, -0.5, 0),
       Wire().I(17).S("cls").S("cat").S("key").I(2).S(nullptr).D(-0.5).I(0).I(0).I(0).I(3).Packet()},
      {"process start", esmg_AssembleProtocol(37, 2, 2, args),
       Wire().I(37).I(2).S("prog").S(nullptr).I(2).I(0).I(0).I(0).I(0).Packet()},
      {"two reports", esmg_AssembleProtocol(5, chain),
       Wire().I(5).S("top").I(1).I(2).S(nullptr).S("low").I(2).I(1).S("m").I(0).Packet()},
      {"class lookup", esmg_AssembleProtocol(45, 1, "printers", nullptr),
       Wire().I(45).I(1).S("printers").I(0).Packet()},
      {"install number", esmg_AssembleProtocol(45, 5, "c", 16, 1, "n", "k", 0, &number, nullptr),
       Wire().I(45).I(5).S("c").I(16).I(1).S("n").S("k").I(0).I(1).D(2.5).I(0).Packet()},
      {"install string", esmg_AssembleProtocol(45, 5, "c", 16, 1, "n", "k", 1, &valueList, nullptr),
       Wire().I(45).I(5).S("c").I(16).I(1).S("n").S("k").I(1).I(1).S("on").I(0).Packet()},
      {"install nothing", esmg_AssembleProtocol(45, 5, "c", 2, 1, "n", "k", 0, nullptr, nullptr),
       Wire().I(45).I(5).S("c").I(2).I(1).S("n").S("k").I(0).I(0).I(0).Packet()},
      {"unknown sub-request", esmg_AssembleProtocol(45, 9), Wire().I(45).I(9).Packet()},
      {"type outside the table", esmg_AssembleProtocol(63), Wire().I(63).Packet()},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(c.record, nullptr);
    EXPECT_EQ(PacketBytes(c.record), c.expected);
    Esmg_Protocol *copy = esmg_CopyProtocol(c.record);
    esmg_FreeProtocol(c.record);
    Esmg_Protocol *back = ReadBytes(c.expected);
    ExpectEqual(*copy, *back);
    esmg_FreeProtocol(back);
    esmg_FreeProtocol(copy);
  }
  eerr_DeleteErrorReportEx(&chain);
}

// Whatever a record of any type holds comes back equal from a copy and from its packet, and the
// copy lives on its own.
TEST_F(Protocol, EveryTypeRoundTrips) {
  std::vector<std::pair<int32_t, int32_t>> kinds;
  for (int32_t type = 0; type < ESMG_PROTOCOL_TYPE_COUNT; ++type)
    if (type != ESMG_PROTOCOL_ECFG) kinds.push_back({type, 0});
  for (int32_t sub = 0; sub <= 6; ++sub) kinds.push_back({ESMG_PROTOCOL_ECFG, sub});
  for (auto [type, sub] : kinds) {
    SCOPED_TRACE("type " + std::to_string(type) + " sub " + std::to_string(sub));
    Esmg_Protocol *record = Filled(type, sub);
    Esmg_Protocol *copy = esmg_CopyProtocol(record);
    ASSERT_NE(copy, nullptr);
    ExpectEqual(*record, *copy);
    const Bytes bytes = PacketBytes(record);
    esmg_FreeProtocol(record);
    Esmg_Protocol *back = ReadBytes(bytes);
    ASSERT_NE(back, nullptr);
    ExpectEqual(*copy, *back);
    EXPECT_EQ(PacketBytes(back), bytes);
    esmg_FreeProtocol(back);
    esmg_FreeProtocol(copy);
  }
}

TEST_F(Protocol, AssembleStoresArgumentsInTheirWords) {
  int callback = 0, user = 0;
  const char *strings[] = {"a", "b"};
  Esmg_Protocol *r = esmg_AssembleProtocol(17, "c", "g", "n", 1, "v", 1.5, 0);
  EXPECT_STREQ(r->w[2].s, "c");
  EXPECT_STREQ(r->w[4].s, "n");
  EXPECT_EQ(r->w[5].i, 1);
  EXPECT_STREQ(r->w[6].s, "v");
  EXPECT_EQ(r->w[8].d, 1.5);
  EXPECT_EQ(r->w[13].i, 3); // a last word of 0 is sent as 3
  esmg_FreeProtocol(r);

  r = esmg_AssembleProtocol(18, "c", "g", "n", &callback, &user);
  EXPECT_EQ(r->w[10].p, &callback);
  EXPECT_EQ(r->w[11].p, &user);
  esmg_FreeProtocol(r);

  r = esmg_AssembleProtocol(37, 1, 2, strings);
  EXPECT_EQ(r->w[4].i, 1);
  EXPECT_EQ(r->w[2].i, 2);
  EXPECT_NE(r->w[3].sa, const_cast<char **>(strings));
  EXPECT_STREQ(r->w[3].sa[1], "b");
  esmg_FreeProtocol(r);

  r = esmg_AssembleProtocol(41, 99, &callback, &user);
  EXPECT_EQ(r->w[5].i, 99);
  EXPECT_EQ(r->w[7].p, &callback);
  EXPECT_EQ(r->w[8].p, &user);
  esmg_FreeProtocol(r);

  for (int32_t type : {20, 28, 56, 62}) {
    r = esmg_AssembleProtocol(type, 1, 2, 3);
    Esmg_Protocol zero{};
    zero.type = type;
    EXPECT_EQ(std::memcmp(r, &zero, sizeof zero), 0) << type;
    esmg_FreeProtocol(r);
  }
}

TEST_F(Protocol, ReportChainKeepsItsOrderAndLiteralText) {
  Eerr_ErrorReport *chain = eerr_CreateErrorReport(
      "second", -7, 0, nullptr, "%s", "100% done"); // a deeper report
  chain = eerr_CreateErrorReport("first", 4886, 2, chain, nullptr);
  Esmg_Protocol *r = esmg_AssembleProtocol(5, chain);
  eerr_DeleteErrorReportEx(&chain);
  Esmg_Protocol *back = ReadBytes(PacketBytes(r));
  ASSERT_EQ(back->type, 5);
  const Eerr_ErrorReport *first = back->w[2].report;
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->reporter, "first");
  EXPECT_EQ(first->code, 4886);
  EXPECT_EQ(first->message, nullptr);
  ASSERT_NE(first->next, nullptr);
  EXPECT_STREQ(first->next->reporter, "second");
  EXPECT_EQ(first->next->severity, 0);
  EXPECT_STREQ(first->next->message, "100% done");
  EXPECT_EQ(first->next->next, nullptr);
  esmg_FreeProtocol(back);
  esmg_FreeProtocol(r);
}

TEST_F(Protocol, SequenceStepsNeedArguments) {
  char *args[] = {const_cast<char *>("prog"), nullptr};
  Eerr_ErrorReport *err = nullptr;
  Esmg_Sequence *chain = esmg_SequenceCreate(nullptr, "a", 1, args, &err);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(err, nullptr);
  for (int32_t argc : {0, -1}) {
    EXPECT_EQ(esmg_SequenceCreate(chain, "b", argc, args, &err), chain);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->reporter, "esmg_SequenceCreate");
    EXPECT_EQ(err->code, 1);
    eerr_DeleteErrorReportEx(&err);
    EXPECT_EQ(chain->next, nullptr);
  }
  EXPECT_EQ(esmg_SequenceCreate(nullptr, "b", 0, args, &err), nullptr);
  eerr_DeleteErrorReportEx(&err);

  // A list made by hand whose second step has no arguments travels as its first step.
  auto *empty = static_cast<Esmg_Sequence *>(emsc_HeapMalloc(sizeof(Esmg_Sequence)));
  chain->next = empty;
  chain = esmg_SequenceCreate(chain, "c", 1, args, &err); // third step, after the empty one
  ASSERT_EQ(err, nullptr);
  Esmg_Protocol *r = esmg_AssembleProtocol(8, chain);
  Esmg_Protocol *back = ReadBytes(PacketBytes(r));
  ASSERT_EQ(back->type, 8);
  ASSERT_NE(back->w[2].sequence, nullptr);
  EXPECT_STREQ(back->w[2].sequence->label, "a");
  EXPECT_EQ(back->w[2].sequence->next, nullptr);
  esmg_FreeProtocol(back);
  esmg_FreeProtocol(r);
  esmg_SequenceFree(chain);
}

TEST_F(Protocol, QueueHandsOutByTypeOldestFirst) {
  EXPECT_FALSE(esmg_IsProtocolQueue());
  EXPECT_EQ(esmg_GetProtocolFromQ(ESMG_PROTOCOL_ANY), nullptr);
  Esmg_Protocol *a = esmg_AssembleProtocol(14, 1, 0, nullptr);
  Esmg_Protocol *b = esmg_AssembleProtocol(43, 0);
  Esmg_Protocol *c = esmg_AssembleProtocol(14, 2, 0, nullptr);
  for (Esmg_Protocol *r : {a, b, c}) ASSERT_TRUE(esmg_PutProtocolInQ(r));
  EXPECT_TRUE(esmg_IsProtocolQueue());
  EXPECT_EQ(esmg_GetProtocolFromQ(12), nullptr); // not queued: the queue stays as it was
  EXPECT_EQ(esmg_GetProtocolFromQ(43), b);
  EXPECT_EQ(esmg_GetProtocolFromQ(43), nullptr);
  EXPECT_EQ(esmg_GetProtocolFromQ(ESMG_PROTOCOL_ANY), a);
  Esmg_Protocol *d = esmg_AssembleProtocol(13);
  ASSERT_TRUE(esmg_PutProtocolInQ(d)); // appended behind c after the tail was taken
  EXPECT_EQ(esmg_GetProtocolFromQ(13), d);
  EXPECT_EQ(esmg_GetProtocolFromQ(ESMG_PROTOCOL_ANY), c);
  EXPECT_FALSE(esmg_IsProtocolQueue());
  for (Esmg_Protocol *r : {a, b, c, d}) esmg_FreeProtocol(r);
}

TEST_F(Protocol, CallbacksTravelAsTokens) {
  static int user;
  EXPECT_EQ(esmg_TokenFromPointer(nullptr), 0);
  const int32_t token = esmg_TokenFromPointer(&user);
  EXPECT_NE(token, 0);
  EXPECT_EQ(esmg_TokenFromPointer(&user), token);
  EXPECT_EQ(esmg_PointerFromToken(token), &user);
  EXPECT_EQ(esmg_PointerFromToken(0), nullptr);

  // The packet carries the token, not the pointer.
  Esmg_Protocol *r = esmg_AssembleProtocol(53, &callbackTarget[1], &user);
  const Bytes bytes = PacketBytes(r);
  EXPECT_EQ(bytes, Wire().I(53).I(esmg_TokenFromPointer(&callbackTarget[1])).I(token).Packet());
  esmg_FreeProtocol(r);

  // A token made by another process maps to no pointer here; a record read with it holds a
  // stand-in that is sent on as the same token.
  int32_t foreign = token ^ 0x40000000;
  while (esmg_PointerFromToken(foreign)) ++foreign;
  EXPECT_EQ(esmg_PointerFromToken(foreign), nullptr);
  const Bytes relayed = Wire().I(54).I(foreign).I(0).Packet();
  Esmg_Protocol *back = ReadBytes(relayed);
  ASSERT_EQ(back->type, 54);
  EXPECT_NE(back->w[2].p, nullptr);
  EXPECT_EQ(back->w[3].p, nullptr);
  EXPECT_EQ(PacketBytes(back), relayed);
  esmg_FreeProtocol(back);
}

// Packets that do not hold what they claim give the unreadable record and read nothing outside
// their bytes (the sanitizers see every byte read).
TEST_F(Protocol, MalformedPacketsAreUnreadable) {
  struct Case {
    const char *name;
    Bytes bytes;
  };
  const Case cases[] = {
      {"no bytes", {}},
      {"length word only", Wire().I(4).bytes},
      {"length below 8", {6, 0, 0, 0, 13, 0, 0, 0}},
      {"length beyond the bytes", {9, 0, 0, 0, 13, 0, 0, 0}},
      {"negative length", Wire().I(-8).I(13).bytes},
      {"string past the end", Wire().I(10).I(5).Raw({'a', 'b', 0}).Packet()},
      {"string without its NUL", Wire().I(10).I(3).Raw({'a', 'b', 'c'}).Packet()},
      {"negative string count", Wire().I(10).I(-1).Packet()},
      {"array count beyond the bytes", Wire().I(4).I(0x7fffffff).S("a").Packet()},
      {"negative array count", Wire().I(4).I(-3).Packet()},
      {"value count beyond the bytes", Wire().I(2).S("s").I(1).I(1000000).I(1).D(1).Packet()},
      {"value item cut short", Wire().I(2).S("s").I(1).I(1).I(1).I(0).Packet()},
      {"report chain without its end", Wire().I(5).S("r").I(1).I(2).S(nullptr).Packet()},
      {"report name past the end", Wire().I(5).I(50).Raw({'r', 0}).Packet()},
      {"data block past the end", Wire().I(14).I(1).I(100).Raw({1, 2, 3}).Packet()},
      {"negative data count", Wire().I(14).I(1).I(-1).Packet()},
      {"sequence with negative count", Wire().I(8).I(-2).Packet()},
      {"sequence without its end", Wire().I(8).I(1).S("p").S("l").I(0).I(0).Packet()},
      {"optional value neither absent nor present",
       Wire().I(45).I(5).S("c").I(16).I(1).S("n").S("k").I(0).I(2).D(1).I(0).Packet()},
      {"sub-request cut short", Wire().I(45).Packet()},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    // An exact-size heap copy, so that a read past the end is seen.
    auto *copy = static_cast<unsigned char *>(std::malloc(c.bytes.empty() ? 1 : c.bytes.size()));
    if (!c.bytes.empty()) std::memcpy(copy, c.bytes.data(), c.bytes.size());
    Esmg_Protocol *r = esmg_ReadProtocolFromPipe(c.bytes.empty() ? nullptr : copy, c.bytes.size());
    std::free(copy);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->type, ESMG_PROTOCOL_UNREADABLE);
    esmg_FreeProtocol(r);
  }
}

// Every shortened packet of every type (the claimed length cut with its bytes) is unreadable.
TEST_F(Protocol, TruncatedPacketsAreUnreadable) {
  for (int32_t type = 0; type < ESMG_PROTOCOL_TYPE_COUNT; ++type) {
    Esmg_Protocol *record = Filled(type, 5);
    const Bytes bytes = PacketBytes(record);
    esmg_FreeProtocol(record);
    for (size_t length = 8; length < bytes.size(); ++length) {
      SCOPED_TRACE("type " + std::to_string(type) + " length " + std::to_string(length));
      auto *cut = static_cast<unsigned char *>(std::malloc(length));
      std::memcpy(cut, bytes.data(), length);
      cut[0] = static_cast<unsigned char>(length); // packets here are shorter than 256 bytes
      Esmg_Protocol *r = esmg_ReadProtocolFromPipe(cut, length);
      std::free(cut);
      EXPECT_EQ(r->type, ESMG_PROTOCOL_UNREADABLE);
      esmg_FreeProtocol(r);
    }
  }
}

TEST_F(Protocol, PacketStateFollowsTheLoadedBytes) {
  Esmg_Packet *packet = esmg_NewPacket();
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(packet->capacity, 1024);
  EXPECT_EQ(packet->position, 0);
  EXPECT_EQ(packet->expected, 0);
  EXPECT_EQ(esmg_PacketIsComplete(packet), 0);

  // A packet larger than the buffer, with bytes behind it that are not part of it.
  Esmg_Protocol *big = esmg_AssembleProtocol(10, std::string(3000, 'x').c_str());
  Bytes bytes = PacketBytes(big);
  esmg_FreeProtocol(big);
  ASSERT_EQ(bytes.size(), 3013u);
  bytes.push_back(0xee);
  EXPECT_EQ(esmg_ReadPacketDataFromPipe(nullptr, 0, packet), 0);
  EXPECT_EQ(esmg_ReadPacketDataFromPipe(bytes.data(), 100, packet), 0);
  EXPECT_EQ(esmg_PacketIsComplete(packet), 0);
  ASSERT_EQ(esmg_ReadPacketDataFromPipe(bytes.data(), bytes.size(), packet), 1);
  EXPECT_EQ(packet->expected, 3013);
  EXPECT_EQ(packet->position, 3013);
  EXPECT_GE(packet->capacity, 3013);
  EXPECT_EQ(esmg_PacketIsComplete(packet), 1);
  EXPECT_EQ(packet->position, 4);
  Esmg_Protocol *r = esmg_ReadProtocolFromPacket(packet);
  EXPECT_EQ(r->type, 10);
  EXPECT_EQ(std::strlen(r->w[2].s), 3000u);
  EXPECT_EQ(packet->position, 0);
  EXPECT_EQ(packet->expected, 0);
  esmg_FreeProtocol(r);

  // A packet that is being built has no total length yet and reads as unreadable.
  ASSERT_EQ(esmg_ReadPacketDataFromPipe(bytes.data(), bytes.size(), packet), 1);
  EXPECT_EQ(esmg_PacketEmpty(packet), packet);
  EXPECT_EQ(esmg_PacketIsComplete(packet), 0);
  r = esmg_ReadProtocolFromPacket(packet);
  EXPECT_EQ(r->type, ESMG_PROTOCOL_UNREADABLE);
  esmg_FreeProtocol(r);
  esmg_FreePacket(packet);
  esmg_FreePacket(nullptr);
}

// Making records and packets survives a failed allocation at every step.
TEST_F(Protocol, AllocationFailuresLoseNothing) {
  const std::vector<std::pair<int32_t, int32_t>> kinds = {
      {0, 0}, {2, 0}, {8, 0}, {14, 0}, {17, 0}, {33, 0}, {37, 0}, {45, 0}, {45, 5}};
  for (auto [type, sub] : kinds) {
    SCOPED_TRACE("type " + std::to_string(type) + " sub " + std::to_string(sub));
    Esmg_Protocol *record = Filled(type, sub);
    const Bytes bytes = PacketBytes(record);
    const std::vector<std::pair<const char *, std::function<bool()>>> steps = {
        {"copy",
         [&] {
           Esmg_Protocol *copy = esmg_CopyProtocol(record);
           esmg_FreeProtocol(copy);
           return copy != nullptr;
         }},
        {"build",
         [&] {
           Esmg_Packet *packet = esmg_BuildProtocolPacket(0, record);
           esmg_FreePacket(packet);
           return packet != nullptr;
         }},
        {"read",
         [&] {
           Esmg_Protocol *back = esmg_ReadProtocolFromPipe(bytes.data(), bytes.size());
           const bool ok = back && back->type == type;
           EXPECT_TRUE(!back || back->type == type || back->type == ESMG_PROTOCOL_UNREADABLE);
           esmg_FreeProtocol(back);
           return ok;
         }},
    };
    for (const auto &[name, step] : steps) {
      SCOPED_TRACE(name);
      taviron::testing::SweepAllocationFailures([&](Eerr_ErrorReport **) { return step(); },
                                                {.limit = 200, .reports = false});
    }
    esmg_FreeProtocol(record);
  }
  // Assembling: the arguments are copied at every step.
  const char *strings[] = {"a", "b", "c"};
  const auto counts = taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **) {
        Esmg_Protocol *r = esmg_AssembleProtocol(37, 1, 3, strings);
        esmg_FreeProtocol(r);
        return r != nullptr;
      },
      {.reports = false});
  EXPECT_LT(counts.heap, 20);
}

// Configuration requests answered from the local databases.
class ConfigurationRequest : public ::testing::Test {
protected:
  void SetUp() override {
    std::string pattern = (taviron::testing::TempRoot() / "taviron_esmg_XXXXXX").string();
    root_ = mkdtemp(pattern.data());
    std::filesystem::create_directories(root_ / "cfg");
    std::ofstream(root_ / "cfg" / "devices.cfg") << "[Scanner]\nmodel = S1\n";
    setenv("NORIX_CFG_PATH", (root_ / "cfg").c_str(), 1);
    setenv("NORIX_CFG_DATABASES", "", 1);
    setenv("NORIX_PREFERENCES_PATH", (root_ / "cfg").c_str(), 1);
    eprf_DefaultDatabaseTerminate();
    Eerr_ErrorReport *err = nullptr;
    ecfg_Init(&err);
    ASSERT_EQ(err, nullptr);
  }
  void TearDown() override {
    eprf_DefaultDatabaseTerminate();
    std::filesystem::remove_all(root_);
  }
  // The request as the session manager gets it: through a packet.
  static Esmg_Protocol *Received(Esmg_Protocol *request) {
    Esmg_Protocol *r = ReadBytes(PacketBytes(request));
    esmg_FreeProtocol(request);
    return r;
  }
  std::filesystem::path root_;
};

TEST_F(ConfigurationRequest, AnsweredInPlace) {
  int32_t flag = -1;
  Esmg_Protocol *other = esmg_AssembleProtocol(43, 0);
  EXPECT_EQ(esmg_EcfgProtocolProcess(other, &flag), ESMG_ECFG_NOT_HANDLED);
  EXPECT_EQ(flag, 0);
  esmg_FreeProtocol(other);
  Esmg_Protocol *unknown = esmg_AssembleProtocol(45, 6);
  EXPECT_EQ(esmg_EcfgProtocolProcess(unknown, &flag), ESMG_ECFG_NOT_HANDLED);
  esmg_FreeProtocol(unknown);

  // Class lookup keeps a known class and clears an invalid one.
  Esmg_Protocol *r = Received(esmg_AssembleProtocol(45, 1, "devices", nullptr));
  flag = -1;
  EXPECT_EQ(esmg_EcfgProtocolProcess(r, &flag), ESMG_ECFG_ANSWERED);
  EXPECT_EQ(flag, 0);
  EXPECT_STREQ(r->w[3].s, "devices");
  esmg_FreeProtocol(r);
  r = Received(esmg_AssembleProtocol(45, 1, "../x", nullptr));
  EXPECT_EQ(esmg_EcfgProtocolProcess(r, &flag), ESMG_ECFG_ANSWERED);
  EXPECT_EQ(r->w[3].s, nullptr);
  esmg_FreeProtocol(r);

  // Database directories: the list, the count word and no report.
  r = Received(esmg_AssembleProtocol(45, 2, "devices", nullptr, 0, nullptr));
  EXPECT_EQ(esmg_EcfgProtocolProcess(r, &flag), ESMG_ECFG_ANSWERED);
  ASSERT_EQ(estr_StringListCount(r->w[4].sl), 1);
  EXPECT_EQ(std::string(r->w[4].sl->strings[0]), (root_ / "cfg").string());
  EXPECT_EQ(r->w[5].i, 0);
  EXPECT_EQ(r->w[6].report, nullptr);
  esmg_FreeProtocol(r);

  // A change made through sub-request 5 shows in a query (sub-request 0); the reply travels back.
  r = Received(esmg_AssembleProtocol(45, 5, "devices", ECFG_CHANGE_CREATE_INSTANCE, 1, "devices",
                                     "Printer", 0, nullptr, nullptr));
  EXPECT_EQ(esmg_EcfgProtocolProcess(r, &flag), ESMG_ECFG_ANSWERED);
  EXPECT_EQ(r->w[10].report, nullptr);
  esmg_FreeProtocol(r);
  const char *value[] = {"S2"};
  Estr_StringList one{1, const_cast<char **>(value)};
  r = Received(esmg_AssembleProtocol(45, 5, "devices", ECFG_CHANGE_SET_KEY, 1, "Scanner", "model",
                                     ECFG_VALUE_STRING_LIST, &one, nullptr));
  EXPECT_EQ(esmg_EcfgProtocolProcess(r, &flag), ESMG_ECFG_ANSWERED);
  EXPECT_EQ(r->w[10].report, nullptr);
  esmg_FreeProtocol(r);
  r = Received(esmg_AssembleProtocol(45, 0, "devices", nullptr, nullptr, "model",
                                     ECFG_QUERY_KEY_VALUES, nullptr, nullptr));
  EXPECT_EQ(esmg_EcfgProtocolProcess(r, &flag), ESMG_ECFG_ANSWERED);
  Esmg_Protocol *reply = Received(r);
  ASSERT_EQ(estr_StringListCount(reply->w[8].sl), 1);
  EXPECT_STREQ(reply->w[8].sl->strings[0], "S2");
  EXPECT_EQ(reply->w[9].report, nullptr);
  esmg_FreeProtocol(reply);
  r = Received(esmg_AssembleProtocol(45, 0, "devices", nullptr, nullptr, nullptr,
                                     ECFG_QUERY_INSTANCES, nullptr, nullptr));
  EXPECT_EQ(esmg_EcfgProtocolProcess(r, &flag), ESMG_ECFG_ANSWERED);
  ASSERT_EQ(estr_StringListCount(r->w[8].sl), 2);
  EXPECT_STREQ(r->w[8].sl->strings[1], "Printer");
  esmg_FreeProtocol(r);

  // A failing request carries its report back.
  r = Received(esmg_AssembleProtocol(45, 4, "devices", "/nowhere", "none", nullptr));
  EXPECT_EQ(esmg_EcfgProtocolProcess(r, &flag), ESMG_ECFG_ANSWERED);
  Esmg_Protocol *failed = Received(r);
  ASSERT_NE(failed->w[6].report, nullptr);
  EXPECT_STREQ(failed->w[6].report->reporter, "ecfg_SetDatabaseLevel");
  esmg_FreeProtocol(failed);
}

} // namespace
