// Token save: the statements' texts as written, one text per statement, kept for the
// post-fit statements. The host parser's tokens are copied from the current statement's
// start; tight tokens ('(', '=', '<', '>', an inner ')') join their neighbours.
#include "driver/vsftokensave.h"

#include "support/hoststubs.h"
#include "support/parsedstmt.h"
#include "support/quotedtext.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

[[nodiscard]] bool appendBuffer(TokenSave* s, const char* text, int64_t n) {
  if (s->length + n + 2 > s->capacity) {
    int64_t cap = std::max<int64_t>(s->capacity * 2, s->length + n + 256);
    auto* fresh = static_cast<char*>(xtalloc(cap, 0x2004));
    if (!fresh)
      return false;
    if (s->buffer) {
      std::memcpy(fresh, s->buffer, static_cast<size_t>(s->length));
      xtfree(s->buffer);
    }
    s->buffer = fresh;
    s->capacity = cap;
  }
  std::memcpy(s->buffer + s->length, text, static_cast<size_t>(n));
  s->length += n;
  s->buffer[s->length] = '\0';
  return true;
}

} // namespace

bool zttkadd(TokenSave* s, const char* text, int64_t n) {
  return s != nullptr && appendBuffer(s, text, n);
}

TokenSave* zttksi(HostParser* anchor) {
  auto* s = static_cast<TokenSave*>(xtalloc(sizeof(TokenSave), 0x2004));
  if (!s)
    return nullptr;
  std::memset(s, 0, sizeof *s);
  s->anchor = anchor ? anchor : xtanch();
  s->hostSwitchWasOn = xttkqsp(s->anchor, 30);
  if (!s->hostSwitchWasOn)
    xttksp(s->anchor, 30, 1);
  s->capacity = 256;
  s->buffer = static_cast<char*>(xtalloc(s->capacity, 0x2004));
  if (!s->buffer)
    s->capacity = 0;
  return s;
}

// The statement is copied whole: the buffer grows as needed (a saved statement is never
// cut short).
void zttkus(TokenSave* s, const HostToken* token, int64_t offset, int32_t) {
  if (!s || !token)
    return;
  if (offset < 0 || offset > s->length)
    offset = s->length;
  s->length = offset;
  if (s->buffer)
    s->buffer[s->length] = '\0';
  HostParser* p = s->anchor;
  // Find how far the given token is from the current one, then peek from there.
  int depth = 0;
  const HostToken* cur = xttkcur(p);
  int32_t k = 0;
  if (cur && token != cur)
    while (k < 1 << 20) {
      const HostToken* t = yttkpk(p, k);
      if (t == token || !t || t->tokenClass == TC_ENDJB)
        break;
      ++k;
    }
  for (;; ++k) {
    const HostToken* t = yttkpk(p, k);
    if (!t || t->tokenClass == TC_ENDJB || (t->length == 1 && t->text[0] == ';'))
      break;
    bool tight = false;
    if (t->length == 1) {
      char c = t->text[0];
      if (c == '(')
        ++depth;
      if (c == ')')
        --depth;
      tight = c == '(' || c == '=' || c == '<' || c == '>' || (c == ')' && depth != 0);
    }
    // Tight tokens join their neighbours: drop the blank written after the previous token.
    if (tight && s->length > offset && s->buffer[s->length - 1] == ' ')
      --s->length;
    std::string piece(t->text, static_cast<size_t>(t->length));
    if (t->tokenClass == TC_QS)
      piece = quotedText(piece); // read back by the same rule, whichever quotes it holds
    if (!appendBuffer(s, piece.data(), static_cast<int64_t>(piece.size())))
      break;
    if (!tight && !appendBuffer(s, " ", 1))
      break;
  }
  while (s->length > offset && s->buffer[s->length - 1] == ' ')
    --s->length;
  if (s->buffer)
    s->buffer[s->length] = '\0';
}

void zttks(TokenSave* s) {
  if (!s || s->length == 0 || !s->buffer)
    return;
  int64_t n = s->length;
  bool semi = s->buffer[n - 1] == ';';
  auto* e = static_cast<TokenSaveText*>(xtalloc(sizeof(TokenSaveText), 0x2004));
  auto* text = static_cast<char*>(xtalloc(n + 2, 0x2004));
  if (!e || !text) {
    xtfree(e);
    xtfree(text);
    return;
  }
  std::memcpy(text, s->buffer, static_cast<size_t>(n));
  if (!semi)
    text[n++] = ';';
  text[n] = '\0';
  e->text = text;
  e->length = static_cast<int32_t>(n);
  e->next = nullptr;
  if (s->tail)
    s->tail->next = e;
  else
    s->head = e;
  s->tail = e;
  s->statementCount++;
  s->length = 0;
  s->buffer[0] = '\0';
}

void zttkse(TokenSave* s) {
  if (!s)
    return;
  if (!s->hostSwitchWasOn)
    xttksp(s->anchor, 30, 0);
  for (TokenSaveText* e = s->head; e;) {
    TokenSaveText* next = e->next;
    xtfree(e->text);
    xtfree(e);
    e = next;
  }
  xtfree(s->buffer);
  xtfree(s);
}
