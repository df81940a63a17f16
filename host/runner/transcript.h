// Where a run's output goes, in program order: each log line to standard error as it is
// made (and into the listing file when there is one), each step's listing when the step
// ends, and both into the HTML page when one is asked for.
#pragma once

#include "host/runner/steprunner.h"

#include <ostream>
#include <string>
#include <vector>

namespace qrxhost {

class RunTranscript {
public:
  // `listing` receives the listing; `logInListing` copies the log lines into it too (a
  // listing file); `html` keeps what the page needs.
  RunTranscript(std::ostream& listing, bool logInListing, bool html);
  void logLine(const std::string& line);
  void stepEnded(const StepOutcome& outcome);
  // The HTML page of everything so far.
  std::string htmlPage(const std::string& title);
  // False once a write to the listing failed.
  bool listingGood() const { return static_cast<bool>(listing_); }

private:
  void flushLog();

  std::ostream& listing_;
  bool logInListing_;
  bool html_;
  std::vector<std::string> pendingLog_; // log lines not yet on the page
  std::string body_;                    // the page's body so far
};

} // namespace qrxhost
