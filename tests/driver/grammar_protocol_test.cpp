// The grammar's action items against the action routines the host parser names: a rule
// that calls a routine the host does not run would be skipped silently.
#include "driver/vsfselg.h"
#include "support/parsedstmt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>

namespace {

// A node is read by its statement's typed keys only: a flag is no slot, a slot no flag, and
// a bare number neither.
template <class K> constexpr bool kReadsSlot = requires(const ParsedStatement* s, K k) {
  stmtSlot(s, k);
};
template <class K> constexpr bool kReadsFlag = requires(const ParsedStatement* s, K k) {
  stmtFlag(s, k);
};
static_assert(kReadsSlot<ModelSlot> && kReadsSlot<ClassSlot> && kReadsFlag<ModelFlag>);
static_assert(!kReadsSlot<ModelFlag> && !kReadsSlot<int> && !kReadsFlag<ClassSlot> &&
              !kReadsFlag<int>);

TEST(GrammarProtocol, EveryActionOfTheRulesIsANamedRoutine) {
  namespace A = GrammarAction;
  const int named[] = {A::ProcStatement, A::IntoProcNode, A::NewNode,        A::EndStatement,
                       A::SetFlag,       A::StoreValue,   A::AppendValue,    A::StartList,
                       A::ItemStart,     A::VariableItem, A::CatalogPart,    A::DataSetStart,
                       A::NameToken,     A::DataSet,      A::DefaultDataSet, A::NumberList,
                       A::Range,         A::ListCode,     A::TokenSave,      A::AppendName,
                       A::NameStart,     A::By,           A::NameClass,      A::ClassPosition,
                       A::StoreCode,     A::ListText,     A::DataSetOptions, A::SetSwitch,
                       A::Effect};
  int count = 0;
  const GrammarRule* rules = vsfGrammarRules(&count);
  int actions = 0;
  for (int r = 0; r < count; ++r) {
    const std::string body = rules[r].body;
    for (size_t at = body.find('#'); at != std::string::npos; at = body.find('#', at + 1)) {
      size_t end = at + 1;
      while (end < body.size() && std::isdigit(static_cast<unsigned char>(body[end])))
        ++end;
      ASSERT_GT(end, at + 1) << rules[r].name << ": '#' without a routine number";
      int code = std::stoi(body.substr(at + 1, end - at - 1));
      EXPECT_NE(std::find(std::begin(named), std::end(named), code), std::end(named))
          << rules[r].name << " calls routine " << code;
      ++actions;
    }
  }
  EXPECT_GT(actions, 500); // the generated rules are in the table too
}

// A number written into a rule's text by hand (a flag, slot, code, range or node size) would
// escape the names: every action item of the rules must be one the rules were built from.
TEST(GrammarProtocol, EveryActionItemIsBuiltFromNames) {
  int count = 0;
  const GrammarRule* rules = vsfGrammarRules(&count);
  std::map<std::string, int> inRules;
  for (int r = 0; r < count; ++r) {
    const std::string body = rules[r].body;
    for (size_t at = body.find('#'); at != std::string::npos; at = body.find('#', at + 1)) {
      size_t end = body.find_first_of(" )", at);
      if (end != std::string::npos && body[end] == ')')
        ++end;
      ++inRules[body.substr(at, end - at)];
    }
  }
  const std::map<std::string, int>& built = vsfGrammarBuiltActions();
  for (const auto& [item, n] : inRules) {
    auto it = built.find(item);
    EXPECT_EQ(n, it == built.end() ? 0 : it->second) << item << " is written into a rule by hand";
  }
  EXPECT_EQ(inRules.size(), built.size()) << "an action item was built but left out of the rules";
}

} // namespace
