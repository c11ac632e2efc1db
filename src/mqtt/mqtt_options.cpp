// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt_options.h"

#include <QFile>
#include <QRegularExpression>
#include <QUrl>

QString MqttOptions::address() const {
    const QString shownHost =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return (tls ? QStringLiteral("mqtts://") : QStringLiteral("mqtt://")) + shownHost +
           QLatin1Char(':') + QString::number(port);
}

QString defaultMqttId(const QString& hostName) {
    QString id = hostName.toLower();
    for (QChar& c : id) {
        const bool kept = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                          (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                          c == QLatin1Char('_') || c == QLatin1Char('-');
        if (!kept)
            c = QLatin1Char('_');
    }
    return id;
}

namespace {

MqttOptionsResult refuse(const QString& option, const QString& value, const QString& why) {
    return {std::nullopt, QStringLiteral("kelvano: %1 %2: %3").arg(option, value, why)};
}

// The whole text of a file, or nothing; why says what went wrong.
std::optional<QByteArray> readFile(const QString& path, QString* why) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read it (%1)").arg(file.errorString());
        return std::nullopt;
    }
    return file.readAll();
}

} // namespace

MqttOptionsResult parseMqttOptions(const MqttArguments& arguments) {
    const QString mqtt = QStringLiteral("--mqtt");
    const QString& url = arguments.url;
    const QString form =
        QStringLiteral("write mqtt://[USER@]HOST[:PORT] or mqtts://[USER@]HOST[:PORT]");
    // scheme :// [user [: password] @] (host | [ipv6]) [: port] [/]
    static const QRegularExpression pattern(QStringLiteral(
        R"(^([A-Za-z][A-Za-z0-9+.-]*)://(?:([^@/:?#]*)(:[^@/?#]*)?@)?(\[[0-9A-Fa-f:.]+\]|[^:/?#@\[\]]+)(?::(\d*))?/?$)"));
    const QRegularExpressionMatch match = pattern.match(url);
    if (!match.hasMatch())
        return refuse(mqtt, url, QStringLiteral("not a broker address; ") + form);
    MqttOptions options;
    const QString scheme = match.captured(1).toLower();
    if (scheme == QLatin1String("mqtts")) {
        options.tls = true;
        options.port = 8883;
    } else if (scheme != QLatin1String("mqtt")) {
        return refuse(mqtt, url,
                      QStringLiteral("unknown scheme '%1'; ").arg(match.captured(1)) + form);
    }
    if (match.hasCaptured(3))
        return refuse(mqtt, url,
                      QStringLiteral("the address holds a password, which every user of this "
                                     "computer can read; give it in the environment variable "
                                     "KELVANO_MQTT_PASSWORD or in a file named by "
                                     "--mqtt-password-file"));
    options.user = QUrl::fromPercentEncoding(match.captured(2).toUtf8());
    options.host = match.captured(4);
    if (options.host.startsWith(QLatin1Char('[')))
        options.host = options.host.mid(1, options.host.size() - 2);
    if (match.hasCaptured(5)) {
        const QString portText = match.captured(5);
        bool ok = false;
        const int port = portText.size() <= 5 ? portText.toInt(&ok) : 0;
        if (!ok || port < 1 || port > 65535)
            return refuse(mqtt, url,
                          QStringLiteral("the port must be a whole number from 1 to 65535"));
        options.port = port;
    }

    options.id = arguments.id ? *arguments.id : defaultMqttId(arguments.hostName);
    static const QRegularExpression idPattern(QStringLiteral("^[A-Za-z0-9_-]+$"));
    if (!idPattern.match(options.id).hasMatch())
        return refuse(QStringLiteral("--mqtt-id"), options.id,
                      QStringLiteral("an id is made of letters, digits, _ and - only"));

    if (arguments.interval) {
        static const QRegularExpression digits(QStringLiteral("^\\d{1,5}$"));
        const int seconds =
            digits.match(*arguments.interval).hasMatch() ? arguments.interval->toInt() : 0;
        if (seconds < 1 || seconds > 86400)
            return refuse(QStringLiteral("--mqtt-interval"), *arguments.interval,
                          QStringLiteral("give a whole number of seconds from 1 to 86400"));
        options.intervalSeconds = seconds;
    }

    if (arguments.discovery) {
        static const QRegularExpression prefixPattern(QStringLiteral("^[^+#\\s]+$"));
        if (*arguments.discovery == QLatin1String("off"))
            options.discoveryPrefix.clear();
        else if (prefixPattern.match(*arguments.discovery).hasMatch())
            options.discoveryPrefix = *arguments.discovery;
        else
            return refuse(QStringLiteral("--mqtt-discovery"), *arguments.discovery,
                          QStringLiteral("give a topic prefix without +, # or spaces, or off"));
    }

    QString why;
    if (arguments.caFile) {
        if (!options.tls)
            return refuse(QStringLiteral("--mqtt-ca"), *arguments.caFile,
                          QStringLiteral("certificates are for an mqtts:// address only"));
        if (!readFile(*arguments.caFile, &why))
            return refuse(QStringLiteral("--mqtt-ca"), *arguments.caFile, why);
        options.caFile = *arguments.caFile;
    }
    if (arguments.passwordFile) {
        const std::optional<QByteArray> text = readFile(*arguments.passwordFile, &why);
        if (!text)
            return refuse(QStringLiteral("--mqtt-password-file"), *arguments.passwordFile, why);
        if (options.user.isEmpty())
            return refuse(QStringLiteral("--mqtt-password-file"), *arguments.passwordFile,
                          QStringLiteral("a password needs a user in the address, as in "
                                         "mqtt://USER@HOST"));
        // The first line, without its line end.
        options.password = QString::fromUtf8(text->split('\n').first());
        if (options.password.endsWith(QLatin1Char('\r')))
            options.password.chop(1);
    } else if (arguments.envPassword && !options.user.isEmpty()) {
        options.password = *arguments.envPassword;
    }
    return {options, QString()};
}
