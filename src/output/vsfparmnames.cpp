// The "ParameterNames" table: one row per OUTDESIGN design column of the BY group, with the
// column's name and the label of the parameter it holds. Declared in output/vsfresults.h.
#include "output/vsfcontext.h"
#include "output/vsfoutdesign.h"
#include "output/vsfprint.h"
#include "output/vsfresults.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/poolalloc.h"

#include <algorithm>
#include <cstring>

VsfStatus vsfpParameterNames(VsfContext* ctx, VsfModel* m) {
  const std::vector<VsfDesignColumn> columns = vsfDesignColumns(ctx);
  int32_t nameWidth = 0, labelWidth = 0;
  auto label = [](const VsfDesignColumn& c) -> const std::string& {
    return c.label.empty() ? c.name : c.label;
  };
  for (const VsfDesignColumn& c : columns) {
    if (c.dropped)
      continue;
    nameWidth = std::max(nameWidth, static_cast<int32_t>(c.name.size()));
    labelWidth = std::max(labelWidth, static_cast<int32_t>(label(c).size()));
  }
  if (nameWidth == 0 || labelWidth == 0)
    return VsfStatus::NoMemory;
  char* name = static_cast<char*>(poolTake(m->pool, nameWidth));
  char* text = static_cast<char*>(poolTake(m->pool, labelWidth));
  if (name == nullptr || text == nullptr)
    return VsfStatus::NoMemory;
  double byNumber = static_cast<double>(ctx->byCount);
  VsfOut out(ctx);
  if (!out.create("ParameterNames", msgText(VsfMsg::ParameterNames)))
    return VsfStatus::Ok;
  out.charColumn("Name", name, nameWidth);
  out.charColumn("Parameter", text, labelWidth);
  if (ctx->byCount > 1)
    out.numberColumn("_BY_", &byNumber);
  out.endColumns();
  out.bind("Stat.VARSIFTER.ParameterNames");
  for (const VsfDesignColumn& c : columns) {
    if (c.dropped)
      continue;
    std::memset(name, ' ', static_cast<size_t>(nameWidth));
    std::memset(text, ' ', static_cast<size_t>(labelWidth));
    std::memcpy(name, c.name.data(), c.name.size());
    std::memcpy(text, label(c).data(), label(c).size());
    out.emit();
  }
  out.endRows();
  out.publish();
  return VsfStatus::Ok;
}
