// Parameter and level names: fixed-width, blank-padded name records of CLASS variables and
// their levels and of model effects, from which valid variable names (VALIDVARNAME rules)
// and readable labels are composed. The parameter-name builder of levelisation fills the
// records and calls these functions.
#pragma once

#include <cstdint>

struct VmProvider;
struct ClassNameRecord;

// One level of a CLASS variable.
struct ClassLevelEntry {
  ClassLevelEntry* next;
  char cls[32];        // the formatted level value
  char label[256];     // the level's label; replaced by the full label
  char nameText[32];   // the level's text for names
  char longLabel[256]; // the level's label for parameters
  ClassNameRecord* owner;
  void* reserved;
  char name[32]; // the valid name part
  double freq;
  int16_t addflag;
};

// One CLASS variable.
struct ClassNameRecord {
  char name[32];
  char reflev[32];
  char work[256];
  char label[256];
  int32_t nfl;
  int32_t nflen;
  int32_t cprefix;
  int32_t lprefix;
  int32_t nameLimit;
  int32_t sepnvLength;
  const char* sepnv;
  ClassLevelEntry* levels;
  char blank[32];
  char order;
  int32_t varnum;
  int32_t nclasses;
  int32_t classnum;
  int32_t index;
  int16_t numeric;
  int16_t reflevfound;
  int16_t firstinfun;
  int16_t orthcoding;
};

// One model effect: its composed name and label.
struct EffectNameRecord {
  char name[32];
  char label[256];
  ClassLevelEntry** factors; // the current level of each crossed CLASS variable
  char** continuous;         // each a 32-character name followed by a 256-character label
  int32_t nways;
  int32_t continuousCount;
  int32_t prefixCount;
  int32_t sepintLength;
  const char* sepint;
  int16_t continuousFirst;
  int32_t funcNum;
  int32_t effectNum;
};

ClassNameRecord* zmnalcl(int32_t count, VmProvider* pool);
void zmnprcl(ClassNameRecord* records, int32_t count);
void zmname(EffectNameRecord* records, int32_t count);
void zmzname(int32_t mode, char* text, int32_t length, int32_t useHost);
int32_t zmnlcon(char* target, const char* source, int32_t targetWidth, int32_t sourceWidth,
                const char* separator, int32_t separatorLength);
void zmnconc(char* target, const char* first, const char* second, int32_t targetWidth,
             int32_t firstWidth, int32_t secondWidth);
void zmnsuff(EffectNameRecord* records, int32_t count, int32_t width, const char* suffix,
             int32_t suffixLength, int32_t placement);
void zmncomp(char* target, const char* first, const char* second, int32_t targetWidth,
             int32_t firstWidth, int32_t secondWidth);
void zmnjust(const char* source, char* target);
void zmnduef(const EffectNameRecord* records, int32_t count);
void zmnducl(const ClassNameRecord* records, int32_t count);

// The VALIDVARNAME width: 8 under V6, else 32.
[[nodiscard]] int32_t zmnNameWidth();
// Makes a 32-character blank-padded text a valid variable name (the host's rules).
void zmnValidName(char* text, int32_t length);
