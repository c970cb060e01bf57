// The table-driven LALR(1) parser and its scanner.
//
// The parser builds its tables from the grammar's rule texts on first use (LR(0) automaton, then
// LALR(1) lookaheads by propagation between the kernel items) and keeps them per grammar. The
// driver follows the classic recovery scheme: a syntax error is reported, states are popped until
// one can shift the error token, and tokens are discarded until three have been shifted again.
#include "elex.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "efio.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

// ---------------------------------------------------------------------------------------------
// Scanner

constexpr const char *kScanner = "elex_Scanner";

struct TextScanner {
  Elex_Scanner base;     // first member: the stream is handed out as an Elex_Scanner
  const char *data;      // the text scanned (the caller's or `owned`)
  size_t size;
  size_t pos;
  int32_t line;
  char *owned;           // file contents read into the heap
  char *source;          // "\"name\"" or null for a text
};

const char *SourceOf(const TextScanner *s) { return s->source ? s->source : "the input text"; }

bool IsSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(unsigned char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsNameStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80;
}
bool IsNameChar(unsigned char c) { return IsNameStart(c) || IsDigit(c) || c == '.'; }

int32_t ScanError(TextScanner *s, Eerr_ErrorReport **err, int32_t code, int32_t line,
                  const char *what) {
  lower::Report(err, kScanner, code, "%s at line %d of %s", what, static_cast<int>(line),
                SourceOf(s));
  return -1;
}

int32_t TooLong(TextScanner *s, Eerr_ErrorReport **err, int32_t line) {
  lower::Report(err, kScanner, 7, "Token longer than %d characters at line %d of %s",
                ELEX_MAX_TOKEN_LENGTH, static_cast<int>(line), SourceOf(s));
  return -1;
}

// A double from the token text [begin, end) (decimal, or hexadecimal digits when hex).
int32_t NumberValue(TextScanner *s, Eerr_ErrorReport **err, const char *begin, const char *end,
                    bool hex, Elex_Token *token) {
  if (hex) {
    uint64_t v = 0;
    const auto r = std::from_chars(begin, end, v, 16);
    if (r.ec != std::errc() || r.ptr != end) return ScanError(s, err, 10, token->line, "Number out of range");
    token->value.number = static_cast<double>(v);
    return 0;
  }
  double v = 0;
  const auto r = std::from_chars(begin, end, v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != end) return ScanError(s, err, 10, token->line, "Number out of range");
  token->value.number = v;
  return 0;
}

int32_t ScanNumber(TextScanner *s, Eerr_ErrorReport **err, Elex_Token *token) {
  const char *d = s->data;
  size_t p = s->pos;
  const size_t start = p;
  if (d[p] == '0' && p + 2 < s->size && (d[p + 1] == 'x' || d[p + 1] == 'X') &&
      IsHexDigit(static_cast<unsigned char>(d[p + 2]))) {
    p += 2;
    while (p < s->size && IsHexDigit(static_cast<unsigned char>(d[p]))) ++p;
    if (p - start > ELEX_MAX_TOKEN_LENGTH) return TooLong(s, err, token->line);
    token->kind = ELEX_TOKEN_NUMBER;
    s->pos = p;
    return NumberValue(s, err, d + start + 2, d + p, true, token);
  }
  bool isFloat = false;
  while (p < s->size && IsDigit(static_cast<unsigned char>(d[p]))) ++p;
  if (p < s->size && d[p] == '.') {
    isFloat = true;
    ++p;
    while (p < s->size && IsDigit(static_cast<unsigned char>(d[p]))) ++p;
  }
  if (p < s->size && (d[p] == 'e' || d[p] == 'E')) {
    size_t q = p + 1;
    if (q < s->size && (d[q] == '+' || d[q] == '-')) ++q;
    if (q < s->size && IsDigit(static_cast<unsigned char>(d[q]))) {
      isFloat = true;
      p = q;
      while (p < s->size && IsDigit(static_cast<unsigned char>(d[p]))) ++p;
    }
  }
  if (p - start > ELEX_MAX_TOKEN_LENGTH) return TooLong(s, err, token->line);
  token->kind = isFloat ? ELEX_TOKEN_FLOAT : ELEX_TOKEN_INTEGER;
  s->pos = p;
  return NumberValue(s, err, d + start, d + p, false, token);
}

// A string in double quotes. The only escapes are \" and \\; any other backslash stands for
// itself, so that file names with backslashes need no doubling. Strings may span lines.
int32_t ScanString(TextScanner *s, Eerr_ErrorReport **err, Elex_Token *token) {
  const char *d = s->data;
  size_t p = s->pos + 1;
  size_t length = 0;
  int32_t lines = 0;
  for (;;) {
    if (p >= s->size) return ScanError(s, err, 6, token->line, "Unterminated string starting");
    const char c = d[p];
    if (c == '"') break;
    if (c == '\0') return ScanError(s, err, 8, token->line + lines, "NUL byte in a string");
    if (c == '\n') ++lines;
    if (c == '\\' && p + 1 < s->size && (d[p + 1] == '"' || d[p + 1] == '\\')) ++p;
    ++p;
    if (++length > ELEX_MAX_TOKEN_LENGTH) return TooLong(s, err, token->line);
  }
  auto *text = static_cast<char *>(emsc_HeapMalloc(length + 1));
  if (!text) return ScanError(s, err, 11, token->line, "Out of memory for a string");
  size_t n = 0;
  for (size_t q = s->pos + 1; q < p; ++q) {
    if (d[q] == '\\' && (d[q + 1] == '"' || d[q + 1] == '\\')) ++q;
    text[n++] = d[q];
  }
  token->kind = ELEX_TOKEN_STRING;
  token->value.string = text;
  s->line += lines;
  s->pos = p + 1;
  return 0;
}

int32_t ScannerNext(Elex_Scanner *base, Elex_Token *token, Eerr_ErrorReport **err) {
  auto *s = reinterpret_cast<TextScanner *>(base);
  const char *d = s->data;
  std::memset(token, 0, sizeof *token);
  // White space and comments: "#" to the end of the line, "/*" to "*/".
  for (;;) {
    if (s->pos >= s->size) {
      token->kind = ELEX_TOKEN_END;
      token->line = s->line;
      return 0;
    }
    const unsigned char c = static_cast<unsigned char>(d[s->pos]);
    if (c == '\n') {
      ++s->line;
      ++s->pos;
    } else if (IsSpace(c)) {
      ++s->pos;
    } else if (c == '#') {
      while (s->pos < s->size && d[s->pos] != '\n') ++s->pos;
    } else if (c == '/' && s->pos + 1 < s->size && d[s->pos + 1] == '*') {
      const int32_t startLine = s->line;
      size_t p = s->pos + 2;
      int32_t lines = 0;
      while (p + 1 < s->size && !(d[p] == '*' && d[p + 1] == '/')) {
        if (d[p] == '\n') ++lines;
        ++p;
      }
      if (p + 1 >= s->size) return ScanError(s, err, 12, startLine, "Unterminated comment starting");
      s->line += lines;
      s->pos = p + 2;
    } else {
      break;
    }
  }
  token->line = s->line;
  const unsigned char c = static_cast<unsigned char>(d[s->pos]);
  if (c == '\0') return ScanError(s, err, 8, s->line, "NUL byte");
  if (IsNameStart(c)) {
    size_t p = s->pos;
    while (p < s->size && IsNameChar(static_cast<unsigned char>(d[p]))) ++p;
    if (p - s->pos > ELEX_MAX_TOKEN_LENGTH) return TooLong(s, err, s->line);
    char *text = lower::HeapCopy(d + s->pos, p - s->pos);
    if (!text) return ScanError(s, err, 11, s->line, "Out of memory for a name");
    token->kind = ELEX_TOKEN_NAME;
    token->value.string = text;
    s->pos = p;
    return 0;
  }
  if (IsDigit(c) || (c == '.' && s->pos + 1 < s->size && IsDigit(static_cast<unsigned char>(d[s->pos + 1]))))
    return ScanNumber(s, err, token);
  if (c == '"') return ScanString(s, err, token);
  if (c < 0x20 || c == 0x7f) {
    lower::Report(err, kScanner, 9, "Invalid character 0x%02x at line %d of %s", c,
                  static_cast<int>(s->line), SourceOf(s));
    return -1;
  }
  token->kind = ELEX_TOKEN_CHARACTER;
  token->character = c;
  ++s->pos;
  return 0;
}

void ScannerClose(Elex_Scanner *base) {
  if (!base) return;
  auto *s = reinterpret_cast<TextScanner *>(base);
  emsc_HeapFree(s->owned);
  emsc_HeapFree(s->source);
  emsc_HeapFree(s);
}

// Opens the named source file. The search list is where the file is looked for; until search
// lists can be walked here the name is opened as given.
std::FILE *OpenSourceFile(const char *fileName, void *searchList, Eerr_ErrorReport **err) {
  if (searchList) {
    std::FILE *file = efio_SearchListOpen(static_cast<const Efio_SearchList *>(searchList), fileName,
                                          "rb", 0, err);
    if (!file) lower::Report(err, kScanner, 3, "Unable to open file \"%s\"", fileName);
    return file;
  }
  std::FILE *file = std::fopen(fileName, "rb");
  if (!file)
    lower::Report(err, kScanner, 3, "Unable to open file \"%s\": %s", fileName, std::strerror(errno));
  return file;
}

// The whole file in a heap buffer (one spare byte, zero).
bool ReadWholeFile(std::FILE *file, const char *fileName, char **data, size_t *size,
                   Eerr_ErrorReport **err) {
  size_t capacity = 4096, used = 0;
  char *buffer = static_cast<char *>(emsc_HeapMalloc(capacity));
  for (;;) {
    if (!buffer) {
      lower::Report(err, kScanner, 4, "Out of memory reading file \"%s\"", fileName);
      return false;
    }
    used += std::fread(buffer + used, 1, capacity - 1 - used, file);
    if (std::ferror(file)) {
      emsc_HeapFree(buffer);
      lower::Report(err, kScanner, 5, "Error reading file \"%s\"", fileName);
      return false;
    }
    if (used < capacity - 1) break;
    char *bigger = static_cast<char *>(emsc_HeapRealloc(buffer, capacity * 2));
    if (!bigger) emsc_HeapFree(buffer);
    buffer = bigger;
    capacity *= 2;
  }
  *data = buffer;
  *size = used;
  return true;
}

Elex_Scanner *ScannerOpen(const char *text, const char *fileName, void *searchList,
                          int32_t /*flags*/, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!text && !fileName) {
    lower::Report(err, kScanner, 1, "Neither an input text nor a file name given");
    return nullptr;
  }
  const std::string label = fileName ? lower::Format("\"%s\"", fileName) : std::string(); // before s: may throw
  auto *s = static_cast<TextScanner *>(emsc_HeapMalloc(sizeof(TextScanner)));
  if (s && fileName) {
    s->source = lower::HeapCopy(label.data(), label.size());
    if (!s->source) emsc_HeapFreeEx(&s);
  }
  if (!s) {
    lower::Report(err, kScanner, 2, "Out of memory opening the scanner");
    return nullptr;
  }
  s->base.next = ScannerNext;
  s->base.close = ScannerClose;
  s->line = 1;
  if (text) {
    s->data = text;
    s->size = std::strlen(text);
    return &s->base;
  }
  std::FILE *file = OpenSourceFile(fileName, searchList, err);
  const bool read = file && ReadWholeFile(file, fileName, &s->owned, &s->size, err);
  if (file) std::fclose(file);
  if (!read) {
    ScannerClose(&s->base);
    return nullptr;
  }
  s->data = s->owned;
  return &s->base;
}

// ---------------------------------------------------------------------------------------------
// Tables

constexpr const char *kParse = "elex_Parse";
constexpr int32_t kDefaultInitialDepth = 200;
constexpr int32_t kDefaultMaximumDepth = 1000;
constexpr int32_t kAccept = INT32_MAX;

// Fixed terminals; characters and keyword tokens follow.
enum : int { kEnd, kError, kIllegal, kName, kString, kInteger, kNumber, kFloat, kFixedTerminals };
const char *const kFixedNames[] = {"$end", "error", "$illegal", "NAME", "STRING", "INTEGER", "NUMBER", "FLOAT"};

struct Tables {
  // What the tables were built from, to tell a changed grammar at the same address.
  std::vector<std::string> ruleTexts;
  std::vector<std::pair<std::string, std::string>> keywordTexts;

  std::vector<std::string> names; // terminals [0, terminals), then nonterminals
  int terminals = 0;
  int charTerminal[256] = {};
  std::unordered_map<std::string, int> keywordTerminal; // lower-case lexeme -> terminal
  std::unordered_map<int, std::string> terminalLexeme;  // for messages
  std::vector<int> lhs;                                 // by rule number (0 = the augmented rule)
  std::vector<std::vector<int>> rhs;
  int states = 0;
  std::vector<int32_t> action;        // states x terminals: 0 error, s + 1 shift, -r reduce, kAccept
  std::vector<int32_t> gotoState;     // states x nonterminals
  std::vector<int32_t> defaultReduce; // rule reduced without looking ahead, or 0
  // By nonterminal: the most symbols that stand before it in a right side. The action of an empty
  // rule (a mid-rule action) may take over that many values below it.
  std::vector<int32_t> reach;
  int shiftReduceConflicts = 0;

  int NonterminalCount() const { return static_cast<int>(names.size()) - terminals; }
};

bool SameSource(const Tables &t, const Elex_Grammar *g) {
  if (t.ruleTexts.size() != static_cast<size_t>(g->ruleCount) ||
      t.keywordTexts.size() != static_cast<size_t>(g->keywordCount))
    return false;
  for (int32_t i = 0; i < g->ruleCount; ++i)
    if (!g->rules[i] || t.ruleTexts[static_cast<size_t>(i)] != g->rules[i]) return false;
  for (int32_t i = 0; i < g->keywordCount; ++i) {
    const Elex_Keyword &k = g->keywords[i];
    if (!k.lexeme || !k.token || t.keywordTexts[static_cast<size_t>(i)].first != k.lexeme ||
        t.keywordTexts[static_cast<size_t>(i)].second != k.token)
      return false;
  }
  return true;
}

std::string Lower(const char *text) {
  std::string s(text);
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool IsCharLiteral(const std::string &s) { return s.size() == 3 && s[0] == '\'' && s[2] == '\''; }

std::vector<std::string> SplitBlanks(const std::string &text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    size_t j = i;
    while (j < text.size() && !std::isspace(static_cast<unsigned char>(text[j]))) ++j;
    if (j > i) words.push_back(text.substr(i, j - i));
    i = j;
  }
  return words;
}

using Bits = std::vector<uint64_t>;
bool Merge(Bits &into, const Bits &from) {
  bool changed = false;
  for (size_t i = 0; i < into.size(); ++i) {
    const uint64_t v = into[i] | from[i];
    if (v != into[i]) {
      into[i] = v;
      changed = true;
    }
  }
  return changed;
}
bool Test(const Bits &b, int i) { return (b[static_cast<size_t>(i) / 64] >> (i % 64)) & 1u; }
void Set(Bits &b, int i) { b[static_cast<size_t>(i) / 64] |= uint64_t{1} << (i % 64); }

class TableBuilder {
public:
  TableBuilder(const Elex_Grammar *g, Tables &t) : g_(g), t_(t) {}

  // Fills the tables; false with a message on a bad grammar.
  bool Build(std::string &message) {
    return Symbols(message) && Automaton() && Lookaheads() && Actions(message);
  }

private:
  const Elex_Grammar *g_;
  Tables &t_;
  std::map<std::string, int> terminalByName_;
  std::vector<std::vector<int>> rulesOf_; // nonterminal index -> rules
  std::vector<bool> nullable_;
  std::vector<Bits> first_; // by nonterminal index
  size_t words_ = 0;        // words of a terminal bit set

  struct Item {
    int rule, dot;
    bool operator<(const Item &o) const { return rule != o.rule ? rule < o.rule : dot < o.dot; }
    bool operator==(const Item &o) const { return rule == o.rule && dot == o.dot; }
  };
  std::vector<std::vector<Item>> kernels_;
  std::vector<std::vector<Bits>> kernelLookahead_;
  std::vector<std::map<int, int>> transitions_; // state -> symbol -> state
  std::vector<std::vector<Bits>> reduceLookahead_; // state -> completed item lookaheads
  std::vector<std::vector<int>> reduceRule_;

  bool IsTerminal(int symbol) const { return symbol < t_.terminals; }
  int Nt(int symbol) const { return symbol - t_.terminals; }

  int AddTerminal(const std::string &name) {
    auto it = terminalByName_.find(name);
    if (it != terminalByName_.end()) return it->second;
    const int id = static_cast<int>(t_.names.size());
    t_.names.push_back(name);
    terminalByName_[name] = id;
    return id;
  }

  bool Symbols(std::string &message) {
    const std::string grammar = g_->name ? g_->name : "(unnamed)";
    for (int i = 0; i < kFixedTerminals; ++i) AddTerminal(kFixedNames[i]);
    // The left sides first: every name that has a rule is a nonterminal.
    std::vector<std::string> lefts;
    std::vector<std::vector<std::string>> rights;
    for (int32_t r = 0; r < g_->ruleCount; ++r) {
      const std::string text = g_->rules[r];
      const size_t colon = text.find(':');
      const std::vector<std::string> left =
          colon == std::string::npos ? std::vector<std::string>{} : SplitBlanks(text.substr(0, colon));
      if (left.size() != 1 || IsCharLiteral(left[0])) {
        message = lower::Format("Grammar %s: rule %d \"%s\" has no left side", grammar.c_str(), r + 1,
                                text.c_str());
        return false;
      }
      lefts.push_back(left[0]);
      rights.push_back(SplitBlanks(text.substr(colon + 1)));
    }
    // Terminals: characters of the rules and of the keyword table, keyword tokens.
    for (const auto &right : rights)
      for (const auto &w : right)
        if (IsCharLiteral(w)) AddTerminal(w);
    for (int32_t k = 0; k < g_->keywordCount; ++k) {
      const std::string token = g_->keywords[k].token;
      const bool fixed = terminalByName_.count(token) && terminalByName_[token] < kFixedTerminals;
      if (token.empty() || fixed || std::find(lefts.begin(), lefts.end(), token) != lefts.end() ||
          token.find_first_of(" \t\n") != std::string::npos) {
        message = lower::Format("Grammar %s: keyword \"%s\" has the invalid token \"%s\"", grammar.c_str(),
                                g_->keywords[k].lexeme, token.c_str());
        return false;
      }
      const int id = AddTerminal(token);
      t_.keywordTerminal[Lower(g_->keywords[k].lexeme)] = id;
      t_.terminalLexeme.emplace(id, g_->keywords[k].lexeme);
    }
    for (int i = 0; i < kFixedTerminals; ++i) {
      if (std::find(lefts.begin(), lefts.end(), kFixedNames[i]) != lefts.end()) {
        message = lower::Format("Grammar %s: the token %s has a rule", grammar.c_str(), kFixedNames[i]);
        return false;
      }
    }
    t_.terminals = static_cast<int>(t_.names.size());
    for (int c = 0; c < 256; ++c) t_.charTerminal[c] = kIllegal;
    for (int id = kFixedTerminals; id < t_.terminals; ++id)
      if (IsCharLiteral(t_.names[static_cast<size_t>(id)]))
        t_.charTerminal[static_cast<unsigned char>(t_.names[static_cast<size_t>(id)][1])] = id;
    // Nonterminals: $accept, then the left sides in order of appearance.
    std::map<std::string, int> nonterminal;
    t_.names.push_back("$accept");
    for (const auto &l : lefts)
      if (!nonterminal.count(l)) {
        nonterminal[l] = static_cast<int>(t_.names.size());
        t_.names.push_back(l);
      }
    rulesOf_.assign(static_cast<size_t>(t_.NonterminalCount()), {});
    // Rule 0: $accept: start $end.
    t_.lhs.push_back(t_.terminals);
    t_.rhs.push_back({nonterminal[lefts[0]], kEnd});
    rulesOf_[0].push_back(0);
    for (size_t r = 0; r < lefts.size(); ++r) {
      std::vector<int> symbols;
      for (const auto &w : rights[r]) {
        if (terminalByName_.count(w)) {
          if (terminalByName_[w] == kEnd || terminalByName_[w] == kIllegal) {
            message = lower::Format("Grammar %s: rule %d uses %s", grammar.c_str(), static_cast<int>(r + 1),
                                    w.c_str());
            return false;
          }
          symbols.push_back(terminalByName_[w]);
        } else if (nonterminal.count(w)) {
          symbols.push_back(nonterminal[w]);
        } else {
          message = lower::Format("Grammar %s: symbol %s of rule %d has no rule", grammar.c_str(), w.c_str(),
                                  static_cast<int>(r + 1));
          return false;
        }
      }
      const int left = nonterminal[lefts[r]];
      t_.lhs.push_back(left);
      t_.rhs.push_back(std::move(symbols));
      rulesOf_[static_cast<size_t>(Nt(left))].push_back(static_cast<int>(r + 1));
    }
    t_.reach.assign(static_cast<size_t>(t_.NonterminalCount()), 0);
    for (const auto &right : t_.rhs)
      for (size_t i = 0; i < right.size(); ++i)
        if (!IsTerminal(right[i])) {
          int32_t &r = t_.reach[static_cast<size_t>(Nt(right[i]))];
          r = std::max(r, static_cast<int32_t>(i));
        }
    words_ = (static_cast<size_t>(t_.terminals) + 63) / 64;
    // Nullable nonterminals and FIRST sets.
    const size_t nts = static_cast<size_t>(t_.NonterminalCount());
    nullable_.assign(nts, false);
    first_.assign(nts, Bits(words_, 0));
    for (bool changed = true; changed;) {
      changed = false;
      for (size_t r = 0; r < t_.lhs.size(); ++r) {
        const size_t a = static_cast<size_t>(Nt(t_.lhs[r]));
        bool all = true;
        for (int sym : t_.rhs[r]) {
          if (IsTerminal(sym)) {
            if (!Test(first_[a], sym)) {
              Set(first_[a], sym);
              changed = true;
            }
            all = false;
            break;
          }
          changed |= Merge(first_[a], first_[static_cast<size_t>(Nt(sym))]);
          if (!nullable_[static_cast<size_t>(Nt(sym))]) {
            all = false;
            break;
          }
        }
        if (all && !nullable_[a]) {
          nullable_[a] = true;
          changed = true;
        }
      }
    }
    return true;
  }

  // FIRST of rhs[rule][from...] into bits; true when that tail can be empty.
  bool FirstOfTail(int rule, int from, Bits &bits) const {
    const auto &r = t_.rhs[static_cast<size_t>(rule)];
    for (size_t i = static_cast<size_t>(from); i < r.size(); ++i) {
      if (IsTerminal(r[i])) {
        Set(bits, r[i]);
        return false;
      }
      Merge(bits, first_[static_cast<size_t>(Nt(r[i]))]);
      if (!nullable_[static_cast<size_t>(Nt(r[i]))]) return false;
    }
    return true;
  }

  int SymbolAfterDot(const Item &it) const {
    const auto &r = t_.rhs[static_cast<size_t>(it.rule)];
    return static_cast<size_t>(it.dot) < r.size() ? r[static_cast<size_t>(it.dot)] : -1;
  }

  // The nonterminals whose rules enter the closure of a kernel.
  std::vector<int> ClosureNonterminals(const std::vector<Item> &kernel) const {
    std::vector<bool> seen(static_cast<size_t>(t_.NonterminalCount()), false);
    std::vector<int> order;
    auto visit = [&](int sym) {
      if (sym >= 0 && !IsTerminal(sym) && !seen[static_cast<size_t>(Nt(sym))]) {
        seen[static_cast<size_t>(Nt(sym))] = true;
        order.push_back(sym);
      }
    };
    for (const Item &it : kernel) visit(SymbolAfterDot(it));
    for (size_t i = 0; i < order.size(); ++i)
      for (int r : rulesOf_[static_cast<size_t>(Nt(order[i]))]) visit(SymbolAfterDot({r, 0}));
    return order;
  }

  bool Automaton() {
    std::map<std::vector<Item>, int> index;
    kernels_.push_back({{0, 0}});
    index[kernels_[0]] = 0;
    for (size_t s = 0; s < kernels_.size(); ++s) {
      std::vector<Item> items = kernels_[s];
      for (int nt : ClosureNonterminals(kernels_[s]))
        for (int r : rulesOf_[static_cast<size_t>(Nt(nt))]) items.push_back({r, 0});
      std::map<int, std::vector<Item>> next;
      for (const Item &it : items) {
        const int sym = SymbolAfterDot(it);
        if (sym >= 0 && sym != kEnd) next[sym].push_back({it.rule, it.dot + 1});
      }
      std::map<int, int> out;
      for (auto &[sym, kernel] : next) {
        std::sort(kernel.begin(), kernel.end());
        kernel.erase(std::unique(kernel.begin(), kernel.end()), kernel.end());
        auto found = index.find(kernel);
        int target;
        if (found == index.end()) {
          target = static_cast<int>(kernels_.size());
          index[kernel] = target;
          kernels_.push_back(kernel);
        } else {
          target = found->second;
        }
        out[sym] = target;
      }
      transitions_.push_back(std::move(out));
    }
    t_.states = static_cast<int>(kernels_.size());
    return true;
  }

  // Lookaheads of the closure of state s, given its kernel lookaheads: per closure nonterminal.
  std::map<int, Bits> ClosureLookaheads(size_t s, const std::vector<int> &closure) const {
    std::map<int, Bits> la;
    for (int nt : closure) la[nt] = Bits(words_, 0);
    for (bool changed = true; changed;) {
      changed = false;
      const auto &kernel = kernels_[s];
      for (size_t i = 0; i < kernel.size(); ++i) {
        const int sym = SymbolAfterDot(kernel[i]);
        if (sym < 0 || IsTerminal(sym)) continue;
        Bits bits(words_, 0);
        if (FirstOfTail(kernel[i].rule, kernel[i].dot + 1, bits)) Merge(bits, kernelLookahead_[s][i]);
        changed |= Merge(la[sym], bits);
      }
      for (int nt : closure)
        for (int r : rulesOf_[static_cast<size_t>(Nt(nt))]) {
          const int sym = SymbolAfterDot({r, 0});
          if (sym < 0 || IsTerminal(sym)) continue;
          Bits bits(words_, 0);
          if (FirstOfTail(r, 1, bits)) Merge(bits, la[nt]);
          changed |= Merge(la[sym], bits);
        }
    }
    return la;
  }

  size_t KernelIndex(size_t state, const Item &it) const {
    const auto &k = kernels_[state];
    return static_cast<size_t>(std::lower_bound(k.begin(), k.end(), it) - k.begin());
  }

  bool Lookaheads() {
    kernelLookahead_.resize(kernels_.size());
    for (size_t s = 0; s < kernels_.size(); ++s) kernelLookahead_[s].assign(kernels_[s].size(), Bits(words_, 0));
    std::vector<std::vector<int>> closures(kernels_.size());
    for (size_t s = 0; s < kernels_.size(); ++s) closures[s] = ClosureNonterminals(kernels_[s]);
    for (bool changed = true; changed;) {
      changed = false;
      for (size_t s = 0; s < kernels_.size(); ++s) {
        const auto la = ClosureLookaheads(s, closures[s]);
        auto propagate = [&](const Item &it, const Bits &bits) {
          const int sym = SymbolAfterDot(it);
          if (sym < 0 || sym == kEnd) return;
          const size_t target = static_cast<size_t>(transitions_[s].at(sym));
          changed |= Merge(kernelLookahead_[target][KernelIndex(target, {it.rule, it.dot + 1})], bits);
        };
        for (size_t i = 0; i < kernels_[s].size(); ++i) propagate(kernels_[s][i], kernelLookahead_[s][i]);
        for (int nt : closures[s])
          for (int r : rulesOf_[static_cast<size_t>(Nt(nt))]) propagate({r, 0}, la.at(nt));
      }
    }
    // Completed items and their lookaheads.
    reduceLookahead_.resize(kernels_.size());
    reduceRule_.resize(kernels_.size());
    for (size_t s = 0; s < kernels_.size(); ++s) {
      for (size_t i = 0; i < kernels_[s].size(); ++i)
        if (SymbolAfterDot(kernels_[s][i]) < 0) {
          reduceRule_[s].push_back(kernels_[s][i].rule);
          reduceLookahead_[s].push_back(kernelLookahead_[s][i]);
        }
      const auto la = ClosureLookaheads(s, closures[s]);
      for (int nt : closures[s])
        for (int r : rulesOf_[static_cast<size_t>(Nt(nt))])
          if (t_.rhs[static_cast<size_t>(r)].empty()) {
            reduceRule_[s].push_back(r);
            reduceLookahead_[s].push_back(la.at(nt));
          }
    }
    return true;
  }

  bool Actions(std::string &message) {
    const size_t nt = static_cast<size_t>(t_.terminals);
    const size_t nn = static_cast<size_t>(t_.NonterminalCount());
    t_.action.assign(static_cast<size_t>(t_.states) * nt, 0);
    t_.gotoState.assign(static_cast<size_t>(t_.states) * nn, -1);
    t_.defaultReduce.assign(static_cast<size_t>(t_.states), 0);
    for (size_t s = 0; s < static_cast<size_t>(t_.states); ++s) {
      int32_t *row = &t_.action[s * nt];
      bool shifts = false;
      for (const auto &[sym, target] : transitions_[s]) {
        if (IsTerminal(sym)) {
          row[sym] = target + 1;
          shifts = true;
        } else {
          t_.gotoState[s * nn + static_cast<size_t>(Nt(sym))] = target;
        }
      }
      for (const Item &it : kernels_[s])
        if (it.rule == 0 && it.dot == 1) {
          row[kEnd] = kAccept;
          shifts = true;
        }
      // Reductions; rules in number order so that a conflict names the lower rule first.
      std::vector<size_t> order(reduceRule_[s].size());
      for (size_t i = 0; i < order.size(); ++i) order[i] = i;
      std::sort(order.begin(), order.end(),
                [&](size_t a, size_t b) { return reduceRule_[s][a] < reduceRule_[s][b]; });
      for (size_t i : order) {
        const int rule = reduceRule_[s][i];
        for (int term = 0; term < t_.terminals; ++term) {
          if (!Test(reduceLookahead_[s][i], term)) continue;
          int32_t &cell = row[term];
          if (cell == 0) {
            cell = -rule;
          } else if (cell > 0) {
            ++t_.shiftReduceConflicts; // the shift wins
          } else if (cell != -rule) {
            message = lower::Format("Grammar %s: rules %d and %d conflict on %s (reduce/reduce)",
                                    g_->name ? g_->name : "(unnamed)", -cell, rule,
                                    t_.names[static_cast<size_t>(term)].c_str());
            return false;
          }
        }
      }
      // A state whose only move is one reduction reduces without reading a token.
      if (!shifts && reduceRule_[s].size() == 1) t_.defaultReduce[s] = reduceRule_[s][0];
    }
    return true;
  }
};

std::mutex cacheMutex;
std::map<const Elex_Grammar *, std::shared_ptr<const Tables>> *cache = nullptr;

// The tables of the grammar, built on first use.
std::shared_ptr<const Tables> TablesOf(const Elex_Grammar *g, Eerr_ErrorReport **err) {
  const std::string name = g->name ? g->name : "(unnamed)";
  if (g->ruleCount < 1 || !g->rules || (g->keywordCount > 0 && !g->keywords) || g->keywordCount < 0) {
    lower::Report(err, kParse, 2, "Grammar %s has no rules or an invalid keyword table", name.c_str());
    return nullptr;
  }
  for (int32_t i = 0; i < g->ruleCount; ++i)
    if (!g->rules[i]) {
      lower::Report(err, kParse, 2, "Grammar %s: rule %d is missing", name.c_str(), static_cast<int>(i + 1));
      return nullptr;
    }
  for (int32_t i = 0; i < g->keywordCount; ++i)
    if (!g->keywords[i].lexeme || !g->keywords[i].token) {
      lower::Report(err, kParse, 2, "Grammar %s: keyword %d is incomplete", name.c_str(), static_cast<int>(i + 1));
      return nullptr;
    }
  std::lock_guard<std::mutex> lock(cacheMutex);
  try {
    if (!cache) cache = new std::map<const Elex_Grammar *, std::shared_ptr<const Tables>>;
    auto found = cache->find(g);
    if (found != cache->end() && SameSource(*found->second, g)) return found->second;
    auto tables = std::make_shared<Tables>();
    for (int32_t i = 0; i < g->ruleCount; ++i) tables->ruleTexts.emplace_back(g->rules[i]);
    for (int32_t i = 0; i < g->keywordCount; ++i)
      tables->keywordTexts.emplace_back(g->keywords[i].lexeme, g->keywords[i].token);
    std::string message;
    if (!TableBuilder(g, *tables).Build(message)) {
      lower::Report(err, kParse, 2, "%s", message.c_str());
      return nullptr;
    }
    if (tables->shiftReduceConflicts)
      eerr_MessageLog(EERR_VERBOSE, "elex: grammar %s has %d shift/reduce conflicts, resolved by shifting",
                      name.c_str(), tables->shiftReduceConflicts);
    (*cache)[g] = tables;
    return tables;
  } catch (const std::bad_alloc &) {
    lower::Report(err, kParse, 2, "Out of memory building the tables of grammar %s", name.c_str());
    return nullptr;
  }
}

// ---------------------------------------------------------------------------------------------
// Driver

class Parser {
public:
  Parser(const Elex_Grammar *g, const Tables &t, Elex_Scanner *scanner, void *local, const char *fileName,
         Eerr_ErrorReport **pending)
      : g_(g), t_(t), scanner_(scanner), local_(local), pending_(pending) {
    source_ = fileName ? lower::Format("\"%s\"", fileName) : std::string("the input text");
    initialDepth_ = g->initialDepth > 0 ? g->initialDepth : kDefaultInitialDepth;
    maximumDepth_ = g->maximumDepth > 0 ? g->maximumDepth : kDefaultMaximumDepth;
    if (initialDepth_ > maximumDepth_) initialDepth_ = maximumDepth_;
  }
  ~Parser() {
    while (size_ > 0) Pop();
    DropLookahead();
    emsc_HeapFree(states_);
    emsc_HeapFree(values_);
    emsc_HeapFree(owned_);
  }
  Parser(const Parser &) = delete;
  Parser &operator=(const Parser &) = delete;

  // The parse result; *failed tells a failure from a null result.
  void *Run(bool *failed) {
    *failed = true;
    if (!Push(0, Elex_Value{}, false)) return nullptr;
    int errorStatus = 0;
    for (;;) {
      const int state = states_[size_ - 1];
      int rule = t_.defaultReduce[static_cast<size_t>(state)];
      if (!rule) {
        if (!haveLookahead_ && !Read()) return nullptr;
        const int32_t act = Action(state, lookahead_);
        if (act == kAccept) {
          *failed = false;
          return values_[size_ - 1].pointer;
        }
        if (act > 0) {
          if (!Push(act - 1, token_.value, ownsString_)) return nullptr;
          haveLookahead_ = false;
          ownsString_ = false;
          if (errorStatus > 0) --errorStatus;
          continue;
        }
        if (act == 0) {
          if (!Recover(errorStatus)) return nullptr;
          errorStatus = 3;
          continue;
        }
        rule = -act;
      }
      void *result = nullptr;
      const int32_t code = Reduce(rule, &result);
      if (code == ELEX_STOP) {
        *failed = false;
        return result;
      }
      if (code != ELEX_CONTINUE) return nullptr;
    }
  }

private:
  const Elex_Grammar *g_;
  const Tables &t_;
  Elex_Scanner *scanner_;
  void *local_;
  Eerr_ErrorReport **pending_;
  std::string source_;
  int32_t initialDepth_ = 0, maximumDepth_ = 0;

  int32_t *states_ = nullptr;
  Elex_Value *values_ = nullptr;
  uint8_t *owned_ = nullptr; // the entry holds a token string not handed to an action
  int32_t size_ = 0, capacity_ = 0;

  bool haveLookahead_ = false;
  int lookahead_ = kEnd;
  Elex_Token token_{};
  bool ownsString_ = false;
  std::string lookaheadText_;

  int32_t Action(int state, int terminal) const {
    return t_.action[static_cast<size_t>(state) * static_cast<size_t>(t_.terminals) + static_cast<size_t>(terminal)];
  }

  bool Push(int state, Elex_Value value, bool owned) {
    if (size_ == capacity_) {
      if (capacity_ >= maximumDepth_) {
        lower::Report(pending_, kParse, 7, "Parser stack overflow (more than %d entries) at line %d of %s",
                      static_cast<int>(maximumDepth_), static_cast<int>(token_.line), source_.c_str());
        return false;
      }
      const int32_t grown = capacity_ == 0 ? initialDepth_ : std::min(capacity_ * 2, maximumDepth_);
      auto *s = static_cast<int32_t *>(emsc_HeapRealloc(states_, sizeof(int32_t) * static_cast<size_t>(grown)));
      if (s) states_ = s;
      auto *v = s ? static_cast<Elex_Value *>(emsc_HeapRealloc(values_, sizeof(Elex_Value) * static_cast<size_t>(grown)))
                  : nullptr;
      if (v) values_ = v;
      auto *o = v ? static_cast<uint8_t *>(emsc_HeapRealloc(owned_, static_cast<size_t>(grown))) : nullptr;
      if (!o) {
        lower::Report(pending_, kParse, 8, "Out of memory for the parser stack");
        return false;
      }
      owned_ = o;
      capacity_ = grown;
    }
    states_[size_] = state;
    values_[size_] = value;
    owned_[size_] = owned ? 1 : 0;
    ++size_;
    return true;
  }

  void Pop() {
    --size_;
    if (owned_[size_]) emsc_HeapFree(values_[size_].string);
  }

  void DropLookahead() {
    if (haveLookahead_ && ownsString_) emsc_HeapFree(token_.value.string);
    haveLookahead_ = false;
    ownsString_ = false;
  }

  bool Read() {
    if (scanner_->next(scanner_, &token_, pending_) != 0) {
      lower::Report(pending_, kParse, 6, "Error returned from elex_Scanner");
      return false;
    }
    haveLookahead_ = true;
    ownsString_ = false;
    lookaheadText_.clear();
    switch (token_.kind) {
    case ELEX_TOKEN_END: lookahead_ = kEnd; break;
    case ELEX_TOKEN_NAME: {
      ownsString_ = true;
      const auto kw = t_.keywordTerminal.find(Lower(token_.value.string));
      if (kw != t_.keywordTerminal.end()) {
        lookaheadText_ = token_.value.string;
        emsc_HeapFree(token_.value.string);
        token_.value = Elex_Value{};
        ownsString_ = false;
        lookahead_ = kw->second;
      } else {
        lookahead_ = kName;
      }
      break;
    }
    case ELEX_TOKEN_STRING:
      lookahead_ = kString;
      ownsString_ = true;
      break;
    case ELEX_TOKEN_INTEGER: lookahead_ = kInteger; break;
    case ELEX_TOKEN_NUMBER: lookahead_ = kNumber; break;
    case ELEX_TOKEN_FLOAT: lookahead_ = kFloat; break;
    case ELEX_TOKEN_CHARACTER:
      lookahead_ = t_.charTerminal[static_cast<unsigned char>(token_.character)];
      break;
    default:
      lower::Report(pending_, kParse, 6, "The scanner delivered the unknown token class %d", static_cast<int>(token_.kind));
      haveLookahead_ = false;
      return false;
    }
    return true;
  }

  std::string Describe() const {
    switch (token_.kind) {
    case ELEX_TOKEN_END: return "end of input";
    case ELEX_TOKEN_NAME:
      return ownsString_ ? lower::Format("name %.40s", token_.value.string)
                         : lower::Format("keyword %.40s", lookaheadText_.c_str());
    case ELEX_TOKEN_STRING: return lower::Format("string \"%.40s\"", token_.value.string);
    case ELEX_TOKEN_INTEGER: return lower::Format("integer %.17g", token_.value.number);
    case ELEX_TOKEN_NUMBER: return lower::Format("number %.17g", token_.value.number);
    case ELEX_TOKEN_FLOAT: return lower::Format("number %.17g", token_.value.number);
    default:
      return token_.character > 0x20 && token_.character < 0x7f
                 ? lower::Format("'%c'", static_cast<char>(token_.character))
                 : lower::Format("character 0x%02x", static_cast<unsigned>(token_.character));
    }
  }

  // Error recovery; false when the parse must end.
  bool Recover(int errorStatus) {
    if (errorStatus == 0)
      lower::Report(pending_, kParse, 5, "Syntax error at line %d of %s: unexpected %s", static_cast<int>(token_.line),
                    source_.c_str(), Describe().c_str());
    if (errorStatus == 3) {
      if (lookahead_ == kEnd) return false;
      DropLookahead();
    }
    for (;;) {
      const int32_t act = Action(states_[size_ - 1], kError);
      if (act > 0 && act != kAccept) return Push(act - 1, Elex_Value{}, false);
      if (size_ == 1) return false;
      Pop();
    }
  }

  int32_t Reduce(int rule, void **result) {
    const int32_t length = static_cast<int32_t>(t_.rhs[static_cast<size_t>(rule)].size());
    Elex_Value value = length > 0 ? values_[size_ - length] : Elex_Value{};
    int32_t code = ELEX_CONTINUE;
    if (g_->action) {
      // The action takes over the token strings of the right side and, for an empty rule, of
      // the symbols before it in the rules that use it.
      const int32_t left = t_.lhs[static_cast<size_t>(rule)] - t_.terminals;
      const int32_t handed = std::min(size_ - 1, length > 0 ? length : t_.reach[static_cast<size_t>(left)]);
      std::memset(owned_ + (size_ - handed), 0, static_cast<size_t>(handed));
      code = g_->action(g_, local_, rule, &values_[size_ - 1], &value, result, pending_);
    } else {
      value = Elex_Value{};
    }
    if (code == ELEX_FAIL) return code;
    if (code != ELEX_CONTINUE && code != ELEX_STOP) {
      lower::Report(pending_, kParse, 9, "Action of grammar %s returned the unknown code %d for rule %d",
                    g_->name ? g_->name : "(unnamed)", static_cast<int>(code), rule);
      return ELEX_FAIL;
    }
    if (code == ELEX_STOP) return code;
    for (int32_t i = 0; i < length; ++i) Pop();
    const int left = t_.lhs[static_cast<size_t>(rule)] - t_.terminals;
    const int target = t_.gotoState[static_cast<size_t>(states_[size_ - 1]) * static_cast<size_t>(t_.NonterminalCount()) +
                                    static_cast<size_t>(left)];
    return Push(target, value, false) ? ELEX_CONTINUE : ELEX_FAIL;
  }
};

} // namespace

extern "C" {

Elex_ScannerFunction emsc_AddressOf_elex_Scanner(void) try { return ScannerOpen; } TAVIRON_GUARD_QUIET(nullptr)

void *elex_Parse(const Elex_Grammar *grammar, void *initialValue, Elex_ScannerFunction scanner,
                 const char *text, const char *fileName, void *searchList, int32_t flags,
                 Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport pending;
  auto handOn = [&]() {
    lower::PassOn(err, pending);
  };
  if (!grammar || !scanner) {
    lower::Report(err, kParse, 1, "No grammar or no scanner given");
    return nullptr;
  }
  const std::shared_ptr<const Tables> tables = TablesOf(grammar, &pending);
  if (!tables) {
    handOn();
    return nullptr;
  }
  Elex_Scanner *stream = scanner(text, fileName, searchList, flags, &pending);
  if (!stream) {
    lower::Report(&pending, kParse, 3, "Error returned from elex_Scanner");
    handOn();
    return nullptr;
  }
  void *local = initialValue;
  if (grammar->localDataInit) {
    try {
      local = grammar->localDataInit(initialValue, &pending);
    } catch (...) {
      stream->close(stream); // the local data's memory ran out: the scanner goes too
      throw;
    }
    if (!local || pending) {
      lower::Report(&pending, kParse, 4, "Unable to create the local data of grammar %s",
                    grammar->name ? grammar->name : "(unnamed)");
      if (local && grammar->localDataFree) grammar->localDataFree(local);
      stream->close(stream);
      handOn();
      return nullptr;
    }
  }
  void *result = nullptr;
  bool failed = true;
  try {
    Parser parser(grammar, *tables, stream, local, fileName, &pending);
    result = parser.Run(&failed);
  } catch (const std::bad_alloc &) {
    lower::Report(&pending, kParse, 8, "Out of memory while parsing");
    failed = true;
  }
  stream->close(stream);
  if (local && grammar->localDataFree) grammar->localDataFree(local);
  handOn();
  return failed ? nullptr : result;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
