#pragma once

#include "viewers/IProfileComponentView.h"

#include <krm.h>

class MLU_TableModel;
class QTableView;
class QTextEdit;

// Localized text: a single translation with line breaks in a plain-text box, anything else as a
// table of language, country and text. Throws QException when the tag cannot be read.
class MLUComponent : public IProfileComponentView
{
    Q_OBJECT

public:
    MLUComponent(krmProfile profile, krmTagSignature sig, QWidget* parent = nullptr);

    // Exactly one of the two is set.
    QTextEdit* textBox() const { return text_box_; }
    QTableView* tableView() const { return table_; }
    MLU_TableModel* model() const { return model_; }

private:
    void build_text_box(const QString& text);
    void build_table(const krmMLU* mlu);

    QTextEdit* text_box_ = nullptr;
    QTableView* table_ = nullptr;
    MLU_TableModel* model_ = nullptr;
};
