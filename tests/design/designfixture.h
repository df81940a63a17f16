// Shared set-up of the design-library tests: the stand-in host, a CSV data set written by
// the test, a hand-built design descriptor (CLASS and numeric variables, model effects) and
// a design context over it, with helpers that read every usable row.
#pragma once

#include "design/levreg.h"
#include "design/levrow.h"
#include "msgid.h"

#include <filesystem>
#include <string>
#include <vector>

namespace designtest {

struct EffectSpec {
  std::string name;
  std::vector<std::string> continuous;
  std::vector<std::string> crossed;
  std::vector<std::string> nested;
};

struct RowOut {
  LevRowStatusSet status;
  double y = 0, w = 0, f = 0;
  std::vector<double> x;
};

class DesignFixture {
public:
  DesignFixture();
  ~DesignFixture();
  DesignFixture(const DesignFixture&) = delete;
  DesignFixture& operator=(const DesignFixture&) = delete;

  // Writes work/<name>.csv and opens it as DATA=.
  void data(const std::string& csv, const std::string& name = "d");
  // Declares the CLASS variables, numeric variables, the response and the effects (the
  // Intercept first unless noIntercept). Returns the design.
  LevDesign* design(const std::vector<std::string>& classes,
                    const std::vector<std::string>& numerics,
                    const std::vector<EffectSpec>& effects, bool noIntercept = false);
  void response(const std::string& name);
  void responses(const std::vector<std::string>& names);
  void weight(const std::string& name);
  void freq(const std::string& name);
  LevVariable* cls(const std::string& name);
  int32_t classIndex(const std::string& name) const;
  int32_t numericIndex(const std::string& name) const;
  // zlevrgi on a fresh per-group pool.
  LevBuild levelise();
  // zlevtrm(all).
  void end();
  // Every observation of the group through the row protocol.
  std::vector<RowOut> rows();
  // The level texts of a CLASS variable, trailing blanks cut.
  std::vector<std::string> levels(const std::string& name);
  // The numbered messages logged since the last call, as set*1000+number.
  std::vector<MsgId> messages();

  LevRegContext ctx{};
  LevReadBlock block{};
  LevDesign des{};
  HostDataSet* ds = nullptr;
  std::filesystem::path dir;
  std::vector<std::string> classNames, numericNames;

private:
  HostVariable* describe(const std::string& name);
  std::vector<LevVariable> classStore, numericStore, responseStore, weightStore, freqStore;
  std::vector<LevEffect> effectStore;
  std::vector<std::vector<int32_t>> lists;
  std::vector<std::string> names;
};

} // namespace designtest
