// The parser service group beside the parse itself: token peeking and values, list-slot
// growth, number formatting and the general allocator.
#include "host/parser/psparser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace qrxhost;

namespace {

TEST(ParserServices, PeekAndTokenValues) {
  HostParser p;
  loadParserText(&p, "a = 12 x 0.5;", 1, 1);
  HostParserServices* s = parserServices();
  p.pos = 1;
  EXPECT_EQ(std::string(s->xttkcur(&p)->text, s->xttkcur(&p)->length), "=");
  EXPECT_EQ(std::string(s->yttkpk(&p, 1)->text, 2), "12");
  EXPECT_DOUBLE_EQ(s->xtoknum(s->yttkpk(&p, 1)), 12);
  EXPECT_DOUBLE_EQ(s->xtoknum(s->yttkpk(&p, 3)), 0.5);
  EXPECT_TRUE(std::isnan(s->xtoknum(s->yttkpk(&p, 2)))); // a name has no value
  // Peeking past the end stays on the end marker.
  EXPECT_EQ(s->yttkpk(&p, 100)->tokenClass, TC_ENDJB);
}

TEST(ParserServices, ListSlotsGrowAndKeepTheirItems) {
  OptionSlot slot{};
  HostParserServices* s = parserServices();
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(s->zaddlst(&slot, 4, 1), 0);
    slot.items.ints[slot.value.list.count++] = i * 3;
  }
  EXPECT_GE(slot.value.list.capacity, 1000);
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(slot.items.ints[i], i * 3);
  EXPECT_LT(s->zaddlst(&slot, 0, 1), 0);
  EXPECT_LT(s->zaddlst(&slot, 4, 1 << 29), 0);
}

TEST(ParserServices, NumberFormatting) {
  char buf[17] = {0};
  HostParserServices* s = parserServices();
  EXPECT_EQ(s->xpfs(buf, -16, 99, 1.0), 16);
  EXPECT_EQ(std::string(buf, 16), "1               ");
  s->xpfs(buf, 16, 99, 0.25);
  EXPECT_EQ(std::string(buf, 16), "            0.25");
  s->xpfs(buf, -16, 2, 3.14159);
  EXPECT_EQ(std::string(buf, 4), "3.14");
}

TEST(ParserServices, AllocatorZeroesAndIgnoresForeignBlocks) {
  HostParserServices* s = parserServices();
  auto* p = static_cast<unsigned char*>(s->xtalloc(64, 0));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; ++i)
    ASSERT_EQ(p[i], 0);
  s->xtfree(p);
  int local = 0;
  s->xtfree(&local); // not from the allocator: ignored
  EXPECT_EQ(s->xtalloc(-1, 0), nullptr);
}

} // namespace
