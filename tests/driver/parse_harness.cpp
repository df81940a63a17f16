// The parse harness: a WORK directory with small CSV data sets, the stand-in host's
// control block with the parser group, a zeroed procedure context, and one parse.
#include "parse_harness.h"

#include "design/levreg.h"
#include "driver/vsfparse.h"
#include "effects/levdesign.h"
#include "host/data/dataset.h"
#include "host/hostapi.h"
#include "host/hostcore.h"
#include "host/parser/psparser.h"
#include "host/supervisor.h"
#include "support/parsedstmt.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <new>
#include <unistd.h>

namespace parsetest {

namespace {

std::string workDir() {
  static std::string dir = [] {
    auto d = std::filesystem::temp_directory_path() /
             ("qrx_parse_" + std::to_string(static_cast<long>(::getpid())));
    std::filesystem::create_directories(d);
    std::ofstream(d / "d.csv") << "y,x1,x2,x3,a,b,c,w,f,r,g,k\n"
                                  "1.5,1,2,3,u,p,m,1,1,TRAIN,1,1\n"
                                  "2.5,2,3,4,v,q,n,2,1,VALIDATE,1,2\n"
                                  "3.5,3,1,5,u,p,m,1,2,TEST,2,1\n"
                                  "0.5,4,2,1,v,q,n,1,1,TRAIN,2,2\n";
    std::ofstream(d / "e.csv") << "y,x1,x2,x3\n1,2,3,4\n";
    return d.string();
  }();
  return dir;
}

// Data sets opened by the last parse are released when the tests end.
class CloseDataSets : public ::testing::Environment {
public:
  void TearDown() override {
    qrxhost::endStepDataSets();
    std::error_code ec;
    std::filesystem::remove_all(workDir(), ec);
  }
};
const auto* gCloseDataSets = ::testing::AddGlobalTestEnvironment(new CloseDataSets);

VsfContext* context() {
  static VsfContext* ctx = static_cast<VsfContext*>(std::calloc(1, sizeof(VsfContext)));
  return ctx;
}

} // namespace

int Run::count(MsgId m) const {
  int n = 0;
  for (const auto& r : log)
    n += r.numbered && m.is(r.set, r.number);
  return n;
}

const qrxhost::LogRecord* Run::find(MsgId m) const {
  for (const auto& r : log)
    if (r.numbered && m.is(r.set, r.number))
      return &r;
  return nullptr;
}

bool Run::anyError() const {
  for (const auto& r : log)
    if (r.severity == HostSeverity::Error)
      return true;
  return false;
}

Run parse(const std::string& text, const std::string& debugOption,
          const std::vector<std::pair<std::string, std::string>>& hostOptions) {
  HostControlBlock* cb = qrxhost::hostControlBlock();
  v_global_gcb_anchor = cb;
  if (!cb->groups->parser)
    cb->groups->parser = qrxhost::parserServices();
  qrxhost::endStepDataSets();
  qrxhost::resetTaskBlocks();
  qrxhost::resetStepState();
  qrxhost::setWorkDir(workDir());
  qrxhost::clearHostOptions();
  for (const auto& [name, value] : hostOptions)
    qrxhost::setHostOption(name, value);
  if (!debugOption.empty())
    qrxhost::setHostOption("DEBUG", debugOption);
  qrxhost::takeLog();
  qrxhost::StepSource src;
  src.text = "PROC VARSIFTER " + text;
  src.firstLine = 1;
  src.firstColumn = 1;
  qrxhost::setCurrentStepSource(src);

  VsfContext* ctx = context();
  std::memset(static_cast<void*>(ctx), 0, sizeof *ctx);
  ctx->mainPool = cb->defaultPool;
  void* design = ctx->mainPool->allocate(ctx->mainPool, sizeof(LevDesign), kQkZeroed);
  ctx->design.design = new (design) LevDesign{};
  void* library = ctx->mainPool->allocate(ctx->mainPool, sizeof(LevLibraryBlock), kQkZeroed);
  ctx->design.library = new (library) LevLibraryBlock{};
  ctx->design.library->pool = cb->defaultPool;
  ctx->options.utilRandom = 4;
  ctx->options.trainFraction = 1.0;
  hostCurrentTask()->procedureContext = ctx;

  Run run;
  run.ctx = ctx;
  try {
    xinit(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    run.result = codeOf(vsfParse(ctx));
  } catch (const qrxhost::HostExit& e) {
    run.exitCode = e.code;
  }
  run.log = qrxhost::takeLog();
  return run;
}

ParsedStatement* firstNode() {
  ParseRoot* root = hostParseRoot();
  return root ? root->first : nullptr;
}

ParsedStatement* node(const char* name) { return findstmt(firstNode(), name); }

} // namespace parsetest
