#pragma once

// Helpers shared by the conformance-check tests: profiles written by the engine for one rule
// each, byte patches of their headers, and the titles of a run's findings.

#include "tests/support/ViewerTestSupport.h"
#include "common/audit/AuditRunner.h"

#include <krm.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QtEndian>

#include <initializer_list>
#include <vector>

namespace audittest {

using viewertest::saveToBytes;

inline void patch32(QByteArray& bytes, int offset, quint32 value)
{
    qToBigEndian(value, bytes.data() + offset);
}

// The directory entry of `sig` renamed to `to` (ICC.1:2010 7.3: count, then 12-byte entries).
inline bool renameTag(QByteArray& bytes, krmTagSignature sig, krmTagSignature to)
{
    const quint32 count = qFromBigEndian<quint32>(bytes.constData() + 128);
    for (quint32 i = 0; i < count && 132 + 12 * (i + 1) <= quint32(bytes.size()); ++i) {
        const int at = int(132 + 12 * i);
        if (qFromBigEndian<quint32>(bytes.constData() + at) == sig) {
            patch32(bytes, at, to);
            return true;
        }
    }
    return false;
}

inline void writeText(krmProfile profile, krmTagSignature sig, const char* text)
{
    krmMLU* mlu = krmMLUAlloc(nullptr, 1);
    krmMLUSetASCII(mlu, "en", "US", text);
    krmWriteTag(profile, sig, mlu);
    krmMLUFree(mlu);
}

// Identity curves, a 2-point CLUT from `in` to `out` channels (mid grey everywhere) and identity
// curves: a layout both the version 2 and the version 4 LUT types can store.
inline void writeLut(krmProfile profile, krmTagSignature sig, krmUInt32Number in, krmUInt32Number out,
                     krmUInt16Number fill = 0x8000)
{
    krmUInt32Number nodes = 1;
    for (krmUInt32Number i = 0; i < in; ++i)
        nodes *= 2;
    const std::vector<krmUInt16Number> table(nodes * out, fill);
    krmPipeline* lut = krmPipelineAlloc(nullptr, in, out);
    krmPipelineInsertStage(lut, krmAT_END, krmStageAllocIdentityCurves(nullptr, in));
    krmPipelineInsertStage(lut, krmAT_END, krmStageAllocCLut16bit(nullptr, 2, in, out, table.data()));
    krmPipelineInsertStage(lut, krmAT_END, krmStageAllocIdentityCurves(nullptr, out));
    krmWriteTag(profile, sig, lut);
    krmPipelineFree(lut);
}

struct LutSpec {
    krmTagSignature sig;
    krmUInt32Number in;
    krmUInt32Number out;
    krmUInt16Number fill = 0x8000;  // every CLUT node's value
};

// A LUT-based profile: header fields, then 'desc', 'cprt' and 'wtpt' unless left out, then the
// LUT tags in the order given.
inline krmProfile lutProfile(krmProfileClassSignature deviceClass, krmColorSpaceSignature space, double version,
                             std::initializer_list<LutSpec> luts, bool textAndWhite = true)
{
    krmProfile p = krmCreateProfilePlaceholder(nullptr);
    krmSetProfileVersion(p, version);
    krmSetProfileClass(p, deviceClass);
    krmSetProfileColorSpace(p, space);
    krmSetProfilePCS(p, krmSig("Lab "));
    if (textAndWhite) {
        writeText(p, krmSig("desc"), "audit test");
        writeText(p, krmSig("cprt"), "no copyright");
        krmWriteTag(p, krmSig("wtpt"), krmD50_XYZ());
    }
    for (const LutSpec& l : luts)
        writeLut(p, l.sig, l.in, l.out, l.fill);
    return p;
}

// Files written into one temporary folder for the test's life.
class ProfileFiles {
public:
    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir_.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return {};
        return path;
    }
    QString write(const QString& name, krmProfile profile)
    {
        const QByteArray bytes = saveToBytes(profile);
        krmCloseProfile(profile);
        return write(name, bytes);
    }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

inline AuditRun check(const QString& path)
{
    return runAuditTests(QFile::encodeName(path));
}

// "QA<n> <title> [<related>]" of each finding of one test (all tests when qa is 0).
inline QStringList titles(const QList<AuditFinding>& findings, int qa = 0)
{
    QStringList list;
    for (const AuditFinding& f : findings)
        if (qa == 0 || f.qaNumber == qa)
            list << QStringLiteral("%1 [%2]").arg(f.title, f.related);
    return list;
}

// "<code> <Severity> [<related>]" of every finding, in the order found.
inline QStringList codes(const QList<AuditFinding>& findings)
{
    QStringList list;
    for (const AuditFinding& f : findings)
        list << QStringLiteral("%1 %2 [%3]").arg(f.code, auditSeverityName(f.severity), f.related);
    return list;
}

inline QStringList corpusAndMalformed()
{
    QStringList paths;
    const QStringList folders = {QStringLiteral("/usr/share/color/icc/colord"), QStringLiteral("/usr/share/color/icc/ghostscript"),
                                 QStringLiteral(PRISMET_TEST_DATA "/malformed")};
    for (const QString& folder : folders) {
        const QDir dir(folder);
        for (const QString& name : dir.entryList({QStringLiteral("*.icc")}, QDir::Files, QDir::Name))
            paths << dir.filePath(name);
    }
    return paths;
}

}  // namespace audittest
