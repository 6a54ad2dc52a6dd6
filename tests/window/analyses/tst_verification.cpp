// The verification dialog: a measurement file made from sRGB's own absolute colorimetry with one
// patch moved; the table sorted by ΔE00, the vectors from measured to predicted in the 3D view,
// their colours, the copied report and a refused file.

#include "window/analyses/VerificationDialog.h"
#include "window/analyses/VerificationModel.h"
#include "window/widgets/HullWidget.h"
#include "window/widgets/TableView.h"
#include "tests/window/app/AppTestSupport.h"
#include "window/app/Prismet.h"

#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QMenu>
#include <QGuiApplication>
#include <QSortFilterProxyModel>
#include <QTemporaryDir>
#include <QTest>

namespace {

const char kSrgb[] = "/usr/share/color/icc/colord/sRGB.icc";
constexpr int kMoved = 17;  // the patch whose measurement is 6 L* units too light

// 4³ RGB patches measured through the engine's absolute intent to Lab.
QByteArray measurement_file(krmProfile profile)
{
    krmProfile lab = krmCreateLab4Profile(nullptr);
    krmTransform t = krmCreateTransform(profile, krmFmtRGBDouble, lab, krmFmtLabDouble, krmINTENT_ABSOLUTE_COLORIMETRIC, 0);
    QByteArray text = "CGATS.17\nNUMBER_OF_FIELDS 7\nBEGIN_DATA_FORMAT\nSAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B\n"
                      "END_DATA_FORMAT\nNUMBER_OF_SETS 64\nBEGIN_DATA\n";
    int n = 0;
    for (int r = 0; r < 4; ++r)
        for (int g = 0; g < 4; ++g)
            for (int b = 0; b < 4; ++b, ++n) {
                const double rgb[3] = {r / 3.0, g / 3.0, b / 3.0};
                double v[3];
                krmDoTransform(t, rgb, v, 1);
                if (n == kMoved)
                    v[0] += 6;
                text += QStringLiteral("P%1 %2 %3 %4 %5 %6 %7\n")
                            .arg(n + 1)
                            .arg(rgb[0] * 100, 0, 'f', 6)
                            .arg(rgb[1] * 100, 0, 'f', 6)
                            .arg(rgb[2] * 100, 0, 'f', 6)
                            .arg(v[0], 0, 'f', 6)
                            .arg(v[1], 0, 'f', 6)
                            .arg(v[2], 0, 'f', 6)
                            .toUtf8();
            }
    krmDeleteTransform(t);
    krmCloseProfile(lab);
    return text + "END_DATA\n";
}

}  // namespace

class TestVerification : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { apptest::isolateSettings(); }
    void dialogShowsThePlantedError();
    void fileMenuEntry();
};

void TestVerification::dialogShowsThePlantedError()
{
    krmProfile profile = krmOpenProfileFromFile(kSrgb, "r");
    QVERIFY(profile);
    QTemporaryDir dir;
    const QString path = dir.filePath("srgb.txt");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(measurement_file(profile));
    file.close();

    VerificationDialog dialog(profile, kSrgb);
    QVERIFY2(dialog.load(path), qPrintable(dialog.errorText()));
    QCOMPARE(dialog.model()->rowCount(), 64);
    // Sorted by ΔE00, largest first: the moved patch, then interpolation error only.
    const QSortFilterProxyModel* proxy = dialog.proxy();
    QCOMPARE(proxy->index(0, VerificationModel::Id).data().toString(), QStringLiteral("P%1").arg(kMoved + 1));
    QVERIFY(proxy->index(0, VerificationModel::DE00).data(Qt::UserRole).toDouble() > 3);
    QVERIFY(proxy->index(1, VerificationModel::DE00).data(Qt::UserRole).toDouble() < 0.05);
    // Sorting by another column reorders by its numbers, not its text.
    dialog.table()->sortByColumn(VerificationModel::MeasuredL, Qt::AscendingOrder);
    double previous = -1;
    for (int row = 0; row < 64; ++row) {
        const double L = proxy->index(row, VerificationModel::MeasuredL).data(Qt::UserRole).toDouble();
        QVERIFY(L >= previous);
        previous = L;
    }

    // One cloud: measured points (x = b*, y = L*, z = a*) with vectors to the predictions.
    QCOMPARE(dialog.view()->meshCount(), 1);
    QCOMPARE(dialog.view()->meshMode(0), MeshPoints);
    const HullRenderData& cloud = dialog.view()->meshSource(0);
    QCOMPARE(cloud.vertexCount(), std::size_t(64));
    const std::size_t moved = std::size_t(kMoved) * 3;
    const QModelIndex row = dialog.model()->index(kMoved, 0);
    QCOMPARE(cloud.positions[moved + 1],
             float(dialog.model()->index(kMoved, VerificationModel::MeasuredL).data(Qt::UserRole).toDouble()));
    QVERIFY(std::abs(cloud.positions[moved + 1] - cloud.normals[moved + 1] - 6.0f) < 0.05f);
    QVERIFY(std::abs(cloud.normals[moved] - float(dialog.model()->index(row.row(), VerificationModel::PredictedB)
                                                      .data(Qt::UserRole)
                                                      .toDouble())) < 1e-4f);
    // Red for the large error, green for the rest.
    QVERIFY(cloud.colors[moved] > 0.8f && cloud.colors[moved + 1] < 0.2f);
    QVERIFY(cloud.colors[1] > 0.8f && cloud.colors[0] < 0.2f);

    dialog.copy_report();
    const QString report = QGuiApplication::clipboard()->text();
    QVERIFY(report.contains(QStringLiteral("Worst patches")));
    QVERIFY(report.contains(QStringLiteral("  P%1 ").arg(kMoved + 1)));
    QVERIFY(report.contains(QStringLiteral("absolute colorimetric (default)")));

    // The view's glTF export: a name without extension gets .glb; the cloud is one mesh whose
    // vectors are a LINES primitive.
    {
        apptest::ModalWatcher watcher;
        const QString chosen = dir.filePath("errors");
        watcher.setAnswer([chosen](QDialog* d) {
            if (auto* files = qobject_cast<QFileDialog*>(d)) {
                files->selectFile(chosen);
                QMetaObject::invokeMethod(files, "done", Q_ARG(int, QDialog::Accepted));
            } else {
                d->reject();
            }
        });
        QMetaObject::invokeMethod(dialog.view(), "on_export_glb");
        QFile glb(chosen + ".glb");
        QVERIFY(glb.open(QIODevice::ReadOnly));
        const QByteArray bytes = glb.readAll();
        QCOMPARE(bytes.left(4), QByteArray("glTF"));
        QCOMPARE(bytes.count("\"primitives\""), 1);
        QVERIFY(bytes.contains("\"mode\":1"));
    }

    // A file of another space: refused with the reason, nothing left shown.
    QFile cmyk(dir.filePath("cmyk.txt"));
    QVERIFY(cmyk.open(QIODevice::WriteOnly));
    cmyk.write("CGATS.17\nNUMBER_OF_FIELDS 7\nBEGIN_DATA_FORMAT\nCMYK_C CMYK_M CMYK_Y CMYK_K LAB_L LAB_A LAB_B\n"
               "END_DATA_FORMAT\nNUMBER_OF_SETS 1\nBEGIN_DATA\n0 0 0 0 95 0 0\nEND_DATA\n");
    cmyk.close();
    QVERIFY(!dialog.load(cmyk.fileName()));
    QVERIFY(dialog.errorText().contains(QStringLiteral("device space is RGB")));
    QCOMPARE(dialog.model()->rowCount(), 0);
    QCOMPARE(dialog.view()->meshCount(), 0);
    krmCloseProfile(profile);
}

void TestVerification::fileMenuEntry()
{
    // File ▸ "Verify against measurements…" just above the conformance check, usable with a profile.
    Prismet window;
    auto* menu = window.findChild<QMenu*>("menu_File");
    QVERIFY(menu);
    const QList<QAction*> actions = menu->actions();
    const qsizetype at = actions.indexOf(window.findChild<QAction*>("actionVerify_measurements"));
    QVERIFY(at >= 0);
    QCOMPARE(actions[at]->text(), QStringLiteral("Verify against measurements\u2026"));
    QCOMPARE(actions.value(at + 1), window.findChild<QAction*>("actionCheck_conformance"));
    emit menu->aboutToShow();
    QVERIFY(!actions[at]->isEnabled());
    window.open_filename(kSrgb);
    QVERIFY(window.profile());
    emit menu->aboutToShow();
    QVERIFY(actions[at]->isEnabled());
}

QTEST_MAIN(TestVerification)
#include "tst_verification.moc"
