#pragma once
// The demo host's window.

#include "orvix_ios_native_sdk/core/OrvixEntryPoint.h"
#include "simulator/Simulator.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>

class QComboBox;
class QListWidget;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

struct DemoOptions {
    QList<orvix::Config> flows;
    QString mode;
    QString merchantId;
    QString userId;
    bool autopilot = false;
    bool deny = false;
    QString aadhaar; // what the autopilot types
    QString screenshotDir;
    QString backendUrl;
    QString authorityApiUrl;
    QString authorityPortalUrl;
    QString residentPortalUrl;
    QString successUrl;
    QString failureUrl;
    QString captcha;
    QString otp;
};

// The flow names the kit knows, in its order.
QStringList flowNames();
// Two or more flow names, comma-separated; otherwise nothing and why.
std::optional<QList<orvix::Config>> parseFlows(const QString &text, QString *problem);
std::optional<orvix::Mode> parseMode(const QString &text);

class DemoWindow : public QWidget {
    Q_OBJECT
public:
    // Exit statuses besides 0 and 1 (the last report's "status").
    static constexpr int exitNoReport = 3;

    explicit DemoWindow(DemoOptions options, QWidget *parent = nullptr);
    ~DemoWindow() override;

    // Starts the embedded simulator unless outside stand-ins are given.
    bool prepare(QString *problem);
    void startRun();
    // 0 or 1 after a report, exitNoReport before the first one.
    int exitStatus() const { return m_exitStatus; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    class Receiver;
    void onReport(const QVariantMap &data);
    void onLogLine(const QString &line);
    void setUpPhone();
    void onTextMessage(const QString &uid, const QString &otp);
    void autopilotConsent();
    void autopilotStep();
    template <class Screen>
    void autopilotAadhaar(Screen &screen, bool resident);
    QString captchaText(bool resident) const;
    QString otpText(bool resident) const;
    void screenshot(const QString &step);
    void finishAutopilot(int exitCode, const QString &why);
    // Where the run stands, for a person: the screen and its step.
    QString whereNow() const;
    // Ends the autopilot with exitNoReport when the screen waits for what it cannot give.
    template <class Screen>
    bool aadhaarStuck(Screen &screen);
    void stopStuck(const QString &why);
    void setStatus(const QString &text);

    DemoOptions m_options;
    mutable orvix::sim::Simulator m_simulator;
    bool m_embedded = false;
    std::shared_ptr<orvix::platform::ui::ViewController> m_host;
    std::shared_ptr<orvix::OrvixEntryPoint> m_entry;
    std::shared_ptr<Receiver> m_receiver;

    QLineEdit *m_merchant = nullptr;
    QLineEdit *m_user = nullptr;
    QComboBox *m_mode = nullptr;
    QLineEdit *m_flows = nullptr;
    QPushButton *m_start = nullptr;
    QLabel *m_status = nullptr;
    QPlainTextEdit *m_reports = nullptr;
    QLabel *m_hint = nullptr;
    // The embedded simulator's phone: the text messages it sends.
    QWidget *m_phone = nullptr;
    QListWidget *m_messages = nullptr;

    QTimer m_autopilot;
    QElapsedTimer m_runClock;
    QElapsedTimer m_sinceProgress; // the last log line, step or screen change
    int m_stuckTicks = 0;
    bool m_runEnded = false;
    enum class Step { start, numberSent, otpSent, done };
    Step m_step = Step::start;
    bool m_consentGiven = false;
    bool m_pageShot = false;
    bool m_consentProbe = false; // a consent script is running
    int m_shots = 0;
    int m_exitStatus = exitNoReport;
};
