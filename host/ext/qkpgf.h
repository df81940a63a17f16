// The host extension "qkpgf" (page files) and what the page-file and byte-file extensions
// share: the registry of the files they hold on disk and the gate of their reads and writes
// (where a test can fail the Nth one, host/testswitches.h).
#pragma once

#include "support/hostif.h"

#include <cstdint>
#include <string>

namespace qrxhost {

QkExtension* makeQkpgf();

// Files made on disk by the page-file and byte-file extensions and not yet deleted.
int liveUtilityFiles();
// Called before each read or write; false when it is the one a test made fail.
bool utilityIoAllowed();
// Registers a file made on disk / deleted from disk. Files still registered when the process
// ends are deleted then, so that no utility file outlives the host.
void utilityFileMade(const std::string& path);
void utilityFileGone(const std::string& path);
// Creates a utility file (::open with `flags`, mode 0600) and registers it in one step, so
// that no file exists unregistered; -1 when it cannot be made.
int openUtilityFile(const std::string& path, int flags);
// Deletes every registered utility file now. At a kill, `holdForExit` keeps the registry
// locked so that no file is made before the process ends.
void removeUtilityFiles(bool holdForExit = false);

// The sizes a page file reports before its attributes are set (default page size, second
// standard size, companion size), and how many of its first pages it keeps in memory. Tests
// lower them to cross page and file boundaries with small data; a run can do the same with
// the host option PAGEFILE_PAGESIZE=n (bytes). The reset also clears an injected I/O fault.
void setPageFileSizes(uint32_t defaultSize, uint32_t secondSize, uint32_t companionSize);
void setPageFileMemoryPages(int64_t pages);
void resetPageFileSettings();

} // namespace qrxhost
