#pragma once

// The subcommands of prismet-cli. Each takes the arguments after its name and returns the exit
// status (CliExit).

#include "cli/CliSupport.h"

#include <QStringList>

int runCli(const QStringList& args, CliIO& io);  // args without the program name

int runInfo(const QStringList& args, CliIO& io);
int runTag(const QStringList& args, CliIO& io);
int runTransform(const QStringList& args, CliIO& io);
int runConvert(const QStringList& args, CliIO& io);
