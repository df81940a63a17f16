// Splitting a program into procedure steps and host statements: comments are blanked
// (keeping line and column positions), statements are cut at semicolons outside quotes.
// Running the steps is steprunner's; carrying out host statements is the runner app's.
#pragma once

#include "host/hostmessages.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qrxhost {

struct ProgramItem {
  enum Kind { Step, Options, Libname, Put, Let, Invalid };
  Kind kind = Invalid;
  int line = 1; // where the statement (for a step: its PROC keyword) starts
  int column = 1;
  // Step: the procedure name (upper case) and the text from PROC up to, not including,
  // the RUN; or QUIT; that ends it; `terminated` is false when the program ended first.
  std::string procedure;
  std::string text;
  bool terminated = true;
  // Step: OPTIONS, LIBNAME, %PUT and %LET statements written inside it. They take effect before
  // the step runs and are blanked out of its text.
  std::vector<ProgramItem> before;
  // Options: name (upper case) and value pairs. Libname: name (upper case) and directory.
  // Let: the macro variable's name (as written) and its value (blanks around it cut).
  std::vector<std::pair<std::string, std::string>> options;
  std::string name;
  std::string value;
  // Put: the text after %PUT. Invalid: what is wrong, and the runner's message for it
  // (StatementOutsideStep: `message` is the statement's keyword; BadStatement: `message`
  // says what is wrong).
  std::string message;
  RunnerMsg messageNumber = RunnerMsg::BadStatement;
};

// A problem that splitting a program can find: an unclosed comment (OpenComment) or
// quoted string (OpenQuote), and the line where it starts.
struct ProgramProblem {
  int line = 0;
  RunnerMsg msg = RunnerMsg::OpenComment;
  std::string detail;
};

// Library names (LIBNAME, --lib): letters, digits and underscores, at most 8 characters,
// not starting with a digit.
bool validLibraryName(const std::string& name);
inline constexpr const char* kLibraryNameRule =
    "at most 8 letters, digits or underscores, not starting with a digit";

// Replaces /* */ comments and "* ... ;" comment statements by blanks, keeping line breaks.
// An unclosed /* comment is a problem with the line where it starts.
std::string stripComments(const std::string& text, std::vector<ProgramProblem>* problems);
void stripCommentsInPlace(std::string& text, std::vector<ProgramProblem>* problems);

// Splits a program item by item, so that a program of many statements is never held whole
// as items. Comments are blanked and the quoting of the whole text checked first: when
// problems() is not empty (an unclosed comment or quote) next() gives no item.
class ProgramSplitter {
public:
  explicit ProgramSplitter(std::string text);
  ~ProgramSplitter();
  ProgramSplitter(const ProgramSplitter&) = delete;
  ProgramSplitter& operator=(const ProgramSplitter&) = delete;
  const std::vector<ProgramProblem>& problems() const;
  // The next item; false at the end of the program.
  bool next(ProgramItem* item);

private:
  struct State;
  std::unique_ptr<State> state_;
};

// A word of a step that may name a file: the value written after an option's equals sign
// (a name such as d or lib.d, or a quoted path), or the first word after a statement's
// keyword; with the statement's keyword and the option (both upper case; the option is
// empty for the word after the keyword) and its line. Among them are the data sets, item
// stores and scoring code files the step reads and writes; words holding a macro reference
// are left out.
struct NamedWord {
  std::string statement, option, word;
  int line = 0;
};
std::vector<NamedWord> namedWords(const ProgramItem& step);

// Splits a whole program. Problems that stop the split (an unclosed comment or quote) are
// returned in `problems`; statements that are not valid are items of kind Invalid.
std::vector<ProgramItem> splitProgram(const std::string& text,
                                      std::vector<ProgramProblem>* problems);

} // namespace qrxhost
