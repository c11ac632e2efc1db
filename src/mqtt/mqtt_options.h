// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

// Where and as whom the broker client connects, and what it publishes.
struct MqttOptions {
    QString host;
    int port = 1883;
    bool tls = false; // mqtts://
    QString caFile;   // with tls: the certificates to trust; empty: the system's store
    QString user;     // empty: no login
    QString password; // only with a user
    QString id;       // this Kelvano's name on the broker
    int intervalSeconds = 10;
    QString discoveryPrefix = QStringLiteral("homeassistant"); // empty: no discovery

    // kelvano/ID, under which every topic of this Kelvano lies.
    QString topic(const QString& leaf) const {
        return QStringLiteral("kelvano/") + id + QLatin1Char('/') + leaf;
    }
    // The broker's address as the status lines show it.
    QString address() const;
};

// The command-line values that choose the broker options, as given; an option
// that is absent has no value.
struct MqttArguments {
    QString url;                         // --mqtt
    std::optional<QString> id;           // --mqtt-id
    std::optional<QString> interval;     // --mqtt-interval
    std::optional<QString> discovery;    // --mqtt-discovery
    std::optional<QString> caFile;       // --mqtt-ca
    std::optional<QString> passwordFile; // --mqtt-password-file
    std::optional<QString> envPassword;  // the environment's KELVANO_MQTT_PASSWORD
    QString hostName;                    // this computer's name, for the default id
};

// The options, or the message that refuses the arguments.
struct MqttOptionsResult {
    std::optional<MqttOptions> options;
    QString error;
};

// Checks and reads the arguments (and the files they name). The password comes
// from the file when one is named, else from the environment; it is used only
// when the address names a user.
MqttOptionsResult parseMqttOptions(const MqttArguments& arguments);

// The id a Kelvano has when none is given: the host name lower-cased, with
// every character outside a-z, 0-9, _ and - turned into _.
QString defaultMqttId(const QString& hostName);
