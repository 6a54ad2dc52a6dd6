#include "common/audit/AuditTestBase.h"

#include <algorithm>
#include <utility>

namespace {

struct RegisteredTest {
    int position;
    AuditTestBase* test;
};

// Built on first use, so registrations from any file's static initialiser find it ready.
std::vector<RegisteredTest>& registered()
{
    static std::vector<RegisteredTest> tests;
    return tests;
}

std::vector<AuditTestBase*>& ordered()
{
    static std::vector<AuditTestBase*> tests;
    return tests;
}

} // namespace

void AuditTestBase::addFinding(const char* code, int severity, const QString& title, const QString& message,
                               const QString& related)
{
    findings_.append(AuditFinding{qaNumber(), severity, title, message, related, QString::fromLatin1(code)});
}

void AuditTestBase::setCurrentTag(krmTagSignature signature, krmUInt32Number offset)
{
    currentTag_ = signature;
    currentOffset_ = offset;
}

AuditTestRegistration::AuditTestRegistration(AuditTestBase* test, int position)
{
    std::vector<RegisteredTest>& tests = registered();
    const auto at = std::upper_bound(tests.begin(), tests.end(), position,
                                     [](int p, const RegisteredTest& r) { return p < r.position; });
    tests.insert(at, RegisteredTest{position, test});
    std::vector<AuditTestBase*>& list = ordered();
    list.clear();
    for (const RegisteredTest& r : tests)
        list.push_back(r.test);
}

const std::vector<AuditTestBase*>& auditTestRegistry()
{
    return ordered();
}
