// The demo host: a window that runs the kit against the embedded simulator
// (or outside stand-ins), shows every report and can play the user's part.

#include "DemoWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>

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

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Demo host of the Orvix identity-verification kit."));
    parser.addHelpOption();
    const auto option = [](const char *name, const char *help, const char *valueName = nullptr,
                           const char *defaultValue = nullptr) {
        return valueName ? QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(help),
                                              QString::fromLatin1(valueName), QString::fromLatin1(defaultValue))
                         : QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(help));
    };
    const QCommandLineOption flows = option("flows", "Flows in order of preference, comma-separated: "
                                                     "residentUidaiAadhaarFlow, myAadhaarUidaiFlow, digilockerFlow, "
                                                     "aadhaarApiflow.",
                                            "LIST", "digilockerFlow,myAadhaarUidaiFlow,residentUidaiAadhaarFlow");
    const QCommandLineOption mode = option("mode", "Backend environment: sandbox, production or stage.", "MODE",
                                           "sandbox");
    const QCommandLineOption merchant = option("merchant-id", "Merchant credential.", "ID", "merchant-demo");
    const QCommandLineOption user = option("user-id", "End user's id.", "ID", "demo-user");
    const QCommandLineOption autopilot = option("autopilot", "Play the user's part, then quit when the run ends.");
    const QCommandLineOption deny = option("deny", "With --autopilot: refuse consent on the DigiLocker page.");
    const QCommandLineOption screenshots = option("screenshots", "Save a PNG of the window at each step.", "DIR");
    const QCommandLineOption backend = option("backend", "Outside backend stand-in.", "URL");
    const QCommandLineOption authorityApi = option("authority-api", "Outside authority web API stand-in.", "URL");
    const QCommandLineOption authorityPortal = option("authority-portal", "Outside authority portal stand-in.", "URL");
    const QCommandLineOption residentPortal = option("resident-portal", "Outside resident page stand-in.", "URL");
    const QCommandLineOption success = option("success-url", "Success redirect URL.", "URL");
    const QCommandLineOption failure = option("failure-url", "Failure redirect URL.", "URL");
    const QCommandLineOption captcha = option("captcha", "With outside stand-ins: the captcha the autopilot types.",
                                              "TEXT");
    const QCommandLineOption otp = option("otp", "With outside stand-ins: the one-time password the autopilot types.",
                                          "TEXT");
    parser.addOptions({flows, mode, merchant, user, autopilot, deny, screenshots, backend, authorityApi,
                       authorityPortal, residentPortal, success, failure, captcha, otp});
    parser.process(app);

    DemoOptions options;
    options.mode = parser.value(mode);
    options.merchantId = parser.value(merchant);
    options.userId = parser.value(user);
    options.autopilot = parser.isSet(autopilot) || headless;
    if (headless && !parser.isSet(autopilot))
        QTextStream(stderr) << "no display: running with --autopilot\n";
    options.deny = parser.isSet(deny);
    options.screenshotDir = parser.value(screenshots);
    options.backendUrl = parser.value(backend);
    options.authorityApiUrl = parser.value(authorityApi);
    options.authorityPortalUrl = parser.value(authorityPortal);
    options.residentPortalUrl = parser.value(residentPortal);
    options.successUrl = parser.value(success);
    options.failureUrl = parser.value(failure);
    options.captcha = parser.value(captcha);
    options.otp = parser.value(otp);

    QTextStream err(stderr);
    QString problem;
    const auto parsedFlows = parseFlows(parser.value(flows), &problem);
    if (!parsedFlows) {
        err << problem << "\n";
        return 2;
    }
    options.flows = *parsedFlows;
    if (!parseMode(options.mode)) {
        err << "unknown mode: " << options.mode << " (use sandbox, production or stage)\n";
        return 2;
    }

    DemoWindow window(options);
    if (!window.prepare(&problem)) {
        err << problem << "\n";
        return 1;
    }
    window.show();
    if (options.autopilot)
        window.startRun();
    return app.exec();
}
