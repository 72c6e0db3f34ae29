#include "shell/single_choice_list.h"

#include <QAbstractListModel>
#include <QMouseEvent>

#include <utility>

namespace quill {

class ChoiceModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void replace(std::vector<SingleChoiceList::Item> items) {
        beginResetModel();
        items_ = std::move(items);
        endResetModel();
    }
    const SingleChoiceList::Item& item(int row) const { return items_.at(static_cast<std::size_t>(row)); }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(items_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) return {};
        const SingleChoiceList::Item& at = items_[static_cast<std::size_t>(index.row())];
        // The whole name also as a tip: a long one is cut at the list's edge.
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole || role == Qt::ToolTipRole) return at.text;
        if (role == Qt::UserRole) return at.value;
        return {};
    }

private:
    std::vector<SingleChoiceList::Item> items_;
};

SingleChoiceList::SingleChoiceList(QWidget* parent) : QListView(parent), model_(new ChoiceModel(this)) {
    setModel(model_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // One line each: the view lays out any number of items at once.
    setUniformItemSizes(true);
}

void SingleChoiceList::setItems(std::vector<Item> items) { model_->replace(std::move(items)); }
int SingleChoiceList::count() const { return model_->rowCount(); }
QString SingleChoiceList::text(int row) const { return model_->item(row).text; }
std::int32_t SingleChoiceList::value(int row) const { return model_->item(row).value; }
int SingleChoiceList::currentRow() const { return currentIndex().row(); }

void SingleChoiceList::setCurrentRow(int row) {
    selectionModel()->setCurrentIndex(model_->index(row), QItemSelectionModel::ClearAndSelect);
}

QItemSelectionModel::SelectionFlags SingleChoiceList::selectionCommand(const QModelIndex& index,
                                                                       const QEvent* event) const {
    if (!index.isValid()) return QItemSelectionModel::NoUpdate;
    const QItemSelectionModel::SelectionFlags command = QListView::selectionCommand(index, event);
    if (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        return (command & ~(QItemSelectionModel::Deselect | QItemSelectionModel::Toggle)) |
               QItemSelectionModel::ClearAndSelect;
    return command;
}

void SingleChoiceList::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QListView::currentChanged(current, previous);
    if (current.isValid()) emit picked();
}

void SingleChoiceList::mousePressEvent(QMouseEvent* event) {
    const QPersistentModelIndex before = currentIndex();
    QListView::mousePressEvent(event);
    // A press that moved the current item was announced by currentChanged.
    const QModelIndex hit = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && hit.isValid() && before == hit && before == currentIndex()) emit picked();
}

}  // namespace quill
