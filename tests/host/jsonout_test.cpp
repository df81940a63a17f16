// The run's JSON record: escaping keeps any text valid JSON and reading it back gives the
// same text; the record has the documented shape.
#include "host/runner/jsonout.h"
#include "minijson.h"

#include <gtest/gtest.h>

#include <limits>

using namespace qrxhost;

TEST(JsonOut, StringsRoundTripThroughAStrictReader) {
  const std::string texts[] = {
      "plain",
      "quote \" and backslash \\",
      "line\nbreak\ttab\rcr",
      std::string("nul\0x", 5),
      "\x01\x1f control",
      "UTF-8: \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80",
      "",
  };
  for (const std::string& t : texts) {
    minijson::Value v;
    std::string err;
    ASSERT_TRUE(minijson::parse(jsonString(t), &v, &err)) << err << " in " << jsonString(t);
    EXPECT_EQ(v.s, t);
  }
  // bytes that are not UTF-8 are taken as Latin-1 characters, keeping the record valid
  minijson::Value v;
  ASSERT_TRUE(minijson::parse(jsonString("a\xff"
                                         "b\xc3"),
                              &v));
  EXPECT_EQ(v.s, "a\xc3\xbf"
                 "b\xc3\x83");
}

TEST(JsonOut, NumbersAndMissingValues) {
  EXPECT_EQ(jsonNumber(hostMissing()), "null");
  EXPECT_EQ(jsonNumber(std::numeric_limits<double>::infinity()), "null");
  EXPECT_EQ(jsonNumber(0.1), "0.1");
  EXPECT_EQ(jsonNumber(-3), "-3");
  minijson::Value v;
  ASSERT_TRUE(minijson::parse(jsonNumber(1.0 / 3.0), &v));
  EXPECT_EQ(v.n, 1.0 / 3.0); // shortest text that reads back exactly
}

TEST(JsonOut, RunRecordShape) {
  RunRecord run;
  run.returnCode.raise(StepRc::Error);
  run.macros = {{"_VSFIND", "AGE \"BMI\""}, {"N", "3"}};
  StepRecord step;
  step.procedure = "VARSIFTER";
  step.line = 3;
  step.returnCode.raise(StepRc::Error);
  LogRecord numbered;
  numbered.numbered = true;
  numbered.set = 848;
  numbered.number = 141;
  numbered.severity = HostSeverity::Error;
  numbered.values.resize(3);
  numbered.values[0].kind = HostMsgArg::Int;
  numbered.values[0].i = 7;
  numbered.values[1].kind = HostMsgArg::Dbl;
  numbered.values[1].d = hostMissing();
  numbered.values[2].kind = HostMsgArg::Str;
  numbered.values[2].s = "x";
  numbered.text = "text";
  LogRecord line;
  line.severity = HostSeverity::Note;
  line.text = "plain";
  step.log = {numbered, line};
  step.outputNodes = "[{\"kind\": \"text\", \"text\": \"hi\"}]";
  run.steps = {step, StepRecord{}};

  minijson::Value v;
  std::string err;
  ASSERT_TRUE(minijson::parse(jsonRunRecord(run), &v, &err)) << err;
  EXPECT_EQ(v["returnCode"].n, 1012);
  EXPECT_EQ(v["macros"]["_VSFIND"].s, "AGE \"BMI\"");
  ASSERT_EQ(v["steps"].items.size(), 2u);
  const minijson::Value& s0 = v["steps"][0];
  EXPECT_EQ(s0["procedure"].s, "VARSIFTER");
  EXPECT_EQ(s0["line"].n, 3);
  EXPECT_EQ(s0["returnCode"].n, 1012);
  const minijson::Value& r0 = s0["log"][0];
  EXPECT_EQ(r0["set"].n, 848);
  EXPECT_EQ(r0["number"].n, 141);
  EXPECT_EQ(r0["severity"].s, "ERROR");
  EXPECT_EQ(r0["values"][0].n, 7);
  EXPECT_EQ(r0["values"][1].kind, minijson::Value::Null);
  EXPECT_EQ(r0["values"][2].s, "x");
  const minijson::Value& r1 = s0["log"][1];
  EXPECT_FALSE(r1.has("set")); // unnumbered lines carry severity and text only
  EXPECT_FALSE(r1.has("values"));
  EXPECT_EQ(r1["severity"].s, "NOTE");
  EXPECT_EQ(s0["output"][0]["text"].s, "hi");
  EXPECT_EQ(v["steps"][1]["log"].items.size(), 0u);
  // an empty run is valid too
  ASSERT_TRUE(minijson::parse(jsonRunRecord(RunRecord{}), &v, &err)) << err;
  EXPECT_EQ(v["steps"].kind, minijson::Value::Array);
}
