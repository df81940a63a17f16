// Where the message catalogue is read from, and a check of its files. The lookup and
// formatting entries themselves are declared in hostapi.h.
#pragma once

#include <string>
#include <vector>

namespace qrxhost {

// Makes the catalogue read its set files from `dir` (drops what was loaded before).
void setMessageDir(const std::string& dir);
// The directory in use: the one set, else $QRX_MESSAGE_DIR, else the build-time directory.
std::string messageDir();
// True when the directory exists and holds at least one set file; otherwise `why` says why.
bool messageCatalogueAvailable(std::string* why);
// Loads every set file of the directory and returns a line per malformed entry
// ("<file>:<line>: <problem>"); empty when every file is well formed.
std::vector<std::string> checkMessageCatalogue();

// A number in the host's default style: BEST-like, at most `width` characters;
// the missing value prints as ".".
std::string formatBestNumber(double value, int width = 12);

} // namespace qrxhost
