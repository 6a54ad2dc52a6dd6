#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class ICCProfileSelector;

// The searchable list a selector shows instead of its combo box's drop-down, made for one
// showing. Below the list: a colour-space filter and a search field; typing anywhere searches.
// After acceptance chosenIndex() is the index of the chosen entry in the selector's entries.
class ProfilePopup : public QDialog
{
    Q_OBJECT

public:
    explicit ProfilePopup(ICCProfileSelector* selector, QWidget* parent = nullptr);

    int chosenIndex() const { return chosen_; }
    QString searchText() const { return search_text_; }

    QListWidget* list() const { return list_; }
    QComboBox* filter() const { return filter_; }
    QLineEdit* searchField() const { return search_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum Filter { FilterAll, FilterGray, FilterRGB, FilterCMYK, FilterNamed };

    void build_ui();
    void build_filter();
    void connect_signals();
    void fill_list();
    bool filter_allows(int entryIndex) const;
    void move_current(int delta);
    void accept_index(int entryIndex);
    void search_changed(const QString& text);
    bool handle_key(QObject* target, QKeyEvent* event);

    ICCProfileSelector* selector_;
    QListWidget* list_ = nullptr;
    QComboBox* filter_ = nullptr;
    QLineEdit* search_ = nullptr;
    QString search_text_;
    int chosen_ = -1;
};
