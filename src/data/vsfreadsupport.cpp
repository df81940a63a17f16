// What the reading pass shares with the passes over other data sets: the partition role of
// a ROLEVAR= value, and pointing the design library's read block at another data set.
// Declared in data/vsfdata.h.
#include "data/vsfdata.h"

#include "design/levreg.h"
#include "support/hoststubs.h"

#include <cstring>

void vsfPointReadBlockAt(LevReadBlock* rb, HostDataSet* data) {
  rb->data = data;
  rb->formattedVector = rb->plainVector = nullptr;
  rb->formattedRecord = rb->plainRecord = nullptr;
}

void vsfReleaseReadBlock(LevReadBlock* rb) {
  QkPool* general = v_global_gcb_anchor != nullptr ? v_global_gcb_anchor->defaultPool : nullptr;
  for (HostReadVector* v : {rb->formattedVector, rb->plainVector})
    if (v != nullptr)
      xvgett(v);
  for (char* r : {rb->formattedRecord, rb->plainRecord})
    if (r != nullptr && general != nullptr)
      general->free(general, r);
}

int32_t vsfRoleOfValue(const VsfRoleValue& train, const VsfRoleValue& validate,
                       const VsfRoleValue& test, bool testData, const char* text, int32_t length) {
  // Leading blanks are stripped, trailing blanks do not count.
  while (length > 0 && text[0] == ' ') {
    ++text;
    --length;
  }
  while (length > 0 && text[length - 1] == ' ')
    --length;
  const VsfRoleValue* values[3] = {&train, &validate, &test};
  const int32_t roles[3] = {VSF_ROLE_TRAIN, VSF_ROLE_VALIDATE, VSF_ROLE_TEST};
  for (int i = 0; i < 3; ++i) {
    const VsfRoleValue& v = *values[i];
    if (length == 0
            ? v.length < 0
            : (v.length == length && std::memcmp(v.text, text, static_cast<size_t>(length)) == 0))
      return roles[i];
  }
  if (train.length == 0)
    return VSF_ROLE_TRAIN;
  return (test.length != 0 || testData) ? VSF_ROLE_NONE : VSF_ROLE_TEST;
}
