#pragma once

#include <QDoubleSpinBox>
#include <QPointer>

// One input value of the pipeline probe. Sized for "-999." and its decimals; Return moves on to
// the next edit of the panel (the last one back to the first) with its text selected.
class PipelineValueEdit : public QDoubleSpinBox
{
    Q_OBJECT

public:
    explicit PipelineValueEdit(QWidget* parent = nullptr);

    void setNextEdit(PipelineValueEdit* next) { next_ = next; }
    PipelineValueEdit* nextEdit() const { return next_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    QPointer<PipelineValueEdit> next_;
};
