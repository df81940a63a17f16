// The output manager driven through wobmth as the module drives it: tables with bound
// variables, factoids, groups, text lines and level notes, views and graphs, dispatch
// along parent classes, attribute checks and the failure hook.
#include "host/hostapi.h"
#include "host/hostcore.h"
#include "host/hostlog.h"
#include "host/output/rvqobjects.h"
#include "host/output/rvqoutput.h"
#include "support/wobmth.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace qrxhost;

namespace {

RvqText* txt(const char* text) { return rvqTextServices()->rvqtxt(text, -1); }

RvqAttr rawAttr(uint16_t id, uint16_t type) {
  RvqAttr a;
  std::memset(&a, 0, sizeof a);
  a.id = id;
  a.type = type;
  return a;
}

RvqAttr counted(uint16_t id, uint16_t type, uint16_t count, void* pointer) {
  RvqAttr a = rawAttr(id, type);
  a.value.counted.length = count;
  a.second.ptr = pointer;
  return a;
}

struct OutputProtocol : ::testing::Test {
  OutputDocument* doc = nullptr;
  RvqObject* block = nullptr;
  RvqObject* manager = nullptr;

  void SetUp() override {
    discardOutputs();
    injectOutputFailure(-1, 0, 0);
    doc = beginStepOutput();
    outputObjectServices()->xobinit(&block, 0);
    ASSERT_NE(block, nullptr);
    RvqAttr a[] = {rvqString(143, "rvq", 3), rvqString(146, "manager", 7), rvqHandle(144, nullptr)};
    ASSERT_EQ(wobmth(block, nullptr, 147, 3, a), 0);
    manager = static_cast<RvqObject*>(a[2].value.ptr);
    ASSERT_NE(manager, nullptr);
  }
  void TearDown() override {
    injectOutputFailure(-1, 0, 0);
    discardOutputs();
  }

  int32_t call(RvqObject* object, int32_t method, std::vector<RvqAttr>& attrs) {
    return wobmth(object, nullptr, method, static_cast<int32_t>(attrs.size()), attrs.data());
  }

  RvqObject* create(const char* kind, const char* name, const char* templ = nullptr) {
    std::vector<RvqAttr> a = {rvqString(143, "rvq", 3),
                              rvqString(146, kind, static_cast<uint16_t>(std::strlen(kind))),
                              rvqHandle(144, nullptr)};
    if (templ != nullptr)
      a.push_back(rvqTextHandle(339, txt(templ)));
    a.push_back(rvqInt(148, -1));
    a.push_back(rvqTextHandle(138, txt(name)));
    a.push_back(rvqTextHandle(296, txt((std::string(name) + " label").c_str())));
    EXPECT_EQ(call(manager, 147, a), 0);
    return static_cast<RvqObject*>(a[2].value.ptr);
  }

  // A table of one double column bound to `value`, columns ended.
  RvqObject* numberTable(const char* name, double* value) {
    RvqObject* table = create("data", name);
    std::vector<RvqAttr> col = {rvqInt(103, 5), rvqTextHandle(138, txt("X")), rvqBound(285, value)};
    EXPECT_EQ(call(table, 338, col), 0);
    EXPECT_EQ(wobmth(table, nullptr, 298, 0, nullptr), 0);
    return table;
  }

  // Binds a table; returns the bound handle and stores its data reference in *slot.
  RvqObject* bind(RvqObject* table, const char* templ, RvqText** slot = nullptr) {
    std::vector<RvqAttr> a = {rvqHandle(0, nullptr), rvqHandle(504, table),
                              rvqTextHandle(339, txt(templ))};
    if (slot != nullptr) {
      RvqAttr ref = rawAttr(784, RVQ_TEXT);
      ref.value.ptr = slot;
      a.push_back(ref);
    }
    EXPECT_EQ(call(manager, 422, a), 0);
    return static_cast<RvqObject*>(a[0].value.ptr);
  }

  int32_t publish(RvqObject* bound, RvqText* footnote = nullptr) {
    std::vector<RvqAttr> a = {rvqHandle(0, bound)};
    if (footnote != nullptr)
      a.push_back(rvqTextHandle(378, footnote));
    return call(manager, 428, a);
  }

  int32_t textLine(const char* text) {
    std::vector<RvqAttr> a = {rvqInt(371, 1), rvqChar(273, 'l'), rvqTextHandle(577, txt(text))};
    return call(manager, 358, a);
  }

  RvqObject* openGroup(const char* name) {
    std::vector<RvqAttr> a = {rvqHandle(144, nullptr), rvqTextHandle(138, txt(name)),
                              rvqTextHandle(296, txt("group label")), rvqFlag(435, 0)};
    EXPECT_EQ(call(manager, 300, a), 0);
    return static_cast<RvqObject*>(a[0].value.ptr);
  }
};

int32_t facility(int32_t code) { return (static_cast<uint32_t>(code) >> 11) & 0x7FF; }

} // namespace

TEST_F(OutputProtocol, FullTableSequenceReadsBoundVariablesAtEachEmit) {
  struct Row {
    char flag;
    int32_t step;
    double value;
    char effect[8];
    RvqText* note;
  } row{};
  RvqObject* table = create("data", "Demo");
  std::vector<std::vector<RvqAttr>> columns = {
      {rvqInt(103, 1), rvqTextHandle(138, txt("Flag")), rvqBound(285, &row.flag)},
      {rvqInt(103, 3), rvqTextHandle(138, txt("Step")), rvqInt(270, 0), rvqBound(285, &row.step)},
      {rvqInt(103, 5), rvqTextHandle(138, txt("Value")), rvqTextHandle(296, txt("Estimate")),
       rvqBound(285, &row.value)},
      {rvqInt(103, 6), rvqTextHandle(138, txt("Effect")), rvqInt(289, 8),
       rvqBound(285, row.effect)},
      {rvqInt(103, 66), rvqTextHandle(138, txt("Note")), rvqTextHandle(311, txt("width")),
       rvqInt(287, 20), rvqBound(285, &row.note)},
  };
  for (auto& c : columns)
    ASSERT_EQ(call(table, 338, c), 0);
  ASSERT_EQ(wobmth(table, nullptr, 298, 0, nullptr), 0);

  RvqText* dataRef = nullptr;
  std::vector<RvqAttr> b = {rvqHandle(0, nullptr),
                            rvqHandle(504, table),
                            rvqTextHandle(339, txt("Stat.Test.Demo")),
                            rvqTextHandle(311, txt("titleText")),
                            rvqTextHandle(287, txt("T")),
                            rvqTextHandle(311, txt("printFootnote")),
                            rvqInt(287, 0),
                            rvqFlag(2640, 1),
                            rawAttr(784, RVQ_TEXT)};
  b.back().value.ptr = &dataRef;
  ASSERT_EQ(call(manager, 422, b), 0);
  auto* bound = static_cast<RvqObject*>(b[0].value.ptr);
  ASSERT_NE(bound, nullptr);
  ASSERT_NE(dataRef, nullptr);

  // Row 1: a character value shorter than the width, blank-filled as the printers do.
  row.flag = 'A';
  row.step = 0;
  row.value = 1.5;
  std::memset(row.effect, ' ', sizeof row.effect);
  std::memcpy(row.effect, "ab", 2);
  row.note = txt("n1");
  ASSERT_EQ(wobmth(table, nullptr, 329, 0, nullptr), 0);
  // Row 2: the same buffer refilled; a missing number, a full-width text, no note.
  row.flag = ' ';
  row.step = -3;
  row.value = hostMissing();
  std::memcpy(row.effect, "abcdefgh", 8);
  row.note = nullptr;
  ASSERT_EQ(wobmth(table, nullptr, 329, 0, nullptr), 0);
  ASSERT_EQ(wobmth(table, nullptr, 299, 0, nullptr), 0);
  row.step = 99; // after the rows ended: not read again
  ASSERT_EQ(publish(bound, txt("foot")), 0);

  ASSERT_EQ(doc->nodes.size(), 1u);
  const OutputNode& node = *doc->nodes[0];
  EXPECT_EQ(node.kind, NodeKind::Table);
  EXPECT_EQ(node.name, "Demo");
  EXPECT_EQ(node.label, "Demo label");
  EXPECT_EQ(node.templ, "Stat.Test.Demo");
  EXPECT_FALSE(node.hidden);
  EXPECT_TRUE(node.published);
  EXPECT_EQ(node.footnote, "foot");
  EXPECT_EQ(dataRef->text, "Demo");
  ASSERT_EQ(node.dynamics.size(), 2u);
  EXPECT_EQ(node.dynamics[0].first, "titleText");
  EXPECT_EQ(std::get<std::string>(node.dynamics[0].second), "T");
  EXPECT_EQ(std::get<int64_t>(node.dynamics[1].second), 0);
  ASSERT_EQ(node.columns.size(), 5u);
  EXPECT_EQ(node.columns[2].label, "Estimate");
  EXPECT_EQ(node.columns[3].width, 8);
  EXPECT_EQ(node.columns[4].type, ColumnType::Text);
  ASSERT_EQ(node.rows.size(), 2u);
  std::vector<OutputValue> first = {std::string("A"), int64_t{0}, 1.5, std::string("ab"),
                                    std::string("n1")};
  std::vector<OutputValue> second = {std::string(""), int64_t{-3}, std::monostate{},
                                     std::string("abcdefgh"), std::string("")};
  EXPECT_EQ(node.rows[0], first);
  EXPECT_EQ(node.rows[1], second);

  std::string json = renderJsonNodes(*doc);
  EXPECT_NE(json.find(R"("rows":[["A",0,1.5,"ab","n1"],["",-3,null,"abcdefgh",""]])"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find(R"("dynamics":{"titleText":"T","printFootnote":0})"), std::string::npos);
}

TEST_F(OutputProtocol, PhantomTablesAreHiddenAndUnpublishedTablesAreNotRendered) {
  double x = 2.0;
  RvqObject* shown = numberTable("Shown", &x);
  RvqObject* phantom = numberTable("BestStep", &x);
  RvqObject* unpublished = numberTable("Dropped", &x);
  ASSERT_EQ(wobmth(shown, nullptr, 329, 0, nullptr), 0);
  ASSERT_EQ(publish(bind(shown, "Stat.VARSIFTER.Shown")), 0);
  ASSERT_EQ(publish(bind(phantom, "Stat.VARSIFTER.Phantom.BestStep")), 0);
  bind(unpublished, "Stat.VARSIFTER.Dropped");
  ASSERT_EQ(doc->nodes.size(), 3u);
  EXPECT_TRUE(doc->nodes[1]->hidden);
  std::string json = renderJsonNodes(*doc);
  EXPECT_NE(
      json.find(
          R"("name":"BestStep","template":"Stat.VARSIFTER.Phantom.BestStep","label":"BestStep label","title":"Optimal Steps","title2":"","hidden":true)"),
      std::string::npos)
      << json;
  EXPECT_EQ(json.find("Dropped"), std::string::npos);
  std::string listing = renderListing(*doc);
  EXPECT_NE(listing.find("Shown label"), std::string::npos);
  EXPECT_EQ(listing.find("BestStep"), std::string::npos);
  EXPECT_EQ(listing.find("Dropped"), std::string::npos);
}

TEST_F(OutputProtocol, FactoidEntriesAndRelease) {
  RvqObject* f = create("factoid", "ModelInfo", "Stat.VARSIFTER.ModelInfo");
  std::vector<RvqAttr> e1 = {rvqTextHandle(296, txt("Data Set")),
                             rvqTextHandle(287, txt("WORK.A"))};
  std::vector<RvqAttr> e2 = {rvqTextHandle(296, txt("R-Square")), rvqDouble(287, 0.5),
                             rvqInt(272, 6), rvqInt(270, 4)};
  RvqAttr big = rawAttr(287, RVQ_INT64);
  big.value.i64 = int64_t{1} << 40;
  std::vector<RvqAttr> e3 = {rvqTextHandle(296, txt("Rows")), big};
  std::vector<RvqAttr> e4 = {rvqTextHandle(296, txt("Missing")), rvqDouble(287, hostMissing())};
  for (auto* e : {&e1, &e2, &e3, &e4})
    ASSERT_EQ(call(f, 164, *e), 0);
  ASSERT_EQ(wobmth(f, nullptr, 299, 0, nullptr), 0);
  std::vector<RvqAttr> late = e1;
  EXPECT_EQ(call(f, 164, late), outputStatus(OUT_BAD_SEQUENCE));
  EXPECT_EQ(wobclose(f), 0);
  EXPECT_EQ(wobclose(f), outputStatus(OUT_BAD_HANDLE)); // released once only

  const OutputNode& node = *doc->nodes.at(0);
  EXPECT_EQ(node.kind, NodeKind::Factoid);
  EXPECT_EQ(node.templ, "Stat.VARSIFTER.ModelInfo");
  ASSERT_EQ(node.entries.size(), 4u);
  EXPECT_EQ(node.entries[1].format.width, 6);
  EXPECT_EQ(node.entries[1].format.code, 4);
  EXPECT_EQ(
      renderJsonNodes(*doc),
      R"([{"kind":"factoid","name":"ModelInfo","template":"Stat.VARSIFTER.ModelInfo",)"
      R"("title":"Model Information","entries":[{"label":"Data Set","value":"WORK.A"},{"label":"R-Square","value":0.5},)"
      R"({"label":"Rows","value":1099511627776},{"label":"Missing","value":null}]}])");
}

TEST_F(OutputProtocol, GroupsNestAndCloseThroughTheCloseSlot) {
  RvqObject* outer = openGroup("StepDetails");
  std::vector<RvqAttr> numbered = {rvqHandle(144, nullptr), rvqFlag(286, 1),
                                   rvqTextHandle(288, txt("Step")), rvqDouble(437, 3.0),
                                   rvqFlag(435, 0)};
  ASSERT_EQ(call(manager, 300, numbered), 0);
  auto* inner = static_cast<RvqObject*>(numbered[0].value.ptr);
  ASSERT_EQ(textLine("inside"), 0);
  ASSERT_EQ(wobclose(inner), 0);
  ASSERT_EQ(textLine("after inner"), 0);
  RvqObject* second = openGroup("Open");
  ASSERT_EQ(textLine("deep"), 0);
  ASSERT_EQ(wobclose(outer), 0); // closes "Open" too
  EXPECT_EQ(wobclose(second), outputStatus(OUT_BAD_HANDLE));
  ASSERT_EQ(textLine("top"), 0);

  ASSERT_EQ(doc->nodes.size(), 2u);
  const OutputNode& g = *doc->nodes[0];
  EXPECT_EQ(g.kind, NodeKind::Group);
  ASSERT_EQ(g.children.size(), 3u);
  EXPECT_EQ(g.children[0]->name, "Step3");
  EXPECT_EQ(g.children[0]->children.at(0)->text, "inside");
  EXPECT_EQ(g.children[1]->text, "after inner");
  EXPECT_EQ(g.children[2]->children.at(0)->text, "deep");
  EXPECT_EQ(doc->nodes[1]->text, "top");
  EXPECT_EQ(
      renderJsonNodes(*doc),
      R"([{"kind":"group","name":"StepDetails","label":"group label","children":[)"
      R"({"kind":"group","name":"Step3","label":"","children":[{"kind":"text","text":"inside"}]},)"
      R"({"kind":"text","text":"after inner"},)"
      R"({"kind":"group","name":"Open","label":"group label","children":[{"kind":"text","text":"deep"}]}]},)"
      R"({"kind":"text","text":"top"}])");
}

TEST_F(OutputProtocol, TextLinesRulesLevelNotesAndMarks) {
  ASSERT_EQ(textLine("plain"), 0);
  std::vector<RvqAttr> rule = {rvqChar(580, '='), rvqInt(371, 1), rvqInt(280, 1)};
  ASSERT_EQ(call(manager, 358, rule), 0);
  // A level note whose leading record the caller left unset (garbage id and type).
  RvqAttr leading = rawAttr(0xBEEF, 0x7777);
  leading.value.ptr = reinterpret_cast<void*>(0x10);
  std::vector<RvqAttr> note = {leading, rvqInt(440, 1), rvqFlag(2558, 1), rvqInt(148, -1),
                               rvqTextHandle(577, txt("The VARSIFTER Procedure"))};
  ASSERT_EQ(call(manager, 439, note), 0);
  std::vector<RvqAttr> mark = {leading, rvqInt(442, 2)};
  ASSERT_EQ(call(manager, 439, mark), 0);
  std::vector<RvqAttr> nothing = {leading};
  EXPECT_EQ(call(manager, 439, nothing), outputStatus(OUT_MISSING_ATTRIBUTE));
  std::vector<RvqAttr> noText = {rvqInt(371, 1)};
  EXPECT_EQ(call(manager, 358, noText), outputStatus(OUT_MISSING_ATTRIBUTE));

  ASSERT_EQ(doc->nodes.size(), 3u);
  EXPECT_EQ(doc->nodes[1]->rule, '=');
  EXPECT_EQ(doc->nodes[2]->text, "The VARSIFTER Procedure");
  EXPECT_EQ(doc->nodes[2]->level, 1);
  EXPECT_EQ(renderListing(*doc), "plain\n" + std::string(80, '=') + "\nThe VARSIFTER Procedure\n");
}

TEST_F(OutputProtocol, DispatchFollowsParentsAndTellsBucketNeighboursApart) {
  // 147 lives in the class that the manager's class names as its parent.
  RvqClass* cls = manager->cls;
  ASSERT_NE(cls->parent, nullptr);
  auto holds = [](RvqClass* c, int32_t method) {
    for (RvqMethodEntry* e = c->buckets[static_cast<uint32_t>(method) & c->hashMask]; e != nullptr;
         e = e->next)
      if (e->method == method)
        return true;
    return false;
  };
  EXPECT_FALSE(holds(cls, 147));
  EXPECT_TRUE(holds(cls->parent, 147));
  RvqObject* table = create("data", "T");
  ASSERT_NE(table, nullptr);

  // 338 and 298 share a bucket of the table class; each call reaches its own method.
  RvqClass* tcls = table->cls;
  ASSERT_EQ(338u & tcls->hashMask, 298u & tcls->hashMask);
  int chain = 0;
  for (RvqMethodEntry* e = tcls->buckets[338u & tcls->hashMask]; e != nullptr; e = e->next)
    ++chain;
  EXPECT_GE(chain, 2);
  double v = 0;
  std::vector<RvqAttr> col = {rvqInt(103, 5), rvqTextHandle(138, txt("V")), rvqBound(285, &v)};
  ASSERT_EQ(call(table, 338, col), 0);
  ASSERT_EQ(wobmth(table, nullptr, 298, 0, nullptr), 0);
  EXPECT_EQ(call(table, 338, col), outputStatus(OUT_BAD_SEQUENCE)); // columns have ended
  EXPECT_EQ(doc->nodes[0]->columns.size(), 1u);

  EXPECT_EQ(wobmth(table, nullptr, 12345, 0, nullptr), kRvqNoMethod);
  EXPECT_EQ(wobmth(manager, nullptr, 338, 0, nullptr), kRvqNoMethod);
  EXPECT_EQ(wobclose(manager), kRvqNoMethod);
}

TEST_F(OutputProtocol, QuerySlotAnswersAttribute1334) {
  RvqAttr q = rvqFlag(1334, 77);
  EXPECT_EQ(wobquery(manager, 1, &q), 0);
  EXPECT_EQ(q.second.i32, 0);
  RvqAttr unknown = rvqFlag(999, 0);
  EXPECT_LT(wobquery(manager, 1, &unknown), 0);
}

TEST_F(OutputProtocol, BadAttributesGiveNegativeCodesNotCrashes) {
  RvqObject* table = create("data", "T");
  double v = 0;
  char buffer[4];
  RvqText forged{"forged", nullptr};
  struct Case {
    const char* what;
    RvqObject* object;
    int32_t method;
    std::vector<RvqAttr> attrs;
    OutputError expected;
  };
  std::vector<Case> cases = {
      {"column type as a double",
       table,
       338,
       {rvqDouble(103, 5), rvqTextHandle(138, txt("V")), rvqBound(285, &v)},
       OUT_BAD_ATTRIBUTE},
      {"unknown column type",
       table,
       338,
       {rvqInt(103, 7), rvqTextHandle(138, txt("V")), rvqBound(285, &v)},
       OUT_BAD_VALUE},
      {"character column without width",
       table,
       338,
       {rvqInt(103, 6), rvqTextHandle(138, txt("C")), rvqBound(285, buffer)},
       OUT_BAD_VALUE},
      {"no bound variable",
       table,
       338,
       {rvqInt(103, 5), rvqTextHandle(138, txt("V"))},
       OUT_MISSING_ATTRIBUTE},
      {"null bound variable",
       table,
       338,
       {rvqInt(103, 5), rvqTextHandle(138, txt("V")), rvqBound(285, nullptr)},
       OUT_MISSING_ATTRIBUTE},
      {"no column name", table, 338, {rvqInt(103, 5), rvqBound(285, &v)}, OUT_MISSING_ATTRIBUTE},
      {"forged text handle",
       table,
       338,
       {rvqInt(103, 5), rvqTextHandle(138, &forged), rvqBound(285, &v)},
       OUT_BAD_HANDLE},
      {"dynamic name without value",
       table,
       316,
       {rvqTextHandle(311, txt("x"))},
       OUT_MISSING_ATTRIBUTE},
      {"unknown object kind",
       manager,
       147,
       {rvqString(143, "rvq", 3), rvqString(146, "chart", 5), rvqHandle(144, nullptr),
        rvqTextHandle(138, txt("X"))},
       OUT_BAD_VALUE},
      {"wrong object class",
       manager,
       147,
       {rvqString(143, "abc", 3), rvqString(146, "data", 4), rvqHandle(144, nullptr),
        rvqTextHandle(138, txt("X"))},
       OUT_BAD_VALUE},
      {"no returned handle",
       manager,
       147,
       {rvqString(143, "rvq", 3), rvqString(146, "data", 4), rvqTextHandle(138, txt("X"))},
       OUT_MISSING_ATTRIBUTE},
      {"table without name",
       manager,
       147,
       {rvqString(143, "rvq", 3), rvqString(146, "data", 4), rvqHandle(144, nullptr)},
       OUT_MISSING_ATTRIBUTE},
      {"bind of a non-table",
       manager,
       422,
       {rvqHandle(0, nullptr), rvqHandle(504, manager)},
       OUT_BAD_HANDLE},
      {"bind of a stray pointer",
       manager,
       422,
       {rvqHandle(0, nullptr), rvqHandle(504, &v)},
       OUT_BAD_HANDLE},
      {"publish of a stray pointer", manager, 428, {rvqHandle(0, &v)}, OUT_BAD_HANDLE},
      {"group without handle", manager, 300, {rvqTextHandle(138, txt("G"))}, OUT_MISSING_ATTRIBUTE},
      {"view of no data",
       manager,
       708,
       {rvqTextHandle(784, txt("not a data reference")), rvqBound(321, nullptr)},
       OUT_MISSING_ATTRIBUTE},
  };
  for (Case& c : cases) {
    size_t nodesBefore = doc->nodes.size();
    int32_t rc = call(c.object, c.method, c.attrs);
    EXPECT_EQ(rc, outputStatus(c.expected)) << c.what;
    EXPECT_EQ(facility(rc), kOutputFacility) << c.what;
    EXPECT_FALSE(rvqIsLogOnly(rc)) << c.what;
    EXPECT_NE(outputStatusText(rc).find("method " + std::to_string(c.method)), std::string::npos)
        << c.what;
    EXPECT_EQ(doc->nodes.size(), nodesBefore) << c.what;
  }
  EXPECT_TRUE(doc->nodes[0]->columns.empty());
}

TEST_F(OutputProtocol, RowAndPublishOrderIsChecked) {
  double x = 1;
  RvqObject* table = numberTable("T", &x);
  RvqObject* bound = bind(table, "Stat.T");
  // The data object may also come as the second record with id 0.
  std::vector<RvqAttr> again = {rvqHandle(0, nullptr), rvqHandle(0, table)};
  EXPECT_EQ(call(manager, 422, again), outputStatus(OUT_BAD_SEQUENCE));
  ASSERT_EQ(wobmth(table, nullptr, 329, 0, nullptr), 0);
  ASSERT_EQ(wobmth(table, nullptr, 299, 0, nullptr), 0);
  EXPECT_EQ(wobmth(table, nullptr, 329, 0, nullptr), outputStatus(OUT_BAD_SEQUENCE));
  // Dynamic variables set on the table after it was made; a name set again is replaced.
  std::vector<RvqAttr> dyn = {rvqTextHandle(311, txt("showAIC")), rvqFlag(287, 1),
                              rvqTextHandle(311, txt("width")), rvqDouble(287, 8.5)};
  ASSERT_EQ(call(table, 316, dyn), 0);
  std::vector<RvqAttr> again2 = {rvqTextHandle(311, txt("showAIC")), rvqInt(287, 0)};
  ASSERT_EQ(call(table, 316, again2), 0);
  // An empty footnote (null text handle) publishes without a footnote.
  std::vector<RvqAttr> pub = {rvqHandle(0, bound), rvqTextHandle(378, nullptr)};
  EXPECT_EQ(call(manager, 428, pub), 0);
  EXPECT_EQ(publish(bound), outputStatus(OUT_BAD_SEQUENCE));
  const OutputNode& node = *doc->nodes[0];
  EXPECT_EQ(node.rows.size(), 1u);
  EXPECT_TRUE(node.footnote.empty());
  EXPECT_NE(renderJsonNodes(*doc).find(R"("dynamics":{"showAIC":0,"width":8.5})"),
            std::string::npos);
}

TEST_F(OutputProtocol, InjectedFailures) {
  double x = 1;
  RvqObject* table = numberTable("T", &x);
  // The log-only status comes back from a call that has done its work.
  injectOutputFailure(329, kOutputLogOnly, 1);
  EXPECT_EQ(wobmth(table, nullptr, 329, 0, nullptr), 0);
  EXPECT_EQ(wobmth(table, nullptr, 329, 0, nullptr), kOutputLogOnly);
  EXPECT_TRUE(rvqIsLogOnly(kOutputLogOnly));
  EXPECT_EQ(wobmth(table, nullptr, 329, 0, nullptr), 0);
  EXPECT_EQ(doc->nodes[0]->rows.size(), 3u);
  // Any other code stops the call.
  const int32_t failure = static_cast<int32_t>(0x80000000u | (5u << 11) | 9u);
  injectOutputFailure(329, failure, 0);
  EXPECT_EQ(wobmth(table, nullptr, 329, 0, nullptr), failure);
  EXPECT_EQ(doc->nodes[0]->rows.size(), 3u);
  // Any method; the close slot counts as method 4.
  injectOutputFailure(-1, failure, 0);
  EXPECT_EQ(textLine("lost"), failure);
  RvqObject* group = openGroup("G");
  injectOutputFailure(4, failure, 0);
  EXPECT_EQ(wobclose(group), failure);
  EXPECT_EQ(wobclose(group), 0);
  // A pending failure can be withdrawn.
  injectOutputFailure(358, failure, 0);
  injectOutputFailure(358, 0, 0);
  EXPECT_EQ(textLine("kept"), 0);
  EXPECT_EQ(doc->nodes.back()->text, "kept");
}

TEST_F(OutputProtocol, ViewsAndGraphsAreRecorded) {
  double x = 1;
  RvqObject* summary = numberTable("SelectionSummary", &x);
  RvqObject* best = numberTable("BestStep", &x);
  RvqText* summaryRef = nullptr;
  RvqText* bestRef = nullptr;
  ASSERT_EQ(publish(bind(summary, "Stat.VARSIFTER.SelectionSummary", &summaryRef)), 0);
  ASSERT_EQ(publish(bind(best, "Stat.VARSIFTER.Phantom.BestStep", &bestRef)), 0);

  std::vector<RvqAttr> view = {rvqTextHandle(784, summaryRef),
                               rvqTextHandle(105, txt("where=(step >= 1 and step <= 3)")),
                               rvqBound(321, nullptr)};
  ASSERT_EQ(call(manager, 708, view), 0);
  void* viewHandle = view[2].value.ptr;
  ASSERT_NE(viewHandle, nullptr);

  RvqAttr axis[] = {rvqTextHandle(311, txt("_STEPAXIS")), rvqTextHandle(287, txt("STEP")),
                    rvqTextHandle(311, txt("_CHOSENVALUE")), rvqInt(287, 2)};
  RvqText* refs[] = {bestRef};
  std::vector<RvqAttr> graph = {rvqTextHandle(138, txt("AICPlot")),
                                rvqTextHandle(296, txt("AIC")),
                                rvqTextHandle(339, txt("Stat.VARSIFTER.Graphics.CriterionPlot")),
                                counted(2829, RVQ_DATAREFS, 1, refs),
                                rvqBound(307, viewHandle),
                                rvqTextHandle(311, txt("_DEPNAME")),
                                rvqTextHandle(287, txt("Y")),
                                counted(174, RVQ_LIST, 4, axis)};
  ASSERT_EQ(call(manager, 2826, graph), 0);
  std::vector<RvqAttr> release = {rvqBound(321, viewHandle)};
  EXPECT_EQ(call(manager, 494, release), 0);
  EXPECT_EQ(call(manager, 494, release), outputStatus(OUT_BAD_HANDLE));
  RvqText* badRefs[] = {txt("plain text")};
  std::vector<RvqAttr> bad = {rvqTextHandle(138, txt("G")),
                              counted(2829, RVQ_DATAREFS, 1, badRefs)};
  EXPECT_EQ(call(manager, 2826, bad), outputStatus(OUT_BAD_HANDLE));

  const OutputNode& g = *doc->nodes.back();
  EXPECT_EQ(g.kind, NodeKind::Graph);
  EXPECT_EQ(g.viewWhere, "where=(step >= 1 and step <= 3)");
  std::string json = renderJsonNodes(*doc);
  EXPECT_NE(
      json.find(
          R"({"kind":"graph","name":"AICPlot","template":"Stat.VARSIFTER.Graphics.CriterionPlot",)"
          R"("data":["BestStep","SelectionSummary"],)"
          R"("dynamics":{"_DEPNAME":"Y","_STEPAXIS":"STEP","_CHOSENVALUE":2},"vegaLite":{)"),
      std::string::npos)
      << json;
}

TEST_F(OutputProtocol, TextServicesAndHandleLifetime) {
  HostRvqTextServices* t = rvqTextServices();
  EXPECT_EQ(t->rvqtxt("abc", 2)->text, "ab");
  EXPECT_EQ(t->rvqtxt("abc", -1)->text, "abc");
  EXPECT_EQ(t->rvqtxts("where", 5)->text, "where");
  EXPECT_EQ(t->rvqtxt(nullptr, 3), nullptr);
  EXPECT_EQ(t->rvqtxt("abc", -7), nullptr);
  EXPECT_EQ(t->rvqmsg(848, 100)->text, formatMessage(848, 100, nullptr, 0));
  HostMsgArg args[] = {HostMsgArg(7), HostMsgArg("xy", 2)};
  EXPECT_EQ(t->rvqmsgs(848, 1151, args, 2)->text, formatMessage(848, 1151, args, 2));
  // A text handle as a substitution value stands for its text.
  HostMsgArg withHandle[] = {HostMsgArg(7), HostMsgArg::text(t->rvqtxt("xy", 2))};
  EXPECT_EQ(t->rvqmsgs(848, 1151, withHandle, 2)->text, formatMessage(848, 1151, args, 2));
  RvqText forged{"forged", nullptr};
  HostMsgArg forgedArg[] = {HostMsgArg(7), HostMsgArg::text(&forged)};
  HostMsgArg emptyArg[] = {HostMsgArg(7), HostMsgArg("", 0)};
  EXPECT_EQ(t->rvqmsgs(848, 1151, forgedArg, 2)->text, formatMessage(848, 1151, emptyArg, 2));

  // A handle of an ended step is no longer accepted; the finished document stays readable.
  RvqText* old = txt("old");
  ASSERT_EQ(textLine("kept"), 0);
  endStepOutput();
  EXPECT_EQ(currentOutput(), nullptr);
  EXPECT_EQ(doc->nodes.at(0)->text, "kept");
  OutputDocument* next = beginStepOutput();
  RvqObject* block2 = nullptr;
  outputObjectServices()->xobinit(&block2, 0);
  std::vector<RvqAttr> a = {rvqString(143, "rvq", 3), rvqString(146, "manager", 7),
                            rvqHandle(144, nullptr)};
  ASSERT_EQ(call(block2, 147, a), 0);
  auto* manager2 = static_cast<RvqObject*>(a[2].value.ptr);
  std::vector<RvqAttr> line = {rvqInt(371, 1), rvqTextHandle(577, old)};
  (void)next;
  EXPECT_EQ(call(manager2, 358, line), outputStatus(OUT_BAD_HANDLE));
}

TEST_F(OutputProtocol, ViewRowCountsFollowTheirFilter) {
  struct {
    int32_t step;
    double value;
  } row{};
  RvqObject* table = create("data", "SelectionSummary");
  std::vector<RvqAttr> c1 = {rvqInt(103, 3), rvqTextHandle(138, txt("Step")),
                             rvqBound(285, &row.step)};
  std::vector<RvqAttr> c2 = {rvqInt(103, 5), rvqTextHandle(138, txt("SBC")),
                             rvqBound(285, &row.value)};
  ASSERT_EQ(call(table, 338, c1), 0);
  ASSERT_EQ(call(table, 338, c2), 0);
  ASSERT_EQ(wobmth(table, nullptr, 298, 0, nullptr), 0);
  RvqText* ref = nullptr;
  RvqObject* bound = bind(table, "Stat.VARSIFTER.SelectionSummary", &ref);
  for (int s = 0; s < 5; ++s) {
    row.step = s;
    row.value = s == 2 ? hostMissing() : 10.0 - s;
    ASSERT_EQ(wobmth(table, nullptr, 329, 0, nullptr), 0);
  }
  ASSERT_EQ(publish(bound), 0);
  auto view = [&](const char* where) {
    std::vector<RvqAttr> a = {rvqTextHandle(784, ref), rvqTextHandle(105, txt(where)),
                              rvqBound(321, nullptr)};
    EXPECT_EQ(call(manager, 708, a), 0);
    return a[2].value.ptr;
  };
  // Rows: steps 0..4 with SBC 10, 9, missing, 7, 6.
  struct Case {
    const char* where;
    bool readable;
    int64_t rows;
  } cases[] = {{"where=(step >= 1 and step <= 3)", true, 3},
               {"where=(STEP >= 7)", true, 0},
               {"", true, 5},
               {"sbc < 8", true, 3}, // missing is below every number
               {"sbc ^= 9 and step > 0", true, 3},
               {"where=(effect >= 1)", false, 0},
               {"where=(step >= )", false, 0},
               {"step >= 1 or step <= 3", false, 0}};
  for (const Case& c : cases) {
    void* v = view(c.where);
    int64_t rows = -1;
    EXPECT_EQ(outputViewRows(v, &rows), c.readable) << c.where;
    if (c.readable) {
      EXPECT_EQ(rows, c.rows) << c.where;
    }
  }
  void* v = view("step >= 0");
  std::vector<RvqAttr> release = {rvqBound(321, v)};
  ASSERT_EQ(call(manager, 494, release), 0);
  int64_t rows = -1;
  EXPECT_FALSE(outputViewRows(v, &rows));
  EXPECT_FALSE(outputViewRows(table, &rows)); // a table is no view
}

// Through the installed host services: a rejected call ends the run with 120 and logs the
// manager's reason; the log-only status is logged and the run goes on.
TEST_F(OutputProtocol, FailuresReachTheLogThroughTheExitCheck) {
  struct Install {
    HostControlBlock* saved = v_global_gcb_anchor;
    Install() { v_global_gcb_anchor = hostControlBlock(); }
    ~Install() { v_global_gcb_anchor = saved; }
  } install;
  takeLog();
  RvqObject* table = create("data", "T");
  double v = 0;
  std::vector<RvqAttr> bad = {rvqInt(103, 6), rvqTextHandle(138, txt("C")), rvqBound(285, &v)};
  int32_t rc = call(table, 338, bad);
  ASSERT_LT(rc, 0);
  int exitCode = 0;
  try {
    zrvqexit(rc);
  } catch (const HostExit& e) {
    exitCode = e.code;
  }
  EXPECT_EQ(exitCode, 120);
  std::vector<LogRecord> log = takeLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].severity, HostSeverity::Error);
  EXPECT_NE(log[0].text.find("method 338"), std::string::npos) << log[0].text;

  injectOutputFailure(358, kOutputLogOnly, 0);
  rc = textLine("still shown");
  EXPECT_EQ(rc, kOutputLogOnly);
  exitCode = 0;
  try {
    zrvqexit(rc);
  } catch (const HostExit& e) {
    exitCode = e.code;
  }
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(takeLog().size(), 1u);
  EXPECT_EQ(doc->nodes.back()->text, "still shown");
}
