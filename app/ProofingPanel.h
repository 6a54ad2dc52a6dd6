#pragma once

#include <krm.h>

#include <QWidget>

class QLabel;

// The content of the "Proofing" dock until soft proofing is built: it follows the open profile
// and says plainly that images cannot be proofed yet.
class ProofingPanel : public QWidget
{
    Q_OBJECT

public:
    explicit ProofingPanel(QWidget* parent = nullptr);

    void setProfile(krmProfile profile);
    bool canLoadImages() const { return false; }

public slots:
    void load_image();

signals:
    void image_loaded();

private:
    void update_text();

    krmProfile profile_ = nullptr;
    QLabel* text_ = nullptr;
};
