// The qrx runner: reads the command line and the program, sets up the host (libraries,
// options, message catalogue), runs the program and writes the listing and JSON record.
// Programs, steps and the host services are the host library's.
#include "driver/vsfmain.h"
#include "host/catalog.h"
#include "host/data/dataset.h"
#include "host/data/dslibrary.h"
#include "host/data/outfile.h"
#include "host/data/staging.h"
#include "host/ext/qkmemfig.h"
#include "host/ext/qkpgf.h"
#include "host/hostcore.h"
#include "host/hostlog.h"
#include "host/kernel.h"
#include "host/output/html.h"
#include "host/output/templates.h"
#include "host/runner/program.h"
#include "host/runner/programrun.h"
#include "host/runner/transcript.h"
#include "host/supervisor.h"
#include "host/textcase.h"
#include "runnerfiles.h"
#include "support/startthreads.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: qrx [options] PROGRAM.qrx\n"
    "  --work DIR          the WORK library (default: the current directory)\n"
    "  --lib NAME=DIR      more libraries (repeatable); --lib work=DIR is --work DIR\n"
    "  -o NAME=VALUE       host options: THREADS, CPUCOUNT, UTILPATH, VALIDVARNAME, DEBUG ...\n"
    "  --html FILE         also write the output as one self-contained HTML page\n"
    "  --json FILE         also write the whole run as JSON: log records, tables, graphs,\n"
    "                      macro variables, return code\n"
    "  --listing FILE      write the listing there instead of standard output\n"
    "  A FILE of - is standard output; when --html or --json goes there, the listing\n"
    "  is written only if --listing names a file.\n"
    "  --help              print this text\n"
    "  --version           print the program's name and version\n"
    "The exit status is 0 for return code 0, 1 for warnings (4), 2 for anything higher.\n";

int fail(const std::string& text) {
  std::cerr << "qrx: " << text << "\n";
  return 2;
}

bool splitPair(const std::string& arg, std::string* name, std::string* value) {
  size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0)
    return false;
  *name = arg.substr(0, eq);
  *value = arg.substr(eq + 1);
  return true;
}

void entry(HostControlBlock* cb, void* pidb) { mcn_main(cb, pidb); }

// A data directory of the host (`name` is "messages", "templates" or "web"): $`env`, the
// directory beside the executable or share/qrx/`name` of the installed tree, or the source
// tree's directory the build recorded.
void chooseDataDir(const char* argv0, const char* env, const char* name,
                   void (*set)(const std::string&)) {
  if (const char* value = std::getenv(env); value && *value)
    return;
  std::error_code ec;
  fs::path exe = fs::canonical("/proc/self/exe", ec);
  if (ec)
    exe = fs::absolute(argv0, ec);
  for (const fs::path& dir : {exe.parent_path() / name, exe.parent_path() / "../share/qrx" / name})
    if (fs::is_directory(dir, ec)) {
      set(dir.string());
      return;
    }
}

void chooseDataDirs(const char* argv0) {
  chooseDataDir(argv0, "QRX_MESSAGE_DIR", "messages", qrxhost::setMessageDir);
  chooseDataDir(argv0, "QRX_TEMPLATE_DIR", "templates", qrxhost::setTemplateDir);
  chooseDataDir(argv0, "QRX_WEB_DIR", "web", qrxhost::setWebDir);
}

// SIGINT, SIGTERM and SIGHUP are taken by a thread of their own (every other thread blocks
// them), which removes the run's utility files and unfinished output files and then ends
// the process by the same signal.
void removeRunFilesOnSignals() {
  static sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP})
    sigaddset(&set, sig);
  if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0)
    return;
  std::vector<SizedThread> watcher;
  const size_t started = startThreads(watcher, 1, [](size_t) {
    return [] {
      int sig = 0;
      if (sigwait(&set, &sig) != 0)
        return;
      qrxhost::removeUtilityFiles(true);
      qrxhost::removePendingOutputFiles();
      std::signal(sig, SIG_DFL);
      pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
      std::raise(sig);
    };
  });
  if (started == 1) {
    watcher.front().detach();
    return;
  }
  // No thread to wait for them: the signals keep their default action, and the run says
  // that one would leave its files behind.
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  std::cerr << "qrx: no thread could be started to watch for interrupts; an interrupt will "
               "leave the run's utility files and unfinished outputs behind\n";
}

// The listing file's stream: its text goes through an OutFile, so that a failed write keeps
// the system's reason, and the bytes are counted for the message that tells of it.
class ListingBuffer : public std::streambuf {
public:
  explicit ListingBuffer(const std::string& path) : file_(path) {}
  bool good() const { return file_.good(); }
  bool finish(std::string* why) { return file_.finish(why); }
  uint64_t bytes() const { return bytes_; }

protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof()))
      return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    file_ << std::string_view(s, static_cast<size_t>(n));
    bytes_ += static_cast<uint64_t>(n);
    return file_.good() ? n : 0;
  }

private:
  qrxhost::OutFile file_;
  uint64_t bytes_ = 0;
};

// Puts a runner file (`what`: "the listing", "the HTML page", "the JSON record") in place
// from its temporary file when it was written whole; else says why not, with the bytes it
// was to hold, and leaves the file at `path` as it was.
bool placeRunnerFile(const char* what, const std::string& path, uint64_t bytes, bool written,
                     std::string why) {
  if (qrxhost::placeLoneFile(path, written, &why))
    return true;
  std::error_code ec;
  std::cerr << "qrx: cannot write " << what << " (" << bytes << " bytes) to " << path << ": " << why
            << (fs::is_regular_file(path, ec) ? "; the file keeps its old contents" : "") << "\n";
  return false;
}

bool writeRunnerFile(const char* what, const std::string& path, const std::string& text) {
  if (qrxrunner::toStandardOutput(path)) {
    std::cout << text << std::flush;
    if (std::cout)
      return true;
    std::cerr << "qrx: cannot write " << what << " (" << text.size()
              << " bytes) to standard output\n";
    return false;
  }
  qrxhost::OutFile f(qrxhost::stageLoneFile(path));
  f << text;
  std::string why;
  const bool written = f.finish(&why);
  return placeRunnerFile(what, path, text.size(), written, why);
}

// The whole of a stream in one string, read in blocks: the program text is held once,
// not in a string stream and a copy of it; a regular file's size is known ahead, a pipe's
// is not.
std::string readAll(std::istream& in, uintmax_t sizeHint) {
  std::string text;
  if (sizeHint != static_cast<uintmax_t>(-1))
    text.reserve(static_cast<size_t>(sizeHint));
  char block[1 << 16];
  while (in.read(block, sizeof block) || in.gcount() > 0)
    text.append(block, static_cast<size_t>(in.gcount()));
  return text;
}

// The runner's files; an empty listing goes to standard output unless `listingQuiet` (the
// page or the record goes there instead).
struct OutputFiles {
  std::string listing, html, json;
  bool listingQuiet = false;
};

// A stream buffer that drops what it is given: the listing nobody asked for.
class NullBuffer : public std::streambuf {
protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Runs the program with its output written in program order: the log on standard error,
// each step's listing when the step ends (standard output, or the listing file with the log
// lines among it), then the HTML page and the JSON record. Returns the exit status.
int runWithOutputs(std::string text, const std::string& program,
                   std::vector<qrxhost::ProcedureModule>& modules, const OutputFiles& files) {
  std::unique_ptr<ListingBuffer> listingBuffer;
  std::ostream listingFile(nullptr);
  if (!files.listing.empty()) {
    listingBuffer = std::make_unique<ListingBuffer>(qrxhost::stageLoneFile(files.listing));
    if (std::string why; !listingBuffer->good()) {
      listingBuffer->finish(&why);
      qrxhost::placeLoneFile(files.listing, false, &why);
      return fail("cannot write the listing to " + files.listing + ": " + why);
    }
    listingFile.rdbuf(listingBuffer.get());
  }
  NullBuffer nowhere;
  if (files.listing.empty() && files.listingQuiet)
    listingFile.rdbuf(&nowhere);
  std::ostream& listing = files.listing.empty() && !files.listingQuiet ? std::cout : listingFile;
  qrxhost::RunTranscript transcript(listing, !files.listing.empty(), !files.html.empty());
  qrxhost::setLogEcho(
      [&](const qrxhost::LogRecord& r) { transcript.logLine(qrxhost::logLineText(r)); });
  qrxhost::ProgramResult result = qrxhost::runProgram(
      std::move(text), program, modules,
      [&](const qrxhost::StepOutcome& outcome) { transcript.stepEnded(outcome); });
  qrxhost::endRun();
  qrxhost::setLogEcho(nullptr);

  int status = qrxhost::exitStatusFor(result.record.returnCode);
  listing.flush();
  if (files.listing.empty() && !files.listingQuiet && !transcript.listingGood()) {
    std::cerr << "qrx: cannot write the listing to standard output\n";
    status = 2;
  }
  // The reason is read after finish has set it, never as an argument beside the call.
  std::string why;
  if (listingBuffer) {
    const bool written = listingBuffer->finish(&why);
    if (!placeRunnerFile("the listing", files.listing, listingBuffer->bytes(), written, why))
      status = 2;
  }
  if (!files.html.empty() &&
      !writeRunnerFile("the HTML page", files.html,
                       transcript.htmlPage(fs::path(program).filename().string())))
    status = 2;
  if (!files.json.empty() &&
      !writeRunnerFile("the JSON record", files.json, qrxhost::jsonRunRecord(result.record)))
    status = 2;
  return status;
}

// The runner's work from its arguments to its exit status.
int runMain(int argc, char** argv) {
  // A write past a file size limit fails with its error (EFBIG) instead of ending the run,
  // so that it takes the road of a full disk: the message, and no file half written.
  std::signal(SIGXFSZ, SIG_IGN);
  std::string work, json, listing, html, program;
  std::vector<std::pair<std::string, std::string>> libs, options;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string* out) {
      size_t eq = a.find('=');
      if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
        *out = a.substr(eq + 1);
        a = a.substr(0, eq);
        return true;
      }
      if (i + 1 >= argc)
        return false;
      *out = argv[++i];
      return true;
    };
    std::string v;
    std::string opt = a.substr(0, a.find('='));
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--version") {
      std::cout << "qrx (VARSIFTER) " << QRX_VERSION << "\n";
      return 0;
    } else if (opt == "--work" || opt == "--lib" || opt == "--json" || opt == "--listing" ||
               opt == "--html" || a == "-o") {
      if (!value(&v))
        return fail("the option " + opt + " needs a value (see qrx --help)");
      std::string n, val;
      if (opt == "--work")
        work = v;
      else if (opt == "--json")
        json = v;
      else if (opt == "--listing")
        listing = v;
      else if (opt == "--html")
        html = v;
      else if (opt == "--lib") {
        if (!splitPair(v, &n, &val))
          return fail("--lib needs NAME=DIR, not '" + v + "'");
        if (!qrxhost::validLibraryName(n))
          return fail("--lib " + v + ": the library name " + n + " is not valid (" +
                      qrxhost::kLibraryNameRule + ")");
        libs.emplace_back(n, val);
      } else {
        if (!splitPair(v, &n, &val))
          return fail("-o needs NAME=VALUE, not '" + v + "'");
        std::string allowed;
        const qrxhost::OptionCheck check = qrxhost::checkHostOption(n, val, &allowed);
        if (check == qrxhost::OptionCheck::UnknownName)
          return fail("-o " + v + ": " + n + " is not a host option; " + allowed);
        if (check == qrxhost::OptionCheck::BadValue)
          return fail("-o " + v + ": the value is not valid; " + allowed);
        options.emplace_back(n, val);
      }
    } else if (!a.empty() && a[0] == '-') {
      return fail("unknown option " + a + " (see qrx --help)");
    } else if (program.empty()) {
      program = a;
    } else {
      return fail("only one program can be run, not both " + program + " and " + a);
    }
  }
  if (program.empty())
    return fail("no program file given (see qrx --help)");
  std::string why;
  for (const auto& [opt, path] :
       {std::pair{"--json", &json}, std::pair{"--listing", &listing}, std::pair{"--html", &html}})
    if (!path->empty() && !qrxrunner::canWrite(*path, &why))
      return fail(std::string("cannot write the file ") + *path + " of " + opt + ": " + why);

  std::error_code ec;
  if (fs::is_directory(program, ec))
    return fail("cannot read the program file " + program + ": it is a directory");
  std::ifstream in(program, std::ios::binary);
  if (!in) {
    const int error = errno;
    return fail("cannot read the program file " + program + ": " +
                (error != 0 ? std::strerror(error) : "it cannot be opened"));
  }
  std::string text = readAll(in, fs::is_regular_file(program, ec) ? fs::file_size(program, ec)
                                                                  : static_cast<uintmax_t>(-1));

  chooseDataDirs(argv[0]);
  if (!qrxhost::messageCatalogueAvailable(&why))
    return fail("the message catalogue was not found: " + why +
                " (set QRX_MESSAGE_DIR to the host's messages directory)");
  if (!qrxhost::templateCatalogueAvailable(&why))
    return fail("the template catalogue was not found: " + why +
                " (set QRX_TEMPLATE_DIR to the host's templates directory)");

  auto dirProblem = [](const std::string& dir) {
    const qrxhost::DirProblem p = qrxhost::libraryDirProblem(dir);
    return p == qrxhost::DirProblem::None      ? std::string()
           : p == qrxhost::DirProblem::Missing ? std::string(" does not exist")
                                               : std::string(" is not a directory");
  };
  if (std::string problem = work.empty() ? "" : dirProblem(work); !problem.empty())
    return fail("the WORK directory " + work + problem);
  for (const auto& [name, dir] : libs) {
    if (std::string problem = dirProblem(dir); !problem.empty())
      return fail("the directory " + dir + " of library " + name + problem);
    // --lib work=DIR sets the WORK library; with --work as well one of them would be ignored.
    if (!work.empty() && qrxhost::asciiUpper(name) == "WORK")
      return fail("--work " + work + " and --lib " + name + "=" + dir +
                  " both set the WORK library; give one of them");
  }
  auto assignLibraries = [&] {
    qrxhost::clearLibraries();
    if (!work.empty())
      qrxhost::setWorkDir(work);
    for (const auto& [name, dir] : libs)
      qrxhost::setLibrary(name, dir);
  };
  assignLibraries();
  std::vector<qrxrunner::RunnerFile> given;
  for (const auto& [opt, path] :
       {std::pair{"--listing", &listing}, std::pair{"--html", &html}, std::pair{"--json", &json}})
    if (!path->empty())
      given.push_back({opt, *path});
  if (!given.empty() && !qrxrunner::runnerFilesApart(given, program, text))
    return 2;
  // The listing goes to standard output when no other output does.
  const bool listingToOutput = listing.empty() || qrxrunner::toStandardOutput(listing);
  const OutputFiles files{
      listingToOutput ? std::string() : listing, html, json,
      listing.empty() && (qrxrunner::toStandardOutput(html) || qrxrunner::toStandardOutput(json))};
  assignLibraries(); // without the program's LIBNAME statements, which its run makes
  for (const auto& [name, val] : options)
    qrxhost::setHostOption(name, val);

  qrxhost::boundMallocArenas(qrxhost::hostCpuCount());
  removeRunFilesOnSignals();
  qrxhost::hostControlBlock();
  std::vector<qrxhost::ProcedureModule> modules(1);
  modules[0].name = "VARSIFTER";
  modules[0].entry = entry;
  modules[0].main = pcn_QRXVARSF.main;
  return runWithOutputs(std::move(text), program, modules, files);
}

} // namespace

// Memory that runs out outside a step (under a tight address-space limit, before the first
// step starts or between steps) ends the run with a message, never by a signal; the files a
// step left are removed.
int main(int argc, char** argv) {
  try {
    return runMain(argc, argv);
  } catch (const std::bad_alloc&) {
    try {
      qrxhost::removeUtilityFiles();
      qrxhost::removePendingOutputFiles();
    } catch (const std::bad_alloc&) {
    }
    std::fputs("qrx: the run ran out of memory and stops\n", stderr);
    return 2;
  }
}
