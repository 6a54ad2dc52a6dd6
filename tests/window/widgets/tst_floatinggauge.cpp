// FloatingGauge: the Cancel button and Escape set the caller's flag, the update calls report
// it, and the card follows the palette.

#include "window/widgets/FloatingGauge.h"
#include "window/widgets/ColorScheme.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class TestFloatingGauge : public QObject
{
    Q_OBJECT

private slots:
    void cancelButtonSetsFlagSeenByUpdates()
    {
        bool cancel = false;
        FloatingGauge gauge(&cancel);
        gauge.show();
        auto* label = gauge.findChild<QLabel*>("gaugeLabel");
        auto* bar = gauge.findChild<QProgressBar*>("gaugeBar");
        QVERIFY(label && bar);
        QCOMPARE(label->text(), QString("Working"));
        QCOMPARE(bar->value(), 0);

        QVERIFY(!gauge.set_progress("Sampling", 40));
        QCOMPARE(label->text(), QString("Sampling"));
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->value(), 40);
        QVERIFY(!gauge.set_busy("Building hull"));
        QCOMPARE(bar->maximum(), 0);  // indeterminate

        // A click queued while the caller is busy is seen by its next update.
        QTimer::singleShot(0, gauge.findChild<QPushButton*>("gaugeCancel"), &QPushButton::click);
        QVERIFY(gauge.set_progress("Sampling", 60));
        QVERIFY(cancel);
        QVERIFY(gauge.isVisible());  // the caller closes it
    }

    void escapeCancels()
    {
        bool cancel = false;
        FloatingGauge gauge(&cancel);
        gauge.show();
        QTest::keyClick(&gauge, Qt::Key_Escape);
        QVERIFY(cancel);
    }

    void cardFollowsPalette()
    {
        const QPalette original = QApplication::palette();
        for (const bool dark : {false, true}) {
            QApplication::setPalette(dark ? dark_fusion_palette() : QPalette(Qt::white));
            bool cancel = false;
            FloatingGauge gauge(&cancel);
            const QString sheet = gauge.findChild<QWidget*>("container")->styleSheet();
            QVERIFY2(sheet.contains(dark ? "#2b2b2b" : "background: white"), qPrintable(sheet));
            QVERIFY(sheet.contains("border-radius: 10px"));
        }
        QApplication::setPalette(original);
    }
};

QTEST_MAIN(TestFloatingGauge)
#include "tst_floatinggauge.moc"
