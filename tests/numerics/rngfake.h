// A fake kernel for the random-number and named-value tests: a registry of named values,
// a journal that records every report, a clock that ticks on each reading, process
// statistics, a thread number, and a control block whose macro group records numeric
// macro variables. Constructing it installs it; destroying it removes it.
#pragma once

#include "support/hostif.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace rngtest {

struct StoredValue {
  int32_t type = QK_VALUE_TEXT;
  double d = 0.0;
  int64_t l = 0;
  std::u32string text;
};

struct Report {
  uint32_t status = 0;
  int32_t level = 0;
  std::string text;                // plain reports
  std::vector<std::string> values; // status reports with values
  bool withValues = false;
};

inline std::u32string wide(const std::string& s) { return std::u32string(s.begin(), s.end()); }

class FakeKernel {
public:
  std::map<std::u32string, StoredValue> values;
  std::vector<Report> reports;
  std::map<std::string, double> macros;
  double clock = 1.0e9;
  double tick = 0.001;
  int64_t statsWord3 = 12345;
  QkThreadServices thread{};
  uint32_t journalResult = 0; // what reportStatus answers
  bool getFailure = false;    // every get fails with a foreign status
  int32_t setCalls = 0;

  FakeKernel() {
    self() = this;
    qk_.nameValueExists = &exists;
    qk_.qkNameValueGet = &get;
    qk_.qkNameValueSet = &set;
    qk_.KernelServiceDispatcher = &dispatch;
    qk_.threadServices = &threads;
    qk_.journal = &journal_;
    journal_.report = &report;
    journal_.reportStatus = &reportStatus;
    macro_.xalanch = &alanch;
    macro_.xjsympn = &jsympn;
    time_.zdattim = &zdattim;
    groups_.macro = &macro_;
    groups_.time = &time_;
    cb_.groups = &groups_;
    cb_.groupBytes = groupBytes_;
    cb_.task = &task_;
    cb_.qkHandle = &qk_;
    savedQk_ = Exported_QKHandle;
    savedCb_ = v_global_gcb_anchor;
    Exported_QKHandle = &qk_;
    v_global_gcb_anchor = &cb_;
  }
  ~FakeKernel() {
    Exported_QKHandle = savedQk_;
    v_global_gcb_anchor = savedCb_;
    self() = nullptr;
  }
  FakeKernel(const FakeKernel&) = delete;
  FakeKernel& operator=(const FakeKernel&) = delete;

  QkHandle* handle() { return &qk_; }
  void withoutJournal() { qk_.journal = nullptr; }
  void plainJournalOnly() { journal_.reportStatus = nullptr; }

  void setText(const std::string& name, const std::string& text) {
    StoredValue v;
    v.type = QK_VALUE_TEXT;
    v.text = wide(text);
    values[wide(name)] = v;
  }
  void setLong(const std::string& name, int64_t l) {
    StoredValue v;
    v.type = QK_VALUE_INT64;
    v.l = l;
    values[wide(name)] = v;
  }
  bool has(const std::string& name) const { return values.count(wide(name)) != 0; }
  const StoredValue& value(const std::string& name) const { return values.at(wide(name)); }

  // Status reports with the given code.
  std::vector<Report> statusReports(uint32_t status) const {
    std::vector<Report> out;
    for (const Report& r : reports)
      if (r.withValues && r.status == status)
        out.push_back(r);
    return out;
  }

private:
  QkHandle qk_{};
  QkJournal journal_{};
  HostControlBlock cb_{};
  HostServiceGroups groups_{};
  HostMacroVariableServices macro_{};
  HostTimeService time_{};
  HostTaskBlock task_{};
  uint8_t groupBytes_[HG_COUNT] = {};
  QkHandle* savedQk_ = nullptr;
  HostControlBlock* savedCb_ = nullptr;

  static FakeKernel*& self() {
    static FakeKernel* k = nullptr;
    return k;
  }
  static std::u32string key(const QkChar* name, int32_t length) {
    return std::u32string(name, static_cast<size_t>(length));
  }
  static int32_t exists(QkHandle*, const QkChar* name, int32_t length) {
    return self()->values.count(key(name, length)) ? 1 : 0;
  }
  static uint32_t get(QkHandle*, const QkChar* name, int32_t length, QkNameValue* v) {
    FakeKernel* k = self();
    if (k->getFailure)
      return 0x803F0001u;
    auto it = k->values.find(key(name, length));
    if (it == k->values.end())
      return kQkNotSet;
    const StoredValue& s = it->second;
    if (v->type == QK_VALUE_TEXT) {
      std::u32string text = s.text;
      if (s.type == QK_VALUE_INT64)
        text = wide(std::to_string(s.l));
      else if (s.type == QK_VALUE_DOUBLE) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", s.d);
        text = wide(buf);
      }
      int32_t n = static_cast<int32_t>(text.size());
      if (n > v->capacity)
        n = v->capacity;
      for (int32_t i = 0; i < n; ++i)
        v->text[i] = text[static_cast<size_t>(i)];
      v->length = n;
      return 0;
    }
    if (v->type != s.type)
      return kQkWrongType;
    v->d = s.d;
    v->l = s.l;
    return 0;
  }
  static uint32_t set(QkHandle*, const QkChar* name, int32_t length, const QkNameValue* v,
                      int32_t) {
    FakeKernel* k = self();
    ++k->setCalls;
    auto it = k->values.find(key(name, length));
    if (it != k->values.end() && it->second.type != v->type)
      return kQkWrongType;
    StoredValue s;
    s.type = v->type;
    s.d = v->d;
    s.l = v->l;
    if (v->type == QK_VALUE_TEXT)
      s.text = std::u32string(v->text, static_cast<size_t>(v->length));
    k->values[key(name, length)] = s;
    return 0;
  }
  static int32_t dispatch(QkHandle*, int32_t service, QkServiceArgs* args, uint32_t) {
    FakeKernel* k = self();
    if (service == QK_SVC_ZDTTME) {
      args->values[0] = k->clock;
      k->clock += k->tick;
      return 0;
    }
    if (service == QK_SVC_ZSTATS) {
      args->words[3] = k->statsWord3;
      return 0;
    }
    return -1;
  }
  static QkThreadServices* threads(QkHandle*) { return &self()->thread; }
  static void report(QkJournal*, uint32_t status, int32_t level, const char* text) {
    Report r;
    r.status = status;
    r.level = level;
    r.text = text ? text : "";
    self()->reports.push_back(r);
  }
  static uint32_t reportStatus(QkJournal*, int32_t severity, uint32_t status,
                               const HostMsgArg* values, int32_t count) {
    Report r;
    r.status = status;
    r.level = severity;
    r.withValues = true;
    for (int32_t i = 0; i < count; ++i) {
      const HostMsgArg& a = values[i];
      if (a.kind == HostMsgArg::Int)
        r.values.push_back(std::to_string(a.i));
      else if (a.kind == HostMsgArg::Dbl) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", a.d);
        r.values.push_back(buf);
      } else
        r.values.push_back(std::string(a.s, static_cast<size_t>(a.len)));
    }
    self()->reports.push_back(r);
    return self()->journalResult;
  }
  static HostMacroTable* alanch(void*) { return reinterpret_cast<HostMacroTable*>(self()); }
  static int32_t jsympn(HostMacroTable*, const char* name, int32_t length, int32_t, int32_t,
                        double value) {
    self()->macros[std::string(name, static_cast<size_t>(length))] = value;
    return 0;
  }
  static double zdattim() {
    FakeKernel* k = self();
    double t = k->clock;
    k->clock += k->tick;
    return t;
  }
};

} // namespace rngtest
