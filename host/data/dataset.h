// The data-set services (group 203) on CSV files: the service table, opening by name, variable
// descriptions, sequential reads and the step's end; libraries and names are dslibrary.h's
// (included here). Parsing and writing the CSV text is csvfile.cpp's.
#pragma once

#include "host/data/dslibrary.h"
#include "support/hostif.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace qrxhost {

HostDataSetServices* dataSetServices();

struct DataSetOptions;
// Applies the data-set options given in parentheses after a data set's name, just after it
// was opened or created: an input then shows only the variables (under their new names) and
// the observations they choose; an output writes only those when it is ended. False after a
// message naming the option and its line when they do not fit the data set.
bool applyDataSetOptions(HostDataSet* data, std::unique_ptr<DataSetOptions> options);

class CsvRows;
// The values behind an open input data set as its reader holds them (CsvRows::reach makes an
// observation readable) and its current observation (-1 when none), for readers that fetch
// many values of one observation at once; null for anything else.
CsvRows* inputRows(HostDataSet* data, int64_t* current);
// For block readers on any thread: false when observation `obs` (0-based) was given up with
// xobsdone (an internal error, logged once for the data set) or `data` is no open input.
bool blockReadable(HostDataSet* data, int64_t obs);
// For readers on other threads, apart from the read position: runs `use` with the values of
// an open input data set. A file held whole is read by all at once; of a file read window by
// window each call has a reader of its own, whose windows the calls share (one parse of a
// window serves every call that reaches it while it is kept). False for anything but an open
// input data set (`use` is not run).
bool withBlockRows(HostDataSet* data, const std::function<void(CsvRows&)>& use);

// Tells the user, once per variable and data set, what will make a looked-up variable of an
// open input data set held whole unusable: every value missing (a warning), or a column
// read as character because of a text among its numbers (a note naming its line and
// text), so that the message the procedure gives later can be traced to the data. A file
// read window by window is not checked: its values are not all at hand.
void describeLookedUpVariable(HostDataSet* data, int32_t number);

// The number of data sets open (input and output) and of parsed copies kept.
int openDataSetCount();
int parsedCopyCount();
// At the end of a step: puts the step's staged outputs (the data sets ended with xvputt and
// the other files of host/data/staging.h) in place, all or none, when the step succeeded;
// otherwise removes their temporary files and logs that each was not replaced (or not
// written), leaving the old files as they were.
void commitStepOutputs(bool stepSucceeded);
// At the end of a step: discards outputs not yet put in place, frees every data set still open
// (output data sets not ended with xvputt are not written) and drops the parsed copies.
void endStepDataSets();

} // namespace qrxhost
