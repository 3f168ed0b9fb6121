#include "gui/list_view.h"

#include <algorithm>

#include "gui/qt/control_widgets.h"
#include "gui/qt/peer.h"

using gui_detail::command;
using gui_detail::ListWidget;
using gui_detail::query;

BListView::BListView(BRect frame, const char* name, list_view_type type, uint32 resizing_mode, uint32 flags)
    : BView(frame, name, resizing_mode, flags, &ListWidget::make) {
  command<ListWidget>(peer(), [type](ListWidget& w) { w.set_type(type); });
}

bool BListView::AddItem(BListItem* item) {
  if (item == nullptr) return false;
  items_.push_back(item);
  command<ListWidget>(peer(), [text = QString::fromUtf8(item->Text())](ListWidget& w) { w.addItem(text); });
  return true;
}

BListItem* BListView::RemoveItem(int32 index) {
  if (index < 0 || index >= CountItems()) return nullptr;
  BListItem* item = items_[static_cast<std::size_t>(index)];
  items_.erase(items_.begin() + index);
  command<ListWidget>(peer(), [index](ListWidget& w) { delete w.takeItem(index); });
  return item;
}

BListItem* BListView::ItemAt(int32 index) const {
  if (index < 0 || index >= CountItems()) return nullptr;
  return items_[static_cast<std::size_t>(index)];
}

int32 BListView::CurrentSelection(int32 index) const {
  return query<ListWidget>(peer(), int32(-1), [index](ListWidget& w) {
    std::vector<int32> rows;
    for (const QModelIndex& selected : w.selectionModel()->selectedIndexes()) rows.push_back(selected.row());
    std::sort(rows.begin(), rows.end());
    return (index >= 0 && index < static_cast<int32>(rows.size())) ? rows[static_cast<std::size_t>(index)]
                                                                    : int32(-1);
  });
}

void BListView::Select(int32 index) {
  command<ListWidget>(peer(), [index](ListWidget& w) { w.setCurrentRow(index); });
}
