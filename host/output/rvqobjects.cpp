// The output manager's classes (parent links, hashed method tables, query and close
// slots), the checks that precede every method body, the failure hook, and the objects'
// making and release. The method bodies are in rvqmethods.cpp.
#include "host/output/rvqobjects.h"

#include "host/output/rvqattrs.h"
#include "host/output/rvqmethods.h"
#include "host/output/rvqoutput.h"

#include <deque>
#include <vector>

namespace qrxhost {
namespace {

// A pending failure of injectOutputFailure.
struct InjectedFailure {
  bool armed = false;
  int32_t method = 0;
  int32_t code = 0;
  int32_t skip = 0;
};
InjectedFailure injected;

// Runs the checks every call passes, then the body.
template <MethodBody Body>
int32_t methodThunk(RvqObject* object, void* /*context*/, int32_t number, int32_t count,
                    RvqAttr* attrs) {
  bool failAfter = false;
  int32_t injectedCode = 0;
  if (injected.armed && (injected.method == -1 || injected.method == number)) {
    if (injected.skip > 0) {
      --injected.skip;
    } else {
      injected.armed = false;
      injectedCode = injected.code;
      if (injectedCode != kOutputLogOnly)
        return injectedCode;
      failAfter = true;
    }
  }
  OutputDocument* doc = currentOutput();
  auto* self = reinterpret_cast<HostObject*>(object);
  int32_t rc;
  if (doc == nullptr || !doc->state)
    rc = outputFail(OUT_NO_DOCUMENT, number, "no step output is open");
  else if (object == nullptr || doc->state->live.count(self) == 0)
    rc = outputFail(OUT_BAD_HANDLE, number, "the receiver is not a live output object");
  else if (count < 0 || (count > 0 && attrs == nullptr))
    rc = outputFail(OUT_BAD_VALUE, number,
                    "attribute count " + std::to_string(count) + " without records");
  else
    rc = Body(self, number, count, attrs);
  return failAfter ? injectedCode : rc;
}

// One class record with its method table; entries and descriptors keep their addresses.
class ClassTable {
public:
  explicit ClassTable(RvqClass* parent) : buckets_(8, nullptr) {
    cls_.parent = parent;
    cls_.buckets = buckets_.data();
    cls_.hashMask = static_cast<uint32_t>(buckets_.size() - 1);
  }
  template <MethodBody Body> void add(int32_t method) {
    descriptors_.push_back(RvqMethodDescriptor{methodThunk<Body>, nullptr, method});
    RvqMethodEntry** head = &buckets_[static_cast<uint32_t>(method) & cls_.hashMask];
    entries_.push_back(RvqMethodEntry{*head, nullptr, &descriptors_.back(), method});
    *head = &entries_.back();
  }
  template <MethodBody Body> void query() {
    descriptors_.push_back(RvqMethodDescriptor{methodThunk<Body>, nullptr, RvqMethod::Query});
    cls_.queryDescriptor = &descriptors_.back();
  }
  template <MethodBody Body> void close() {
    descriptors_.push_back(RvqMethodDescriptor{methodThunk<Body>, nullptr, RvqMethod::Close});
    cls_.closeDescriptor = &descriptors_.back();
  }
  RvqClass* get() { return &cls_; }

private:
  RvqClass cls_{};
  std::vector<RvqMethodEntry*> buckets_;
  std::deque<RvqMethodEntry> entries_;
  std::deque<RvqMethodDescriptor> descriptors_;
};

struct Classes {
  ClassTable creator{nullptr}; // what the block and the manager share: making objects
  ClassTable block{creator.get()};
  ClassTable manager{creator.get()};
  ClassTable table{nullptr};
  ClassTable factoid{nullptr};
  ClassTable group{nullptr};
  ClassTable bound{nullptr};
  ClassTable view{nullptr};

  Classes() {
    creator.add<createObject>(RvqMethod::Create);
    block.query<queryManager>();
    manager.query<queryManager>();
    manager.add<bindTable>(RvqMethod::BindTable);
    manager.add<publishTable>(RvqMethod::Publish);
    manager.add<textLine>(RvqMethod::TextLine);
    manager.add<openGroup>(RvqMethod::OpenGroup);
    manager.add<levelNote>(RvqMethod::LevelNote);
    manager.add<makeView>(RvqMethod::MakeView);
    manager.add<releaseView>(RvqMethod::ReleaseView);
    manager.add<makeGraph>(RvqMethod::MakeGraph);
    table.add<defineColumn>(RvqMethod::DefineColumn);
    table.add<endColumns>(RvqMethod::EndColumns);
    table.add<emitRow>(RvqMethod::EmitRow);
    table.add<endRows>(RvqMethod::EndRows);
    table.add<setDynamic>(RvqMethod::SetDynamic);
    factoid.add<factoidEntry>(RvqMethod::Entry);
    factoid.add<setDynamic>(RvqMethod::SetDynamic);
    factoid.add<endEntries>(RvqMethod::EndRows);
    factoid.close<releaseFactoid>();
    group.close<closeGroup>();
  }
};

Classes& classes() {
  static Classes all;
  return all;
}

void xobinitHost(RvqObject** out, int32_t /*flags*/) {
  if (out == nullptr)
    return;
  OutputDocument* doc = currentOutput();
  if (doc == nullptr || !doc->state)
    doc = beginStepOutput();
  *out = &outputBlock(*doc)->head;
}

} // namespace

RvqClass* classOf(ObjKind kind) {
  Classes& c = classes();
  switch (kind) {
  case ObjKind::Block:
    return c.block.get();
  case ObjKind::Manager:
    return c.manager.get();
  case ObjKind::Table:
    return c.table.get();
  case ObjKind::Factoid:
    return c.factoid.get();
  case ObjKind::Group:
    return c.group.get();
  case ObjKind::Bound:
    return c.bound.get();
  case ObjKind::View:
    return c.view.get();
  }
  return nullptr;
}

ObjectRecord& makeObject(OutputState& state, ObjKind kind) {
  ObjectRecord& record = state.objects.emplace_back();
  record.object.head.cls = classOf(kind);
  record.object.kind = kind;
  record.object.record = &record;
  state.live.insert(&record.object);
  return record;
}

HostObject* outputBlock(OutputDocument& document) {
  OutputState& state = *document.state;
  if (state.block == nullptr)
    state.block = &makeObject(state, ObjKind::Block).object;
  return state.block;
}

void closeOpenGroups(OutputState& state) {
  while (!state.openGroups.empty()) {
    state.live.erase(&state.openGroups.back()->object);
    state.openGroups.pop_back();
  }
}

HostObjectServices* outputObjectServices() {
  static HostObjectServices services{xobinitHost};
  return &services;
}

void injectOutputFailure(int32_t method, int32_t code, int32_t afterCalls) {
  injected.armed = code != 0;
  injected.method = method;
  injected.code = code;
  injected.skip = afterCalls > 0 ? afterCalls : 0;
}

} // namespace qrxhost
