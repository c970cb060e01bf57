// Random input through the scanner and a grammar that exercises every path of the parser:
// token strings taken over by a mid-rule action, recovery inside a statement and at the top,
// actions that stop and that fail, deep nesting against a small maximum depth.
// The first byte chooses what the error rule does and the stack limit; inputs holding a NUL byte
// are read from a file, the others as text.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "eerr.h"
#include "elex.h"
#include "emsc.h"

namespace {

const char *const kRules[] = {
    "input: items",                                   // 1
    "input: error",                                   // 2
    "items:",                                         // 3
    "items: items item",                              // 4
    "$5:",                                            // 5
    "item: STRING STRING INTEGER ':' $5 values ';'",  // 6
    "item: NAME '=' expr ';'",                        // 7
    "item: PRINT expr ';'",                           // 8
    "item: QUIT ';'",                                 // 9
    "item: error ';'",                                // 10
    "values: expr",                                   // 11
    "values: values ',' expr",                        // 12
    "expr: expr '+' term",                            // 13
    "expr: expr '-' term",                            // 14
    "expr: term",                                     // 15
    "term: term '*' factor",                          // 16
    "term: term '/' factor",                          // 17
    "term: factor",                                   // 18
    "factor: INTEGER",                                // 19
    "factor: FLOAT",                                  // 20
    "factor: NUMBER",                                 // 21
    "factor: '-' factor",                             // 22
    "factor: '(' expr ')'",                           // 23
    "factor: NAME",                                   // 24
};
const Elex_Keyword kKeywords[] = {{"print", "PRINT"}, {"quit", "QUIT"}, {"stop", "QUIT"}};

struct Local {
  int mode;
  std::map<std::string, double> variables;
  std::vector<std::string> names;
  int values = 0;
  int sum = 0;
};

void *Init(void *initial, Eerr_ErrorReport **) {
  return new Local{static_cast<int>(reinterpret_cast<intptr_t>(initial)), {}, {}, 0, 0};
}
void Free(void *local) { delete static_cast<Local *>(local); }

int32_t Action(const Elex_Grammar *, void *data, int32_t rule, Elex_Value *top, Elex_Value *value,
               void **result, Eerr_ErrorReport **err) {
  auto *l = static_cast<Local *>(data);
  switch (rule) {
  case 1: value->pointer = l; break;
  case 2:
    if (l->mode == 0) {
      *result = nullptr;
      return ELEX_STOP;
    }
    if (l->mode == 1) {
      eerr_DeleteErrorReportEx(err);
      return ELEX_FAIL;
    }
    value->pointer = nullptr;
    break;
  case 5:
    l->names.emplace_back(top[-3].string);
    emsc_HeapFree(top[-3].string);
    emsc_HeapFree(top[-2].string);
    break;
  case 6:
    // The scanned integer may lie outside int32_t: compared as a double, never converted.
    if (top[-1].integer != top[-4].number) {
      *err = eerr_CreateErrorReport("elex_fuzz", 1, 2, *err, "Size mismatch");
      return ELEX_FAIL;
    }
    break;
  case 7:
    l->variables[top[-3].string] = top[-1].number;
    emsc_HeapFree(top[-3].string);
    break;
  case 9: *result = l; return ELEX_STOP;
  case 11: value->integer = 1; break;
  case 12: value->integer = top[-2].integer + 1; break;
  case 13: value->number = top[-2].number + top[0].number; break;
  case 14: value->number = top[-2].number - top[0].number; break;
  case 16: value->number = top[-2].number * top[0].number; break;
  case 17:
    if (top[0].number == 0) {
      *err = eerr_CreateErrorReport("elex_fuzz", 2, 2, *err, "Division by zero");
      return ELEX_FAIL;
    }
    value->number = top[-2].number / top[0].number;
    break;
  case 22: value->number = -top[0].number; break;
  case 23: value->number = top[-1].number; break;
  case 24: {
    const auto found = l->variables.find(top[0].string);
    emsc_HeapFree(top[0].string);
    if (found == l->variables.end()) {
      *err = eerr_CreateErrorReport("elex_fuzz", 3, 2, *err, "Undefined variable");
      return ELEX_FAIL;
    }
    value->number = found->second;
    break;
  }
  default: break;
  }
  return ELEX_CONTINUE;
}

const Elex_Grammar kGrammar = {"elex_fuzz", kRules, 24, kKeywords, 3, Action, Init, Free, 20, 0};
const Elex_Grammar kShallow = {"elex_fuzz", kRules, 24, kKeywords, 3, Action, Init, Free, 8, 40};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const int mode = data[0] % 3;
  const Elex_Grammar &grammar = (data[0] & 4) ? kShallow : kGrammar;
  const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  Elex_ScannerFunction scanner = emsc_AddressOf_elex_Scanner();
  void *initial = reinterpret_cast<void *>(static_cast<intptr_t>(mode));

  std::string path;
  int fd = -1;
  if (text.find('\0') != std::string::npos) {
    fd = memfd_create("elex_fuzz", 0);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      if (fd >= 0) close(fd);
      return 0;
    }
    path = "/proc/self/fd/" + std::to_string(fd);
  }
  const char *input = fd < 0 ? text.c_str() : nullptr;
  const char *file = fd < 0 ? nullptr : path.c_str();

  // The scanner alone, to the end or the first error.
  Eerr_ErrorReport *err = nullptr;
  if (Elex_Scanner *s = scanner(input, file, nullptr, 0, &err)) {
    Elex_Token token;
    while (s->next(s, &token, &err) == 0 && token.kind != ELEX_TOKEN_END)
      if (token.kind == ELEX_TOKEN_NAME || token.kind == ELEX_TOKEN_STRING) emsc_HeapFree(token.value.string);
    s->close(s);
  }
  eerr_DeleteErrorReportEx(&err);

  // The whole parse.
  elex_Parse(&grammar, initial, scanner, input, file, nullptr, 0, &err);
  eerr_DeleteErrorReportEx(&err);
  if (fd >= 0) close(fd);
  return 0;
}
