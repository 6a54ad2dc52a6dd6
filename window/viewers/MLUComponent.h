#pragma once

#include "window/widgets/IProfileComponentView.h"

#include <krm.h>

class MLU_TableModel;
class QPlainTextEdit;
class QTableView;
class QTextEdit;

// Localized text: a single translation with line breaks in a plain-text box, anything else as a
// table of language, country and text whose rows show at most a few lines, with the whole text of
// the selected row in a read-only pane below. Throws QException when the tag cannot be read.
class MLUComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    MLUComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);

    // Either the text box or the table (with its model and pane) is set.
    QTextEdit* textBox() const { return text_box_; }
    QTableView* tableView() const { return table_; }
    MLU_TableModel* model() const { return model_; }
    QPlainTextEdit* textPane() const { return pane_; }

private:
    void build_text_box(const QString& text);
    void build_table(const krmMLU* mlu);
    void cap_row_heights();
    void show_row_text(int row);

    QTextEdit* text_box_ = nullptr;
    QTableView* table_ = nullptr;
    MLU_TableModel* model_ = nullptr;
    QPlainTextEdit* pane_ = nullptr;
};
