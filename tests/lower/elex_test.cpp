#include "elex.h"
#include "efio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emsc.h"
#include "taviron_testing.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Test grammars and what their actions record

enum class OnError { StopNull, FailClear, Continue };

struct Entry {
  std::string name, description;
  int count = 0;
  std::vector<double> values;
  bool operator==(const Entry &o) const {
    return name == o.name && description == o.description && count == o.count && values == o.values;
  }
};

struct Probe {
  int inits = 0, frees = 0;
  bool failInit = false;
  OnError onError = OnError::StopNull;
  std::vector<int> rules;       // every action call, in order
  std::vector<double> printed;  // calc: values printed
  std::vector<Entry> entries;   // library: entries read
};

struct Local {
  Probe *probe;
  std::map<std::string, double> variables;
};

void *InitLocal(void *initial, Eerr_ErrorReport **err) {
  auto *probe = static_cast<Probe *>(initial);
  if (probe->failInit) {
    ++probe->inits;
    *err = eerr_CreateErrorReport("test_init", 1, 2, *err, "No room for local data");
    return nullptr;
  }
  auto *local = new Local{probe, {}};
  ++probe->inits;
  return local;
}

void FreeLocal(void *local) {
  auto *l = static_cast<Local *>(local);
  ++l->probe->frees;
  delete l;
}

// A library of named lists of numbers, with a mid-rule action and an error alternative of the
// start symbol (the shape of the kernel libraries).
const char *const kLibraryRules[] = {
    "library: entries",                                  // 1
    "library: error",                                    // 2
    "entries:",                                          // 3
    "entries: entries entry",                            // 4
    "$5:",                                               // 5
    "entry: STRING STRING INTEGER ':' $5 values ';'",    // 6
    "values: number",                                    // 7
    "values: values ',' number",                         // 8
    "number: INTEGER",                                   // 9
    "number: FLOAT",                                     // 10
    "number: '-' number",                                // 11
};

int32_t LibraryAction(const Elex_Grammar *, void *localData, int32_t rule, Elex_Value *top,
                      Elex_Value *value, void **result, Eerr_ErrorReport **err) {
  auto *local = static_cast<Local *>(localData);
  Probe *probe = local->probe;
  probe->rules.push_back(rule);
  switch (rule) {
  case 1: value->pointer = probe; return ELEX_CONTINUE;
  case 2:
    value->pointer = nullptr;
    if (probe->onError == OnError::StopNull) {
      *result = nullptr;
      return ELEX_STOP;
    }
    if (probe->onError == OnError::FailClear) {
      eerr_DeleteErrorReportEx(err);
      return ELEX_FAIL;
    }
    return ELEX_CONTINUE;
  case 5: { // name 3 below the colon, description 2 below, count 1 below
    // The strings are the action's: freed even when recording them runs out of memory.
    const std::unique_ptr<char, void (*)(void *)> name(top[-3].string, emsc_HeapFree),
        description(top[-2].string, emsc_HeapFree);
    top[-3].string = top[-2].string = nullptr;
    probe->entries.push_back({name.get(), description.get(), static_cast<int>(top[-1].number), {}});
    return ELEX_CONTINUE;
  }
  case 6:
    if (top[-1].integer != static_cast<int32_t>(top[-4].number)) {
      *err = eerr_CreateErrorReport("test_library", 1, 2, *err, "Size mismatch in %s",
                                    probe->entries.back().name.c_str());
      return ELEX_FAIL;
    }
    return ELEX_CONTINUE;
  case 7:
    probe->entries.back().values.push_back(top[0].number);
    value->integer = 1;
    return ELEX_CONTINUE;
  case 8:
    probe->entries.back().values.push_back(top[0].number);
    value->integer = top[-2].integer + 1;
    return ELEX_CONTINUE;
  case 11: value->number = -top[0].number; return ELEX_CONTINUE;
  default: return ELEX_CONTINUE;
  }
}

const Elex_Grammar kLibrary = {"test_library", kLibraryRules, 11, nullptr, 0, LibraryAction,
                               InitLocal, FreeLocal, 0, 0};

// Arithmetic with precedence written into the rules, variables, recovery inside a statement.
const char *const kCalcRules[] = {
    "input: statements",                 // 1
    "statements:",                       // 2
    "statements: statements statement",  // 3
    "statement: NAME '=' expr ';'",      // 4
    "statement: PRINT expr ';'",         // 5
    "statement: error ';'",              // 6
    "statement: QUIT ';'",               // 7
    "expr: expr '+' term",               // 8
    "expr: expr '-' term",               // 9
    "expr: term",                        // 10
    "term: term '*' factor",             // 11
    "term: term '/' factor",             // 12
    "term: factor",                      // 13
    "factor: INTEGER",                   // 14
    "factor: FLOAT",                     // 15
    "factor: '-' factor",                // 16
    "factor: '(' expr ')'",              // 17
    "factor: NAME",                      // 18
};
const Elex_Keyword kCalcKeywords[] = {{"print", "PRINT"}, {"show", "PRINT"}, {"quit", "QUIT"}};

int32_t CalcAction(const Elex_Grammar *, void *localData, int32_t rule, Elex_Value *top,
                   Elex_Value *value, void **result, Eerr_ErrorReport **err) {
  auto *local = static_cast<Local *>(localData);
  Probe *probe = local->probe;
  probe->rules.push_back(rule);
  switch (rule) {
  case 1: value->pointer = probe; break;
  case 4:
    local->variables[top[-3].string] = top[-1].number;
    emsc_HeapFree(top[-3].string);
    break;
  case 5: probe->printed.push_back(top[-1].number); break;
  case 7: *result = probe; return ELEX_STOP;
  case 8: value->number = top[-2].number + top[0].number; break;
  case 9: value->number = top[-2].number - top[0].number; break;
  case 11: value->number = top[-2].number * top[0].number; break;
  case 12:
    if (top[0].number == 0) {
      *err = eerr_CreateErrorReport("test_calc", 2, 2, *err, "Division by zero");
      return ELEX_FAIL;
    }
    value->number = top[-2].number / top[0].number;
    break;
  case 16: value->number = -top[0].number; break;
  case 17: value->number = top[-1].number; break;
  case 18: {
    const auto found = local->variables.find(top[0].string);
    if (found == local->variables.end()) {
      *err = eerr_CreateErrorReport("test_calc", 1, 2, *err, "Variable %s is not defined", top[0].string);
      emsc_HeapFree(top[0].string);
      return ELEX_FAIL;
    }
    emsc_HeapFree(top[0].string);
    value->number = found->second;
    break;
  }
  default: break;
  }
  return ELEX_CONTINUE;
}

const Elex_Grammar kCalc = {"test_calc", kCalcRules, 18, kCalcKeywords, 3, CalcAction,
                            InitLocal, FreeLocal, 0, 0};

struct Expected {
  const char *reporter; // null: no report
  int32_t code;
  const char *messagePart;
};

void ExpectReport(Eerr_ErrorReport *err, const Expected &e) {
  if (!e.reporter) {
    EXPECT_EQ(err, nullptr) << (err && err->message ? err->message : "");
    return;
  }
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, e.reporter);
  EXPECT_EQ(err->code, e.code);
  if (e.messagePart) {
    // The part may be in the report or in one it chains.
    std::string all;
    for (const Eerr_ErrorReport *r = err; r; r = r->next) all += std::string(r->message ? r->message : "") + "|";
    EXPECT_NE(all.find(e.messagePart), std::string::npos) << all;
  }
}

struct Outcome {
  void *result = nullptr;
  Eerr_ErrorReport *err = nullptr;
};

Outcome Parse(const Elex_Grammar &g, Probe &probe, const char *text, const char *file = nullptr) {
  Outcome run;
  run.result = elex_Parse(&g, &probe, emsc_AddressOf_elex_Scanner(), text, file, nullptr, 0, &run.err);
  return run;
}

// The folder of the test files, removed when the program ends.
const taviron::testing::TempDir &Scratch() {
  static const taviron::testing::TempDir dir("elex_test");
  return dir;
}

std::string TempFile(const std::string &name, const std::string &contents) {
  const std::string path = Scratch() / ("elex_test_" + name);
  std::FILE *f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr);
  if (f) {
    std::fwrite(contents.data(), 1, contents.size(), f);
    std::fclose(f);
  }
  return path;
}

// ---------------------------------------------------------------------------------------------
// Driver

struct LibraryCase {
  const char *name;
  const char *text;
  OnError onError;
  bool resultIsProbe;
  std::vector<int> rules;
  std::vector<Entry> entries;
  Expected report;
};

TEST(ElexParse, LibraryGrammarCases) {
  const std::vector<LibraryCase> cases = {
      {"empty input", "", OnError::StopNull, true, {3, 1}, {}, {}},
      {"one entry, actions in rule order", "\"k\" \"d\" 2 : 1, -2.5 ;", OnError::StopNull, true,
       {3, 5, 9, 7, 10, 11, 8, 6, 4, 1}, {{"k", "d", 2, {1, -2.5}}}, {}},
      {"two entries, comments and escapes",
       "# library\n\"a\" \"say \\\"hi\\\"\" 1 : 3 ; /* next */\n\"b\" \"C:\\dir\" 1 : -0.5e1 ;\n",
       OnError::StopNull, true, {3, 5, 9, 7, 6, 4, 5, 10, 11, 7, 6, 4, 1},
       {{"a", "say \"hi\"", 1, {3}}, {"b", "C:\\dir", 1, {-5}}}, {}},
      {"syntax error taken by the error rule, stop with null (report kept)", "\"a\" \"b\" ;",
       OnError::StopNull, false, {3, 2}, {}, {"elex_Parse", 5, "line 1 of the input text: unexpected ';'"}},
      {"syntax error after the mid-rule action, fail clearing the report", "\"a\" \"b\" 2 : 1\n x",
       OnError::FailClear, false, {3, 5, 9, 7, 2}, {{"a", "b", 2, {1}}}, {}},
      {"error rule that continues: tokens are discarded up to the end", "\"a\" 3 ;", OnError::Continue,
       false, {3, 2, 2, 2}, {}, {"elex_Parse", 5, "unexpected integer 3"}},
      {"failing action aborts with its report", "\"a\" \"b\" 3 : 1, 2 ;", OnError::StopNull, false,
       {3, 5, 9, 7, 9, 8, 6}, {{"a", "b", 3, {1, 2}}}, {"test_library", 1, "Size mismatch in a"}},
      {"a name where no rule takes one", "\"a\" \"b\" 1 : x ;", OnError::StopNull, false, {3, 5, 2},
       {{"a", "b", 1, {}}}, {"elex_Parse", 5, "unexpected name x"}},
      {"unterminated string", "\"a\" \"b", OnError::StopNull, false, {3}, {},
       {"elex_Parse", 6, "Unterminated string starting at line 1"}},
      {"invalid character", "\"a\" \x01", OnError::StopNull, false, {3}, {}, {"elex_Parse", 6, "0x01"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const int64_t live = emsc_TestLiveBlocks();
    Probe probe;
    probe.onError = c.onError;
    Outcome run = Parse(kLibrary, probe, c.text);
    EXPECT_EQ(run.result, c.resultIsProbe ? &probe : nullptr);
    EXPECT_EQ(probe.rules, c.rules);
    EXPECT_EQ(probe.entries, c.entries);
    ExpectReport(run.err, c.report);
    EXPECT_EQ(probe.inits, 1);
    EXPECT_EQ(probe.frees, 1);
    eerr_DeleteErrorReportEx(&run.err);
    EXPECT_EQ(emsc_TestLiveBlocks(), live);
  }
}

struct CalcCase {
  const char *name;
  const char *text;
  bool resultIsProbe;
  std::vector<double> printed;
  Expected report;
};

TEST(ElexParse, CalcGrammarCases) {
  const std::vector<CalcCase> cases = {
      {"precedence and associativity by the rules",
       "print 1 + 2 * 3; print (1 + 2) * 3; print 10 - 4 - 3; print 8 / 4 / 2; print -2 * 3;", true,
       {7, 9, 3, 1, -6}, {}},
      {"variables, keywords in any case, two lexemes for one keyword", "x = 4; PRINT x * x; Show x;",
       true, {16, 4}, {}},
      {"recovery inside a statement goes on", "print 1 + ; print 2;", true, {2},
       {"elex_Parse", 5, "line 1 of the input text: unexpected ';'"}},
      {"an unfinished assignment is dropped, its name freed", "x = 4 print 1; print 2;", true, {2},
       {"elex_Parse", 5, "unexpected keyword print"}},
      {"error at the end of input while recovering aborts", "print 1;\nprint 1 +", false, {1},
       {"elex_Parse", 5, "line 2 of the input text: unexpected end of input"}},
      {"undefined variable fails the action", "print 1; print y;", false, {1},
       {"test_calc", 1, "Variable y is not defined"}},
      {"division by zero fails the action", "print 1 / 0;", false, {}, {"test_calc", 2, "Division by zero"}},
      {"stop: nothing after it is read", "print 1; quit; print ) \x01 \"unterminated", true, {1}, {}},
      {"a character no rule uses: recovered up to the ';'", "print 1 @ 2; print 3;", true, {3},
       {"elex_Parse", 5, "unexpected '@'"}},
      {"deep nesting grows the stack", nullptr, true, {5}, {}},
      {"nesting beyond the maximum depth", nullptr, false, {}, {"elex_Parse", 7, "more than 1000 entries"}},
  };
  const std::string deep = "print " + std::string(300, '(') + "5" + std::string(300, ')') + ";";
  const std::string tooDeep = "print " + std::string(1200, '(') + "5" + std::string(1200, ')') + ";";
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const int64_t live = emsc_TestLiveBlocks();
    Probe probe;
    const char *text = c.text ? c.text : (c.resultIsProbe ? deep.c_str() : tooDeep.c_str());
    Outcome run = Parse(kCalc, probe, text);
    EXPECT_EQ(run.result, c.resultIsProbe ? &probe : nullptr);
    EXPECT_EQ(probe.printed, c.printed);
    ExpectReport(run.err, c.report);
    EXPECT_EQ(probe.inits, 1);
    EXPECT_EQ(probe.frees, 1);
    eerr_DeleteErrorReportEx(&run.err);
    EXPECT_EQ(emsc_TestLiveBlocks(), live);
  }
}

TEST(ElexParse, ReductionsRunInRuleOrder) {
  Probe probe;
  Outcome run = Parse(kCalc, probe, "print 1 + 2;");
  EXPECT_EQ(run.err, nullptr);
  EXPECT_EQ(probe.rules, (std::vector<int>{2, 14, 13, 10, 14, 13, 8, 5, 3, 1}));
}

TEST(ElexParse, FailuresBeforeTheParse) {
  const int64_t live = emsc_TestLiveBlocks();
  Eerr_ErrorReport *err = nullptr;
  Probe probe;
  // No grammar, no scanner.
  EXPECT_EQ(elex_Parse(nullptr, &probe, emsc_AddressOf_elex_Scanner(), "", nullptr, nullptr, 0, &err), nullptr);
  ExpectReport(err, {"elex_Parse", 1, nullptr});
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(elex_Parse(&kLibrary, &probe, nullptr, "", nullptr, nullptr, 0, &err), nullptr);
  ExpectReport(err, {"elex_Parse", 1, nullptr});
  eerr_DeleteErrorReportEx(&err);
  // A missing file: the scanner's report is chained; the local data was never made.
  Outcome run = Parse(kLibrary, probe, nullptr, "/nonexistent/elex/lib.txt");
  ExpectReport(run.err, {"elex_Parse", 3, "Unable to open file \"/nonexistent/elex/lib.txt\""});
  ASSERT_NE(run.err->next, nullptr);
  EXPECT_STREQ(run.err->next->reporter, "elex_Scanner");
  eerr_DeleteErrorReportEx(&run.err);
  EXPECT_EQ(probe.inits, 0);
  EXPECT_EQ(probe.frees, 0);
  // The local data cannot be made: its report is chained, nothing to free.
  probe.failInit = true;
  run = Parse(kLibrary, probe, "");
  ExpectReport(run.err, {"elex_Parse", 4, "No room for local data"});
  eerr_DeleteErrorReportEx(&run.err);
  EXPECT_EQ(probe.inits, 1);
  EXPECT_EQ(probe.frees, 0);
  // A null error slot drops the report.
  probe.failInit = false;
  EXPECT_EQ(elex_Parse(&kLibrary, &probe, emsc_AddressOf_elex_Scanner(), "\"a\" ;", nullptr, nullptr, 0, nullptr),
            nullptr);
  EXPECT_EQ(probe.frees, 1);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

TEST(ElexParse, FileInputAndNulByte) {
  Probe probe;
  const std::string good = TempFile("good.txt", "\"k\"\n\"d\"\n\t2, :\n");
  // "2, :" is not the grammar's "2 :" — a syntax error on line 3 of the file.
  Outcome run = Parse(kLibrary, probe, nullptr, good.c_str());
  ExpectReport(run.err, {"elex_Parse", 5, "line 3 of \""});
  eerr_DeleteErrorReportEx(&run.err);

  Probe probe2;
  const std::string ok = TempFile("ok.txt", std::string("\"k\" \"d\" 1 : 7 ;\n"));
  run = Parse(kLibrary, probe2, nullptr, ok.c_str());
  EXPECT_EQ(run.result, &probe2);
  EXPECT_EQ(run.err, nullptr);
  ASSERT_EQ(probe2.entries.size(), 1u);
  EXPECT_EQ(probe2.entries[0].values, std::vector<double>{7});

  for (const std::string &contents : {std::string("\"k\" \0 ;", 7), std::string("\"k\0\" ;", 6)}) {
    Probe probe3;
    const std::string nul = TempFile("nul.txt", contents);
    run = Parse(kLibrary, probe3, nullptr, nul.c_str());
    EXPECT_EQ(run.result, nullptr);
    ExpectReport(run.err, {"elex_Parse", 6, "NUL byte"});
    eerr_DeleteErrorReportEx(&run.err);
    EXPECT_EQ(probe3.frees, 1);
  }
}

TEST(ElexParse, AllocationFailuresReportAndLeakNothing) {
  const std::string text = "\"k\" \"d\" 2 : 1, 2 ; \"m\" \"e\" 1 : 3 ;";
  Probe probe;
  taviron::testing::SweepOptions options{.limit = 100};
  // The actions take over the token strings: room for what they record is made beforehand, so
  // that they never run out of memory before taking them.
  options.prepare = [&] {
    probe = Probe();
    probe.rules.reserve(64);
    probe.entries.reserve(8);
  };
  options.finish = [&] { EXPECT_EQ(probe.inits, probe.frees); };
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) {
        const void *result = elex_Parse(&kLibrary, &probe, emsc_AddressOf_elex_Scanner(), text.c_str(), nullptr,
                                        nullptr, 0, err);
        if (result) {
          EXPECT_EQ(probe.entries.size(), 2u);
        }
        return result != nullptr;
      },
      options);
}

// ---------------------------------------------------------------------------------------------
// Grammars themselves

int32_t FreeNames(const Elex_Grammar *, void *, int32_t, Elex_Value *top, Elex_Value *value, void **,
                  Eerr_ErrorReport **) {
  emsc_HeapFree(top[0].string);
  value->pointer = nullptr;
  return 1; // not a control code
}

TEST(ElexGrammar, BadGrammarsAreReported) {
  struct Case {
    const char *name;
    std::vector<const char *> rules;
    std::vector<Elex_Keyword> keywords;
    const char *messagePart;
  };
  const std::vector<Case> cases = {
      {"undefined symbol", {"s: a"}, {}, "symbol a of rule 1 has no rule"},
      {"no left side", {"s NAME"}, {}, "rule 1 \"s NAME\" has no left side"},
      {"reduce/reduce conflict", {"s: a", "s: b", "a: NAME", "b: NAME"}, {}, "rules 3 and 4 conflict on $end"},
      {"rule for a token", {"s: NAME", "NAME: INTEGER"}, {}, "the token NAME has a rule"},
      {"keyword token that is a nonterminal", {"s: t", "t: NAME"}, {{"tee", "t"}}, "invalid token \"t\""},
      {"no rules", {}, {}, "has no rules"},
      {"LR(1) but not LALR(1)",
       {"s: 'a' A 'd'", "s: 'b' B 'd'", "s: 'a' B 'e'", "s: 'b' A 'e'", "A: 'c'", "B: 'c'"}, {},
       "rules 5 and 6 conflict on"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const Elex_Grammar g = {"bad", c.rules.data(), static_cast<int32_t>(c.rules.size()),
                            c.keywords.data(), static_cast<int32_t>(c.keywords.size()),
                            nullptr, nullptr, nullptr, 0, 0};
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(elex_Parse(&g, nullptr, emsc_AddressOf_elex_Scanner(), "x", nullptr, nullptr, 0, &err), nullptr);
    ExpectReport(err, {"elex_Parse", 2, c.messagePart});
    eerr_DeleteErrorReportEx(&err);
  }
}

TEST(ElexGrammar, LookaheadsAreLalrNotFollowSets) {
  // After "a e" the two rules reduce on different tokens; with FOLLOW sets both would take 'c'.
  const char *rules[] = {"s: 'a' E 'c'", "s: 'a' F 'd'", "s: 'b' F 'c'", "E: 'e'", "F: 'e'"};
  const Elex_Keyword keywords[] = {{"a", "'a'"}, {"b", "'b'"}, {"c", "'c'"}, {"d", "'d'"}, {"e", "'e'"}};
  std::vector<int> seen;
  auto action = [](const Elex_Grammar *, void *local, int32_t rule, Elex_Value *, Elex_Value *, void **,
                   Eerr_ErrorReport **) -> int32_t {
    static_cast<std::vector<int> *>(local)->push_back(rule);
    return ELEX_CONTINUE;
  };
  const Elex_Grammar g = {"lalr", rules, 5, keywords, 5, action, nullptr, nullptr, 0, 0};
  for (const auto &[text, expected] : std::vector<std::pair<const char *, std::vector<int>>>{
           {"a e c", {4, 1}}, {"A E D", {5, 2}}, {"b e c", {5, 3}}}) {
    SCOPED_TRACE(text);
    seen.clear();
    Eerr_ErrorReport *err = nullptr;
    elex_Parse(&g, &seen, emsc_AddressOf_elex_Scanner(), text, nullptr, nullptr, 0, &err);
    EXPECT_EQ(err, nullptr);
    EXPECT_EQ(seen, expected);
  }
}

TEST(ElexGrammar, ShiftReduceConflictShifts) {
  // A list that may be empty, one item, or a list and an item: the item is shifted, not
  // preceded by an empty list, so the single-item rule is the one reduced first.
  const char *rules[] = {"file: list", "list:", "list: item", "list: list item", "item: STRING STRING ';'"};
  std::vector<int> seen;
  auto action = [](const Elex_Grammar *, void *local, int32_t rule, Elex_Value *top, Elex_Value *, void **,
                   Eerr_ErrorReport **) -> int32_t {
    static_cast<std::vector<int> *>(local)->push_back(rule);
    if (rule == 5) {
      emsc_HeapFree(top[-2].string);
      emsc_HeapFree(top[-1].string);
    }
    return ELEX_CONTINUE;
  };
  const Elex_Grammar g = {"list", rules, 5, nullptr, 0, action, nullptr, nullptr, 0, 0};
  Eerr_ErrorReport *err = nullptr;
  elex_Parse(&g, &seen, emsc_AddressOf_elex_Scanner(), "\"a\" \"b\"; \"c\" \"d\";", nullptr, nullptr, 0, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(seen, (std::vector<int>{5, 3, 5, 4, 1}));
}

TEST(ElexGrammar, UnknownControlCodeFails) {
  const char *rules[] = {"s: NAME"};
  const Elex_Grammar g = {"odd", rules, 1, nullptr, 0, FreeNames, nullptr, nullptr, 0, 0};
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(elex_Parse(&g, nullptr, emsc_AddressOf_elex_Scanner(), "x", nullptr, nullptr, 0, &err), nullptr);
  ExpectReport(err, {"elex_Parse", 9, "unknown code 1 for rule 1"});
  eerr_DeleteErrorReportEx(&err);
}

TEST(ElexGrammar, WithoutActionsTokenStringsAreFreed) {
  const int64_t live = emsc_TestLiveBlocks();
  const char *rules[] = {"s: pairs", "pairs:", "pairs: pairs NAME STRING"};
  const Elex_Grammar g = {"plain", rules, 3, nullptr, 0, nullptr, nullptr, nullptr, 0, 0};
  Eerr_ErrorReport *err = nullptr;
  elex_Parse(&g, nullptr, emsc_AddressOf_elex_Scanner(), "a \"1\" b \"2\"", nullptr, nullptr, 0, &err);
  EXPECT_EQ(err, nullptr);
  elex_Parse(&g, nullptr, emsc_AddressOf_elex_Scanner(), "a \"1\" b", nullptr, nullptr, 0, &err);
  ExpectReport(err, {"elex_Parse", 5, "end of input"});
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

TEST(ElexGrammar, ChangedRulesAtTheSameAddressAreRebuilt) {
  const char *rules[] = {"s: NAME"};
  Elex_Grammar g = {"changing", rules, 1, nullptr, 0, nullptr, nullptr, nullptr, 0, 0};
  Eerr_ErrorReport *err = nullptr;
  elex_Parse(&g, nullptr, emsc_AddressOf_elex_Scanner(), "x", nullptr, nullptr, 0, &err);
  EXPECT_EQ(err, nullptr);
  rules[0] = "s: INTEGER";
  elex_Parse(&g, nullptr, emsc_AddressOf_elex_Scanner(), "4", nullptr, nullptr, 0, &err);
  EXPECT_EQ(err, nullptr);
  elex_Parse(&g, nullptr, emsc_AddressOf_elex_Scanner(), "x", nullptr, nullptr, 0, &err);
  ExpectReport(err, {"elex_Parse", 5, "unexpected name x"});
  eerr_DeleteErrorReportEx(&err);
}

TEST(ElexGrammar, FirstUseFromSeveralThreads) {
  static const char *const rules[] = {"s: list", "list:", "list: list INTEGER"};
  static const Elex_Grammar g = {"threads", rules, 3, nullptr, 0, nullptr, nullptr, nullptr, 0, 0};
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (size_t i = 0; i < failures.size(); ++i)
    threads.emplace_back([&failures, i] {
      Eerr_ErrorReport *err = nullptr;
      elex_Parse(&g, nullptr, emsc_AddressOf_elex_Scanner(), "1 2 3", nullptr, nullptr, 0, &err);
      failures[i] = err != nullptr;
      eerr_DeleteErrorReportEx(&err);
    });
  for (auto &t : threads) t.join();
  EXPECT_EQ(failures, std::vector<int>(8, 0));
}

// ---------------------------------------------------------------------------------------------
// Scanner

struct Tok {
  int kind;
  std::string text; // NAME, STRING; the character for CHARACTER
  double number;
  int line;
  bool operator==(const Tok &o) const {
    return kind == o.kind && text == o.text && line == o.line &&
           (kind < ELEX_TOKEN_INTEGER || kind > ELEX_TOKEN_FLOAT || number == o.number);
  }
};
std::ostream &operator<<(std::ostream &os, const Tok &t) {
  return os << "{" << t.kind << " '" << t.text << "' " << t.number << " line " << t.line << "}";
}

// Every token up to the end, or up to a failure (its report then in *err).
std::vector<Tok> Scan(const char *text, const char *file, Eerr_ErrorReport **err,
                      void *searchList = nullptr) {
  std::vector<Tok> out;
  out.reserve(16); // before the scanner exists, so that a failing operator new here leaves nothing
  Elex_Scanner *s = emsc_AddressOf_elex_Scanner()(text, file, searchList, 0, err);
  if (!s) return out;
  for (;;) {
    Elex_Token t;
    if (s->next(s, &t, err) != 0) break;
    Tok tok{t.kind, "", 0, t.line};
    if (t.kind == ELEX_TOKEN_NAME || t.kind == ELEX_TOKEN_STRING) {
      tok.text = t.value.string;
      emsc_HeapFree(t.value.string);
    } else if (t.kind == ELEX_TOKEN_CHARACTER) {
      tok.text = std::string(1, static_cast<char>(t.character));
    } else {
      tok.number = t.value.number;
    }
    out.push_back(tok);
    if (t.kind == ELEX_TOKEN_END) {
      // The end repeats.
      EXPECT_EQ(s->next(s, &t, err), 0);
      EXPECT_EQ(t.kind, ELEX_TOKEN_END);
      break;
    }
  }
  s->close(s);
  return out;
}

TEST(ElexScanner, Tokens) {
  enum { E = ELEX_TOKEN_END, N = ELEX_TOKEN_NAME, S = ELEX_TOKEN_STRING, I = ELEX_TOKEN_INTEGER,
         X = ELEX_TOKEN_NUMBER, F = ELEX_TOKEN_FLOAT, C = ELEX_TOKEN_CHARACTER };
  struct Case {
    const char *name;
    std::string text;
    std::vector<Tok> tokens;
  };
  const std::vector<Case> cases = {
      {"empty", "", {{E, "", 0, 1}}},
      {"names", "abc _x1 left_to_right arial.ttf \xc9t\xe9",
       {{N, "abc", 0, 1}, {N, "_x1", 0, 1}, {N, "left_to_right", 0, 1}, {N, "arial.ttf", 0, 1},
        {N, "\xc9t\xe9", 0, 1}, {E, "", 0, 1}}},
      {"integers and floats", "0 42 3.5 .5 5. 1e5 1.5e-07 2E+3 7e",
       {{I, "", 0, 1}, {I, "", 42, 1}, {F, "", 3.5, 1}, {F, "", .5, 1}, {F, "", 5, 1}, {F, "", 1e5, 1},
        {F, "", 1.5e-7, 1}, {F, "", 2000, 1}, {I, "", 7, 1}, {N, "e", 0, 1}, {E, "", 0, 1}}},
      {"minus is a token of its own", "-0.5 -3",
       {{C, "-", 0, 1}, {F, "", 0.5, 1}, {C, "-", 0, 1}, {I, "", 3, 1}, {E, "", 0, 1}}},
      {"hexadecimal numbers", "0x1F 0x",
       {{X, "", 31, 1}, {I, "", 0, 1}, {N, "x", 0, 1}, {E, "", 0, 1}}},
      {"strings and their two escapes", "\"a b\" \"q\\\"x\" \"back\\\\slash\" \"C:\\dir\\new\" \"\"",
       {{S, "a b", 0, 1}, {S, "q\"x", 0, 1}, {S, "back\\slash", 0, 1}, {S, "C:\\dir\\new", 0, 1},
        {S, "", 0, 1}, {E, "", 0, 1}}},
      {"a string over two lines", "\"one\ntwo\" x", {{S, "one\ntwo", 0, 1}, {N, "x", 0, 2}, {E, "", 0, 2}}},
      {"single characters", "{};,:[]*/+=",
       {{C, "{", 0, 1}, {C, "}", 0, 1}, {C, ";", 0, 1}, {C, ",", 0, 1}, {C, ":", 0, 1}, {C, "[", 0, 1},
        {C, "]", 0, 1}, {C, "*", 0, 1}, {C, "/", 0, 1}, {C, "+", 0, 1}, {C, "=", 0, 1}, {E, "", 0, 1}}},
      {"comments and line numbers", "a # to the end\r\nb /* over\ntwo */ c\n/**/d#",
       {{N, "a", 0, 1}, {N, "b", 0, 2}, {N, "c", 0, 3}, {N, "d", 0, 4}, {E, "", 0, 4}}},
      {"longest name", std::string(ELEX_MAX_TOKEN_LENGTH, 'n'),
       {{N, std::string(ELEX_MAX_TOKEN_LENGTH, 'n'), 0, 1}, {E, "", 0, 1}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const int64_t live = emsc_TestLiveBlocks();
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(Scan(c.text.c_str(), nullptr, &err), c.tokens);
    EXPECT_EQ(err, nullptr);
    EXPECT_EQ(emsc_TestLiveBlocks(), live);
  }
}

TEST(ElexScanner, ErrorsAreReported) {
  struct Case {
    const char *name;
    std::string text; // through a file when it holds a NUL byte
    int32_t code;
    const char *messagePart;
  };
  const std::vector<Case> cases = {
      {"unterminated string", "a \"abc", 6, "Unterminated string starting at line 1 of the input text"},
      {"unterminated string starts on its line", "a\n\"abc\nd", 6, "starting at line 2"},
      {"escaped closing quote", "\"abc\\\"", 6, "Unterminated string"},
      {"unterminated comment", "a\n/* abc", 12, "Unterminated comment starting at line 2"},
      {"name too long", std::string(ELEX_MAX_TOKEN_LENGTH + 1, 'n'), 7, "longer than 4095"},
      {"string too long", "\"" + std::string(ELEX_MAX_TOKEN_LENGTH + 1, 's') + "\"", 7, "longer than 4095"},
      {"number too long", std::string(ELEX_MAX_TOKEN_LENGTH + 1, '1'), 7, "longer than 4095"},
      {"number out of range", "1e999", 10, "Number out of range"},
      {"control character", "a \x02", 9, "Invalid character 0x02 at line 1"},
      {"NUL byte", std::string("a\n\0b", 4), 8, "NUL byte at line 2 of \""},
      {"NUL byte in a string", std::string("\"a\0\"", 4), 8, "NUL byte in a string"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const int64_t live = emsc_TestLiveBlocks();
    Eerr_ErrorReport *err = nullptr;
    if (c.text.find('\0') != std::string::npos) {
      const std::string path = TempFile("scan.txt", c.text);
      Scan(nullptr, path.c_str(), &err);
    } else {
      Scan(c.text.c_str(), nullptr, &err);
    }
    ExpectReport(err, {"elex_Scanner", c.code, c.messagePart});
    eerr_DeleteErrorReportEx(&err);
    EXPECT_EQ(emsc_TestLiveBlocks(), live);
  }
}

TEST(ElexScanner, OpenFailures) {
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(emsc_AddressOf_elex_Scanner()(nullptr, nullptr, nullptr, 0, &err), nullptr);
  ExpectReport(err, {"elex_Scanner", 1, nullptr});
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(emsc_AddressOf_elex_Scanner()(nullptr, "/nonexistent/x.fdb", nullptr, 0, &err), nullptr);
  ExpectReport(err, {"elex_Scanner", 3, "/nonexistent/x.fdb"});
  eerr_DeleteErrorReportEx(&err);

  // A name found through a search list: the first directory that holds it.
  TempFile("listed.txt", "found");
  setenv("ELEX_TEST_LIST", ("/nonexistent;" + Scratch().str()).c_str(), 1);
  Efio_SearchList *list = efio_CreateSLFromEnv(0, "ELEX_TEST_LIST", ".", &err);
  ASSERT_NE(list, nullptr);
  std::vector<Tok> found = Scan(nullptr, "elex_test_listed.txt", &err, list);
  EXPECT_EQ(err, nullptr);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].text, "found");
  EXPECT_EQ(emsc_AddressOf_elex_Scanner()(nullptr, "elex_test_missing.txt", list, 0, &err), nullptr);
  ExpectReport(err, {"elex_Scanner", 3, "elex_test_missing.txt"});
  eerr_DeleteErrorReportEx(&err);
  efio_FreeSL(list);

  // A file larger than the first read buffer.
  std::string big;
  for (int i = 0; i < 3000; ++i) big += "tok" + std::to_string(i) + "\n";
  const std::string path = TempFile("big.txt", big);
  const std::vector<Tok> tokens = Scan(nullptr, path.c_str(), &err);
  EXPECT_EQ(err, nullptr);
  ASSERT_EQ(tokens.size(), 3001u);
  EXPECT_EQ(tokens[2999], (Tok{ELEX_TOKEN_NAME, "tok2999", 0, 3000}));
}

TEST(ElexScanner, AllocationFailuresReportAndLeakNothing) {
  const std::string path = TempFile("alloc.txt", "name \"string\" 1");
  const auto counts = taviron::testing::SweepAllocationFailures([&](Eerr_ErrorReport **err) {
    const std::vector<Tok> tokens = Scan(nullptr, path.c_str(), err);
    if (*err) return false;
    EXPECT_EQ(tokens.size(), 4u);
    return true;
  });
  EXPECT_LT(counts.heap, 20);
}

} // namespace
