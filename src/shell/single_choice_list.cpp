#include "shell/single_choice_list.h"

#include <QMouseEvent>

namespace quill {

SingleChoiceList::SingleChoiceList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
}

QItemSelectionModel::SelectionFlags SingleChoiceList::selectionCommand(const QModelIndex& index,
                                                                       const QEvent* event) const {
    if (!index.isValid()) return QItemSelectionModel::NoUpdate;
    const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
    if (command & (QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
        return (command & ~(QItemSelectionModel::Deselect | QItemSelectionModel::Toggle)) |
               QItemSelectionModel::ClearAndSelect;
    return command;
}

void SingleChoiceList::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QListWidget::currentChanged(current, previous);
    if (current.isValid()) emit picked();
}

void SingleChoiceList::mousePressEvent(QMouseEvent* event) {
    const QPersistentModelIndex before = currentIndex();
    QListWidget::mousePressEvent(event);
    // A press that moved the current item was announced by currentChanged.
    const QModelIndex hit = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && hit.isValid() && before == hit && before == currentIndex()) emit picked();
}

}  // namespace quill
