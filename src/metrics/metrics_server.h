// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "exposition.h"

#include <QHostAddress>
#include <QString>
#include <QThread>
#include <memory>
#include <optional>

// Where the metrics endpoint listens.
struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;
};

// The address as a message names it: "127.0.0.1:9843", "[::1]:9843".
QString addressText(const QHostAddress& address, quint16 port);

// The port that --metrics uses when it is given an address only.
constexpr quint16 defaultMetricsPort = 9843;

// Reads the value of --metrics: "PORT", "ADDRESS:PORT", "[IPv6]:PORT" or an
// address alone (the default port). The address defaults to 127.0.0.1. Returns
// nothing, with a message for the user in *error, when the text is malformed.
std::optional<ListenAddress> parseListenAddress(const QString& text, QString* error);

// How much a client may ask of the endpoint. A connection that has not sent a
// whole request within requestTimeoutMs of opening or of its previous answer is
// closed; so is a request larger than maxRequestBytes (by the same timeout: its
// reading stops there). A connection beyond maxConnections takes the place of
// the one idle longest (none in the middle of a request); when every one is in
// the middle of a request, it is closed at once. While more than
// maxUnsentBytes of answers wait for a client to read them, its further
// requests are not read.
struct ConnectionLimits {
    int maxConnections = 64;
    qint64 maxRequestBytes = 16 * 1024;
    int requestTimeoutMs = 10000;
    qint64 maxUnsentBytes = 64 * 1024;
};

// The metrics endpoint: GET /metrics, GET / (a page that links to it), 404 for
// any other path, 405 for any method other than GET and HEAD. It runs in a
// thread of its own and answers from the last published state, so that slow,
// huge or unfinished requests never hold up the tick that publishes.
class MetricsServer {
  public:
    explicit MetricsServer(ConnectionLimits limits = {});
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Binds the address and starts serving. False, with the user's message in
    // *error, when it cannot be bound.
    bool start(const ListenAddress& where, QString* error);
    // The port it listens on (the bound one when started with port 0).
    quint16 port() const { return port_; }
    // The state that the next requests are answered from.
    void publish(const MetricsState& state);
    // The most bytes of answers that have waited at once for one client to
    // read them.
    qint64 largestBacklog() const;

    struct Shared;

  private:
    ConnectionLimits limits_;
    std::shared_ptr<Shared> shared_;
    QThread thread_;
    QObject* endpoint_ = nullptr; // lives in thread_
    quint16 port_ = 0;
};
