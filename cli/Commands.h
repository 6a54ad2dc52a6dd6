#pragma once

// The subcommands of prismet-cli. Each takes the arguments after its name and returns the exit
// status (CliExit).

#include "cli/CliSupport.h"
#include "cli/CliValue.h"

#include <QStringList>

// A profile's header and directory as info prints them; dump starts with the same. Warnings
// about the directory go to standard error too.
CliValue describeProfile(const LoadedProfile& p, QStringList engineWarnings, CliIO& io);
CliValue failedProfile(const QString& file, const QString& error);
QByteArray profileText(const CliValue& profile);

int runCli(const QStringList& args, CliIO& io);  // args without the program name

int runInfo(const QStringList& args, CliIO& io);
int runTag(const QStringList& args, CliIO& io);
int runTransform(const QStringList& args, CliIO& io);
int runConvert(const QStringList& args, CliIO& io);
int runDump(const QStringList& args, CliIO& io);
int runCheck(const QStringList& args, CliIO& io);
int runGamut(const QStringList& args, CliIO& io);
int runRoundtrip(const QStringList& args, CliIO& io);
int runInks(const QStringList& args, CliIO& io);
int runDotGain(const QStringList& args, CliIO& io);
int runVerify(const QStringList& args, CliIO& io);
int runDiff(const QStringList& args, CliIO& io);

// gamut --image: the image's colours against `hull` and their roundtrip through `profile`, as
// the JSON value and the text lines; false with the reason.
struct GamutHull;
// `assigned`: the profile of the image's pixels given on the command line, else null.
bool imageGamut(EngineSession& session, krmProfile profile, const GamutHull& gamut, const QString& path,
                const LoadedProfile* assigned, CliValue& value,
                QByteArray& text, QString& error);
