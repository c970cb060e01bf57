// The log library's exceptions: what the libraries beside this one throw, and what the class layer
// catches and logs.
#ifndef TAVIRON_NORIXLOG_H
#define TAVIRON_NORIXLOG_H

#include "taviron_export.h"
#include <exception>
#include <string>
#include <utility>

namespace NorixLog {

// One log message: its source and text.
class TAVIRON_API Message {
public:
  Message(std::string source, std::string text)
      : source_(std::move(source)), text_(std::move(text)) {}
  const std::string &Source() const { return source_; }
  const std::string &Text() const { return text_; }

private:
  std::string source_;
  std::string text_;
};

// An exception carrying a message.
class TAVIRON_API Exception : public std::exception {
public:
  explicit Exception(Message message) : message_(std::move(message)) {}
  const Message &GetMessage() const { return message_; }
  const char *what() const noexcept override { return message_.Text().c_str(); }

private:
  Message message_;
};

// An exception made to be logged where it stands, never thrown.
class TAVIRON_API UnthrownException : public Exception {
public:
  using Exception::Exception;
};

} // namespace NorixLog

#endif
