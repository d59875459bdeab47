#include "foundation/platform/QFProgramRole.h"

#include <atomic>

namespace {
std::atomic<QFProgramRole> s_role { QFProgramRole::Unknown };
}

void QFProgram::declareRole(QFProgramRole role)
{
    s_role.store(role);
}

QFProgramRole QFProgram::role()
{
    return s_role.load();
}
