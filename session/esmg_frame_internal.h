// Readers of the application frame's texts (argument files and blocks, the environment file,
// registry multi-strings) and the search-list expansion, shared by their units, tests and fuzz
// targets; not installed.
#ifndef TAVIRON_SESSION_ESMG_FRAME_INTERNAL_H
#define TAVIRON_SESSION_ESMG_FRAME_INTERNAL_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace taviron::session {

// The arguments of an argument file: the count on the first line, then an argument a line
// without its line end. Only the lines the file holds are read, at most the count; a count
// that is missing or negative gives none.
std::vector<std::string> ReadArgumentFile(std::FILE *file);

// The strings of an argument block of size bytes: NUL-terminated strings up to an empty one or
// the end of the block (a last string the block cuts off ends there); " " is an empty argument.
std::vector<std::string> ArgumentBlockStrings(const unsigned char *bytes, std::size_t size);

// The settings of an environment file: each line of at most 255 characters (longer lines are
// skipped), its line end removed, that holds "=" after a non-empty name.
std::vector<std::pair<std::string, std::string>> ReadEnvironmentFile(std::FILE *file);

// The strings of a multi-string value of size bytes, up to the empty string that ends it or the
// end of the bytes.
std::vector<std::string> MultiStrings(const unsigned char *bytes, std::size_t size);
// The bytes of a multi-string value of the strings.
std::string MultiStringBytes(const std::vector<std::string> &strings);

// The bytes of a value of the product's registry key; false when the key or the value is
// missing or cannot be read.
bool ProductKeyValue(const char *name, std::string &bytes);
// The entries of the default environment table without their marks.
std::vector<std::string> DefaultEnvironment();

// The search-list expansion of a value: its elements (split at ";") with every "$NAME" replaced
// by the elements of the variable's own expansion (an unset variable by nothing); elements that
// held a variable are kept once each and when not empty, others always. A variable being
// expanded counts as unset inside its own expansion; the list stops growing at 1 MiB.
std::vector<std::string> ExpandSearchList(const std::string &value);
// The same joined with ";".
std::string ExpandSearchListText(const std::string &value);

// The words of a command line: blanks separate words, double quotes group (and are dropped), 2n
// backslashes before a quote stand for n and the quote groups, 2n + 1 for n and a plain quote;
// other backslashes are plain.
std::vector<std::string> CommandWords(const std::string &line);
// Starts the program of the first word (searched on PATH when it names no folder) with the
// words as its arguments and no descriptor of this process but the standard three: its process
// id, or -1 when it could not be started.
pid_t StartProgram(const std::vector<std::string> &words);
// Waits for the process to end, at most timeoutMs (0: no limit): its exit code, -1 when a signal
// ended it or it cannot be waited for, -2 when the time ran out (it is left running).
int WaitProgram(pid_t process, int timeoutMs);

} // namespace taviron::session

#endif
