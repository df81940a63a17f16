// The macro-variable table through its service group, and %PUT's reference resolution.
#include "host/hostcore.h"
#include "host/macros.h"

#include <gtest/gtest.h>

using namespace qrxhost;

TEST(Macros, ServiceGroupSetsAndReadsCaseInsensitively) {
  clearMacros();
  HostMacroVariableServices* m = hostControlBlock()->groups->macro;
  HostMacroTable* anchor = m->xalanch(hostControlBlock()->task->macroWord);
  ASSERT_NE(anchor, nullptr);
  EXPECT_EQ(m->xjsympn(anchor, "_VSFNUMBYS", 10, 71, 0, 3.0), 0);
  EXPECT_EQ(m->xjsympn(anchor, "half", 4, 71, 0, 0.5), 0);
  EXPECT_EQ(m->xjsympc(anchor, "_vsfindXX", 7, 71, 0, "AGE BMI", 7), 0); // length 7: "_vsfind"
  EXPECT_EQ(getMacro("_vsfnumbys").value_or("?"), "3");
  EXPECT_EQ(getMacro("HALF").value_or("?"), "0.5");
  EXPECT_EQ(getMacro("_VSFIND").value_or("?"), "AGE BMI");
  char buf[4];
  EXPECT_EQ(m->xjsymget(anchor, "_VSFIND", 7, buf, sizeof buf), 3); // cut to the buffer
  EXPECT_STREQ(buf, "AGE");
  EXPECT_EQ(m->xjsymget(anchor, "NOPE", 4, buf, sizeof buf), -1);
  // names that are not macro names are refused
  EXPECT_NE(m->xjsympc(anchor, "1bad", 4, 71, 0, "x", 1), 0);
  EXPECT_NE(m->xjsympc(anchor, "a b", 3, 71, 0, "x", 1), 0);
  EXPECT_NE(m->xjsympn(anchor, "", 0, 71, 0, 1.0), 0);
  EXPECT_EQ(allMacros().size(), 3u);
  clearMacros();
}

TEST(Macros, PutResolvesReferences) {
  clearMacros();
  setMacro("a", "x");
  setMacro("ab", "y");
  std::vector<std::string> unresolved;
  EXPECT_EQ(resolveMacroRefs("&a &ab &a.b &c. & &&a", &unresolved), "x y xb &c. & &x");
  ASSERT_EQ(unresolved.size(), 1u);
  EXPECT_EQ(unresolved[0], "C");
  clearMacros();
}
