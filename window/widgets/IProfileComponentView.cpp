#include "window/widgets/IProfileComponentView.h"

IProfileComponentView::IProfileComponentView(QWidget* parent)
    : QWidget(parent)
{
}

void IProfileComponentView::tabSelected()
{
}
