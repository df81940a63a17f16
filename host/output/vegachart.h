// Graph templates ("Stat.VARSIFTER.Graphics.*") rendered as Vega-Lite charts: what a
// graph draws follows from its template, its dynamic variables and the rows of the tables
// it reads. The HTML page draws the charts; the JSON record keeps them.
#pragma once

#include "host/output/outputdoc.h"

#include <string>

namespace qrxhost {

// The Vega-Lite chart (JSON text) of one graph node.
std::string vegaLiteSpec(const OutputNode& graph);

} // namespace qrxhost
