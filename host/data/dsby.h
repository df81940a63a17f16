// The BY groups of an input data set: finding them in one pass, stepping through them and
// matching the groups of a second data set. Declared for the service table of dataset.cpp;
// the reads within a group are dataset.cpp's.
#pragma once

#include "host/data/dsstate.h"

namespace qrxhost::dsservice {

// Back before the first BY group and the first observation.
void rewindGroups(HostDataSet* ds);
// Finds the BY groups in one pass over the observations; returns the first observation out
// of BY order (-1: none).
int64_t computeGroups(HostDataSet* ds);

HostByHandle* dsBy(HostDataSet* data);
int32_t byNext(HostByHandle* by);
int32_t bySet(HostDataSet* data, const int32_t* numbers, const uint8_t* descending, int32_t count,
              int32_t notsorted);
int32_t byRewind(HostByHandle* by);
int32_t byLine(HostByHandle* by, char* buffer, int32_t capacity);
int32_t byList(HostDataSet* data, HostDataSet* other);
int32_t bySync(HostByHandle* by, HostDataSet* other);
int32_t byRwnd(HostDataSet* data, int32_t);

} // namespace qrxhost::dsservice
