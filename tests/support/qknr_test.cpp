// Tests of the named-value registry routines on a fake kernel: whole-number conversion,
// typed reads with defaults and text fall-backs, sets into values of another type, the
// allowance countdown, keyword lookup, failure reports and the debug echo.
#include "numerics/rngfake.h"
#include "support/qknr.h"

#include <gtest/gtest.h>

using rngtest::FakeKernel;

TEST(Qknrstol, WholeNumbers) {
  EXPECT_EQ(qknrstol(U" -12.000 "), -12);
  EXPECT_EQ(qknrstol(U"42"), 42);
  EXPECT_EQ(qknrstol(U"+7."), 7);
  EXPECT_EQ(qknrstol(U"\t19\t"), 19);
  EXPECT_EQ(qknrstol(U"0"), 0);
  EXPECT_EQ(qknrstol(U"12.5"), kQknrInvalid);
  EXPECT_EQ(qknrstol(U"12.0001"), kQknrInvalid);
  EXPECT_EQ(qknrstol(U"+"), kQknrInvalid);
  EXPECT_EQ(qknrstol(U""), kQknrInvalid);
  EXPECT_EQ(qknrstol(U"   "), kQknrInvalid);
  EXPECT_EQ(qknrstol(U"1 2"), kQknrInvalid);
  EXPECT_EQ(qknrstol(U"12abc"), kQknrInvalid);
  EXPECT_EQ(qknrstol(U".5"), kQknrInvalid);
  EXPECT_EQ(qknrstol(nullptr), kQknrInvalid);
  EXPECT_EQ(qknrstol(U"99999999999999999999"), kQknrMagnitude);
  EXPECT_EQ(qknrstol(U"-99999999999999999999"), -kQknrMagnitude);
  EXPECT_EQ(qknrstol(U"9007199254740992"), kQknrMagnitude);
  EXPECT_EQ(qknrstol(U"9007199254740991"), 9007199254740991LL);
}

TEST(QknrRead, TextsWithCapacityAndLengths) {
  FakeKernel k;
  k.setText("OSENV.A", "HELLO");
  QkChar buf[16];
  EXPECT_EQ(qknrtget(U"OSENV.A", 0, buf, 16), 5);
  EXPECT_EQ(std::u32string(buf), U"HELLO");
  EXPECT_EQ(qknrtget(U"OSENV.A", 0, buf, 4), 3); // capacity includes the terminator
  EXPECT_EQ(std::u32string(buf), U"HEL");
  EXPECT_EQ(qknrtget(U"OSENV.A", 0, nullptr, 16), 0);
  EXPECT_EQ(qknrtget(U"OSENV.A", 0, buf, 1), 0);
  EXPECT_EQ(buf[0], 0u);
  EXPECT_EQ(qknrtget(U"OSENV.AB", 7, buf, 16), 5); // explicit name length
  EXPECT_EQ(qknrtget(U"OSENV.MISSING", -1, buf, 16), 0);
  EXPECT_EQ(buf[0], 0u);
  char bytes[8];
  k.values[U"OSENV.B"] = rngtest::StoredValue{QK_VALUE_TEXT, 0, 0, U"ab\u00e9"};
  EXPECT_EQ(qknrcget(U"OSENV.B", 0, bytes, 8), 3);
  EXPECT_EQ(std::string(bytes), "ab\xe9");
  k.values[U"OSENV.W"] = rngtest::StoredValue{QK_VALUE_TEXT, 0, 0, U"x\u4e2d"};
  EXPECT_EQ(qknrcget(U"OSENV.W", 0, bytes, 8), 2);
  EXPECT_EQ(std::string(bytes), "x?");
  EXPECT_TRUE(k.reports.empty()); // absent names are never reported
}

TEST(QknrRead, IntegersAndDoubles) {
  FakeKernel k;
  EXPECT_EQ(qknrlget(U"OSENV.N", 0, -3), -3);
  k.setLong("OSENV.N", 77);
  EXPECT_EQ(qknrlget(U"OSENV.N", 0, -3), 77);
  k.setText("OSENV.N", " 123 ");
  EXPECT_EQ(qknrlget(U"OSENV.N", 0, -3), 123);
  EXPECT_TRUE(k.reports.empty());
  k.setText("OSENV.N", "12x");
  EXPECT_EQ(qknrlget(U"OSENV.N", 0, -3), -3);
  auto bad = k.statusReports(kQknrBadInteger);
  ASSERT_EQ(bad.size(), 1u);
  ASSERT_EQ(bad[0].values.size(), 4u);
  EXPECT_EQ(bad[0].values[0], "12x");
  EXPECT_EQ(bad[0].values[1], "OSENV.N");
  EXPECT_EQ(bad[0].values[2], "-9007199254740992");
  EXPECT_EQ(bad[0].values[3], "9007199254740992");

  EXPECT_EQ(qknrdget(U"OSENV.D", 0, 2.5), 2.5);
  EXPECT_EQ(qknrdset(U"OSENV.D", 0, 0.125), 0u);
  EXPECT_EQ(qknrdget(U"OSENV.D", 0, 2.5), 0.125);
  k.setText("OSENV.D", "1e-3");
  EXPECT_EQ(qknrdget(U"OSENV.D", 0, 2.5), 1e-3);
  k.setText("OSENV.D", "abc");
  EXPECT_EQ(qknrdget(U"OSENV.D", 0, 2.5), 2.5);
}

TEST(QknrRead, HostFailuresAreReportedAndGiveTheDefault) {
  FakeKernel k;
  k.setLong("OSENV.N", 5);
  k.getFailure = true;
  EXPECT_EQ(qknrlget(U"OSENV.N", 0, 9), 9);
  QkChar buf[8];
  EXPECT_EQ(qknrtget(U"OSENV.N", 0, buf, 8), 0);
  int failures = 0, statuses = 0;
  for (const auto& r : k.reports) {
    failures += r.text.find("qkNameValueGet failed for OSENV.N in ") == 0;
    statuses += r.status == 0x803F0001u;
  }
  EXPECT_EQ(failures, 2);
  EXPECT_EQ(statuses, 2);
  // Without a journal nothing is reported and nothing fails.
  k.withoutJournal();
  k.reports.clear();
  EXPECT_EQ(qknrlget(U"OSENV.N", 0, 9), 9);
  EXPECT_TRUE(k.reports.empty());
}

TEST(QknrSet, TypedSetsAndTextFallBack) {
  FakeKernel k;
  EXPECT_EQ(qknrlset(U"OSENV.L", 0, -42), 0u);
  EXPECT_EQ(k.value("OSENV.L").type, QK_VALUE_INT64);
  EXPECT_EQ(k.value("OSENV.L").l, -42);
  // A name holding a text takes the number's text.
  k.setText("OSENV.T", "old");
  EXPECT_EQ(qknrlset(U"OSENV.T", 0, 9007199254740993LL), 0u);
  EXPECT_EQ(k.value("OSENV.T").type, QK_VALUE_TEXT);
  EXPECT_EQ(k.value("OSENV.T").text, U"9007199254740993");
  EXPECT_EQ(qknrtset(U"OSENV.S", 0, U"abc", 0), 0u);
  EXPECT_EQ(k.value("OSENV.S").text, U"abc");
  EXPECT_EQ(qknrtset(U"OSENV.S", 0, U"abcdef", 2), 0u);
  EXPECT_EQ(k.value("OSENV.S").text, U"ab");
}

TEST(QknrLimit, CountsDownFromTheDefault) {
  FakeKernel k;
  EXPECT_EQ(qknrlimit(U"OSENV.LIM", 0, 100), 99);
  EXPECT_EQ(k.value("OSENV.LIM").l, 99);
  for (int i = 2; i < 100; ++i)
    qknrlimit(U"OSENV.LIM", 0, 100);
  EXPECT_TRUE(k.statusReports(kQknrLimitReached).empty());
  EXPECT_EQ(qknrlimit(U"OSENV.LIM", 0, 100), 0); // the hundredth call
  auto reached = k.statusReports(kQknrLimitReached);
  ASSERT_EQ(reached.size(), 1u);
  EXPECT_EQ(reached[0].level, 2);
  EXPECT_EQ(reached[0].values[0], "OSENV.LIM");
  EXPECT_EQ(qknrlimit(U"OSENV.LIM", 0, 100), -1);
  EXPECT_EQ(qknrlimit(U"OSENV.LIM", 0, 100), -1);
  EXPECT_EQ(k.value("OSENV.LIM").l, -1);
  EXPECT_EQ(k.statusReports(kQknrLimitReached).size(), 1u);

  // A count given as text (as from the environment) counts down in text.
  k.setText("OSENV.ENV", "3");
  EXPECT_EQ(qknrlimit(U"OSENV.ENV", 0, 100), 2);
  EXPECT_EQ(k.value("OSENV.ENV").text, U"2");
  // A text that is no count starts from the default and says so.
  k.setText("OSENV.BAD", "lots");
  EXPECT_EQ(qknrlimit(U"OSENV.BAD", 0, 100), 99);
  bool said = false;
  for (const auto& r : k.reports)
    said |= r.text.find("The existing value may not be") != std::string::npos;
  EXPECT_TRUE(said);
  // A large negative count stays at -1.
  k.setLong("OSENV.NEG", -50);
  EXPECT_EQ(qknrlimit(U"OSENV.NEG", 0, 100), -1);
}

TEST(QknrLook, KeywordsCaseAndUnknownValues) {
  FakeKernel k;
  const QknrKeyword pairs[] = {{U"ALPHA", 1}, {U"BETA", 2}, {U"BE", 3}, {U"BETA", 4}, {nullptr, 0}};
  EXPECT_EQ(qknrlook(U"OSENV.K", 0, 9, pairs), 9); // absent
  k.setText("OSENV.K", "beta   ");
  EXPECT_EQ(qknrlook(U"OSENV.K", 0, 9, pairs), 2); // first match wins
  k.setText("OSENV.K", "Be");
  EXPECT_EQ(qknrlook(U"OSENV.K", 0, 9, pairs), 3);
  k.setText("OSENV.K", "   ");
  EXPECT_EQ(qknrlook(U"OSENV.K", 0, 9, pairs), 9);
  EXPECT_TRUE(k.reports.empty());
  k.setText("OSENV.K", " alphabet");
  EXPECT_EQ(qknrlook(U"OSENV.K", 0, 9, pairs), 9);
  auto unknown = k.statusReports(kQknrBadKeyword);
  ASSERT_EQ(unknown.size(), 1u);
  EXPECT_EQ(unknown[0].values[0], " ALPHABET");
  EXPECT_EQ(unknown[0].values[1], "OSENV.K");
  EXPECT_EQ(k.value("OSENV.K").text, U""); // cleared, so it is reported once
  EXPECT_EQ(qknrlook(U"OSENV.K", 0, 9, pairs), 9);
  EXPECT_EQ(k.statusReports(kQknrBadKeyword).size(), 1u);
  // Without a journal an unknown value is neither reported nor cleared.
  k.setText("OSENV.K", "GAMMA");
  k.withoutJournal();
  EXPECT_EQ(qknrlook(U"OSENV.K", 0, 9, pairs), 9);
  EXPECT_EQ(k.value("OSENV.K").text, U"GAMMA");
}

TEST(QknrDebug, EchoesWhenTheSwitchExists) {
  FakeKernel k;
  k.setLong("OSENV.N", 5);
  qknrlget(U"OSENV.N", 0, 0);
  EXPECT_TRUE(k.reports.empty());
  k.setText("OSENV.QRX_QKNR_DEBUG", "");
  qknrlget(U"OSENV.N", 0, 0);
  ASSERT_EQ(k.reports.size(), 1u);
  EXPECT_EQ(k.reports[0].text, "qknrlget(OSENV.N)=5");
  k.reports.clear();
  const QknrKeyword pairs[] = {{U"X", 1}, {U"YES", 2}, {nullptr, 0}};
  k.setText("OSENV.K", "yes");
  EXPECT_EQ(qknrlook(U"OSENV.K", 0, 0, pairs), 2);
  ASSERT_EQ(k.reports.size(), 3u);
  EXPECT_EQ(k.reports[0].text, "qknrlook(OSENV.K) 'YES' != 'X' 1");
  EXPECT_EQ(k.reports[1].text, "qknrlook(OSENV.K) 'YES' == 'YES' 2");
  EXPECT_EQ(k.reports[2].text, "qknrlook(OSENV.K)=2 'YES'");
}

TEST(QknrJournal, PlainJournalGetsTheValuesAsText) {
  FakeKernel k;
  k.plainJournalOnly();
  k.setText("OSENV.N", "zz");
  EXPECT_EQ(qknrlget(U"OSENV.N", 0, 1), 1);
  ASSERT_EQ(k.reports.size(), 1u);
  EXPECT_EQ(k.reports[0].status, kQknrBadInteger);
  EXPECT_EQ(k.reports[0].text, "zz, OSENV.N, -9007199254740992, 9007199254740992");
}
