#pragma once

// The conformance check as the window runs it: the shared runner behind the floating progress
// gauge, whose Cancel button stops the check between tests.

#include "common/audit/AuditFinding.h"

#include <QByteArray>
#include <QList>

// `path` is the profile's file name as 8-bit text (QFile::encodeName).
QList<AuditFinding> runProfileChecks(const QByteArray& path);
