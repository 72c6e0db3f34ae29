// ListBox1 as the user meets it: a list of which exactly one item is chosen
// while it holds items, and whose every pick is announced once. It relies on the
// item-view API alone, so the rules carry over to a model-based QListView.
#pragma once

#include <QListWidget>

namespace quill {

class SingleChoiceList : public QListWidget {
    Q_OBJECT
public:
    explicit SingleChoiceList(QWidget* parent = nullptr);

signals:
    // Once per pick by mouse or keyboard: a move of the current item, or a
    // left click on the item already chosen. Programmatic moves announce nothing
    // while the list's signals are blocked.
    void picked();

protected:
    // No Ctrl+click, Ctrl+Space or click beside the items empties the selection.
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace quill
