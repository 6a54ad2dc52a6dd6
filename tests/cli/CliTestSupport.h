#pragma once

// Running prismet-cli from tests: in-process (the same code, no process per call) or as the built
// program (standard input, output streams and exit codes as a shell sees them).

#include "cli/Commands.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>


struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
    QJsonObject json() const
    {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(out, &error);
        if (error.error != QJsonParseError::NoError)
            qWarning("invalid JSON: %s", qPrintable(error.errorString()));
        return doc.object();
    }
};

// In-process: the same code as the program, without a process per call.
inline Run cli(const QStringList& args, const QByteArray& input = QByteArray())
{
    CliIO io;
    io.readInput = [input] { return input; };
    Run r;
    r.status = runCli(args, io);
    r.out = io.out;
    r.err = io.err;
    return r;
}

// The built program, for what only a real process shows: standard input, streams, exit codes.
inline Run program(const QStringList& args, const QByteArray& input = QByteArray(), const QString& stdoutFile = QString())
{
    QProcess p;
    if (!stdoutFile.isEmpty())
        p.setStandardOutputFile(stdoutFile);
    p.start(QStringLiteral(PRISMET_CLI), args);
    p.waitForStarted();
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    Run r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

inline QStringList corpus()
{
    QStringList files;
    for (const QString& dir : {QStringLiteral("/usr/share/color/icc/colord"), QStringLiteral("/usr/share/color/icc/ghostscript")})
        for (const QFileInfo& f : QDir(dir).entryInfoList({QStringLiteral("*.icc")}, QDir::Files, QDir::Name))
            files << f.absoluteFilePath();
    return files;
}

inline QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}
