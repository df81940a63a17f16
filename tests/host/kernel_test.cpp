// The kernel handle: named values (OSENV from the environment, host.cpucount, options,
// stored values and their types), events and threads, extension loading, status texts.
#include "host/ext/extlist.h"
#include "host/hostapi.h"
#include "host/hostcore.h"
#include "host/hostlog.h"
#include "host/kernel.h"
#include "host/supervisor.h"
#include "host/testswitches.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <unistd.h>

using namespace qrxhost;

namespace {

std::u32string wide(const std::string& s) { return std::u32string(s.begin(), s.end()); }

uint32_t getText(const std::string& name, std::string* out, int32_t capacity = 64) {
  QkHandle* qk = hostControlBlock()->qkHandle;
  std::u32string n = wide(name);
  std::vector<QkChar> buf(static_cast<size_t>(capacity));
  QkNameValue v{};
  v.type = QK_VALUE_TEXT;
  v.text = buf.data();
  v.capacity = capacity;
  uint32_t st = qk->qkNameValueGet(qk, n.data(), static_cast<int32_t>(n.size()), &v);
  if (st == 0)
    *out = std::string(buf.begin(), buf.begin() + v.length);
  return st;
}

uint32_t getLong(const std::string& name, int64_t* out) {
  QkHandle* qk = hostControlBlock()->qkHandle;
  std::u32string n = wide(name);
  QkNameValue v{};
  v.type = QK_VALUE_INT64;
  uint32_t st = qk->qkNameValueGet(qk, n.data(), static_cast<int32_t>(n.size()), &v);
  *out = v.l;
  return st;
}

uint32_t setLong(const std::string& name, int64_t value) {
  QkHandle* qk = hostControlBlock()->qkHandle;
  std::u32string n = wide(name);
  QkNameValue v{};
  v.type = QK_VALUE_INT64;
  v.l = value;
  return qk->qkNameValueSet(qk, n.data(), static_cast<int32_t>(n.size()), &v, 1);
}

} // namespace

TEST(NamedValues, EnvironmentCpuCountAndOptions) {
  clearStoredNameValues();
  ::setenv("QRX_TEST_NV", "lower text  ", 1);
  ::unsetenv("QRX_TEST_NV_ABSENT");
  std::string s;
  EXPECT_EQ(getText("OSENV.QRX_TEST_NV", &s), 0u);
  EXPECT_EQ(s, "lower text  ");
  EXPECT_EQ(getText("osenv.QRX_TEST_NV", &s), 0u);        // the prefix is case-insensitive
  EXPECT_EQ(getText("OSENV.qrx_test_nv", &s), kQkNotSet); // the variable's name is not
  EXPECT_EQ(getText("OSENV.QRX_TEST_NV_ABSENT", &s), kQkNotSet);
  EXPECT_EQ(getText("OSENV.QRX_TEST_NV", &s, 5), 0u); // cut to the capacity
  EXPECT_EQ(s, "lower");
  int64_t n = 0;
  EXPECT_EQ(getLong("OSENV.QRX_TEST_NV", &n), kQkWrongType); // text is not an integer
  QkHandle* qk = hostControlBlock()->qkHandle;
  std::u32string name = wide("OSENV.QRX_TEST_NV");
  EXPECT_EQ(qk->nameValueExists(qk, name.data(), -1), 1); // length below 1: up to the zero
  EXPECT_EQ(getLong("host.cpucount", &n), 0u);
  EXPECT_EQ(n, static_cast<int64_t>(std::max(1u, std::thread::hardware_concurrency())));
  setHostOption("CPUCOUNT", "3");
  EXPECT_EQ(getLong("HOST.CPUCOUNT", &n), 0u);
  EXPECT_EQ(n, 3);
  setHostOption("UTILPATH", "/tmp/x");
  EXPECT_EQ(getText("utilpath", &s), 0u);
  EXPECT_EQ(s, "/tmp/x");
  clearHostOptions();
  ::unsetenv("QRX_TEST_NV");
}

TEST(NamedValues, StoredValuesOverrideAndKeepTheirType) {
  clearStoredNameValues();
  ::setenv("QRX_TEST_NV2", "abc", 1);
  // the environment holds text: an integer is refused, so callers store text instead
  EXPECT_EQ(setLong("OSENV.QRX_TEST_NV2", 5), kQkWrongType);
  EXPECT_EQ(setLong("OSENV.QRX_TEST_LIMIT", 99), 0u);
  int64_t n = 0;
  EXPECT_EQ(getLong("OSENV.QRX_TEST_LIMIT", &n), 0u);
  EXPECT_EQ(n, 99);
  std::string s;
  EXPECT_EQ(getText("OSENV.QRX_TEST_LIMIT", &s), 0u); // an integer reads as text too
  EXPECT_EQ(s, "99");
  EXPECT_EQ(setLong("OSENV.QRX_TEST_LIMIT", 98), 0u);
  EXPECT_EQ(getLong("OSENV.QRX_TEST_LIMIT", &n), 0u);
  EXPECT_EQ(n, 98);
  clearStoredNameValues();
  EXPECT_EQ(getLong("OSENV.QRX_TEST_LIMIT", &n), kQkNotSet);
  ::unsetenv("QRX_TEST_NV2");
}

TEST(Kernel, EventsAndThreads) {
  QkHandle* qk = hostControlBlock()->qkHandle;
  QkEvent* start = qk->createEvent(qk);
  QkEvent* done = qk->createEvent(qk);
  QkThreadServices* main = qk->threadServices(qk);
  EXPECT_EQ(main->threadNumber, 0);
  EXPECT_EQ(main->waitAny(main, &done, 1, 10), -1); // times out
  struct Arg {
    QkHandle* qk;
    QkEvent* done;
    std::atomic<int64_t> number{-1};
  } arg{qk, done};
  QkThreadAttributes attrs{&arg,
                           [](void* p) {
                             auto* a = static_cast<Arg*>(p);
                             QkThreadServices* ts = a->qk->threadServices(a->qk);
                             a->number = ts->threadNumber;
                             ts->post(ts, a->done);
                           },
                           start, 0x80000000u};
  QkThread* t = qk->createThread(qk, &attrs);
  ASSERT_NE(t, nullptr);
  QkEvent* events[] = {start, done};
  // the start event is posted once the thread runs; then done
  EXPECT_GE(main->waitAny(main, events, 2, -1), 0);
  EXPECT_EQ(main->waitAny(main, &done, 1, -1), 0);
  qk->joinThread(qk, t);
  EXPECT_GT(arg.number.load(), 0);
  main->reset(main, done);
  EXPECT_EQ(main->waitAny(main, &done, 1, 0), -1);
  qk->destroyEvent(qk, start);
  qk->destroyEvent(qk, done);
}

TEST(Kernel, UnknownExtensionJournalAndStatusText) {
  QkHandle* qk = hostControlBlock()->qkHandle;
  std::u32string n = wide("noSuchExtension");
  EXPECT_EQ(qk->qkExtensionLoad(qk, n.data(), static_cast<int32_t>(n.size()), 0), nullptr);
  char buf[200];
  int32_t len = qk->statusText(qk, kQkNotSet, buf, sizeof buf);
  EXPECT_GT(len, 0);
  EXPECT_EQ(static_cast<size_t>(len), std::strlen(buf));
  EXPECT_EQ(qk->statusText(qk, 0x12345678u, buf, 8), 7); // cut and terminated
  takeLog();
  qk->journal->report(qk->journal, kQkWrongType, 4, nullptr);
  std::vector<LogRecord> log = takeLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].severity, HostSeverity::Error);
  QkServiceArgs args{};
  EXPECT_EQ(qk->KernelServiceDispatcher(qk, QK_SVC_ZDTTME, &args, 0), 0);
  EXPECT_GT(args.values[0], 1.6e9); // seconds since 1970, after 2020
  EXPECT_EQ(qk->KernelServiceDispatcher(qk, QK_SVC_ZSTATS, &args, 0), 0);
  EXPECT_EQ(args.words[7], static_cast<int64_t>(::getpid()));
  EXPECT_NE(qk->KernelServiceDispatcher(qk, 999, &args, 0), 0);
}

TEST(Kernel, RegisteredExtensionsLoadByNameAndUnload) {
  QkHandle* qk = hostControlBlock()->qkHandle;
  for (const char* name : {"qkpgf", "qkbkf", "qkupath", "qkpool", "qkavlt"}) {
    std::u32string n = wide(name);
    QkExtension* ext = qk->qkExtensionLoad(qk, n.data(), static_cast<int32_t>(n.size()), 0);
    ASSERT_NE(ext, nullptr) << name;
    ASSERT_NE(ext->unload, nullptr) << name;
    ext->unload(ext);
  }
  std::u32string n = wide("qkbkf");
  // names are exact: a longer or shorter name is another extension
  EXPECT_EQ(qk->qkExtensionLoad(qk, n.data(), 4, 0), nullptr);
  failExtensionLoad("qkbkf");
  EXPECT_EQ(qk->qkExtensionLoad(qk, n.data(), 5, 0), nullptr);
  failExtensionLoad("");
  QkExtension* ext = qk->qkExtensionLoad(qk, n.data(), 5, 0);
  ASSERT_NE(ext, nullptr);
  ext->unload(ext);
}

TEST(Kernel, AnExitOnAWorkerThreadIsAnInternalErrorNotACrash) {
  QkHandle* qk = hostControlBlock()->qkHandle;
  resetStepState();
  takeLog();
  QkThreadAttributes attrs{nullptr, [](void*) { throw HostExit{120}; }, nullptr, 0x80000000u};
  QkThread* t = qk->createThread(qk, &attrs);
  ASSERT_NE(t, nullptr);
  qk->joinThread(qk, t);
  EXPECT_EQ(stepReturnCode(), 1012);
  std::vector<LogRecord> log = takeLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].text.find("worker thread"), std::string::npos);
  resetStepState();
}
