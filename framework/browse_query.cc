#include "framework/browse_query.h"

#include <string>

#include "framework/browse_manager.h"
#include "framework/browse_popup.h"
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

bool AskQuery(BrowseManager* browse, QueryManager* query) {
  if (browse == nullptr || query == nullptr) return false;
  QueryDialog dialog(query);
  if (!dialog.Ask()) return false;
  return ApplyQuery(browse, *query);
}

namespace {

// A saved query's name as a popup item's text: numbered, with its "&"
// doubled so that it shows as typed. The menu notation's own characters
// ("|", "{", "}") are dropped by the popup; a leading "~", "+" or "-" is
// harmless behind the number.
std::string ItemText(size_t number, const std::string& name) {
  std::string text =
      number < 10 ? "&" + std::to_string(number) + " " : std::to_string(number) + " ";
  for (char c : name) {
    text += c;
    if (c == '&') text += '&';
  }
  return text;
}

}  // namespace

void AddQueryItems(BrowsePopup* popup, const QueryManager& query) {
  if (popup == nullptr) return;
  size_t number = 0;
  for (const QueryPopupEntry& e : query.PopupEntries()) {
    switch (e.kind) {
      case QueryPopupEntry::Kind::kQuery:
        popup->AddMimic(e.name, ItemText(++number, e.text), {}, 0);
        break;
      case QueryPopupEntry::Kind::kEmpty:
        popup->AddMimic(e.name, "~" + e.text, {}, 0);  // "~": shown disabled
        break;
      case QueryPopupEntry::Kind::kSeparator:
        popup->AddSeparator(e.name);
        break;
      case QueryPopupEntry::Kind::kClear:
        popup->AddMimic(e.name, e.text, {}, 0);
        break;
    }
  }
}

bool TakeQueryItem(BrowseManager* browse, QueryManager* query, const BrowsePopupItem& item) {
  if (query == nullptr) return false;
  const std::string_view name = item.NAME;
  if (name == kQbeClearName) {
    query->ClearQuery();
    ApplyQuery(browse, *query);
    return true;
  }
  if (name == kQbeEmptyName || name == kQbeSeparatorName) return true;
  if (!name.starts_with(kQbeItemName)) return false;
  // The item's number names the query as the popup listed it.
  const std::vector<std::string> saved = query->SavedQueries();
  size_t n = 0;
  for (char c : name.substr(std::string_view(kQbeItemName).size())) {
    if (c < '0' || c > '9') return true;
    n = n * 10 + static_cast<size_t>(c - '0');
    if (n > saved.size()) return true;
  }
  if (n == 0) return true;
  if (query->RestoreQuery(saved[n - 1]) == SeverityNone) ApplyQuery(browse, *query);
  return true;
}

}  // namespace qzr
