#include "framework/browse_query.h"

#include <string>

#include "framework/browse_manager.h"
#include "framework/query_dialog.h"
#include "framework/query_manager.h"
#include "ui/message.h"

namespace qzr {

bool ApplyQuery(BrowseManager* browse, const QueryManager& query) {
  if (browse == nullptr) return false;
  std::string filter, problem;
  if (!query.BuildFilter(&filter, &problem)) {
    MessageBox(problem, kQueryMessageCaption, kIconExclamation);
    return false;
  }
  browse->SetNamedFilter(filter, kQueryFilterId);
  browse->RefillList(kRefillFromStart);
  return true;
}

}  // namespace qzr
