// The run transcript: log and listing interleaved in program order, and the HTML page.
#include "host/runner/transcript.h"

#include "host/output/html.h"
#include "host/progress.h"

#include <iostream>

namespace qrxhost {

RunTranscript::RunTranscript(std::ostream& listing, bool logInListing, bool html)
    : listing_(listing), logInListing_(logInListing), html_(html) {}

void RunTranscript::logLine(const std::string& line) {
  ProgressLine::instance().clear(); // a progress line shown there would run into the log line
  std::cerr << line << '\n';
  if (logInListing_)
    listing_ << line << '\n';
  if (html_)
    pendingLog_.push_back(line);
}

void RunTranscript::stepEnded(const StepOutcome& outcome) {
  listing_ << outcome.listing;
  listing_.flush();
  if (!html_)
    return;
  flushLog();
  if (!outcome.html.empty())
    body_ += "<div class=\"step\" data-line=\"" + std::to_string(outcome.record.line) + "\">\n" +
             outcome.html + "</div>\n";
}

void RunTranscript::flushLog() {
  if (!pendingLog_.empty())
    body_ += htmlLogBlock(pendingLog_);
  pendingLog_.clear();
}

std::string RunTranscript::htmlPage(const std::string& title) {
  flushLog();
  return qrxhost::htmlPage(title, body_);
}

} // namespace qrxhost
