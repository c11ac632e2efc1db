// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mqtt/mqtt_options.h"
#include "mqtt/mqtt_payloads.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

struct mosquitto;
struct mosquitto_message;
class QSocketNotifier;

// The broker client: keeps a connection to the broker, says "online" on
// kelvano/ID/status ("offline" is its last will), publishes the readings and
// alarm states (retained, QoS 1) and Home Assistant's discovery configs.
//
// Nothing here waits for the network on the caller's thread: each connection
// attempt (name look-up, TCP and TLS set-up) runs on a thread of its own, and
// the connection is then driven from the event loop through its socket. A
// lost or refused connection is tried again after a pause that doubles from
// 1 s up to 60 s. Each change of the connection is one dated line on
// standard error.
//
// A run needs:
//     MqttClient mqtt(options, version);
//     mqtt.start();
//     after each tick: mqtt.publishState(MqttSnapshot::of(cycle, now));
//     after each alarm event: mqtt.publishAlarms({word1, word2});
//     before a clean exit: mqtt.stop();
class MqttClient : public QObject {
    Q_OBJECT
  public:
    using Output = std::function<void(const QString& line)>;
    using Clock = std::function<QDateTime()>;

    MqttClient(MqttOptions options, QString version, QObject* parent = nullptr);
    // Drops the connection without a word: the broker publishes the last
    // will, as when the program is killed. stop() first for a clean exit.
    ~MqttClient() override;

    // Where the status lines go (standard error unless set) and the clock
    // that dates them.
    void setOutput(Output output) { output_ = std::move(output); }
    void setClock(Clock clock) { clock_ = std::move(clock); }
    // The first pause before a new attempt and the longest one (1 s, 60 s),
    // and how long an attempt may take until the broker has answered (10 s).
    void setTimings(int firstRetryMs, int longestRetryMs, int answerMs);

    // Connects, and keeps connecting until stop().
    void start();
    // Publishes "offline" and leaves the broker.
    void stop();
    bool connected() const { return connected_; }

    // The readings of a tick. Published at once when the port status changed
    // or the interval has passed since the last publication; while there is
    // no connection only the latest is kept, for the next connect.
    void publishState(const MqttSnapshot& snapshot);
    // The alarm states after an event; published at once and on each connect.
    void publishAlarms(const MqttAlarms& alarms);

  Q_SIGNALS:
    void connectedChanged(bool connected);
    // No connection: the next attempt comes after this pause.
    void waiting(int milliseconds);

  private:
    struct Link;
    using Handle = std::shared_ptr<mosquitto>;

    Handle makeHandle();
    void attempt();
    void attempted(quint64 attempt, int result, int error);
    // After the library had its turn; result is what its loop step returned.
    void afterLoop(int result = 0);
    void give_up(const QString& why);
    void close();
    void retryLater();
    void say(const QString& text);
    void fail(const QString& text);
    void send(const QString& topic, const QByteArray& payload);
    void sendState();
    void sendConfigs();

    static void onConnect(mosquitto*, void* self, int result);
    static void onDisconnect(mosquitto*, void* self, int result);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);

    MqttOptions options_;
    QString version_;
    Output output_;
    Clock clock_;
    int firstRetryMs_ = 1000;
    int longestRetryMs_ = 60000;
    int answerMs_ = 10000;
    int retryMs_ = 1000;

    std::shared_ptr<Link> link_;
    Handle handle_;
    quint64 attempt_ = 0;
    bool running_ = false;
    bool connected_ = false;
    bool refused_ = false;
    QString lastFailure_; // the last failure line said, so that a repeat is not said again
    QPointer<QSocketNotifier> reader_;
    QPointer<QSocketNotifier> writer_;
    QTimer misc_;   // keep-alive
    QTimer answer_; // the attempt's deadline
    QTimer retry_;

    std::optional<MqttSnapshot> latest_;
    std::optional<MqttSnapshot> published_;
    std::optional<MqttAlarms> alarms_;
};
