// The host extension "qkupath" (new paths under the utility directory) and the conversions
// between host-character paths and file-system paths that the file extensions share.
// The entry-table layout is src/support/qkupath.h.
#pragma once

#include "support/hostif.h"

#include <string>

namespace qrxhost {

QkExtension* makeQkupath();

// The utility directory: host option UTILPATH, else the system temporary directory.
std::string utilityDirectory();

// A host-character string (UTF-32) as a UTF-8 file-system path, and back.
std::string pathToNarrow(const QkChar* path, int64_t length);
std::u32string pathToWide(const std::string& path);

} // namespace qrxhost
