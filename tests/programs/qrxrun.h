// Runs a program through the built qrx binary in a fresh work directory and reads back its
// --json record; helpers find a table of the record and read its cells by column name.
#pragma once

#include "host/minijson.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace qrxrun {

struct Run {
  int status = -1; // the process exit status
  std::string log; // standard output and error
  minijson::Value json;
};

// `files` are written into the work directory before the run (name -> contents).
inline Run run(const std::string &program, const std::string &tag,
               const std::map<std::string, std::string> &files = {}) {
  namespace fs = std::filesystem;
  Run r;
  const fs::path work = fs::temp_directory_path() /
                        ("qrx_" + tag + "_" + std::to_string(static_cast<long>(::getpid())));
  fs::remove_all(work);
  fs::create_directories(work);
  for (const auto &[name, text] : files)
    std::ofstream(work / name) << text;
  const fs::path prog = work / "program.qrx", json = work / "run.json";
  std::ofstream(prog) << program;
  const std::string cmd = std::string("cd '") + QRX_SOURCE_DIR +
                          "' && ASAN_OPTIONS=detect_leaks=0 '" + QRX_BINARY + "' --work '" +
                          work.string() + "' --json '" + json.string() + "' '" + prog.string() +
                          "' 2>&1";
  if (FILE *p = ::popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
      r.log.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  std::ifstream f(json);
  std::stringstream s;
  s << f.rdbuf();
  std::string error;
  EXPECT_TRUE(minijson::Parser(s.str()).parse(&r.json, &error)) << error << "\n" << r.log;
  fs::remove_all(work);
  return r;
}

// The first table called `name` under `node`, depth first; tables of BY groups follow each
// other, so `skip` passes over that many earlier ones.
inline const minijson::Value *findTable(const minijson::Value &node, const std::string &name,
                                        int *skip) {
  using minijson::Value;
  if (node.kind == Value::Array) {
    for (const auto &item : node.items)
      if (const Value *t = findTable(item, name, skip))
        return t;
    return nullptr;
  }
  if (node.kind != Value::Object)
    return nullptr;
  if (node["kind"].s == "table" && node["name"].s == name && (*skip)-- == 0)
    return &node;
  return node.has("children") ? findTable(node["children"], name, skip) : nullptr;
}

inline const minijson::Value *findTable(const minijson::Value &node, const std::string &name,
                                        int skip = 0) {
  return findTable(node, name, &skip);
}

inline int column(const minijson::Value &t, const std::string &name) {
  for (size_t i = 0; i < t["columns"].items.size(); ++i)
    if (t["columns"][i]["name"].s == name)
      return static_cast<int>(i);
  return -1;
}

inline const minijson::Value *cell(const minijson::Value &t, size_t row, const std::string &name) {
  const int k = column(t, name);
  if (k < 0 || row >= t["rows"].items.size())
    return nullptr;
  return &t["rows"][row][static_cast<size_t>(k)];
}

inline double number(const minijson::Value &t, size_t row, const std::string &name) {
  const minijson::Value *v = cell(t, row, name);
  return v != nullptr && v->kind == minijson::Value::Number ? v->n : std::nan("");
}

inline std::string text(const minijson::Value &t, size_t row, const std::string &name) {
  const minijson::Value *v = cell(t, row, name);
  return v != nullptr ? v->s : std::string();
}

// How many log records of a step carry (set, number).
inline int messageCount(const minijson::Value &step, int set, int number) {
  int n = 0;
  for (const auto &rec : step["log"].items)
    if (rec.has("set") && rec["set"].n == set && rec["number"].n == number)
      ++n;
  return n;
}

} // namespace qrxrun
