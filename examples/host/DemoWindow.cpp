#include "DemoWindow.h"

#include "orvix_ios_native_sdk/core/internal/EndpointOverride.h"
#include "orvix_ios_native_sdk/flows/DigiLockerViewController.h"
#include "orvix_ios_native_sdk/flows/NewAadhaarFlowVC.h"
#include "orvix_ios_native_sdk/flows/OldAadhaarFlowVC.h"
#include "platform/log/log.h"
#include "platform/ui/toast.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QTime>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextStream>
#include <QVBoxLayout>
#include <cstdio>

using namespace orvix;

namespace {

constexpr int autopilotTimeLimitMs = 180000;
// Nothing logged, no step taken for this long: the run is not going anywhere.
constexpr int autopilotQuietLimitMs = 60000;
// A screen that waits for the user must look so on this many ticks in a row.
constexpr int autopilotStuckTicks = 3;

// Types text into a field key by key, as a user would.
void typeInto(QWidget *field, const QString &text)
{
    if (!field)
        return;
    field->setFocus();
    for (const QChar c : text) {
        const int key = c.isDigit() ? Qt::Key_0 + c.digitValue() : c.toUpper().unicode();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(field, &press);
        QApplication::sendEvent(field, &release);
    }
}

void press(QWidget *root, const char *objectName)
{
    if (auto *button = root ? root->findChild<QAbstractButton *>(QString::fromLatin1(objectName)) : nullptr)
        button->click();
}

bool shown(const QWidget *w)
{
    return w && w->isVisible();
}

// "987654321012" as "9876 5432 1012".
QString grouped(const QString &number)
{
    QString out;
    for (qsizetype i = 0; i < number.size(); ++i) {
        if (i && i % 4 == 0)
            out += u' ';
        out += number.at(i);
    }
    return out;
}

// Presses the visible button or link labelled `label` on a web page, or with
// `press` false only says whether there is one.
QString consentScript(const QString &label, bool press)
{
    return QStringLiteral(R"((function(label, press) {
    var nodes = document.querySelectorAll('button, a, input[type=submit], input[type=button], [role=button]');
    for (var i = 0; i < nodes.length; ++i) {
        var n = nodes[i];
        var text = (n.tagName === 'INPUT' ? n.value : n.innerText) || '';
        if (text.trim().toLowerCase() !== label || n.disabled || !n.getClientRects().length)
            continue;
        if (press)
            n.click();
        return true;
    }
    return false;
})('%1', %2))")
        .arg(label.toLower(), press ? QStringLiteral("true") : QStringLiteral("false"));
}

void printLine(const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace

namespace {
constexpr Config::Value allFlows[] = {Config::residentUidaiAadhaarFlow, Config::myAadhaarUidaiFlow,
                                      Config::digilockerFlow, Config::aadhaarApiflow};
} // namespace

QStringList flowNames()
{
    QStringList names;
    for (Config::Value v : allFlows)
        names.append(Config(v).caseName());
    return names;
}

std::optional<QList<Config>> parseFlows(const QString &text, QString *problem)
{
    QList<Config> flows;
    for (const QString &raw : text.split(u',', Qt::SkipEmptyParts)) {
        const QString name = raw.trimmed();
        const auto *found = std::find_if(std::begin(allFlows), std::end(allFlows),
                                         [&name](Config::Value v) { return Config(v).caseName() == name; });
        if (found == std::end(allFlows)) {
            if (problem)
                *problem = QStringLiteral("unknown flow: %1 (the flows are %2)").arg(name, flowNames().join(u", "));
            return std::nullopt;
        }
        flows.append(*found);
    }
    // The kit refuses a run with fewer: say so before it starts.
    if (flows.size() < 2) {
        if (problem)
            *problem = QStringLiteral("the kit needs at least two flows, in order of preference "
                                      "(e.g. --flows digilockerFlow,myAadhaarUidaiFlow); it runs the first "
                                      "one its backend reports available");
        return std::nullopt;
    }
    return flows;
}

std::optional<Mode> parseMode(const QString &text)
{
    if (text == QLatin1String("sandbox"))
        return Mode::sandbox;
    if (text == QLatin1String("production"))
        return Mode::production;
    if (text == QLatin1String("stage"))
        return Mode::stage;
    return std::nullopt;
}

class DemoWindow::Receiver : public OrvixEntryPointDelegate {
public:
    explicit Receiver(DemoWindow *window) : m_window(window) {}
    void onKYCFinished(const std::optional<QVariantMap> &data) override
    {
        if (m_window)
            m_window->onReport(data.value_or(QVariantMap{}));
    }

private:
    QPointer<DemoWindow> m_window;
};

DemoWindow::DemoWindow(DemoOptions options, QWidget *parent) : QWidget(parent), m_options(std::move(options))
{
    setWindowTitle(QStringLiteral("Orvix demo host"));
    resize(520, 760);

    m_merchant = new QLineEdit(m_options.merchantId);
    m_user = new QLineEdit(m_options.userId);
    m_mode = new QComboBox;
    m_mode->addItems({QStringLiteral("sandbox"), QStringLiteral("production"), QStringLiteral("stage")});
    m_mode->setCurrentText(m_options.mode);
    QStringList names;
    for (const Config &c : std::as_const(m_options.flows))
        names.append(c.caseName());
    m_flows = new QLineEdit(names.join(QStringLiteral(",")));
    m_start = new QPushButton(QStringLiteral("Start"));
    m_status = new QLabel(QStringLiteral("Ready."));
    m_status->setTextFormat(Qt::PlainText); // it may show a log line
    m_status->setWordWrap(true);
    m_reports = new QPlainTextEdit;
    m_reports->setReadOnly(true);
    m_reports->setPlaceholderText(QStringLiteral("Reports from the kit appear here."));
    m_hint = new QLabel;
    m_hint->setWordWrap(true);
    m_hint->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_hint->hide();

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Merchant id"), m_merchant);
    form->addRow(QStringLiteral("User id"), m_user);
    form->addRow(QStringLiteral("Mode"), m_mode);
    form->addRow(QStringLiteral("Flow order"), m_flows);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_start);
    layout->addWidget(m_status);
    layout->addWidget(m_hint);
    layout->addWidget(new QLabel(QStringLiteral("Reports")));
    layout->addWidget(m_reports, 1);

    connect(m_start, &QPushButton::clicked, this, &DemoWindow::startRun);
    m_autopilot.setInterval(200);
    connect(&m_autopilot, &QTimer::timeout, this, &DemoWindow::autopilotStep);

    m_host = platform::ui::ViewController::wrapping(this);
    m_receiver = std::make_shared<Receiver>(this);
    platform::log::setSink([window = QPointer<DemoWindow>(this)](const QString &line) {
        // Log lines may come from any thread; look at them on the main one.
        QMetaObject::invokeMethod(qApp, [window, line] {
            if (window)
                window->onLogLine(line);
        }, Qt::QueuedConnection);
    });
}

DemoWindow::~DemoWindow()
{
    platform::log::setSink({});
}

bool DemoWindow::prepare(QString *problem)
{
    QString backend = m_options.backendUrl;
    QString hostBase;
    if (backend.isEmpty()) {
        m_simulator.backend().addCredential(m_options.merchantId);
        if (!m_simulator.start()) {
            *problem = QStringLiteral("the simulator could not start");
            return false;
        }
        m_embedded = true;
        backend = m_simulator.backendBaseUrl();
        setUpPhone();
        printLine(QStringLiteral("simulator: ") + m_simulator.baseUrl().toString());
        printLine(QStringLiteral("simulator backend: ") + m_simulator.backendBaseUrl());
    }
    if (!backend.endsWith(u'/'))
        backend += u'/';
    internal::setBackendBaseURL(backend);
    QString authorityApi = m_options.authorityApiUrl;
    QString authorityPortal = m_options.authorityPortalUrl;
    if (m_embedded) {
        authorityApi = authorityApi.isEmpty() ? m_simulator.authorityApiBaseUrl() : authorityApi;
        authorityPortal = authorityPortal.isEmpty() ? m_simulator.authorityPortalUrl() : authorityPortal;
    }
    if (!authorityApi.isEmpty()) {
        while (authorityApi.endsWith(u'/'))
            authorityApi.chop(1);
        internal::setAuthorityServiceBaseURL(authorityApi);
        printLine(QStringLiteral("authority API: ") + authorityApi);
    }
    QString residentPortal = m_options.residentPortalUrl;
    if (m_embedded && residentPortal.isEmpty())
        residentPortal = m_simulator.residentPortalUrl();
    if (!residentPortal.isEmpty()) {
        if (!residentPortal.endsWith(u'/'))
            residentPortal += u'/';
        internal::setResidentPortalURL(residentPortal);
        printLine(QStringLiteral("resident portal: ") + residentPortal);
    }
    if (!authorityPortal.isEmpty()) {
        if (!authorityPortal.endsWith(u'/'))
            authorityPortal += u'/';
        internal::setAuthorityPortalURL(authorityPortal);
        printLine(QStringLiteral("authority portal: ") + authorityPortal);
    }
    if (m_options.successUrl.isEmpty())
        m_options.successUrl = m_embedded ? m_simulator.hostSuccessUrl() : QStringLiteral("https://host.orvix.example/success");
    if (m_options.failureUrl.isEmpty())
        m_options.failureUrl = m_embedded ? m_simulator.hostFailureUrl() : QStringLiteral("https://host.orvix.example/failure");
    printLine(QStringLiteral("backend: ") + backend);
    printLine(QStringLiteral("success URL: ") + m_options.successUrl);
    printLine(QStringLiteral("failure URL: ") + m_options.failureUrl);
    return true;
}

// A window beside the demo's that shows what the simulator texts to the
// user's phone: the password is for the person at the screen, never for the
// demo's output.
void DemoWindow::setUpPhone()
{
    const QString number = grouped(orvix::sim::Simulator::sampleAadhaarNumber());
    m_hint->setText(QStringLiteral("The simulator accepts Aadhaar number %1 (or any other valid one); the "
                                   "one-time passwords it sends show in the Phone window.").arg(number));
    m_hint->show();

    m_phone = new QWidget(this, Qt::Window);
    m_phone->setObjectName(QStringLiteral("phone"));
    m_phone->setWindowTitle(QStringLiteral("Phone"));
    m_phone->setStyleSheet(QStringLiteral(
        "#phone { background: #1B1F24; }"
        "#phoneTitle { color: #FFFFFF; font-weight: 600; font-size: 15px; }"
        "#phoneHint { color: #C9D1D9; }"
        "QListWidget { background: #F2F4F7; border: none; border-radius: 12px; padding: 6px; }"
        "QListWidget::item { background: #FFFFFF; border-radius: 10px; padding: 8px; margin: 4px; color: #1B1F24; }"));
    auto *title = new QLabel(QStringLiteral("Phone — text messages"));
    title->setObjectName(QStringLiteral("phoneTitle"));
    auto *hint = new QLabel(QStringLiteral("Registered to Aadhaar number %1, which the simulator accepts.").arg(number));
    hint->setObjectName(QStringLiteral("phoneHint"));
    hint->setWordWrap(true);
    hint->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_messages = new QListWidget;
    m_messages->setWordWrap(true);
    m_messages->setSelectionMode(QAbstractItemView::NoSelection);
    m_messages->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_messages->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_messages->setResizeMode(QListView::Adjust);
    auto *layout = new QVBoxLayout(m_phone);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->addWidget(title);
    layout->addWidget(hint);
    layout->addWidget(m_messages, 1);
    auto *empty = new QListWidgetItem(QStringLiteral("No messages yet."));
    empty->setForeground(QColor(0x57, 0x60, 0x6A));
    empty->setFlags(Qt::NoItemFlags);
    m_messages->addItem(empty);
    m_phone->resize(300, height());

    connect(&m_simulator.authority(), &orvix::sim::Authority::otpSent, this, &DemoWindow::onTextMessage);
    connect(&m_simulator.residentPortal(), &orvix::sim::ResidentPortal::otpSent, this, &DemoWindow::onTextMessage);
}

void DemoWindow::onTextMessage(const QString &uid, const QString &otp)
{
    const QString masked = uid.size() > 4 ? QStringLiteral("XXXX XXXX ") + uid.right(4) : uid;
    auto *item = new QListWidgetItem(QStringLiteral("AUTHORITY  %1\n%2 is your one-time password for Aadhaar %3. "
                                                    "Do not share it with anyone.")
                                         .arg(QTime::currentTime().toString(QStringLiteral("HH:mm")), otp, masked));
    if (m_messages->count() == 1 && m_messages->item(0)->flags() == Qt::NoItemFlags)
        delete m_messages->takeItem(0); // "No messages yet."
    m_messages->addItem(item);
    m_messages->scrollToBottom();
    if (m_phone)
        m_phone->show();
}

void DemoWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_phone && !m_phone->isVisible()) {
        m_phone->move(frameGeometry().topRight() + QPoint(12, 0));
        m_phone->show();
    }
}

void DemoWindow::closeEvent(QCloseEvent *event)
{
    if (m_phone)
        m_phone->close();
    QWidget::closeEvent(event);
}

void DemoWindow::startRun()
{
    QString problem;
    const auto flows = parseFlows(m_flows->text(), &problem);
    const auto mode = parseMode(m_mode->currentText());
    if (!flows || !mode) {
        setStatus(flows ? QStringLiteral("Unknown mode.") : problem.left(1).toUpper() + problem.mid(1) + u'.');
        return;
    }
    m_runEnded = false;
    m_step = Step::start;
    m_consentGiven = false;
    m_pageShot = false;
    m_consentProbe = false;
    m_entry = OrvixEntryPoint::create(m_merchant->text(), m_user->text(), m_options.successUrl, m_options.failureUrl,
                                      *mode, m_host);
    m_entry->orvixEntryDelegate = m_receiver;
    printLine(QStringLiteral("entry point base URL: ") + m_entry->urlComponent().value_or(QString()));
    m_entry->addConfig(*flows);
    setStatus(QStringLiteral("Checking which flows are available…"));
    screenshot(QStringLiteral("start"));
    m_runClock.start();
    m_sinceProgress.start();
    m_stuckTicks = 0;
    m_entry->beginKYCFLow();
    if (m_options.autopilot)
        m_autopilot.start();
}

void DemoWindow::onReport(const QVariantMap &data)
{
    const QJsonObject object = QJsonObject::fromVariantMap(data);
    printLine(QStringLiteral("REPORT ") + QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
    m_reports->appendPlainText(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)));
    setStatus(data.value(QStringLiteral("status")).toBool() ? QStringLiteral("Verified.")
                                                            : QStringLiteral("Not verified."));
    m_runEnded = true;
    m_exitStatus = data.value(QStringLiteral("status")).toBool() ? 0 : 1;
    if (m_options.autopilot) {
        // Let the screen finish going away, then record the end and quit.
        QTimer::singleShot(500, this, [this] {
            screenshot(QStringLiteral("report"));
            finishAutopilot(m_exitStatus, QString());
        });
    }
}

void DemoWindow::onLogLine(const QString &line)
{
    if (m_sinceProgress.isValid())
        m_sinceProgress.restart();
    // The run ends without a report when no screen can be shown.
    const bool silentEnd = line == QLatin1String("<--- NONE -->") || line.contains(QLatin1String("could not be loaded"));
    if (silentEnd && !m_runEnded) {
        setStatus(QStringLiteral("The run ended without a report: ") + line);
        if (m_options.autopilot)
            finishAutopilot(exitNoReport, QStringLiteral("the run ended without a report"));
    }
}

void DemoWindow::autopilotStep()
{
    if (m_runEnded)
        return;
    if (m_runClock.elapsed() > autopilotTimeLimitMs) {
        stopStuck(QStringLiteral("the run did not end within %1 s").arg(autopilotTimeLimitMs / 1000));
        return;
    }
    if (m_sinceProgress.elapsed() > autopilotQuietLimitMs) {
        stopStuck(QStringLiteral("nothing happened for %1 s").arg(autopilotQuietLimitMs / 1000));
        return;
    }
    if (auto webApi = std::dynamic_pointer_cast<NewAadhaarFlowVC>(m_host->presentedViewController())) {
        if (!aadhaarStuck(*webApi))
            autopilotAadhaar(*webApi, false);
        return;
    }
    if (auto resident = std::dynamic_pointer_cast<OldAadhaarFlowVC>(m_host->presentedViewController())) {
        if (!aadhaarStuck(*resident))
            autopilotAadhaar(*resident, true);
        return;
    }
    autopilotConsent();
}

// On whatever page the DigiLocker sheet shows, press the visible button or
// link labelled Allow (or Deny) as the user would: once the page shows one,
// a screenshot first, the press on the next tick.
void DemoWindow::autopilotConsent()
{
    auto screen = std::dynamic_pointer_cast<DigiLockerViewController>(m_host->presentedViewController());
    if (!screen || !screen->webcontentView || m_consentGiven || m_consentProbe || screen->webcontentView->isLoading())
        return;
    const QString label = m_options.deny ? QStringLiteral("Deny") : QStringLiteral("Allow");
    const bool press = m_pageShot;
    // One script at a time, so that the button is pressed once.
    m_consentProbe = true;
    screen->webcontentView->evaluateJavaScript(
        consentScript(label, press),
        [self = QPointer<DemoWindow>(this), label, press](const QVariant &result,
                                                          const std::optional<platform::web::WebError> &) {
            if (!self)
                return;
            DemoWindow *const window = self;
            window->m_consentProbe = false;
            if (!result.toBool() || window->m_consentGiven)
                return;
            if (!press) {
                if (!window->m_pageShot) {
                    window->m_pageShot = true;
                    window->setStatus(QStringLiteral("DigiLocker consent page shown."));
                    window->screenshot(QStringLiteral("digilocker-consent"));
                }
                return;
            }
            window->m_consentGiven = true;
            printLine(QStringLiteral("autopilot: pressed ") + label);
        });
}

QString DemoWindow::captchaText(bool resident) const
{
    if (!m_embedded)
        return m_options.captcha;
    return resident ? m_simulator.residentPortal().currentCaptcha() : m_simulator.authority().currentCaptcha();
}

QString DemoWindow::otpText(bool resident) const
{
    if (!m_embedded)
        return m_options.otp;
    return resident ? m_simulator.residentPortal().lastOtp() : m_simulator.authority().lastOtp();
}

// Both Aadhaar screens have the same panels and controls.
template <class Screen>
void DemoWindow::autopilotAadhaar(Screen &screen, bool resident)
{
    QWidget *root = screen.view();
    switch (m_step) {
    case Step::start:
        // The captcha picture is in: fill the first panel.
        if (!screen.captchaImgView || screen.captchaImgView->image().isNull() || !shown(screen.aadhaarCaptchaView)
            || captchaText(resident).isEmpty())
            return;
        screenshot(QStringLiteral("aadhaar-number"));
        typeInto(screen.aadhaarNoTF, m_options.aadhaar);
        typeInto(screen.captchaTF, captchaText(resident));
        press(root, "checkBoxBtn");
        press(root, "aadhaarSubmitBtn");
        printLine(QStringLiteral("autopilot: number and captcha submitted"));

        m_step = Step::numberSent;
        m_sinceProgress.restart();
        return;
    case Step::numberSent:
        if (!shown(screen.otpView) || otpText(resident).isEmpty())
            return;
        screenshot(QStringLiteral("one-time-password"));
        typeInto(screen.otpTF, otpText(resident));
        press(root, "otpSubmitBtn");
        printLine(QStringLiteral("autopilot: one-time password submitted"));
        m_step = Step::otpSent;
        m_sinceProgress.restart();
        return;
    case Step::otpSent:
        if (!shown(screen.userInfoView))
            return;
        screenshot(QStringLiteral("record"));
        press(root, "proceedBtn");
        printLine(QStringLiteral("autopilot: proceeded"));
        m_step = Step::done;
        m_sinceProgress.restart();
        return;
    case Step::done:
        return;
    }
}

// The screen waits for the person: a message to act on with the panel for
// new input shown and nothing under way, or its error panel. The autopilot
// types only what it was given, so it stops there.
template <class Screen>
bool DemoWindow::aadhaarStuck(Screen &screen)
{
    const bool busy = screen.popupLoader && screen.popupLoader->isAnimating();
    QString toast;
    if (const auto toasts = platform::ui::shownToasts(); !toasts.isEmpty())
        toast = toasts.last().message;
    QString why;
    if (shown(screen.ErrorView) && !busy) {
        why = QStringLiteral("the screen shows its error panel (\"%1\")")
                  .arg(screen.errorTextLbl ? screen.errorTextLbl->text() : QString());
    } else if (!toast.isEmpty() && !busy
               && ((m_step == Step::start && shown(screen.aadhaarCaptchaView) && screen.captchaImgView
                    && screen.captchaImgView->image().isNull())
                   || (m_step == Step::numberSent && shown(screen.aadhaarCaptchaView))
                   || (m_step == Step::otpSent && shown(screen.otpView)))) {
        why = QStringLiteral("the screen shows \"%1\" and waits for input the autopilot cannot give").arg(toast);
    }
    m_stuckTicks = why.isEmpty() ? 0 : m_stuckTicks + 1;
    if (m_stuckTicks < autopilotStuckTicks)
        return false;
    stopStuck(why);
    return true;
}

QString DemoWindow::whereNow() const
{
    const auto presented = m_host->presentedViewController();
    const auto panel = [this](const QString &screen) {
        switch (m_step) {
        case Step::start:
            return screen + QStringLiteral(", Aadhaar number and captcha");
        case Step::numberSent:
            return screen + QStringLiteral(", after sending the Aadhaar number and captcha");
        case Step::otpSent:
            return screen + QStringLiteral(", after sending the one-time password");
        case Step::done:
            return screen + QStringLiteral(", after Proceed");
        }
        return screen;
    };
    if (std::dynamic_pointer_cast<NewAadhaarFlowVC>(presented))
        return panel(QStringLiteral("the web-API Aadhaar screen"));
    if (std::dynamic_pointer_cast<OldAadhaarFlowVC>(presented))
        return panel(QStringLiteral("the resident-page Aadhaar screen"));
    if (auto sheet = std::dynamic_pointer_cast<DigiLockerViewController>(presented)) {
        const std::optional<QUrl> url = sheet->webcontentView ? sheet->webcontentView->url() : std::nullopt;
        const QString page = url ? platform::log::redactedURL(*url) : QString();
        return page.isEmpty() ? QStringLiteral("the DigiLocker sheet")
                              : QStringLiteral("the DigiLocker sheet, page %1").arg(page);
    }
    return presented ? QStringLiteral("a screen the autopilot does not know")
                     : QStringLiteral("the health checks, before any screen");
}

void DemoWindow::stopStuck(const QString &why)
{
    if (m_runEnded)
        return;
    m_runEnded = true;
    setStatus(QStringLiteral("The autopilot stopped: ") + why + u'.');
    screenshot(QStringLiteral("stopped"));
    finishAutopilot(exitNoReport, QStringLiteral("stopped at %1: %2").arg(whereNow(), why));
}

void DemoWindow::screenshot(const QString &step)
{
    if (m_options.screenshotDir.isEmpty())
        return;
    const QDir dir(m_options.screenshotDir);
    // The sheet, when one is up, is the window the user looks at.
    QWidget *target = this;
    if (auto presented = m_host->presentedViewController(); presented && presented->isViewLoaded())
        target = presented->view()->window();
    const QString path = dir.filePath(QStringLiteral("%1-%2.png").arg(++m_shots, 2, 10, QChar(u'0')).arg(step));
    QImage shot = target->grab().toImage();
    if (m_phone && m_phone->isVisible()) {
        // The phone beside the window, as the person sees them.
        const QImage phone = m_phone->grab().toImage();
        QImage both(shot.width() + 12 + phone.width(), std::max(shot.height(), phone.height()), QImage::Format_RGB32);
        both.fill(QColor(0x55, 0x5B, 0x63));
        QPainter painter(&both);
        painter.drawImage(0, 0, shot);
        painter.drawImage(shot.width() + 12, 0, phone);
        painter.end();
        shot = both;
    }
    if (shot.save(path))
        printLine(QStringLiteral("SCREENSHOT ") + path);
    else
        QTextStream(stderr) << "orvix-demo: cannot save the screenshot " << path << "\n";
}

void DemoWindow::finishAutopilot(int exitCode, const QString &why)
{
    m_autopilot.stop();
    if (!why.isEmpty())
        QTextStream(stderr) << "autopilot: " << why << "\n";
    QTimer::singleShot(0, qApp, [exitCode] { QApplication::exit(exitCode); });
}

void DemoWindow::setStatus(const QString &text)
{
    m_status->setText(text);
}
