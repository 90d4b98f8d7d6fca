// qv840n: the window program. Start-up shows the splash, reads the three
// configuration files beside the executable, loads the comms-test window
// hidden, asks for the port and its speed, and opens the main window.
//
//   qv840n              talk to a unit on a serial port
//   qv840n --simulate   also run a simulated unit, listed first as a port
//   qv840n --config DIR read the start-up files from DIR

#include "connect/Connection.h"
#include "link/Crc.h"
#include "link/SystemSerialPort.h"
#include "sim/SimThread.h"
#include "startup/ConfigFiles.h"
#include "startup/Configuration.h"
#include "startup/DataFolder.h"
#include "startup/StartupSequence.h"
#include "table/MessageTable.h"
#include "transport/Transports.h"
#include "ui/LoadedWindows.h"
#include "ui/MessageBoxOperator.h"
#include "ui/StartupWindows.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QSettings>
#include <QStyleFactory>

#include <cstring>
#include <initializer_list>
#include <optional>

namespace {

// The splash pause; QV840N_SPLASH_MS shortens it for screenshots and tests.
int splashPauseMs() {
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("QV840N_SPLASH_MS", &ok);
    return ok && ms >= 0 ? ms : kSplashPauseMs;
}

// Starts the simulated unit loaded from demo.sav in folder; its device path,
// or nothing after telling the operator why it cannot run.
std::optional<QString> startSimulation(SimThread& sim, const QString& folder, Operator& op) {
    QString error;
    const QString demo = QDir(folder).filePath(QStringLiteral("demo.sav"));
    if (!sim.model().loadSav(demo, &error)) {
        op.message(QStringLiteral("The simulated unit cannot load %1: %2").arg(demo, error), {},
                   MsgIcon::Critical, MsgButtons::Ok);
        return std::nullopt;
    }
    if (!sim.start(SimConfig{}, &error)) {
        op.message(QStringLiteral("The simulated unit cannot start: %1").arg(error), {},
                   MsgIcon::Critical, MsgButtons::Ok);
        return std::nullopt;
    }
    return sim.devicePath();
}

// The options; exits with the usage for --help, --version or a wrong one.
struct Options {
    bool simulate = false;
    QString folder; // of the start-up files
};

struct OptionSet {
    QCommandLineOption simulate{
        QStringLiteral("simulate"),
        QStringLiteral("Run a simulated unit, loaded from demo.sav, and list its port first.")};
    QCommandLineOption config{
        QStringLiteral("config"),
        QStringLiteral("Folder of filedata.fm, Defaults.txt and CRC-16.TBL (default: the "
                       "program's folder, else ../share/qv840n beside it)."),
        QStringLiteral("DIR")};
};

void describe(QCommandLineParser& parser, const OptionSet& o) {
    parser.setApplicationDescription(QStringLiteral("Custom Message Programming Tool"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({o.simulate, o.config});
}

void nameProgram() {
    QCoreApplication::setApplicationName(kProgramTitle);
    QCoreApplication::setApplicationVersion(QStringLiteral(QV_VERSION));
}

Options parseOptions(const QCoreApplication& app) {
    QCommandLineParser parser;
    const OptionSet o;
    describe(parser, o);
    parser.process(app);
    return {parser.isSet(o.simulate),
            parser.isSet(o.config) ? parser.value(o.config) : dataFolder()};
}

// One of names among the arguments before "--".
bool asks(int argc, char* argv[], std::initializer_list<const char*> names) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        for (const char* name : names)
            if (std::strcmp(argv[i], name) == 0)
                return true;
    return false;
}

// A display, or a window system named on the command line or in the environment.
bool windowSystemGiven(int argc, char* argv[]) {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || asks(argc, argv, {"-platform"});
}

// --help and --version need no display (over SSH, on a text console): they
// are answered under a plain QCoreApplication, before any window system is
// touched, and the program ends there. Returns when neither was asked, or,
// where there is a window system, when an option is not the program's own
// (-style, -reverse): QApplication reads those.
void answerWithoutDisplay(int argc, char* argv[]) {
    const bool windowSystem = windowSystemGiven(argc, argv);
    if (!asks(argc, argv, {"-h", "--help", "-?", "-v", "--version"})) {
        // --help-all lists the window system's options too, so it needs one:
        // the offscreen one where there is none.
        if (asks(argc, argv, {"--help-all"}) && !windowSystem)
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return;
    }
    QCoreApplication app(argc, argv);
    nameProgram();
    QCommandLineParser parser;
    const OptionSet o;
    describe(parser, o);
    // Prints the help, the version or what is wrong, and ends the program.
    if (parser.parse(QCoreApplication::arguments()) || !windowSystem)
        parser.process(app);
}

void setUpApplication(QApplication& app) {
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    // The program ends through the main window's exit question or the
    // comms-test window's Quit, never because a window happened to close.
    app.setQuitOnLastWindowClosed(false);
}

void endProgram(SystemSerialPort& port) {
    if (port.isOpen())
        port.close();
    for (QWidget* w : QApplication::topLevelWidgets())
        w->hide();
    QCoreApplication::exit(0);
}

} // namespace

int main(int argc, char* argv[]) {
    answerWithoutDisplay(argc, argv);
    QApplication app(argc, argv);
    nameProgram();
    setUpApplication(app);
    const Options options = parseOptions(app);

    // The configuration files are found beside the executable whatever the
    // current folder. The file dialogs start there too when it is the
    // program's own folder; an installed copy's shared folder is not the
    // operator's, so they start in the current folder instead.
    if (options.folder == applicationFolder())
        QDir::setCurrent(options.folder);

    MessageBoxOperator op;
    SimThread sim;
    QString simulatedPath;
    if (options.simulate) {
        const auto path = startSimulation(sim, options.folder, op);
        if (!path)
            return 1;
        simulatedPath = *path;
    }

    Configuration config;
    Connection connection;
    MessageTable table;
    SystemSerialPort port;
    // The CRC table the transport uses is read at start-up, before any request.
    const std::unique_ptr<LineTransport> transport =
        makeTransport(port, config.crcTable, {0, &connection.line, defaultLineStateFile()});
    // Shown once the request that met it is over, not in its middle.
    QObject::connect(
        transport.get(), &Transport::notice, qApp,
        [&op](const QString& text) { op.message(text, {}, MsgIcon::Exclamation, MsgButtons::Ok); },
        Qt::QueuedConnection);
    LoadedWindows windows;
    StartupWindows startup(config, connection, table, port, *transport, op, windows, simulatedPath);
    // The connection is remembered for the next run, in the user's settings.
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("qv840n"),
                       QStringLiteral("qv840n"));
    startup.setSettings(&settings);
    startup.setEndProgram([&port] { endProgram(port); });

    if (runStartup(config, startup, &readCrcTableFile, options.folder, splashPauseMs()))
        return 1;
    return QApplication::exec();
}
