// SPDX-License-Identifier: GPL-3.0-or-later
#include "mqtt_client.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mosquitto.h>
#include <mutex>
#include <thread>
#ifndef Q_OS_WIN
#include <fcntl.h>
#endif

namespace {

constexpr int keepAliveSeconds = 30;

// The reason a broker gives for refusing a connection (MQTT 3.1.1 return codes).
QString refusal(int code) {
    switch (code) {
    case 1:
        return QStringLiteral("unacceptable protocol version");
    case 2:
        return QStringLiteral("client id rejected");
    case 3:
        return QStringLiteral("broker unavailable");
    case 4:
        return QStringLiteral("bad user name or password");
    case 5:
        return QStringLiteral("not authorised");
    default:
        return QStringLiteral("return code %1").arg(code);
    }
}

// A library error as a status line shows it: lower-case, without the full stop.
QString reason(int result, int error = 0) {
    QString text = result == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(error))
                                            : QString::fromUtf8(mosquitto_strerror(result));
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

} // namespace

// What an attempt's thread needs to hand its result back: the client, while it lives.
struct MqttClient::Link {
    std::mutex mutex;
    MqttClient* owner = nullptr;
};

MqttClient::MqttClient(MqttOptions options, QString version, QObject* parent)
    : QObject(parent), options_(std::move(options)), version_(std::move(version)),
      link_(std::make_shared<Link>()) {
    static const int initialised = mosquitto_lib_init();
    Q_UNUSED(initialised);
    link_->owner = this;
    output_ = [](const QString& line) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(line));
        std::fflush(stderr);
    };
    clock_ = [] { return QDateTime::currentDateTime(); };
    // The library's own housekeeping is the keep-alive ping, due after 30 s of silence: a look
    // every 5 s is soon enough, and wakes the program far less often than every second.
    misc_.setInterval(5000);
    connect(&misc_, &QTimer::timeout, this, [this] {
        if (handle_) {
            afterLoop(mosquitto_loop_misc(handle_.get()));
        }
    });
    answer_.setSingleShot(true);
    connect(&answer_, &QTimer::timeout, this, [this] {
        give_up(QStringLiteral("%1 did not answer within %2 s")
                    .arg(options_.address())
                    .arg(answerMs_ / 1000.0));
    });
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &MqttClient::attempt);
}

MqttClient::~MqttClient() {
    {
        std::lock_guard<std::mutex> lock(link_->mutex);
        link_->owner = nullptr;
    }
    close();
}

void MqttClient::setTimings(int firstRetryMs, int longestRetryMs, int answerMs) {
    firstRetryMs_ = retryMs_ = firstRetryMs;
    longestRetryMs_ = longestRetryMs;
    answerMs_ = answerMs;
}

void MqttClient::start() {
    if (running_)
        return;
    running_ = true;
    retryMs_ = firstRetryMs_;
    attempt();
}

void MqttClient::stop() {
    running_ = false;
    retry_.stop();
    if (connected_) {
        connected_ = false;
        send(options_.topic(QStringLiteral("status")), "offline");
        mosquitto_disconnect(handle_.get());
        // The socket does not block: what cannot go out now is left to the last will.
        for (int i = 0; i < 16 && mosquitto_want_write(handle_.get()); ++i)
            mosquitto_loop_write(handle_.get(), 1);
        say(QStringLiteral("disconnected from %1: stopped").arg(options_.address()));
        Q_EMIT connectedChanged(false);
    }
    close();
}

MqttClient::Handle MqttClient::makeHandle() {
    const QByteArray clientId = ("kelvano-" + options_.id).toUtf8();
    Handle handle(mosquitto_new(clientId.constData(), true, this), mosquitto_destroy);
    mosquitto* m = handle.get();
    mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    const QByteArray status = options_.topic(QStringLiteral("status")).toUtf8();
    mosquitto_will_set(m, status.constData(), 7, "offline", 1, true);
    if (!options_.user.isEmpty())
        mosquitto_username_pw_set(
            m, options_.user.toUtf8().constData(),
            options_.password.isEmpty() ? nullptr : options_.password.toUtf8().constData());
    if (options_.tls) {
        if (options_.caFile.isEmpty())
            mosquitto_int_option(m, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        else
            mosquitto_tls_set(m, options_.caFile.toLocal8Bit().constData(), nullptr, nullptr,
                              nullptr, nullptr);
    }
    mosquitto_connect_callback_set(m, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(m, &MqttClient::onDisconnect);
    mosquitto_message_callback_set(m, &MqttClient::onMessage);
    return handle;
}

// One attempt to connect. The look-up of the broker's name and the TCP and TLS
// set-up may each take long; they run on a thread of their own, which hands the
// result back through the event loop. The handle is used by nothing else
// meanwhile; an attempt given up on keeps its handle until its thread ends.
void MqttClient::attempt() {
    if (!running_)
        return;
    close();
    handle_ = makeHandle();
    refused_ = false;
    const quint64 number = ++attempt_;
    answer_.start(answerMs_);
    std::thread([handle = handle_, link = link_, number, host = options_.host.toUtf8(),
                 port = options_.port] {
        errno = 0;
        const int result =
            mosquitto_connect(handle.get(), host.constData(), port, keepAliveSeconds);
        const int error = errno;
        std::lock_guard<std::mutex> lock(link->mutex);
        if (MqttClient* owner = link->owner)
            QMetaObject::invokeMethod(
                owner, [owner, number, result, error] { owner->attempted(number, result, error); },
                Qt::QueuedConnection);
    }).detach();
}

void MqttClient::attempted(quint64 attempt, int result, int error) {
    if (attempt != attempt_ || !handle_)
        return; // given up on, or stopped
    if (result != MOSQ_ERR_SUCCESS) {
        give_up(
            QStringLiteral("cannot reach %1: %2").arg(options_.address(), reason(result, error)));
        return;
    }
    const int socket = mosquitto_socket(handle_.get());
#ifndef Q_OS_WIN
    // Reads and writes go on only as far as they can without waiting.
    ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) | O_NONBLOCK);
    // Programs started later (an alarm's command) do not hold the connection open: when this
    // program dies, the broker sees it go and publishes the last will.
    ::fcntl(socket, F_SETFD, ::fcntl(socket, F_GETFD) | FD_CLOEXEC);
#endif
    reader_ = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    connect(reader_, &QSocketNotifier::activated, this,
            [this] { afterLoop(mosquitto_loop_read(handle_.get(), 1)); });
    writer_ = new QSocketNotifier(socket, QSocketNotifier::Write, this);
    connect(writer_, &QSocketNotifier::activated, this,
            [this] { afterLoop(mosquitto_loop_write(handle_.get(), 1)); });
    misc_.start();
    afterLoop();
}

// After the library had its turn: the connection may be over, or have more to write.
void MqttClient::afterLoop(int result) {
    if (!handle_)
        return;
    // A connection lost before the broker accepted it (a TLS handshake that failed, say) is
    // a failed attempt like any other; one lost after it was said as it went.
    if (!connected_ && !refused_ && result != MOSQ_ERR_SUCCESS) {
        give_up(
            QStringLiteral("cannot reach %1: %2").arg(options_.address(), reason(result, errno)));
        return;
    }
    if (refused_ || mosquitto_socket(handle_.get()) < 0) {
        close();
        retryLater();
        return;
    }
    if (writer_)
        writer_->setEnabled(mosquitto_want_write(handle_.get()));
}

void MqttClient::give_up(const QString& why) {
    fail(why);
    close();
    retryLater();
}

void MqttClient::close() {
    answer_.stop();
    misc_.stop();
    // The notifiers go before the socket they watch; one may be the caller.
    for (QSocketNotifier* notifier : {reader_.data(), writer_.data()}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    reader_ = writer_ = nullptr;
    handle_.reset();
    if (connected_) {
        connected_ = false;
        Q_EMIT connectedChanged(false);
    }
}

void MqttClient::retryLater() {
    if (!running_)
        return;
    retry_.start(retryMs_);
    Q_EMIT waiting(retryMs_);
    retryMs_ = std::min(retryMs_ * 2, longestRetryMs_);
}

void MqttClient::say(const QString& text) {
    output_(isoTimeWithOffset(clock_()) + QStringLiteral(" MQTT: ") + text);
}

void MqttClient::fail(const QString& text) {
    if (text == lastFailure_)
        return;
    lastFailure_ = text;
    say(text);
}

void MqttClient::send(const QString& topic, const QByteArray& payload) {
    mosquitto_publish(handle_.get(), nullptr, topic.toUtf8().constData(), int(payload.size()),
                      payload.constData(), 1, true);
}

void MqttClient::sendState() {
    send(options_.topic(QStringLiteral("state")), mqttStateJson(*latest_));
    published_ = latest_;
}

void MqttClient::sendConfigs() {
    for (const MqttMessage& config : mqttDiscoveryConfigs(options_, version_))
        send(config.topic, config.payload);
}

void MqttClient::publishState(const MqttSnapshot& snapshot) {
    const bool due = mqttStateDue(published_, snapshot, options_.intervalSeconds);
    latest_ = snapshot;
    if (connected_ && due) {
        sendState();
        afterLoop();
    }
}

void MqttClient::publishAlarms(const MqttAlarms& alarms) {
    alarms_ = alarms;
    if (connected_) {
        send(options_.topic(QStringLiteral("alarm")), mqttAlarmJson(alarms));
        afterLoop();
    }
}

void MqttClient::onConnect(mosquitto*, void* self, int result) {
    auto* client = static_cast<MqttClient*>(self);
    client->answer_.stop();
    if (result != 0) {
        client->refused_ = true;
        client->fail(QStringLiteral("%1 refused the connection: %2")
                         .arg(client->options_.address(), refusal(result)));
        return;
    }
    client->connected_ = true;
    client->lastFailure_.clear();
    client->retryMs_ = client->firstRetryMs_;
    client->say(QStringLiteral("connected to %1 as %2")
                    .arg(client->options_.address(), client->options_.topic(QString())));
    const MqttOptions& options = client->options_;
    client->send(options.topic(QStringLiteral("status")), "online");
    if (!options.discoveryPrefix.isEmpty()) {
        const QByteArray birth = (options.discoveryPrefix + QStringLiteral("/status")).toUtf8();
        mosquitto_subscribe(client->handle_.get(), nullptr, birth.constData(), 1);
        client->sendConfigs();
    }
    if (client->latest_)
        client->sendState();
    if (client->alarms_)
        client->send(options.topic(QStringLiteral("alarm")), mqttAlarmJson(*client->alarms_));
    QMetaObject::invokeMethod(
        client, [client] { Q_EMIT client->connectedChanged(client->connected_); },
        Qt::QueuedConnection);
}

void MqttClient::onDisconnect(mosquitto*, void* self, int result) {
    auto* client = static_cast<MqttClient*>(self);
    if (client->connected_) {
        client->connected_ = false;
        client->say(QStringLiteral("disconnected from %1: %2")
                        .arg(client->options_.address(), reason(result)));
        QMetaObject::invokeMethod(
            client, [client] { Q_EMIT client->connectedChanged(false); }, Qt::QueuedConnection);
    } else if (!client->refused_ && client->running_) {
        client->fail(QStringLiteral("cannot connect to %1: %2")
                         .arg(client->options_.address(), reason(result)));
    }
}

void MqttClient::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<MqttClient*>(self);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    // Home Assistant's birth message after it (re)starts: it needs the configs again.
    if (QString::fromUtf8(message->topic) ==
            client->options_.discoveryPrefix + QStringLiteral("/status") &&
        payload == "online")
        client->sendConfigs();
}
