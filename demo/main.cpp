// velmora-demo: hosts the Velmora control against the embedded server on a
// sample database (over HTTP, or HTTPS with a certificate of its own), or
// against a server of the user's choice.

#include "demowindow.h"

#include "core/uilanguage.h"
#include "http/tlscertificate.h"
#include "protocol/maskedaddress.h"
#include "store/centerstore.h"
#include "velmoraserver.h"

#include <velmora/velmora.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <memory>

using namespace VelmoraServerCore;

namespace {

// True when no window system can be reached and the user chose no platform.
bool withoutDisplay()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return false;
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// Qt's notes that do not concern the user of the demo: no runtime
// directory in a bare session, and the offscreen platform's lack of size
// hints. Everything else goes to the handler Qt had.
QtMessageHandler g_qtHandler = nullptr;
void filterQtMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtCriticalMsg && type != QtFatalMsg
        && (message.contains(u"XDG_RUNTIME_DIR") || message.contains(u"propagateSizeHints")))
        return;
    g_qtHandler(type, context, message);
}

void say(const QString &message)
{
    std::fprintf(stderr, "velmora-demo: %s\n", qPrintable(message));
}

// The sample database in the user's data directory, created and seeded on
// first start.
bool prepareSampleDatabase(QString *path)
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (dir.isEmpty() || !QDir().mkpath(dir)) {
        say(QStringLiteral("cannot create the data directory %1").arg(dir));
        return false;
    }
    *path = QDir(dir).filePath(QStringLiteral("sample.sqlite"));
    CenterStore store({*path});
    CenterStore::Error error;
    int centers = 0;
    if (!store.ensureSchema(&error) || !store.centerCount(&centers, &error)) {
        say(error.message);
        return false;
    }
    if (centers == 0) {
        if (!store.seedSample(&error)) {
            say(error.message);
            return false;
        }
        say(QStringLiteral("created the sample database %1").arg(*path));
    }
    return true;
}

// A self-signed certificate for 127.0.0.1, made for this run and given to
// the embedded server, and trusted the way a host trusts its site's CA. The
// files are needed only until the server has read them.
bool prepareCertificate(const QTemporaryDir &dir, VelmoraServer::Options *options)
{
    const TlsCertificate certificate = TlsCertificate::generate(QStringLiteral("127.0.0.1"));
    options->tlsCertificateFile = dir.filePath(QStringLiteral("certificate.pem"));
    options->tlsKeyFile = dir.filePath(QStringLiteral("key.pem"));
    QString error = QStringLiteral("cannot make a TLS certificate");
    if (certificate.isNull() || !dir.isValid() || !certificate.save(options->tlsCertificateFile, options->tlsKeyFile, &error)) {
        say(error);
        return false;
    }
    QSslConfiguration trust = QSslConfiguration::defaultConfiguration();
    trust.addCaCertificate(QSslCertificate(certificate.certificatePem));
    QSslConfiguration::setDefaultConfiguration(trust);
    return true;
}

// What the command line asks for.
struct DemoOptions
{
    QString server;     // empty: the embedded server
    QString employee;
    QString screenshot; // empty: a window
    QString language;
    bool tls = false;
};

// Parses the command line; exits as QCommandLineParser does on --help and
// on an unknown option. False, having said why, when the options clash.
bool parseOptions(const QApplication &app, DemoOptions *options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Hosts the Velmora Cross Reference control. Without --server it starts the embedded server on "
        "127.0.0.1 with a sample database in the user's data directory and loads employee 1."));
    parser.addHelpOption();
    const QCommandLineOption server(QStringLiteral("server"),
                                    QStringLiteral("Use this server (e.g. http://127.0.0.1:8080) instead of the "
                                                   "embedded one."),
                                    QStringLiteral("url"));
    const QCommandLineOption employee(QStringLiteral("employee"), QStringLiteral("Employee to load (default 1)."),
                                      QStringLiteral("number"), QStringLiteral("1"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Load, render the control to this PNG file and exit; the exit "
                                                       "status is 1 when the load failed, 2 when the file cannot be "
                                                       "written."),
                                        QStringLiteral("file"));
    const QCommandLineOption language(QStringLiteral("lang"),
                                      QStringLiteral("Show the texts in this language (e.g. de) instead of the "
                                                     "system's."),
                                      QStringLiteral("code"));
    const QCommandLineOption tls(QStringLiteral("tls"),
                                 QStringLiteral("Serve the embedded server over HTTPS, with a self-signed certificate "
                                                "made for this run that the demo trusts."));
    parser.addOptions({server, employee, screenshot, language, tls});
    parser.process(app);
    *options = {parser.value(server), parser.value(employee), parser.value(screenshot), parser.value(language),
                parser.isSet(tls)};
    if (options->tls && parser.isSet(server)) {
        say(QStringLiteral("--tls is for the embedded server; give --server an https:// address instead"));
        return false;
    }
    return true;
}

// The demo's texts, and Qt's own (the buttons of message boxes, the menus of
// text boxes, where Qt's translations are installed), in the operator's
// language; the control picks its own as it is created.
void installTranslations(const QString &language, QTranslator *demoTexts, QTranslator *qtTexts)
{
    if (!language.isEmpty())
        QLocale::setDefault(QLocale(language));
    // English, the language the texts are written in, wins where it comes
    // first among the operator's languages.
    const QString texts = QStringLiteral(":/velmora-demo/translations");
    const QString demoLanguage = VelmoraInternal::catalogueFor(
        QLocale().uiLanguages(), VelmoraInternal::cataloguesIn(texts, QStringLiteral("velmora-demo_")));
    if (demoLanguage.isEmpty())
        return;
    if (demoTexts->load(QStringLiteral("velmora-demo_") + demoLanguage, texts))
        QApplication::installTranslator(demoTexts);
    if (qtTexts->load(QLocale(demoLanguage), QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(qtTexts);
}

// Starts the embedded server on 127.0.0.1 and the sample database; null,
// having said why, when it cannot. url is where it serves.
std::unique_ptr<VelmoraServer> startEmbeddedServer(bool tls, QString *url)
{
    VelmoraServer::Options options;
    options.host = QStringLiteral("127.0.0.1");
    options.port = 0;
    options.threads = 2;
    const QTemporaryDir tlsFiles;
    if (!prepareSampleDatabase(&options.database) || (tls && !prepareCertificate(tlsFiles, &options)))
        return nullptr;
    auto embedded = std::make_unique<VelmoraServer>(options);
    QString error;
    if (!embedded->start(&error)) {
        say(error);
        return nullptr;
    }
    *url = QStringLiteral("%1://127.0.0.1:%2").arg(tls ? u"https" : u"http").arg(embedded->port());
    say(QStringLiteral("embedded server on %1 with %2").arg(*url, options.database));
    return embedded;
}

// Loads, renders the control to file and quits: 0, or 1 when the load
// failed, 2 when the file cannot be written.
int renderScreenshot(QApplication &app, DemoWindow &window, const QString &file, const QString &employee,
                     const QString &serverUrl)
{
    int status = 0;
    QTimer::singleShot(0, &window, [&] {
        if (!window.load()) {
            say(QStringLiteral("the load of employee %1 from %2 failed: %3")
                    .arg(employee, VelmoraProtocol::maskedAddress(serverUrl), window.lastFailure()));
            status = 1;
        }
        QApplication::processEvents();
        if (window.control()->grab().save(file, "PNG")) {
            say(QStringLiteral("screenshot written to %1").arg(file));
        } else {
            say(QStringLiteral("cannot write %1").arg(file));
            status = 2;
        }
        QApplication::quit();
    });
    app.exec();
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    // Decided before QApplication exists: the platform is chosen then.
    const bool headless = withoutDisplay();
    if (headless)
        qputenv("QT_QPA_PLATFORM", "offscreen");

    g_qtHandler = qInstallMessageHandler(filterQtMessages);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Velmora"));
    QApplication::setApplicationName(QStringLiteral("velmora-demo"));

    DemoOptions options;
    if (!parseOptions(app, &options))
        return 2;
    QTranslator demoTexts;
    QTranslator qtTexts;
    installTranslations(options.language, &demoTexts, &qtTexts);

    if (headless) {
        // In the temporary directory, never in the directory the demo was
        // started from (often the source tree).
        if (options.screenshot.isEmpty())
            options.screenshot = QDir(QDir::tempPath()).filePath(QStringLiteral("velmora-demo.png"));
        say(QStringLiteral("no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); rendering offscreen "
                           "to %1 instead of opening a window")
                .arg(options.screenshot));
    }

    std::unique_ptr<VelmoraServer> embedded;
    QString serverUrl = options.server;
    if (serverUrl.isEmpty() && !(embedded = startEmbeddedServer(options.tls, &serverUrl)))
        return 1;

    DemoWindow window;
    window.setEmployee(options.employee);
    window.setServer(serverUrl);
    window.resize(window.sizeHint().expandedTo(QSize(900, 560)));
    window.show();

    if (!options.screenshot.isEmpty())
        return renderScreenshot(app, window, options.screenshot, options.employee, serverUrl);
    QTimer::singleShot(0, &window, [&window] { window.load(); });
    return app.exec();
}
