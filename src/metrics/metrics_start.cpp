// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics_module.h"

#include "modules.h"

#include <cstdio>

namespace {
// The function `symbol` of the metrics library; null, the reason printed, when it cannot be loaded.
void* metricsFunction(const char* symbol) {
    QString error;
    void* function = moduleFunction("metrics", symbol, &error);
    if (!function)
        std::fprintf(stderr, "kelvano: cannot serve metrics: %s\n", qUtf8Printable(error));
    return function;
}
} // namespace

bool checkMetricsAddress(const QString& address) {
    const auto check =
        reinterpret_cast<MetricsCheckFunction>(metricsFunction("kelvano_metrics_check"));
    if (!check)
        return false;
    QString error;
    if (check(&address, &error))
        return true;
    std::fprintf(stderr, "%s\n", qUtf8Printable(error));
    return false;
}

bool serveMetrics(const std::optional<QString>& address, Station* station, bool broker,
                  std::unique_ptr<QObject>* page, std::function<void(bool)>* brokerShown) {
    if (!address)
        return true;
    const auto serve =
        reinterpret_cast<MetricsServeFunction>(metricsFunction("kelvano_metrics_serve"));
    if (!serve)
        return false;
    const MetricsStart start{*address, station, broker};
    QString error;
    page->reset(serve(&start, brokerShown, &error));
    if (!*page)
        std::fprintf(stderr, "%s\n", qUtf8Printable(error));
    return bool(*page);
}
