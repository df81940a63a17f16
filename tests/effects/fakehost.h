// A fake host for the effect-library tests: a control block whose default pool zeroes
// every block, a supervisor that records numbered messages and turns xexit into an
// exception, a data set of named variables, a parse root with a list-holder statement, and
// a token stream that drives the effect callback the way the host parser does.
#pragma once

#include "effects/levdesign.h"
#include "effects/zeffect.h"
#include "msgid.h"
#include "support/hostif.h"
#include "support/parsedstmt.h"

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace efftest {

struct ExitCalled {
  int code;
};

struct Message {
  int set;
  int number;
  std::vector<std::string> values;
};

struct FakeVar {
  std::string name;
  int type = 1; // 1 numeric, 2 character
  int length = 8;
  int formatWidth = 0; // 0: no format
  std::string label;
};

class FakeHost {
public:
  FakeHost();
  ~FakeHost();

  // Data set variables, numbered from 1 in the order added.
  int addVar(const std::string& name, int type = 1, int length = 8, int formatWidth = 0);
  int varNumber(const std::string& name) const;

  // The list-holder statement (procedure statement): slot 2 receives CLASS variables.
  void setClass(const std::vector<std::string>& names);
  // A statement node appended to the statement chain; returns it.
  ParsedStatement* addStatement(const std::string& name);
  void setCurrent(ParsedStatement* stmt, int effectSlot);

  // Drives one MODEL statement's effect list ("a|b|c @2", "a b a") through zeffect the way
  // the host grammar emits its actions. Returns the MODEL node.
  ParsedStatement* model(const std::string& effects, int nameLen = 20);
  // An EFFECT statement named `name`: action 14 at its start, then the name in slot 1;
  // kind in slot 2, variables in slot 3.
  ParsedStatement* effectStmt(const std::string& name, EffectVarKind kind,
                              const std::vector<std::string>& vars);

  // Option helpers on a statement.
  static void setFlag(ParsedStatement* s, int k);
  void setNumber(ParsedStatement* s, int k, double v);
  void setVarList(ParsedStatement* s, int k, const std::vector<std::string>& vars);
  void setDoubles(ParsedStatement* s, int k, const std::vector<double>& values);
  void setText(ParsedStatement* s, int k, const std::string& text);
  void setNameList(ParsedStatement* s, int k, const std::vector<std::string>& names);

  // Names of the effects recorded in a statement's slot.
  std::vector<std::string> effectNames(ParsedStatement* s, int slot) const;
  // Whether a message was logged, and how often.
  int count(MsgId id) const;
  std::vector<Message> messages;

  ParseRoot root{};
  ParsedStatement* holder = nullptr;
  HostDataSet* dataSet = reinterpret_cast<HostDataSet*>(0x1);
  std::string validVarName = "V7";
  // Non-zero: the host's list growth fails with this result.
  int32_t addlstResult = 0;

  // Token stream for the callback's peeks.
  std::vector<HostToken> tokens;
  size_t position = 0;
  std::deque<std::string> texts;

  std::vector<std::unique_ptr<HostVariable>> vars;
  std::vector<FakeVar> varInfo;

  void action(int code, int operand = 0, const HostToken* token = nullptr);
  const HostToken* token(const std::string& text, double number = 0.0);
  void* alloc(size_t size);

private:
  std::vector<void*> blocks;
  std::vector<std::unique_ptr<ParsedStatement>> statements;
  std::vector<std::unique_ptr<OptionSlot[]>> slotArrays;
  HostControlBlock cb{};
  HostServiceGroups groups{};
  HostSupervisorServices supervisor{};
  HostDataSetServices dataSetServices{};
  HostParserServices parserServices{};
  HostInternalErrorService internal{};
  HostTaskBlock task{};
  QkPool pool{};
  HostControlBlock* saved = nullptr;
};

FakeHost* current();

} // namespace efftest
