// The demo host: a window that runs the kit against the embedded simulator
// (or outside stand-ins), shows every report and can play the user's part.
//
// Exit status: 0 the run ended with "status": true, 1 with "status": false,
// 2 bad usage, 3 the run ended without a report or could not start, or the
// autopilot stopped where it could not go on.

#include "DemoWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QTextStream>
#include <QUrl>

namespace {

// An absolute http or https URL with a host.
bool isWebUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !url.host().isEmpty();
}

// Creates the folder when missing and proves it can be written.
bool writableFolder(const QString &path, QString *problem)
{
    if (!QDir().mkpath(path)) {
        *problem = QStringLiteral("cannot create the screenshot folder %1").arg(path);
        return false;
    }
    QTemporaryFile probe(QDir(path).filePath(QStringLiteral(".write-test-XXXXXX")));
    if (!probe.open()) {
        *problem = QStringLiteral("cannot write into the screenshot folder %1").arg(path);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // Run headless when there is no display to show a window on; nobody can
    // then play the user's part but the autopilot.
    const bool headless = qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (headless)
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvix-demo"));
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Demo host of the Orvix identity-verification kit.\n\n"
                       "The kit needs at least two flows, in order of preference: it launches the first\n"
                       "one its backend reports available.\n\n"
                       "Exit status: 0 the run ended with \"status\": true, 1 with \"status\": false,\n"
                       "2 bad usage, 3 the run ended without a report or could not start, or the\n"
                       "autopilot stopped where it could not go on (a screen waiting for input it\n"
                       "cannot give, or nothing happening for 60 s); it prints where."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const auto option = [](const char *name, const QString &help, const char *valueName = nullptr,
                           const QString &defaultValue = QString()) {
        return valueName ? QCommandLineOption(QString::fromLatin1(name), help, QString::fromLatin1(valueName),
                                              defaultValue)
                         : QCommandLineOption(QString::fromLatin1(name), help);
    };
    const QCommandLineOption flows = option(
        "flows",
        QStringLiteral("Two or more flows in order of preference, comma-separated: %1.").arg(flowNames().join(u", ")),
        "LIST", QStringLiteral("digilockerFlow,myAadhaarUidaiFlow,residentUidaiAadhaarFlow"));
    const QCommandLineOption mode = option("mode", QStringLiteral("Backend environment: sandbox, production or stage."),
                                           "MODE", QStringLiteral("sandbox"));
    const QCommandLineOption merchant = option("merchant-id", QStringLiteral("Merchant credential."), "ID",
                                               QStringLiteral("merchant-demo"));
    const QCommandLineOption user = option("user-id", QStringLiteral("End user's id."), "ID",
                                           QStringLiteral("demo-user"));
    const QCommandLineOption autopilot = option(
        "autopilot", QStringLiteral("Play the user's part, then quit when the run ends. On a DigiLocker page it "
                                    "presses the button or link labelled Allow (Deny with --deny). It stops with "
                                    "status 3 where it cannot go on."));
    const QCommandLineOption deny = option("deny", QStringLiteral("With --autopilot: refuse consent on the DigiLocker page."));
    const QCommandLineOption aadhaar = option(
        "aadhaar", QStringLiteral("With --autopilot: the Aadhaar number to type (default: %1, which the simulator "
                                  "accepts). Without --flows, the Aadhaar flows then go first.")
                       .arg(orvix::sim::Simulator::sampleAadhaarNumber()),
        "NUMBER", orvix::sim::Simulator::sampleAadhaarNumber());
    const QCommandLineOption screenshots = option("screenshots", QStringLiteral("Save a PNG of the window at each step."),
                                                  "DIR");
    const QCommandLineOption backend = option("backend", QStringLiteral("Outside backend stand-in (http or https URL)."),
                                              "URL");
    const QCommandLineOption authorityApi = option("authority-api", QStringLiteral("Outside authority web API stand-in."),
                                                   "URL");
    const QCommandLineOption authorityPortal = option("authority-portal",
                                                      QStringLiteral("Outside authority portal stand-in."), "URL");
    const QCommandLineOption residentPortal = option("resident-portal",
                                                     QStringLiteral("Outside resident page stand-in."), "URL");
    const QCommandLineOption success = option("success-url", QStringLiteral("Success redirect URL."), "URL");
    const QCommandLineOption failure = option("failure-url", QStringLiteral("Failure redirect URL."), "URL");
    const QCommandLineOption captcha = option(
        "captcha", QStringLiteral("With outside stand-ins: the captcha the autopilot types."), "TEXT");
    const QCommandLineOption otp = option(
        "otp", QStringLiteral("With outside stand-ins: the one-time password the autopilot types."), "TEXT");
    parser.addOptions({flows, mode, merchant, user, autopilot, deny, aadhaar, screenshots, backend, authorityApi,
                       authorityPortal, residentPortal, success, failure, captcha, otp});

    // parse(), not process(): bad usage exits with 2, not with process()'s 1.
    const auto usage = [&err](const QString &problem) {
        err << "orvix-demo: " << problem << "\nTry 'orvix-demo --help'.\n";
        err.flush();
        return 2;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(helpOption))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first()));

    DemoOptions options;
    QString problem;
    // An Aadhaar number to type asks for an Aadhaar flow.
    const QString flowList = parser.isSet(aadhaar) && !parser.isSet(flows)
        ? QStringLiteral("myAadhaarUidaiFlow,residentUidaiAadhaarFlow,digilockerFlow")
        : parser.value(flows);
    const auto parsedFlows = parseFlows(flowList, &problem);
    if (!parsedFlows)
        return usage(problem);
    options.flows = *parsedFlows;
    options.mode = parser.value(mode);
    if (!parseMode(options.mode))
        return usage(QStringLiteral("unknown mode: %1 (use sandbox, production or stage)").arg(options.mode));
    for (const QCommandLineOption *url : {&backend, &authorityApi, &authorityPortal, &residentPortal, &success, &failure}) {
        if (parser.isSet(*url) && !isWebUrl(parser.value(*url)))
            return usage(QStringLiteral("--%1 needs an absolute http or https URL, not \"%2\"")
                             .arg(url->names().first(), parser.value(*url)));
    }
    options.screenshotDir = parser.value(screenshots);
    if (parser.isSet(screenshots) && (options.screenshotDir.isEmpty() || !writableFolder(options.screenshotDir, &problem)))
        return usage(options.screenshotDir.isEmpty() ? QStringLiteral("--screenshots needs a folder") : problem);

    options.merchantId = parser.value(merchant);
    options.userId = parser.value(user);
    options.autopilot = parser.isSet(autopilot) || headless;
    if (headless && !parser.isSet(autopilot))
        err << "no display: running with --autopilot\n";
    options.deny = parser.isSet(deny);
    options.aadhaar = parser.value(aadhaar);
    options.backendUrl = parser.value(backend);
    options.authorityApiUrl = parser.value(authorityApi);
    options.authorityPortalUrl = parser.value(authorityPortal);
    options.residentPortalUrl = parser.value(residentPortal);
    options.successUrl = parser.value(success);
    options.failureUrl = parser.value(failure);
    options.captcha = parser.value(captcha);
    options.otp = parser.value(otp);
    err.flush();

    DemoWindow window(options);
    if (!window.prepare(&problem)) {
        err << "orvix-demo: " << problem << "\n";
        return DemoWindow::exitNoReport;
    }
    window.show();
    if (options.autopilot)
        window.startRun();
    app.exec();
    return window.exitStatus();
}
