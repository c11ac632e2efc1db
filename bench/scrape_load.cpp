// SPDX-License-Identifier: GPL-3.0-or-later
// Scrape load for bench/metrics_scrape: TOTAL GET requests for PATH on HOST:PORT over
// CONNECTIONS keep-alive connections (fewer when SECONDS pass first), each timed from the
// first byte sent to the last byte of the answer. Prints "p50_ms p99_ms max_ms answered
// failed". With STUCK > 0 it also keeps STUCK connections open that sent half a request and
// STUCK that send a 1 MB header, as misbehaving clients would, opening them again whenever
// the server closes them.
//
//   c++ -O2 -std=c++17 -pthread bench/scrape_load.cpp -o scrape_load
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int connectTo(const char* host, int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, host, &address.sin_addr);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool sendAll(int fd, const std::string& data) {
    for (size_t sent = 0; sent < data.size();) {
        const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += size_t(n);
    }
    return true;
}

// Reads one answer: the head, then a Content-Length body or chunks. False on a closed or
// failed connection.
bool readAnswer(int fd, std::string& buffer) {
    const auto fill = [&] {
        char chunk[65536];
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, size_t(n));
        return true;
    };
    size_t head;
    while ((head = buffer.find("\r\n\r\n")) == std::string::npos)
        if (!fill())
            return false;
    std::string lower = buffer.substr(0, head);
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    size_t pos = head + 4;
    if (const size_t cl = lower.find("\r\ncontent-length:"); cl != std::string::npos) {
        const size_t length = std::strtoul(lower.c_str() + cl + 17, nullptr, 10);
        while (buffer.size() < pos + length)
            if (!fill())
                return false;
        buffer.erase(0, pos + length);
        return true;
    }
    for (;;) { // chunked
        size_t line;
        while ((line = buffer.find("\r\n", pos)) == std::string::npos)
            if (!fill())
                return false;
        const size_t size = std::strtoul(buffer.c_str() + pos, nullptr, 16);
        while (buffer.size() < line + 2 + size + 2)
            if (!fill())
                return false;
        pos = line + 2 + size + 2;
        if (size == 0) {
            buffer.erase(0, pos);
            return true;
        }
    }
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 6) {
        std::fprintf(stderr,
                     "usage: scrape_load HOST PORT PATH TOTAL CONNECTIONS [SECONDS [STUCK]]\n");
        return 2;
    }
    const char* host = argv[1];
    const int port = std::atoi(argv[2]);
    const std::string request = std::string("GET ") + argv[3] + " HTTP/1.1\r\nHost: " + host +
                                "\r\nUser-Agent: scrape_load\r\n\r\n";
    const int total = std::atoi(argv[4]);
    const int connections = std::atoi(argv[5]);
    const double seconds = argc > 6 ? std::atof(argv[6]) : 1e9;
    const int stuck = argc > 7 ? std::atoi(argv[7]) : 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);

    // The misbehaving clients, opened again whenever the server has closed them.
    std::atomic<bool> done{false};
    std::thread misbehaving([&] {
        std::vector<int> held(size_t(2 * stuck), -1);
        while (!done) {
            for (size_t i = 0; i < held.size(); ++i) {
                char byte;
                if (held[i] >= 0 && recv(held[i], &byte, 1, MSG_DONTWAIT) != 0)
                    continue; // still open (or answered, which it is not)
                if (held[i] >= 0)
                    close(held[i]);
                if ((held[i] = connectTo(host, port)) < 0)
                    continue;
                const std::string head =
                    i % 2 ? "GET /metrics HTTP/1.1\r\nHost: x\r\n"
                          : "GET /metrics HTTP/1.1\r\nX-Big: " + std::string(1 << 20, 'a');
                send(held[i], head.data(), head.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        for (int fd : held)
            if (fd >= 0)
                close(fd);
    });

    std::atomic<int> next{0}, failed{0};
    std::vector<std::vector<double>> times(static_cast<size_t>(connections));
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c)
        threads.emplace_back([&, c] {
            int fd = -1;
            std::string buffer;
            while (next.fetch_add(1) < total && std::chrono::steady_clock::now() < end) {
                if (fd < 0 && (fd = connectTo(host, port)) < 0) {
                    ++failed;
                    continue;
                }
                const auto start = std::chrono::steady_clock::now();
                if (!sendAll(fd, request) || !readAnswer(fd, buffer)) {
                    ++failed;
                    close(fd);
                    fd = -1;
                    buffer.clear();
                    continue;
                }
                times[size_t(c)].push_back(std::chrono::duration<double, std::milli>(
                                               std::chrono::steady_clock::now() - start)
                                               .count());
            }
            if (fd >= 0)
                close(fd);
        });
    for (std::thread& t : threads)
        t.join();
    done = true;
    misbehaving.join();

    std::vector<double> all;
    for (const auto& t : times)
        all.insert(all.end(), t.begin(), t.end());
    std::sort(all.begin(), all.end());
    const auto at = [&](double q) {
        return all.empty() ? 0.0 : all[size_t(q * double(all.size() - 1))];
    };
    std::printf("%.3f %.3f %.3f %zu %d\n", at(0.5), at(0.99), all.empty() ? 0.0 : all.back(),
                all.size(), failed.load());
    return 0;
}
