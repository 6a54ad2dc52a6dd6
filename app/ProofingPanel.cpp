#include "app/ProofingPanel.h"

#include <QLabel>
#include <QVBoxLayout>

ProofingPanel::ProofingPanel(QWidget* parent)
    : QWidget(parent)
{
    setObjectName("proofingPanel");
    auto* layout = new QVBoxLayout(this);
    text_ = new QLabel(this);
    text_->setObjectName("proofingText");
    text_->setWordWrap(true);
    text_->setAlignment(Qt::AlignCenter);
    layout->addWidget(text_);
    update_text();
}

void ProofingPanel::setProfile(krmProfile profile)
{
    profile_ = profile;
    update_text();
}

void ProofingPanel::load_image()
{
    // Nothing to load into yet; the action that leads here is disabled.
}

void ProofingPanel::update_text()
{
    QString text = tr("Soft proofing shows a JPEG, PNG or BMP image through the open profile.");
    text += QStringLiteral("\n\n");
    text += tr("It is not available in this version yet.");
    text_->setText(text);
}
