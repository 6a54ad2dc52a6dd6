#include "window/viewers/MLUComponent.h"

#include "window/widgets/TableView.h"
#include "window/viewers/MLU_TableModel.h"

#include <algorithm>

#include <QException>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

const int kMaxRowLines = 3;

// Permissive reading decodes a text signature stored with any known type; only these types
// decode into a localized text object.
bool is_text_type(krmTagTypeSignature type)
{
    return type == krmSig("text") || type == krmSig("desc") || type == krmSig("mluc") || type == krmSig("crdi");
}

}  // namespace

MLUComponent::MLUComponent(krmProfile profile, krmTagSignature sig, QWidget* parent)
    : IProfileComponentView(parent)
{
    const auto* mlu = profile ? static_cast<const krmMLU*>(krmReadTag(profile, sig)) : nullptr;
    if (!mlu || !is_text_type(krmGetTagStoredType(profile, sig)))
        throw QException();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    if (krmMLUTranslationsCount(mlu) == 1) {
        char language[3] = {};
        char country[3] = {};
        if (krmMLUTranslationCodes(mlu, 0, language, country)) {
            const QString text = MLU_TableModel::translationText(mlu, language, country);
            if (text.contains(QLatin1Char('\n'))) {
                build_text_box(text);
                return;
            }
        }
    }
    build_table(mlu);
}

void MLUComponent::build_text_box(const QString& text)
{
    text_box_ = new QTextEdit(this);
    text_box_->setReadOnly(true);
    text_box_->setLineWrapMode(QTextEdit::NoWrap);
    text_box_->setFrameShape(QFrame::NoFrame);
    text_box_->setPlainText(text);
    layout()->addWidget(text_box_);
}

void MLUComponent::build_table(const krmMLU* mlu)
{
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("mluSplitter"));
    splitter->setChildrenCollapsible(false);

    table_ = new TableView(splitter);
    model_ = new MLU_TableModel(mlu, table_);
    table_->setFrameShape(QFrame::NoFrame);
    table_->setFrameShadow(QFrame::Plain);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setWordWrap(true);
    table_->setModel(model_);

    // The whole text of the selected row; the table itself shows a few lines of each.
    pane_ = new QPlainTextEdit(splitter);
    pane_->setObjectName(QStringLiteral("mluTextPane"));
    pane_->setReadOnly(true);
    pane_->setFrameShape(QFrame::NoFrame);

    splitter->addWidget(table_);
    splitter->addWidget(pane_);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    layout()->addWidget(splitter);

    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { show_row_text(current.row()); });
    // Wrapped texts need other heights when the text column changes its width.
    connect(table_->horizontalHeader(), &QHeaderView::sectionResized, this, [this] { cap_row_heights(); });
    cap_row_heights();
    if (model_->rowCount() > 0)
        table_->selectRow(0);
}

void MLUComponent::cap_row_heights()
{
    if (!table_ || !model_)
        return;
    // Rows are as tight as the style allows; longer texts get at most kMaxRowLines lines, their
    // whole text being in the tooltip and the pane.
    const int single = table_->verticalHeader()->minimumSectionSize();
    const int cap = std::max(single, kMaxRowLines * table_->fontMetrics().lineSpacing() + 6);
    for (int row = 0; row < model_->rowCount(); ++row) {
        table_->resizeRowToContents(row);
        table_->setRowHeight(row, std::clamp(table_->rowHeight(row), single, cap));
    }
}

void MLUComponent::show_row_text(int row)
{
    pane_->setPlainText(row >= 0 ? model_->index(row, MLU_TableModel::StringColumn).data().toString() : QString());
}
