/* The table-driven LALR(1) parser shared by every grammar of the system, and its scanner.

   A grammar is described by an Elex_Grammar: its rules as text, numbered from 1 in the order
   written (rule n is rules[n - 1]; the action routine is called with that number), a keyword
   table, the action routine and the init and free routines of the parse's local data. The
   parser builds its LALR(1) tables from the rules the first time a grammar is used and keeps
   them for the life of the process.

   Rule text: "left: symbol symbol ..." (an empty right side after the colon is an empty rule).
   Symbols are separated by blanks. Terminals are:
   - the scanner's classes NAME, STRING, INTEGER, NUMBER and FLOAT;
   - characters written in single quotes, for example ';' or '{';
   - the token names of the keyword table, for example VERSION;
   - error, the error token of the recovery rules.
   Every other name is a nonterminal and needs at least one rule. The left side of rule 1 is the
   start symbol; the parse returns its value. An action in the middle of a rule is written, as
   it is numbered, as an empty rule of its own nonterminal placed inside the enclosing rule:
     "$5:" then "kernel: STRING STRING INTEGER ',' INTEGER ':' $5 values ';'".
   Shift/reduce conflicts are resolved in favour of the shift; a reduce/reduce conflict makes the
   grammar unusable (elex_Parse reports it). */
#ifndef TAVIRON_ELEX_H
#define TAVIRON_ELEX_H

#include <stdint.h>

#include "eerr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* One slot of the value stack (8 bytes): what a token or a rule's left side carries. */
typedef union Elex_Value {
  void *pointer;  /* records, lists, anything the actions make */
  char *string;   /* NAME and STRING tokens: a heap string that the action takes over */
  double number;  /* INTEGER, NUMBER and FLOAT tokens: the value as a double */
  int32_t integer;
} Elex_Value;

/* Control codes returned by an action routine. */
#define ELEX_CONTINUE 0 /* go on parsing */
#define ELEX_STOP 2     /* end the parse now: elex_Parse returns *result */
#define ELEX_FAIL 4     /* end the parse as a failure: elex_Parse returns null with *err */

typedef struct Elex_Grammar Elex_Grammar;

/* Action routine, called at every reduction of rule `rule`. top points at the value of the last
   symbol of the rule's right side (top[-1] is the one before it, and so on; for an empty rule
   it points at the value of the symbol below, which a mid-rule action reads as top[-k]). value
   is the value of the rule's left side, preset to the value of the first right-side symbol (zero
   for an empty rule). result is the parse result handed back with ELEX_STOP (preset to null).
   err is the parse's report slot: it holds the pending syntax-error report while an error rule is
   reduced; a report left there stays with the parse and is handed to the caller at the end. */
typedef int32_t (*Elex_ActionFunction)(const Elex_Grammar *grammar, void *localData, int32_t rule,
                                       Elex_Value *top, Elex_Value *value, void **result,
                                       Eerr_ErrorReport **err);
/* Makes the parse's local data from the initial value given to elex_Parse; null is a failure
   (a report may be left in err). */
typedef void *(*Elex_InitFunction)(void *initialValue, Eerr_ErrorReport **err);
/* Frees the local data; called once at the end of every parse whose local data is not null. */
typedef void (*Elex_FreeFunction)(void *localData);

/* A keyword: a bare word spelt `lexeme` (in any letter case) becomes the terminal `token` of
   the rules (a name such as "VERSION", or a quoted character such as "'I'"). Several lexemes
   may share a token. */
typedef struct Elex_Keyword {
  const char *lexeme;
  const char *token;
} Elex_Keyword;

struct Elex_Grammar {
  const char *name;                /* grammar name, used in messages */
  const char *const *rules;        /* rule n at rules[n - 1] */
  int32_t ruleCount;
  const Elex_Keyword *keywords;    /* may be null when keywordCount is 0 */
  int32_t keywordCount;
  Elex_ActionFunction action;      /* null: no actions (every rule keeps its first value) */
  Elex_InitFunction localDataInit; /* null: the local data is the initial value itself */
  Elex_FreeFunction localDataFree; /* null: nothing to free */
  int32_t initialDepth;            /* stack entries at start; 0 means 200 */
  int32_t maximumDepth;            /* stack entries at most; 0 means 1000 */
};

/* Token classes delivered by a scanner. */
#define ELEX_TOKEN_END 0       /* end of input */
#define ELEX_TOKEN_NAME 1      /* bare word (keywords are picked out of these by the parser) */
#define ELEX_TOKEN_STRING 2    /* text in double quotes */
#define ELEX_TOKEN_INTEGER 3   /* decimal digits */
#define ELEX_TOKEN_NUMBER 4    /* hexadecimal integer: 0x followed by hexadecimal digits */
#define ELEX_TOKEN_FLOAT 5     /* decimal number with a fraction or an exponent */
#define ELEX_TOKEN_CHARACTER 6 /* any other single printable character */

/* Longest token text (a word, a number, or the contents of a string after its escapes). */
#define ELEX_MAX_TOKEN_LENGTH 4095

typedef struct Elex_Token {
  int32_t kind;      /* ELEX_TOKEN_... */
  int32_t character; /* ELEX_TOKEN_CHARACTER: the character (1 to 255) */
  int32_t line;      /* line where the token starts, from 1 */
  Elex_Value value;  /* NAME, STRING: a new heap string; INTEGER, NUMBER, FLOAT: the number */
} Elex_Token;

/* A token stream. next delivers the next token (0) or fails with a report (-1); after the end
   it keeps delivering ELEX_TOKEN_END. close ends the stream and frees it. */
typedef struct Elex_Scanner Elex_Scanner;
struct Elex_Scanner {
  int32_t (*next)(Elex_Scanner *scanner, Elex_Token *token, Eerr_ErrorReport **err);
  void (*close)(Elex_Scanner *scanner);
};

/* Opens a token stream over the text (NUL-terminated) when text is not null, else over the file
   of that name found on the search list (null: the name as given). flags is reserved (0). */
typedef Elex_Scanner *(*Elex_ScannerFunction)(const char *text, const char *fileName,
                                              void *searchList, int32_t flags,
                                              Eerr_ErrorReport **err);

/* The lower layer's scanner. */
Elex_ScannerFunction emsc_AddressOf_elex_Scanner(void);

/* Parses the input that scanner(text, fileName, searchList, flags) delivers with the grammar.
   Returns the value of the start symbol at the end of the input, or the result of an action that
   stopped the parse. On failure (bad grammar, unreadable input, a syntax error that no error rule
   takes, stack overflow beyond the grammar's maximum depth, an action returning ELEX_FAIL) null
   is returned with the report; an action's report is handed on as it stands. A report pending at
   the end of an otherwise successful parse (a syntax error taken by an error rule) is handed on
   with the value. The local data's free routine runs on every path. */
void *elex_Parse(const Elex_Grammar *grammar, void *initialValue, Elex_ScannerFunction scanner,
                 const char *text, const char *fileName, void *searchList, int32_t flags,
                 Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif
