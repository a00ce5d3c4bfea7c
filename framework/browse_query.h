// Query by example on a browse: putting a query manager's filter in force
// on the browse's view and refilling the list from the start of its order.
//
// The query's filter is the current order's named filter "QBE", so it holds
// together with the order's range, its other named filters and the browse's
// record filter (a quick find): a row is listed only when all of them let
// it through. The refill starts at the start of the order, so applying a
// query reads each record of the file at most once (a filter that rejects
// most rows is a single pass over the file, never a pass forward and then a
// second one back to top up the list).
//
// Threads: as the browse: its own thread.

#ifndef QZR_FRAMEWORK_BROWSE_QUERY_H_
#define QZR_FRAMEWORK_BROWSE_QUERY_H_

#include <cstdint>

#include "ui/keycodes.h"

namespace qzr {

class BrowseManager;
class BrowsePopup;
struct BrowsePopupItem;
class QueryManager;

// The key that opens the query dialog anywhere in a browse's window (a
// browse with a query alerts it on its whole window).
inline constexpr int32_t kQueryDialogKey = kCtrl | 'Q';

// The ID of the named filter that holds the query.
inline constexpr char kQueryFilterId[] = "QBE";

// Builds `query`'s filter and puts it in force on `browse` (an empty query
// removes the filter), then refills the list from the start. False when the
// query is refused (an entry its column cannot read, a filter too long):
// the reason is shown (caption "Query by Example") and the filter in force
// stays as it was.
bool ApplyQuery(BrowseManager* browse, const QueryManager& query);

// Runs the dialog "Query by Example Settings" over `query`; on OK applies
// the query to `browse`. True when a query was applied.
bool AskQuery(BrowseManager* browse, QueryManager* query);

// Appends the query's popup entries to a browse's popup: an item per saved
// query ("tsQBEItem1" ..., shown as "&1 name" and so on, most recently saved
// first) or the disabled item "tsQBEEmpty" when there is none, the
// separator "tsQBESeparator1" and "tsQBEClear" ("C&lear").
void AddQueryItems(BrowsePopup* popup, const QueryManager& query);

// Acts on a chosen popup item when it is one of AddQueryItems': a saved
// query is restored and applied, "C&lear" empties the query and applies
// that. True when the item was one of them (acted on or not).
bool TakeQueryItem(BrowseManager* browse, QueryManager* query, const BrowsePopupItem& item);

}  // namespace qzr

#endif  // QZR_FRAMEWORK_BROWSE_QUERY_H_
