// Runs the statement parse of a program text against the stand-in host (its control block,
// parser and CSV data sets) and collects the settings and the logged messages.
#pragma once

#include "host/hostlog.h"
#include "msgid.h"
#include "output/vsfcontext.h"

#include <string>
#include <utility>
#include <vector>

namespace parsetest {

struct Run {
  int32_t result = 0; // vsfParse's result
  int exitCode = -1;  // the code of an xexit, -1 when the parse returned
  VsfContext* ctx = nullptr;
  std::vector<qrxhost::LogRecord> log;

  int count(MsgId m) const;
  bool has(MsgId m) const { return count(m) > 0; }
  const qrxhost::LogRecord* find(MsgId m) const;
  bool anyError() const;
};

// Parses "PROC VARSIFTER <text>" (text holds the options and statements after the
// procedure keyword). The WORK library holds d.csv (numeric y x1 x2 x3 w f g k; character
// a b c r) and e.csv.
Run parse(const std::string& text, const std::string& debugOption = std::string(),
          const std::vector<std::pair<std::string, std::string>>& hostOptions = {});

// The statements after the header, as parse() gives them to the host.
ParsedStatement* firstNode();
ParsedStatement* node(const char* name);

} // namespace parsetest
