#include "viewers/MLUComponent.h"

#include "overview/TableView.h"
#include "viewers/MLU_TableModel.h"

#include <QException>
#include <QHBoxLayout>
#include <QTextEdit>

namespace {

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

    auto* layout = new QHBoxLayout(this);
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
    table_ = new TableView(this);
    model_ = new MLU_TableModel(mlu, table_);
    table_->setFrameShape(QFrame::NoFrame);
    table_->setFrameShadow(QFrame::Plain);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setModel(model_);
    // Rows are as tight as the style allows; texts with several lines get the height they need.
    for (int row = 0; row < model_->rowCount(); ++row) {
        if (model_->index(row, MLU_TableModel::StringColumn).data().toString().contains(QLatin1Char('\n'))) {
            table_->resizeRowsToContents();
            break;
        }
    }
    layout()->addWidget(table_);
}
