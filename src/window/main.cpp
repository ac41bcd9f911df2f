#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "window/endingsignals.h"
#include "window/mainwindow.h"

namespace {

QtMessageHandler g_defaultHandler = nullptr;

// A message Qt gave while the application object started, kept with copies of its context.
struct HeldMessage {
    QtMsgType type;
    QByteArray file, function, category;
    int line;
    QString text;
};
std::vector<HeldMessage> g_held;

// While the application object starts, a display that cannot be reached ends Qt with a fatal
// message and an abort; it becomes one line and status 1. Qt's other messages are held back
// until the start is known to have worked: a failed start says only that one line, and a
// start that worked says only what went wrong (its warnings, such as QStandardPaths' about
// an unset XDG_RUNTIME_DIR under xvfb-run, tell the user nothing to do).
void startUpHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg) {
        g_held.push_back({type, context.file, context.function, context.category, context.line, text});
        return;
    }
    const QByteArray display = qgetenv("DISPLAY");
    std::fprintf(stderr, "lumivex: cannot open a window: no display could be reached%s\n",
                 display.isEmpty() ? "" : qPrintable(QStringLiteral(" (DISPLAY is %1)").arg(QString::fromLocal8Bit(display))));
    std::fflush(stderr);
    std::_Exit(1);
}

// Hands the critical messages held back during the start to Qt's own handler, as they would
// have gone; the others too when Qt's logging was asked for (QT_LOGGING_RULES, QT_DEBUG_PLUGINS).
void replayHeldMessages()
{
    const bool everything = !qEnvironmentVariableIsEmpty("QT_LOGGING_RULES") ||
                            !qEnvironmentVariableIsEmpty("QT_DEBUG_PLUGINS");
    for (const HeldMessage& m : g_held) {
        if (m.type != QtCriticalMsg && !everything)
            continue;
        const QMessageLogContext context(m.file.isNull() ? nullptr : m.file.constData(), m.line,
                                         m.function.isNull() ? nullptr : m.function.constData(),
                                         m.category.isNull() ? nullptr : m.category.constData());
        g_defaultHandler(m.type, context, m.text);
    }
    g_held.clear();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setOrganizationName("Lumivex");
    QCoreApplication::setApplicationName("Lumivex");
    QCoreApplication::setApplicationVersion(LUMIVEX_VERSION);

    // The options are read before anything needs a display, so that --help and --version
    // answer anywhere.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription("Renders a scene of spheres and tori by sphere tracing and moves the camera "
                                     "through it. Keys and mouse: Help > Keys and Mouse (F1) in the window.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument("file", "A scene file to open, in either format.", "[file]");
    const bool parsed = parser.parse(args) && parser.positionalArguments().size() <= 1;
    // The window takes none of Qt's own options, so --help-all says what --help does.
    const bool wantsHelp = parsed && (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")));
    if (!parsed || wantsHelp || parser.isSet(version)) {
        // Only for the program's name in the usage: no display is opened.
        QCoreApplication app(argc, argv);
        if (!parsed) {
            const QString why = parser.errorText().isEmpty() ? QStringLiteral("one scene file at most") : parser.errorText();
            std::fprintf(stderr, "lumivex: %s\n%s", qPrintable(why), qPrintable(parser.helpText()));
            return 2;
        }
        if (wantsHelp)
            parser.showHelp(0);
        parser.showVersion();
    }

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "lumivex: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                             "xvfb-run lumivex runs it on a virtual one (package xvfb)\n");
        return 1;
    }
#endif
    g_defaultHandler = qInstallMessageHandler(startUpHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_defaultHandler);
    replayHeldMessages();

    // `lumivex FILE` opens a scene file of either format; a bad one leaves the built-in scene.
    std::unique_ptr<MainWindow> mainWin;
    if (parser.positionalArguments().isEmpty()) {
        mainWin = std::make_unique<MainWindow>();
    } else {
        QString why;
        mainWin = std::make_unique<MainWindow>(parser.positionalArguments().first(), &why);
        if (!why.isEmpty())
            std::fprintf(stderr, "lumivex: %s\n", qPrintable(why));
    }
    // A termination request or hangup ends the event loop without asking anything (there may
    // be nobody to answer); the window then stops its work and removes unfinished files as it
    // is destroyed, and the program ends by that signal.
    EndingSignals endingSignals;
    QObject::connect(&endingSignals, &EndingSignals::caught, &app, [] { QCoreApplication::exit(1); });
    mainWin->show();
    const int status = app.exec();
    mainWin.reset();
    EndingSignals::endBySignalIfCaught();
    return status;
}
