// A logged message as the tests name it: by its enumerator, which brings its set along. The
// checks of the logs take a MsgId, so a test says which message it expects by name, cannot
// pair a number with another set's, and a bare number does not compile.
#pragma once

#include "host/hostmessages.h"
#include "host/parser/psparser.h"
#include "support/messages.h"

#include <cstdint>
#include <ostream>

struct MsgId {
  int32_t set = 0;
  int32_t number = 0;

  template <MessageName M> constexpr MsgId(M m) : set(msgSet(m)), number(static_cast<int32_t>(m)) {}
  constexpr MsgId(qrxhost::DataMsg m)
      : set(qrxhost::kDataMsgSet), number(static_cast<int32_t>(m)) {}
  constexpr MsgId(qrxhost::RunnerMsg m)
      : set(qrxhost::kRunnerMsgSet), number(static_cast<int32_t>(m)) {}
  constexpr MsgId(qrxhost::ParserMsg m) : set(qrxhost::kParserMsgSet), number(m) {}
  constexpr MsgId(qrxhost::AuxMsg m) : set(qrxhost::kAuxMsgSet), number(static_cast<int32_t>(m)) {}

  // The message of a logged record (anything with a set and a number).
  template <class Record> static constexpr MsgId of(const Record& r) {
    return MsgId(r.set, r.number);
  }
  // Whether a logged record's set and number are this message's.
  template <class S, class N> constexpr bool is(S recordSet, N recordNumber) const {
    return recordSet == set && recordNumber == number;
  }
  friend constexpr bool operator==(const MsgId&, const MsgId&) = default;
  friend std::ostream& operator<<(std::ostream& out, const MsgId& m) {
    return out << m.set << "/" << m.number;
  }

private:
  constexpr MsgId(int32_t s, int32_t n) : set(s), number(n) {}
};
