// Parameter and level names: level labels composed from variable label, separator and level
// label within 256 characters, numeric-looking level texts mapped to name characters, valid
// name parts under VALIDVARNAME, and composition of crossed-effect names and labels.
#include "effects/zmn.h"

#include "effects/levalloc.h"
#include "effects/zlst.h"
#include "support/hoststubs.h"
#include "support/vmhandlers.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

constexpr int32_t kNameWidth = 32;
constexpr int32_t kLabelWidth = 256;

enum class ValidVarName { V6, V7, Any };

ValidVarName validVarName() {
  char buffer[16] = {0};
  int32_t n = xoption("VALIDVARNAME", buffer, static_cast<int32_t>(sizeof buffer));
  if (n <= 0)
    return ValidVarName::V7;
  int32_t len = effStrip(buffer, n < 15 ? n : 15);
  auto is = [&](const char* word) {
    int32_t w = static_cast<int32_t>(std::strlen(word));
    if (len != w)
      return false;
    for (int32_t i = 0; i < w; ++i)
      if (std::toupper(static_cast<unsigned char>(buffer[i])) != word[i])
        return false;
    return true;
  };
  if (is("V6"))
    return ValidVarName::V6;
  if (is("ANY"))
    return ValidVarName::Any;
  return ValidVarName::V7;
}

void blank(char* text, int32_t n) { std::memset(text, ' ', static_cast<size_t>(n)); }

// Copies a text into a blank-padded field of width n.
void put(char* field, int32_t n, const char* text, int32_t length) {
  blank(field, n);
  if (length > n)
    length = n;
  if (length > 0)
    std::memcpy(field, text, static_cast<size_t>(length));
}

// Left-justifies a blank-padded text and blanks everything from its first zero byte on.
void justify(char* text, int32_t n) {
  int32_t zero = n;
  for (int32_t i = 0; i < n; ++i)
    if (text[i] == '\0') {
      zero = i;
      break;
    }
  for (int32_t i = zero; i < n; ++i)
    text[i] = ' ';
  int32_t lead = 0;
  while (lead < n && text[lead] == ' ')
    ++lead;
  if (lead > 0 && lead < n) {
    std::memmove(text, text + lead, static_cast<size_t>(n - lead));
    blank(text + n - lead, lead);
  }
}

[[nodiscard]] bool isNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Maps a numeric-looking text ("-1.5", "+2") to name characters ("N1D5", "P2").
void mapNumeric(char* text, int32_t n) {
  int32_t len = effStrip(text, n);
  if (len == 0 || text[0] == 'E')
    return;
  bool numeric = true, invalid = false;
  for (int32_t i = 0; i < len && numeric; ++i) {
    numeric = std::strchr("1234567890.-+E", text[i]) != nullptr;
    invalid = invalid || !isNameChar(text[i]);
  }
  if (!numeric || !invalid)
    return;
  for (int32_t i = 0; i < len; ++i) {
    if (isNameChar(text[i]))
      continue;
    text[i] = text[i] == '+' ? 'P' : text[i] == '-' ? 'N' : text[i] == '.' ? 'D' : '_';
  }
}

// Prefix length P of a CLASS variable's names (see zmnprcl).
[[nodiscard]] int32_t prefixLength(const ClassNameRecord& r, int32_t width) {
  int32_t w = r.nameLimit > 0 && r.nameLimit < width ? r.nameLimit : width;
  int32_t p = r.cprefix;
  if (p == -1) {
    int32_t nfl = r.nfl > 2 ? r.nfl : 2;
    p = w - (nfl < w ? nfl : w);
  }
  int32_t nameLength = effStrip(r.name, kNameWidth);
  if (p != 0 && nameLength <= p)
    p = nameLength;
  return p;
}

// Composes variable label, separator and level label into `out` (256, blank-padded),
// shortening the parts when together they exceed 256 characters.
void composeLabel(const ClassNameRecord& r, const char* levelLabel, char* out) {
  const char* sep = r.sepnv != nullptr ? r.sepnv : " ";
  int32_t s = r.sepnv != nullptr ? r.sepnvLength : 1;
  int32_t v = effStrip(r.label, kLabelWidth);
  if (r.lprefix != -1 && v > r.lprefix)
    v = r.lprefix;
  int32_t l = effStrip(levelLabel, kLabelWidth);
  char work[kLabelWidth];
  if (v == 0) {
    std::memcpy(work, levelLabel, kLabelWidth);
    std::memcpy(out, work, kLabelWidth);
    return;
  }
  if (v + s + l > kLabelWidth) {
    if (r.lprefix == -1) {
      if (l > 128 - s) {
        if (v <= 128) {
          l = kLabelWidth - v - s;
        } else {
          v = 128;
          l = 128 - s;
        }
      } else if (v > 128) {
        v = kLabelWidth - l - s;
      }
    }
    for (int guard = 0; v + s + l > kLabelWidth && guard < 4 * kLabelWidth; ++guard) {
      if (v < l) {
        if (l > 8)
          --l;
      } else {
        if (v > 8)
          --v;
        if (v <= l && l > 8)
          --l;
      }
      if (v < s && l < s && s > 8)
        --s;
    }
  }
  if (l < 0)
    l = 0;
  blank(work, kLabelWidth);
  int32_t w = 0;
  auto add = [&](const char* text, int32_t n) {
    if (n > kLabelWidth - w)
      n = kLabelWidth - w;
    if (n > 0)
      std::memcpy(work + w, text, static_cast<size_t>(n));
    w += n > 0 ? n : 0;
  };
  add(r.label, v);
  add(sep, s);
  add(levelLabel, l);
  std::memcpy(out, work, kLabelWidth);
}

} // namespace

int32_t zmnNameWidth() { return validVarName() == ValidVarName::V6 ? 8 : kNameWidth; }

void zmnValidName(char* text, int32_t length) {
  ValidVarName rule = validVarName();
  if (rule == ValidVarName::Any)
    return;
  int32_t len = effStrip(text, length);
  for (int32_t i = 0; i < len; ++i)
    if (!isNameChar(text[i]))
      text[i] = '_';
  if (len > 0 && std::isdigit(static_cast<unsigned char>(text[0]))) {
    int32_t keep = len < length ? len : length - 1;
    std::memmove(text + 1, text, static_cast<size_t>(keep));
    text[0] = '_';
  }
  // V6 names hold at most eight characters.
  if (rule == ValidVarName::V6 && length > 8)
    blank(text + 8, length - 8);
}

ClassNameRecord* zmnalcl(int32_t count, VmProvider* pool) {
  if (count < 1)
    return nullptr;
  size_t size = sizeof(ClassNameRecord) * static_cast<size_t>(count);
  auto* records = static_cast<ClassNameRecord*>(pool != nullptr ? vmalcp_handler(pool, size, 0x3002)
                                                                : levAlloc(size));
  if (records == nullptr)
    return nullptr;
  for (int32_t i = 0; i < count; ++i) {
    ClassNameRecord& r = records[i];
    std::memset(&r, 0, sizeof r);
    blank(r.name, kNameWidth);
    blank(r.work, kLabelWidth);
    blank(r.label, kLabelWidth);
    blank(r.blank, kNameWidth);
    r.cprefix = -1;
    r.lprefix = -1;
  }
  return records;
}

void zmzname(int32_t, char* text, int32_t length, int32_t useHost) {
  if (useHost) {
    zmnValidName(text, length);
    return;
  }
  justify(text, length);
  if (validVarName() == ValidVarName::Any)
    return;
  mapNumeric(text, length);
}

void zmnprcl(ClassNameRecord* records, int32_t count) {
  ValidVarName rule = validVarName();
  int32_t width = rule == ValidVarName::V6 ? 8 : kNameWidth;
  for (int32_t k = 0; k < count; ++k) {
    ClassNameRecord& r = records[k];
    if (r.numeric) {
      int32_t common = kLabelWidth;
      for (ClassLevelEntry* e = r.levels; e != nullptr; e = e->next) {
        int32_t lead = 0;
        while (lead < kLabelWidth && e->label[lead] == ' ')
          ++lead;
        if (lead < common)
          common = lead;
      }
      if (common > 0 && common < kLabelWidth)
        for (ClassLevelEntry* e = r.levels; e != nullptr; e = e->next) {
          std::memmove(e->label, e->label + common, static_cast<size_t>(kLabelWidth - common));
          blank(e->label + kLabelWidth - common, common);
        }
    }
    int32_t p = prefixLength(r, width);
    for (ClassLevelEntry* e = r.levels; e != nullptr; e = e->next) {
      composeLabel(r, e->label, e->label);
      composeLabel(r, e->longLabel, e->longLabel);
      if (effStrip(e->nameText, kNameWidth) > 0)
        zmzname(0, e->nameText, kNameWidth, 0);
      char text[kNameWidth];
      std::memcpy(text, e->cls, kNameWidth);
      justify(text, kNameWidth);
      if (rule != ValidVarName::Any)
        mapNumeric(text, kNameWidth);
      char name[2 * kNameWidth];
      blank(name, 2 * kNameWidth);
      std::memcpy(name, r.name, static_cast<size_t>(p));
      std::memcpy(name + p, text, kNameWidth);
      put(e->name, kNameWidth, name, kNameWidth);
      zmnValidName(e->name, kNameWidth);
    }
  }
}

int32_t zmnlcon(char* target, const char* source, int32_t targetWidth, int32_t sourceWidth,
                const char* separator, int32_t separatorLength) {
  int32_t t = effStrip(target, targetWidth);
  int32_t s = effStrip(source, sourceWidth);
  if (t > 0 && s > 0) {
    for (int32_t i = 0; i < separatorLength && t < targetWidth; ++i)
      target[t++] = separator[i];
  }
  if (t == 0 || s > 0) {
    int32_t n = s < targetWidth - t ? s : targetWidth - t;
    if (n > 0)
      std::memcpy(target + t, source, static_cast<size_t>(n));
  }
  return s;
}

void zmnconc(char* target, const char* first, const char* second, int32_t targetWidth,
             int32_t firstWidth, int32_t secondWidth) {
  char work[2 * kLabelWidth];
  int32_t a = effStrip(first, firstWidth), b = effStrip(second, secondWidth);
  std::memcpy(work, first, static_cast<size_t>(a));
  std::memcpy(work + a, second, static_cast<size_t>(b));
  put(target, targetWidth, work, a + b);
}

void zmname(EffectNameRecord* records, int32_t count) {
  int32_t width = zmnNameWidth();
  for (int32_t k = 0; k < count; ++k) {
    EffectNameRecord& r = records[k];
    const char* sep = r.sepint != nullptr ? r.sepint : " * ";
    int32_t sepLength = r.sepint != nullptr ? r.sepintLength : 3;
    char cname[kNameWidth], contName[kNameWidth], clabel[kLabelWidth], contLabel[kLabelWidth];
    blank(cname, kNameWidth);
    blank(contName, kNameWidth);
    blank(clabel, kLabelWidth);
    blank(contLabel, kLabelWidth);
    for (int32_t i = 0; i < r.nways; ++i) {
      const ClassLevelEntry* lev = r.factors[i];
      char piece[2 * kNameWidth];
      int32_t n = 0;
      const char* labelPiece;
      if (i < r.prefixCount && lev->owner != nullptr) {
        int32_t p = prefixLength(*lev->owner, width);
        std::memcpy(piece, lev->owner->name, static_cast<size_t>(p));
        int32_t t = effStrip(lev->nameText, kNameWidth);
        std::memcpy(piece + p, lev->nameText, static_cast<size_t>(t));
        n = p + t;
        labelPiece = lev->longLabel;
      } else {
        n = effStrip(lev->name, kNameWidth);
        std::memcpy(piece, lev->name, static_cast<size_t>(n));
        labelPiece = lev->label;
      }
      int32_t at = effStrip(cname, kNameWidth);
      int32_t room = kNameWidth - at;
      std::memcpy(cname + at, piece, static_cast<size_t>(n < room ? n : room));
      zmnlcon(clabel, labelPiece, kLabelWidth, kLabelWidth, sep, sepLength);
    }
    int32_t n = r.continuousCount;
    for (int32_t i = 0; i < n; ++i) {
      const char* partName = r.continuous[i];
      const char* partLabel = r.continuous[i] + kNameWidth;
      int32_t chars = 33 + i - n - effStrip(cname, kNameWidth) - effStrip(contName, kNameWidth);
      int32_t nameLength = effStrip(partName, kNameWidth);
      if (chars > 0) {
        int32_t at = effStrip(contName, kNameWidth);
        int32_t take = chars < nameLength ? chars : nameLength;
        if (take > kNameWidth - at)
          take = kNameWidth - at;
        if (take > 0)
          std::memcpy(contName + at, partName, static_cast<size_t>(take));
      }
      bool onlyPart = n + r.nways == 1;
      if (effStrip(partLabel, kLabelWidth) == 0 && !onlyPart)
        zmnlcon(contLabel, partName, kLabelWidth, kNameWidth, sep, sepLength);
      else
        zmnlcon(contLabel, partLabel, kLabelWidth, kLabelWidth, sep, sepLength);
    }
    if (!r.continuousFirst) {
      zmnconc(r.name, cname, contName, kNameWidth, kNameWidth, kNameWidth);
      std::memcpy(r.label, clabel, kLabelWidth);
      zmnlcon(r.label, contLabel, kLabelWidth, kLabelWidth, sep, sepLength);
    } else {
      zmnconc(r.name, contName, cname, kNameWidth, kNameWidth, kNameWidth);
      std::memcpy(r.label, contLabel, kLabelWidth);
      zmnlcon(r.label, clabel, kLabelWidth, kLabelWidth, sep, sepLength);
    }
  }
}

void zmnsuff(EffectNameRecord* records, int32_t count, int32_t width, const char* suffix,
             int32_t suffixLength, int32_t) {
  if (width <= 0 || width > kNameWidth)
    width = zmnNameWidth();
  for (int32_t k = 0; k < count; ++k) {
    char* name = records[k].name;
    blank(name + width, kNameWidth - width);
    if (suffix == nullptr || suffixLength <= 0)
      continue;
    int32_t s = suffixLength < width ? suffixLength : width;
    int32_t len = effStrip(name, width);
    int32_t at = len + s <= width ? len : width - s;
    std::memcpy(name + at, suffix, static_cast<size_t>(s));
  }
}

void zmncomp(char* target, const char* first, const char* second, int32_t targetWidth,
             int32_t firstWidth, int32_t secondWidth) {
  char work[2 * kLabelWidth];
  int32_t w = 0;
  for (int32_t i = 0; i < firstWidth && w < 2 * kLabelWidth; ++i)
    if (first[i] != ' ')
      work[w++] = first[i];
  for (int32_t i = 0; i < secondWidth && w < 2 * kLabelWidth; ++i)
    if (second[i] != ' ')
      work[w++] = second[i];
  put(target, targetWidth, work, w);
}

void zmnjust(const char* source, char* target) {
  int32_t i = 0;
  while (i < kNameWidth && source[i] == ' ')
    ++i;
  int32_t w = 0;
  for (; i < kNameWidth && source[i] != '\0'; ++i)
    target[w++] = source[i];
  blank(target + w, kNameWidth - w);
}

void zmnduef(const EffectNameRecord* records, int32_t count) {
  std::printf("Name (func num,effect num,nways) -> vars -> levels\n");
  for (int32_t k = 0; k < count; ++k) {
    const EffectNameRecord& r = records[k];
    std::printf("---------------------------------------------------\n");
    std::printf("CLASS: %.*s (%d,%d,%d) ->", kNameWidth, r.name, r.funcNum, r.effectNum, r.nways);
    for (int32_t i = 0; i < r.nways; ++i)
      std::printf(" %.*s", kNameWidth, r.factors[i]->cls);
    std::printf("\nQUANT: %.*s (%d,%d,%d) ->", kNameWidth, r.name, r.funcNum, r.effectNum,
                r.continuousCount);
    for (int32_t i = 0; i < r.continuousCount; ++i)
      std::printf(" %.*s", kNameWidth, r.continuous[i]);
    std::printf("\nsepint   = %.*s.\n", r.sepint ? r.sepintLength : 3, r.sepint ? r.sepint : " * ");
  }
}

void zmnducl(const ClassNameRecord* records, int32_t count) {
  for (int32_t k = 0; k < count; ++k) {
    const ClassNameRecord& r = records[k];
    std::printf("---------------------------------------------------\n");
    std::printf("name     = %.*s.\n", kNameWidth, r.name);
    std::printf("reflev   = %.*s.\n", kNameWidth, r.reflev);
    std::printf("label    = %.*s.\n", effStrip(r.label, kLabelWidth), r.label);
    std::printf("nfl      = %d.\nnflen    = %d.\n", r.nfl, r.nflen);
    std::printf("cprefix  = %d.\nlprefix  = %d.\n", r.cprefix, r.lprefix);
    std::printf("sepnv    = %.*s.\n", r.sepnv ? r.sepnvLength : 1, r.sepnv ? r.sepnv : " ");
    std::printf("order    = %c.\nvarnum   = %d.\nnclasses = %d.\n", r.order ? r.order : ' ',
                r.varnum, r.nclasses);
    std::printf("classnum = %d.\nindex    = %d.\nnumeric  = %d.\n", r.classnum, r.index, r.numeric);
    std::printf("reflevfound= %d.\nfirstinfun= %d.\northcoding= %d.\n", r.reflevfound, r.firstinfun,
                r.orthcoding);
    for (const ClassLevelEntry* e = r.levels; e != nullptr; e = e->next) {
      std::printf("  class    = %.*s.\n", kNameWidth, e->cls);
      std::printf("  label    = %.*s.\n", effStrip(e->label, kLabelWidth), e->label);
      std::printf("  freq     = %g.\n   addflag = %d.\n", e->freq, e->addflag);
      std::printf("  next     = %p.\n", static_cast<const void*>(e->next));
    }
  }
}
