#pragma once

// Helpers shared by the application tests: settings kept away from the user's, and a watcher
// that answers modal dialogs so a test never blocks on one.

#include "window/app/PrismetApp.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <vector>

namespace apptest {

// Points the settings store at a private folder. Call before anything reads the settings.
inline void isolateSettings()
{
    static QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

// Polls for application-modal dialogs and hands each one to `answer` once; by default it
// records the dialog and rejects it.
class ModalWatcher
{
public:
    using Answer = std::function<void(QDialog*)>;

    ModalWatcher()
    {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }

    void setAnswer(Answer answer) { answer_ = std::move(answer); }

    // Class names of the dialogs seen so far, in order.
    QStringList seen;
    // Texts of the "messageLabel" and "fileLabel" labels of the dialogs seen (empty when absent).
    QStringList messages;
    QStringList fileNames;

private:
    void poll()
    {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog == last_)
            return;
        last_ = dialog;
        seen << QString::fromLatin1(dialog->metaObject()->className());
        auto* message = dialog->findChild<QLabel*>("messageLabel");
        auto* file = dialog->findChild<QLabel*>("fileLabel");
        messages << (message ? message->text() : QString());
        fileNames << (file ? file->text() : QString());
        if (answer_)
            answer_(dialog);
        else
            dialog->reject();
    }

    QTimer timer_;
    QPointer<QDialog> last_;
    Answer answer_;
};

// Runs `Test` as a Qt test under the real PrismetApp, started with the program's name followed by
// `arguments` as its command line; `watcher` points at the watcher that answers its dialogs.
template <typename Test>
int execUnderPrismetApp(int argc, char* argv[], QList<QByteArray> arguments, ModalWatcher*& watcher)
{
    isolateSettings();
    arguments.prepend(QByteArray(argv[0]));
    std::vector<char*> appArgv;
    for (QByteArray& argument : arguments)
        appArgv.push_back(argument.data());
    appArgv.push_back(nullptr);
    int appArgc = int(arguments.size());

    PrismetApp app(appArgc, appArgv.data());
    ModalWatcher modal;
    watcher = &modal;
    Test test;
    return QTest::qExec(&test, argc, argv);
}

}  // namespace apptest
