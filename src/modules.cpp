// SPDX-License-Identifier: GPL-3.0-or-later
#include "modules.h"

#include <QFileInfo>
#include <QLibrary>
#include <dlfcn.h>

namespace {
// The folder that holds the library this function was loaded from.
QString moduleFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&moduleFolder), &info) == 0 || !info.dli_fname)
        return {};
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).canonicalPath();
}
} // namespace

void* moduleFunction(const char* name, const char* symbol, QString* error) {
    QLibrary library(moduleFolder() + QStringLiteral("/libkelvano-") + QLatin1String(name) +
                     QStringLiteral(".so"));
    if (!library.load()) {
        *error = library.errorString();
        return nullptr;
    }
    // The library stays loaded: QLibrary unloads only on unload(), which nothing calls.
    void* function = reinterpret_cast<void*>(library.resolve(symbol));
    if (!function)
        *error = library.errorString();
    return function;
}
