// ListBox1 as the user meets it: a list of which exactly one item is chosen
// while it holds items, and whose every pick is announced once. Its items live
// in a model of its own and are handed over whole, so twenty thousand of them
// are one change for the view and for assistive technology, not one each.
#pragma once

#include <QListView>
#include <QString>

#include <cstdint>
#include <vector>

namespace quill {

class ChoiceModel;

class SingleChoiceList : public QListView {
    Q_OBJECT
public:
    struct Item {
        QString text;
        std::int32_t value = 0;
    };

    explicit SingleChoiceList(QWidget* parent = nullptr);

    // Replaces every item at once; none is current afterwards.
    void setItems(std::vector<Item> items);
    int count() const;
    QString text(int row) const;
    std::int32_t value(int row) const;
    int currentRow() const;  // -1 when none
    void setCurrentRow(int row);

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

private:
    ChoiceModel* model_;
};

}  // namespace quill
