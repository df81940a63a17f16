// Host-internal interfaces shared by the parts of the stand-in host: the message
// catalogue, the current step's source text, and the exception that ends a step.
// Nothing under src/ includes this file.
#pragma once

#include "support/hostif.h"

#include <string>

namespace qrxhost {

// A message of the catalogue (host/messages/<set>.txt: lines "NUMBER<TAB>SEVERITY<TAB>TEXT",
// SEVERITY one of NOTE, WARNING, ERROR; substitution markers %1 .. %9).
struct MessageDef {
  int set;
  int number;
  HostSeverity severity;
  std::string text;
};

// Looks a message up; null when the catalogue has no such message.
const MessageDef* findMessage(int set, int number);
// The message text with its substitution values filled in (unknown messages get a generic
// text naming set and number and listing the values).
std::string formatMessage(int set, int number, const HostMsgArg* args, int count);

// The statements of the procedure step being run: the text from the procedure keyword up
// to (not including) the RUN; or QUIT; that ends it, and where it starts in the program.
struct StepSource {
  std::string text;
  std::string programFile;
  int firstLine = 1;
  int firstColumn = 1;
};
const StepSource& currentStepSource();

// Thrown by the host's xexit; caught by the step runner. Module code never catches it.
struct HostExit {
  int code;
};

} // namespace qrxhost
