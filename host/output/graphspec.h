// Graph templates ("Stat.VARSIFTER.Graphics.*") rendered as Vega-Lite specifications: what a
// graph draws follows from its template, its dynamic variables and the rows of the tables
// it reads. The HTML page draws the specifications; the JSON record keeps them.
#pragma once

#include "host/output/outputdoc.h"

#include <string>

namespace qrxhost {

// The Vega-Lite specification (JSON text) of one graph node.
std::string vegaLiteSpec(const OutputNode& graph);

} // namespace qrxhost
