// Output data sets: creating one, defining its variables, collecting its rows and staging
// its file when it is ended (xvputt). Declared for the service table of dataset.cpp; putting
// the staged files in place at the end of the step is staging.cpp's.
#pragma once

#include "host/data/dsstate.h"

namespace qrxhost::dsservice {

HostDataSet* dsCreate(const char* name, int32_t length);
int32_t dsDefvar(HostDataSet* out, const char* name, int32_t length, int32_t type,
                 int32_t varLength);
// Checks an output's options against its variables once all are defined, so that a name
// they do not hold is found before the data are read; they are applied when it is ended.
int32_t dsDefend(HostDataSet* out);
int32_t dsPutn(HostDataSet* out, int32_t number, double value);
int32_t dsPutc(HostDataSet* out, int32_t number, const char* text, int32_t length);
int32_t dsAppend(HostDataSet* out);
// Ends an output data set: stages its file and frees the data set. The file replaces the
// data set when the step ends without error (commitStepOutputs).
void dsVputt(HostDataSet* out);
int32_t dsOutName(HostDataSet* out, int32_t number, char* buffer, int32_t capacity);

} // namespace qrxhost::dsservice
