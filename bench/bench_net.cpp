// The shared session against QNetworkAccessManager in one run: 500 GET
// requests of 1 KB one after the other and 16 in flight, and 5 MB bodies, to
// a loopback server on threads of its own that answers from memory. libcurl
// alone on a thread of its own (multi interface, bodies kept as the session
// keeps them) is the reference for what a transfer thread could at best give.
// CPU time is the client's: the process's minus the server threads'.
//
// The clients take turns batch by batch after a warm-up of each, the order
// rotating, so that a busy spell of the shared machine falls on all of them;
// the end reports medians of the batches with their range, and the ratios
// of the pairs run side by side. QNetworkAccessManager opens at most six
// connections per host and port (Qt 6.4 has no setting for it), so the
// server listens on four ports and each of the 16 slots keeps to one: the
// server counts the connections it holds open at once and the requests it
// is answering at once, and the table shows both. A 1 KB request is
// answered before the next one arrives, so few of those overlap; a
// connection stays counted until the client closes it, so one closing while
// its successor opens can lift that count past 16.
//
// Then replies at the bounds the kit sets per call, in the shapes that cost
// it most, read as the kit reads them (HTTP client, then the screen's
// handler): the GUI thread's CPU time and the peak memory above the start.

#include "orvix_ios_native_sdk/core/APIHandler.h"
#include "orvix_ios_native_sdk/core/HealthCheckViewModel.h"
#include "orvix_ios_native_sdk/core/Scenes.h"
#include "orvix_ios_native_sdk/core/internal/EndpointOverride.h"
#include "orvix_ios_native_sdk/flows/NewAadhaarFlowVC.h"
#include "platform/net/session.h"

#include <QApplication>
#include <QBuffer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include "benchmemory.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using namespace orvix::platform::net;

namespace {

qint64 cpuNs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Bodies of exactly `size` bytes: `head`, then `unit` as often as it fits,
// then filler spaces (JSON ignores them) and `tail`.
std::string exactly(qint64 size, const std::string &head, const std::string &unit, const std::string &tail)
{
    std::string out = head;
    while (!unit.empty() && qint64(out.size() + unit.size() + tail.size()) <= size)
        out += unit;
    if (!unit.empty() && unit.back() == ',' && out.back() == ',')
        out.back() = ' ';
    out.append(size_t(size - qint64(out.size() + tail.size())), ' ');
    return out + tail;
}

// A captcha reply with a picture of one colour (so that its PNG is small).
std::string captchaReply(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG", 0); // the strongest compression
    const QByteArray message =
        QJsonDocument(QJsonObject{{"imageBase64", QString::fromLatin1(png.toBase64())}, {"transactionId", "t"}})
            .toJson(QJsonDocument::Compact);
    return QJsonDocument(QJsonObject{{"sessionActive", true}, {"message", QString::fromUtf8(message)}})
        .toJson(QJsonDocument::Compact)
        .toStdString();
}

// The largest archive the kit opens, as Base64 in lines of 76 escaped as
// "\u000d\u000a" (the longest escape), padded to the download's bound.
std::string downloadAtItsBound()
{
    QByteArray archive(orvix::platform::zip::kMaxArchiveBytes, Qt::Uninitialized);
    QRandomGenerator generator(7);
    generator.fillRange(reinterpret_cast<quint32 *>(archive.data()), archive.size() / 4);
    const QByteArray base64 = archive.toBase64();
    std::string text;
    for (qsizetype i = 0; i < base64.size(); i += 76)
        text += base64.mid(i, 76).toStdString() + "\\u000d\\u000a";
    return exactly(orvix::kMaxArchiveReplyBytes, R"({"status":"Success","eKycXML":")" + text + R"(","pad":")", "x",
                   R"("})");
}

// Every reply the bound benchmarks ask for, by path.
std::map<std::string, std::string> boundReplies()
{
    const qint64 bound = orvix::kMaxReplyBytes;
    std::map<std::string, std::string> out;
    out["/v1/resource/numbers/state"] = exactly(bound, R"({"isAvailable":true,"pad":[)", "0,", "]}");
    out["/v1/resource/objects/state"] = exactly(bound, R"({"isAvailable":true,"pad":[)", "{},", "]}");
    out["/v1/resource/nested/state"] = exactly(bound, R"({"isAvailable":true,"pad":[)", std::string(100, '[') + std::string(100, ']') + ",", "]}");
    std::string keys = R"({"isAvailable":true)";
    for (int i = 0; qint64(keys.size()) < bound - 20; ++i)
        keys += ",\"k" + std::to_string(i) + "\":0";
    out["/v1/resource/keys/state"] = exactly(bound, keys, "", "}");
    out["/v1/resource/string/state"] = exactly(bound, R"({"isAvailable":true,"errors":{"errorCode":")", "x", R"("}})");
    // The largest picture the screen shows (4 MB of pixels), and one as large
    // as an image reader takes by default (128 MB), which it refuses.
    for (const auto &[path, size] : {std::pair{"/uidai/generateCaptcha/shown", QSize(1000, 1000)},
                                     std::pair{"/uidai/generateCaptcha/refused", QSize(8000, 4000)}}) {
        const std::string captcha = captchaReply(size.width(), size.height());
        out[path] = exactly(bound, captcha.substr(0, captcha.size() - 1), "", "}");
    }
    out["/uidai/access/oauth/authorize"] = exactly(bound, "", "<input name=\"_csrf\" value=\"0123456789\"/>\n", "");
    out["/uidai/eAadhaarService/api/oauth/downloadOfflineEkyc"] = downloadAtItsBound();
    return out;
}

// Answers every connection with one prepared reply and closes it, on
// several ports with workers enough for 16 requests at once, counting the
// requests open at the same time.
class LoopbackServer {
public:
    static constexpr int ports = 4;
    static constexpr int workersPerPort = 8;

    LoopbackServer()
    {
        m_replies["/1k"] = reply(1024);
        m_replies["/5m"] = reply(5 * 1024 * 1024);
        for (const auto &[path, body] : boundReplies())
            m_replies[path] = reply(body);
        for (int p = 0; p < ports; ++p) {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
            listen(fd, 256);
            socklen_t len = sizeof addr;
            getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
            m_fds.push_back(fd);
            m_ports.push_back(ntohs(addr.sin_port));
            for (int i = 0; i < workersPerPort; ++i)
                m_workers.emplace_back([this, fd] { serve(fd); });
        }
    }

    ~LoopbackServer()
    {
        m_stop = true;
        for (int fd : m_fds)
            shutdown(fd, SHUT_RDWR);
        for (std::thread &t : m_workers)
            t.join();
        for (int fd : m_fds)
            close(fd);
    }

    QUrl url(const char *path, int port = 0) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_ports[size_t(port % ports)]).arg(path));
    }
    qint64 cpuNs() const { return m_cpuNs.load(); }
    // The most connections open at once (accepted, not yet closed by the
    // client) and the most requests (head read, reply not yet all sent)
    // since the last call.
    std::pair<int, int> takeMostOpen()
    {
        return {m_connections.takeMost(), m_requests.takeMost()};
    }

private:
    static std::string reply(size_t size)
    {
        return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(size)
            + "\r\nConnection: close\r\n\r\n" + std::string(size, 'x');
    }
    static std::string reply(const std::string &body)
    {
        return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size())
            + "\r\nConnection: close\r\n\r\n" + body;
    }

    void serve(int fd)
    {
        std::vector<char> buffer(16384);
        while (!m_stop) {
            const int c = accept(fd, nullptr, nullptr);
            if (c < 0)
                continue;
            const qint64 start = ::cpuNs(CLOCK_THREAD_CPUTIME_ID);
            m_connections.open();
            std::string head;
            while (head.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = recv(c, buffer.data(), buffer.size(), 0);
                if (n <= 0)
                    break;
                head.append(buffer.data(), size_t(n));
            }
            m_requests.open();
            const size_t sp = head.find(' ');
            std::string path = sp == std::string::npos ? std::string() : head.substr(sp + 1, head.find(' ', sp + 1) - sp - 1);
            path = path.substr(0, path.find('?'));
            const auto it = m_replies.find(path);
            if (it != m_replies.end()) {
                const std::string &out = it->second;
                for (size_t sent = 0; sent < out.size();) {
                    const ssize_t n = send(c, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
                    if (n <= 0)
                        break;
                    sent += size_t(n);
                }
            }
            m_requests.close();
            shutdown(c, SHUT_WR);
            while (recv(c, buffer.data(), buffer.size(), 0) > 0) {
            }
            m_connections.close();
            close(c);
            m_cpuNs += ::cpuNs(CLOCK_THREAD_CPUTIME_ID) - start;
        }
    }

    std::vector<int> m_fds;
    std::vector<quint16> m_ports;
    std::map<std::string, std::string> m_replies;
    std::vector<std::thread> m_workers;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_cpuNs{0};
    struct Gauge {
        std::atomic<int> now{0};
        std::atomic<int> most{0};
        void open()
        {
            const int n = ++now;
            for (int m = most.load(); n > m && !most.compare_exchange_weak(m, n);) {
            }
        }
        void close() { --now; }
        int takeMost() { return most.exchange(now.load()); }
    };
    Gauge m_connections;
    Gauge m_requests;
};

LoopbackServer *server = nullptr;

enum class Client { session, networkAccessManager, curlThread };
constexpr Client clients[] = {Client::session, Client::networkAccessManager, Client::curlThread};
const char *clientName(Client client)
{
    return client == Client::session ? "session" : client == Client::networkAccessManager ? "qnam" : "curlthread";
}

// Runs `total` requests for `path` with `inFlight` outstanding, slot i
// always on the server's port i; returns the bytes received.
qint64 runBatch(Client client, const char *path, int total, int inFlight)
{
    qint64 bytes = 0;
    const int slotCount = std::min(inFlight, total);
    if (client == Client::curlThread) {
        // The best a transfer thread could do: libcurl alone, no Qt, no hand-over.
        std::thread worker([&] {
            // The body is kept as the session keeps it: reserved at its declared length.
            struct Sink {
                CURL *easy = nullptr;
                int slot = 0;
                QByteArray body;
            };
            auto write = +[](char *data, size_t s, size_t n, void *p) {
                auto *sink = static_cast<Sink *>(p);
                if (sink->body.isEmpty()) {
                    curl_off_t length = -1;
                    curl_easy_getinfo(sink->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
                    if (length > 0)
                        sink->body.reserve(qsizetype(length));
                }
                sink->body.append(data, qsizetype(s * n));
                return s * n;
            };
            std::vector<QByteArray> urls;
            for (int port = 0; port < LoopbackServer::ports; ++port)
                urls.push_back(server->url(path, port).toEncoded());
            auto makeEasy = [&](int slot) {
                CURL *easy = curl_easy_init();
                curl_easy_setopt(easy, CURLOPT_URL, urls[size_t(slot % LoopbackServer::ports)].constData());
                curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
                curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
                auto *sink = new Sink{easy, slot, {}};
                curl_easy_setopt(easy, CURLOPT_WRITEDATA, sink);
                curl_easy_setopt(easy, CURLOPT_PRIVATE, sink);
                curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, write);
                return easy;
            };
            CURLM *multi = curl_multi_init();
            int started = 0;
            int done = 0;
            for (; started < slotCount; ++started)
                curl_multi_add_handle(multi, makeEasy(started));
            while (done < total) {
                int running = 0;
                curl_multi_perform(multi, &running);
                int left = 0;
                while (CURLMsg *msg = curl_multi_info_read(multi, &left)) {
                    if (msg->msg != CURLMSG_DONE)
                        continue;
                    CURL *easy = msg->easy_handle;
                    Sink *sink = nullptr;
                    curl_easy_getinfo(easy, CURLINFO_PRIVATE, &sink);
                    bytes += sink->body.size();
                    const int slot = sink->slot;
                    delete sink;
                    curl_multi_remove_handle(multi, easy);
                    curl_easy_cleanup(easy);
                    ++done;
                    if (started < total) {
                        curl_multi_add_handle(multi, makeEasy(slot));
                        ++started;
                    }
                }
                if (done < total)
                    curl_multi_poll(multi, nullptr, 0, 100, nullptr);
            }
            curl_multi_cleanup(multi);
        });
        worker.join();
        return bytes;
    }

    static QNetworkAccessManager *manager = new QNetworkAccessManager;
    int started = 0;
    int done = 0;
    QEventLoop loop;
    std::function<void(int)> startOne = [&](int slot) {
        ++started;
        auto finished = [&, slot](qint64 size) {
            bytes += size;
            if (++done == total)
                loop.quit();
            else if (started < total)
                startOne(slot);
        };
        const QUrl url = server->url(path, slot);
        if (client == Client::session) {
            DataRequestOptions options;
            options.urlText = url.toString();
            Session::shared().request(options, nullptr, [finished](const DataResponse &r) {
                finished(r.data ? r.data->size() : 0);
            });
        } else {
            QNetworkReply *reply = manager->get(QNetworkRequest(url));
            QObject::connect(reply, &QNetworkReply::finished, reply, [reply, finished] {
                const qint64 size = reply->readAll().size();
                reply->deleteLater();
                finished(size);
            });
        }
    };
    for (int slot = 0; slot < slotCount; ++slot)
        startOne(slot);
    loop.exec();
    return bytes;
}

// One batch of one client: its wall and client CPU time, and the most
// requests the server held open at once.
struct Sample {
    double wallMs = 0;
    double cpuMs = 0;
    int mostConnections = 0;
    int mostRequests = 0;
};
struct Case {
    std::map<Client, std::vector<Sample>> samples;
};
std::map<std::string, Case> cases;
std::vector<std::string> caseOrder;

Sample timedBatch(Client client, const char *path, int total, int inFlight, qint64 *bytes)
{
    server->takeMostOpen();
    const qint64 wallStart = cpuNs(CLOCK_MONOTONIC);
    const qint64 cpuStart = cpuNs(CLOCK_PROCESS_CPUTIME_ID) - server->cpuNs();
    *bytes += runBatch(client, path, total, inFlight);
    Sample s;
    s.cpuMs = (cpuNs(CLOCK_PROCESS_CPUTIME_ID) - server->cpuNs() - cpuStart) / 1e6;
    s.wallMs = (cpuNs(CLOCK_MONOTONIC) - wallStart) / 1e6;
    std::tie(s.mostConnections, s.mostRequests) = server->takeMostOpen();
    return s;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Each iteration runs one batch of every client, the first one rotating;
// a warm-up batch of each comes first. The row's time is the round's.
void BM_Alternated(benchmark::State &state, const char *path, int total, int inFlight, const char *key)
{
    qint64 warmBytes = 0;
    for (Client client : clients)
        timedBatch(client, path, total, inFlight, &warmBytes);
    if (!cases.count(key))
        caseOrder.push_back(key);
    Case &c = cases[key];
    qint64 bytes = 0;
    int round = 0;
    std::map<Client, std::vector<double>> wall, cpu;
    for (auto _ : state) {
        double roundMs = 0;
        for (int i = 0; i < 3; ++i) {
            const Client client = clients[(round + i) % 3];
            const Sample s = timedBatch(client, path, total, inFlight, &bytes);
            c.samples[client].push_back(s);
            wall[client].push_back(s.wallMs);
            cpu[client].push_back(s.cpuMs);
            roundMs += s.wallMs;
        }
        state.SetIterationTime(roundMs / 1000);
        ++round;
    }
    if (bytes != qint64(state.iterations()) * 3 * total * (std::string(path) == "/1k" ? 1024 : 5 * 1024 * 1024))
        state.SkipWithError("a batch came back short");
    state.SetBytesProcessed(bytes);
    for (Client client : clients) {
        state.counters[std::string(clientName(client)) + "_ms"] = median(wall[client]);
        state.counters[std::string(clientName(client)) + "_cpu_ms"] = median(cpu[client]);
    }
}

#define NET_BENCH(name, path, total, inFlight) \
    BENCHMARK_CAPTURE(BM_Alternated, name, path, total, inFlight, #name) \
        ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5)

NET_BENCH(1k_sequential, "/1k", 500, 1);
NET_BENCH(1k_16inflight, "/1k", 500, 16);
NET_BENCH(5m_sequential, "/5m", 40, 1);
NET_BENCH(5m_16inflight, "/5m", 40, 16);

// "median [min-max]" of the values.
std::string spread(std::vector<double> v, const char *format)
{
    if (v.empty())
        return "-";
    const double m = median(v);
    std::sort(v.begin(), v.end());
    char text[96];
    std::snprintf(text, sizeof text, (std::string(format) + " [" + format + "-" + format + "]").c_str(), m, v.front(),
                  v.back());
    return text;
}

void printSummary()
{
    std::printf("\nAlternated batches: medians [min-max] of every batch of every repetition\n");
    std::printf("%-14s %-10s %7s %-26s %-26s %s\n", "case", "client", "batches", "wall ms", "client CPU ms",
                "most open at the server at once:");
    std::printf("%-14s %-10s %7s %-26s %-26s %11s %8s\n", "", "", "", "", "", "connections", "requests");
    for (const std::string &key : caseOrder) {
        for (Client client : clients) {
            const std::vector<Sample> &samples = cases[key].samples[client];
            std::vector<double> wall, cpu;
            int connections = 0;
            int requests = 0;
            for (const Sample &s : samples) {
                wall.push_back(s.wallMs);
                cpu.push_back(s.cpuMs);
                connections = std::max(connections, s.mostConnections);
                requests = std::max(requests, s.mostRequests);
            }
            std::printf("%-14s %-10s %7zu %-26s %-26s %11d %8d\n", key.c_str(), clientName(client), samples.size(),
                        spread(wall, "%.1f").c_str(), spread(cpu, "%.1f").c_str(), connections, requests);
        }
    }
    std::printf("\nsession / QNetworkAccessManager, per pair of batches run side by side: median [min-max]"
                " (below 1 is better for the session)\n");
    std::printf("%-14s %-26s %-26s\n", "case", "wall time", "CPU time");
    for (const std::string &key : caseOrder) {
        const std::vector<Sample> &s = cases[key].samples[Client::session];
        const std::vector<Sample> &q = cases[key].samples[Client::networkAccessManager];
        std::vector<double> wall, cpu;
        for (size_t i = 0; i < std::min(s.size(), q.size()); ++i) {
            wall.push_back(s[i].wallMs / q[i].wallMs);
            cpu.push_back(s[i].cpuMs / q[i].cpuMs);
        }
        std::printf("%-14s %-26s %-26s\n", key.c_str(), spread(wall, "%.2f").c_str(), spread(cpu, "%.2f").c_str());
    }
}

using orvix::bench::resetPeakMemory;
using orvix::bench::statusField;

enum class Reading { healthCheck, captcha, authorizePage, download };

// One reply at its bound, from the request to the end of the handler that
// reads it. Everything runs on this (the GUI) thread but the server's.
void BM_ReplyAtBound(benchmark::State &state, Reading reading, const char *resource)
{
    using namespace orvix;
    const QString base = server->url("/").toString();
    internal::setAuthorityServiceBaseURL(server->url("/uidai").toString());
    const auto screen = kitStoryboard().instantiate<NewAadhaarFlowVC>(QStringLiteral("NewAadhaarFlowVC"));
    double guiCpuMs = 0;
    double peakMB = 0;
    qint64 bytes = 0;
    bool read = true;
    for (auto _ : state) {
        resetPeakMemory();
        const qint64 rss = statusField("VmRSS:");
        const qint64 wallStart = cpuNs(CLOCK_MONOTONIC);
        const qint64 cpuStart = cpuNs(CLOCK_THREAD_CPUTIME_ID);
        QEventLoop loop;
        bool ok = false;
        const auto failed = [&](const Error &error) {
            state.SkipWithError(qPrintable(error.localizedDescription()));
            loop.quit();
        };
        switch (reading) {
        case Reading::healthCheck:
            HealthCheckViewModel().getResourceState("m", resource, base, [&](const QVariant &reply) {
                ok = reply.toMap().value("isAvailable").toBool()
                    || !reply.toMap().value("errors").toMap().value("errorCode").toString().isEmpty();
                loop.quit();
            }, failed);
            break;
        case Reading::captcha:
            screen->newAadhaarVM->generateCaptcha(QString::fromLatin1(resource), [&](const QVariant &reply) {
                screen->handleCaptchaResponse(reply);
                ok = screen->captchaId.has_value();
                loop.quit();
            }, failed);
            break;
        case Reading::authorizePage:
            screen->newAadhaarVM->authorize(QStringLiteral("q=1"), [&](const QVariant &reply) {
                ok = !NewAadhaarFlowVC::extractCsrfTokens(reply.toString()).isEmpty();
                loop.quit();
            }, failed);
            break;
        case Reading::download:
            screen->newAadhaarVM->downloadOfflineEkyc({{"shareCode", "9736"}}, "t", [&](const QVariant &reply) {
                // Decoded and written; the random bytes are then no archive.
                screen->handleDownloadResponse(reply);
                ok = true;
                loop.quit();
            }, failed);
            break;
        }
        loop.exec();
        guiCpuMs = qMax(guiCpuMs, (cpuNs(CLOCK_THREAD_CPUTIME_ID) - cpuStart) / 1e6);
        state.SetIterationTime((cpuNs(CLOCK_MONOTONIC) - wallStart) / 1e9);
        peakMB = qMax(peakMB, double(statusField("VmHWM:") - rss) / 1024.0);
        read = read && ok;
    }
    QCoreApplication::processEvents(); // what the handlers queued
    bytes = reading == Reading::download ? kMaxArchiveReplyBytes : kMaxReplyBytes;
    state.counters["reply_bytes"] = double(bytes);
    state.counters["gui_cpu_ms_max"] = guiCpuMs;
    state.counters["peak_MB_above_start_max"] = peakMB;
    if (reading == Reading::captcha)
        state.counters["picture_shown"] = screen->captchaImgView->image().isNull() ? 0 : 1;
    if (!read)
        state.SkipWithError("the reply was not read");
    internal::setAuthorityServiceBaseURL(std::nullopt);
}

#define BOUND_BENCH(name, reading, resource) \
    BENCHMARK_CAPTURE(BM_ReplyAtBound, name, reading, resource) \
        ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3)

BOUND_BENCH(health_check_array_of_numbers, Reading::healthCheck, "numbers");
BOUND_BENCH(health_check_array_of_objects, Reading::healthCheck, "objects");
BOUND_BENCH(health_check_nested_arrays, Reading::healthCheck, "nested");
BOUND_BENCH(health_check_many_keys, Reading::healthCheck, "keys");
BOUND_BENCH(health_check_long_error_code, Reading::healthCheck, "string");
BOUND_BENCH(captcha_largest_picture_shown, Reading::captcha, "/shown");
BOUND_BENCH(captcha_picture_too_large, Reading::captcha, "/refused");
BOUND_BENCH(authorize_page_of_csrf_fields, Reading::authorizePage, "");
BOUND_BENCH(download_largest_archive, Reading::download, "");

} // namespace

int main(int argc, char **argv)
{
    // The screens need a GUI application; no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    LoopbackServer loopback;
    server = &loopback;
    benchmark::RunSpecifiedBenchmarks();
    printSummary();
    server = nullptr;
    return 0;
}
