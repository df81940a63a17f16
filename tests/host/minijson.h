// A small strict JSON reader for tests: parses text into a tree, failing on anything
// that is not JSON, so tests can check both validity and content of the run record.
#pragma once

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace minijson {

struct Member;

struct Value {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool b = false;
  double n = 0;
  std::string s;
  std::vector<Value> items;
  std::vector<Member> members; // an object's members in their order

  const Value& operator[](size_t i) const { return items.at(i); }
  const Value& operator[](const std::string& key) const;
  bool has(const std::string& key) const;
};

// A name and value of an object (a struct, not a std::pair, which clang's library wants
// complete where Value is not yet).
struct Member {
  std::string first;
  Value second;
};

inline const Value& Value::operator[](const std::string& key) const {
  for (const auto& m : members)
    if (m.first == key)
      return m.second;
  static const Value none;
  return none;
}

inline bool Value::has(const std::string& key) const {
  for (const auto& m : members)
    if (m.first == key)
      return true;
  return false;
}

class Parser {
public:
  explicit Parser(const std::string& text) : t_(text) {}
  bool parse(Value* out, std::string* error) {
    ok_ = true;
    ws();
    *out = value();
    ws();
    if (ok_ && i_ != t_.size())
      fail("trailing text");
    if (!ok_ && error)
      *error = err_;
    return ok_;
  }

private:
  const std::string& t_;
  size_t i_ = 0;
  bool ok_ = true;
  std::string err_;

  void fail(const std::string& what) {
    if (ok_)
      err_ = what + " at offset " + std::to_string(i_);
    ok_ = false;
    i_ = t_.size();
  }
  void ws() {
    while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\n' || t_[i_] == '\r' || t_[i_] == '\t'))
      ++i_;
  }
  bool lit(const char* word) {
    size_t n = std::char_traits<char>::length(word);
    if (t_.compare(i_, n, word) == 0) {
      i_ += n;
      return true;
    }
    return false;
  }
  Value value() {
    Value v;
    if (i_ >= t_.size()) {
      fail("unexpected end");
      return v;
    }
    char c = t_[i_];
    if (c == '{') {
      v.kind = Value::Object;
      ++i_;
      ws();
      if (i_ < t_.size() && t_[i_] == '}') {
        ++i_;
        return v;
      }
      for (;;) {
        ws();
        if (i_ >= t_.size() || t_[i_] != '"') {
          fail("expected a key");
          return v;
        }
        std::string key = str();
        ws();
        if (i_ >= t_.size() || t_[i_] != ':') {
          fail("expected ':'");
          return v;
        }
        ++i_;
        ws();
        v.members.push_back(Member{key, value()});
        ws();
        if (i_ < t_.size() && t_[i_] == ',') {
          ++i_;
          continue;
        }
        if (i_ < t_.size() && t_[i_] == '}') {
          ++i_;
          return v;
        }
        fail("expected ',' or '}'");
        return v;
      }
    }
    if (c == '[') {
      v.kind = Value::Array;
      ++i_;
      ws();
      if (i_ < t_.size() && t_[i_] == ']') {
        ++i_;
        return v;
      }
      for (;;) {
        ws();
        v.items.push_back(value());
        ws();
        if (i_ < t_.size() && t_[i_] == ',') {
          ++i_;
          continue;
        }
        if (i_ < t_.size() && t_[i_] == ']') {
          ++i_;
          return v;
        }
        fail("expected ',' or ']'");
        return v;
      }
    }
    if (c == '"') {
      v.kind = Value::String;
      v.s = str();
      return v;
    }
    if (lit("null"))
      return v;
    if (lit("true")) {
      v.kind = Value::Bool;
      v.b = true;
      return v;
    }
    if (lit("false")) {
      v.kind = Value::Bool;
      return v;
    }
    size_t start = i_;
    if (i_ < t_.size() && t_[i_] == '-')
      ++i_;
    if (i_ >= t_.size() || !isdigit(static_cast<unsigned char>(t_[i_]))) {
      fail("expected a value");
      return v;
    }
    if (t_[i_] == '0' && i_ + 1 < t_.size() && isdigit(static_cast<unsigned char>(t_[i_ + 1]))) {
      fail("leading zero");
      return v;
    }
    while (i_ < t_.size() && (isdigit(static_cast<unsigned char>(t_[i_])) || t_[i_] == '.' ||
                              t_[i_] == 'e' || t_[i_] == 'E' || t_[i_] == '+' || t_[i_] == '-'))
      ++i_;
    std::string num = t_.substr(start, i_ - start);
    char* end = nullptr;
    v.kind = Value::Number;
    v.n = std::strtod(num.c_str(), &end);
    if (*end != '\0')
      fail("bad number " + num);
    return v;
  }
  std::string str() {
    std::string out;
    ++i_; // opening quote
    while (i_ < t_.size()) {
      unsigned char c = static_cast<unsigned char>(t_[i_]);
      if (c == '"') {
        ++i_;
        return out;
      }
      if (c < 0x20) {
        fail("control character in a string");
        return out;
      }
      if (c == '\\') {
        if (++i_ >= t_.size())
          break;
        char e = t_[i_++];
        switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          if (i_ + 4 > t_.size()) {
            fail("short \\u escape");
            return out;
          }
          unsigned cp = static_cast<unsigned>(std::strtoul(t_.substr(i_, 4).c_str(), nullptr, 16));
          i_ += 4;
          if (cp < 0x80)
            out += static_cast<char>(cp);
          else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
          } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
          }
          break;
        }
        default:
          fail("bad escape");
          return out;
        }
        continue;
      }
      out += static_cast<char>(c);
      ++i_;
    }
    fail("unterminated string");
    return out;
  }
};

inline bool parse(const std::string& text, Value* out, std::string* error = nullptr) {
  return Parser(text).parse(out, error);
}

} // namespace minijson
