// The 3D view's file exports of meshes (Lab CGATS text of a point cloud, VRML of a surface).
#include "analysis/HullWidget.h"

#include <QMessageBox>

void HullWidget::on_export_lab_cgats()
{
    QMessageBox::information(this, tr("Export Lab CGATS"), tr("This export is not available yet."));
}

void HullWidget::on_export_vrml()
{
    QMessageBox::information(this, tr("Export VRML"), tr("This export is not available yet."));
}
