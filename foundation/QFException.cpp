#include "foundation/QFException.h"

#include "foundation/QFLog.h"

#include <cxxabi.h>
#include <cstdlib>
#include <typeinfo>

QString QFException::name(const std::exception &exception)
{
    const char *mangled = typeid(exception).name();
    int status = 0;
    char *demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    const QString out = QString::fromUtf8(status == 0 && demangled ? demangled : mangled);
    std::free(demangled);
    return out;
}

QString QFException::logException(const std::exception &exception, const char *method)
{
    const QString text = qfFormat("Exception in %s. %@ - %@.", method, name(exception), exception.what());
    QFLog::appendLogAndPrint("%@", text);
    return text;
}

bool QFException::didTimeout(const std::exception &exception)
{
    return dynamic_cast<const QFPortTimeoutException *>(&exception) != nullptr;
}

bool QFException::guard(const char *method, const std::function<void()> &work)
{
    try {
        work();
        return true;
    } catch (const std::exception &e) {
        logException(e, method);
    } catch (...) {
        const std::runtime_error unknown("unknown exception");
        logException(unknown, method);
    }
    return false;
}
