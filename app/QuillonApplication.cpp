#include "app/QuillonApplication.h"

#include <cstdio>
#include <memory>

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QTimer>

#include "app/LoggingEnvironment.h"
#include "app/MainWindow.h"
#include "app/PlatformServices.h"
#include "app/LogDocument.h"

#ifndef QUILLON_VERSION
#define QUILLON_VERSION "0.0.0"
#endif

// The built-in icon lives in this static library: its resources are registered by hand, the
// linker would drop their self-registration.
static void InitResources() { Q_INIT_RESOURCE(quillon); }

namespace quillon {

namespace {

constexpr const char* kUsage =
    "Usage: quillon [LOG]\n"
    "       quillon --install-logging-environment [--yes]\n"
    "\n"
    "Opens the key-exchange log LOG (an IKEv1 debug log, a path containing \".ilx\" or\n"
    "\".ikev1trace\", or an IKEv2 XML log) in the viewer.\n"
    "\n"
    "  --install-logging-environment  create the daemon's log directory and switch its debug\n"
    "                                 logging on for the whole machine (needs administrator rights);\n"
    "                                 asks first (a dialog, or on the terminal without a display);\n"
    "                                 exit status 0 when done, 1 when it failed or was declined\n"
    "  --yes                          do not ask before installing\n"
    "  --screenshot PATH              save a picture of the window to PATH once the log is shown,\n"
    "                                 then quit\n"
    "  -h, --help                     show this help\n"
    "  --version                      show the version\n";

// A window can be shown: always on Windows and macOS, with an X or Wayland display, or with a
// platform chosen explicitly (offscreen, for one).
bool DisplayAvailable() {
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
  return true;
#else
  // An empty DISPLAY names no display (the toolkit would abort on it).
  return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
         !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#endif
}

QStringList ArgumentsOf(int argc, char** argv) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
  return arguments;
}

}  // namespace

std::optional<QuillonApplication::Options> QuillonApplication::ParseArguments(const QStringList& arguments, QString& error) {
  Options options;
  bool endOfOptions = false;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (!endOfOptions && argument == QLatin1String("--")) {
      endOfOptions = true;
    } else if (!endOfOptions && argument == QLatin1String("--install-logging-environment")) {
      options.installLoggingEnvironment = true;
    } else if (!endOfOptions && argument == QLatin1String("--yes")) {
      options.yes = true;
    } else if (!endOfOptions && argument == QLatin1String("--screenshot")) {
      if (i + 1 >= arguments.size()) {
        error = QStringLiteral("--screenshot needs a file name");
        return std::nullopt;
      }
      options.screenshot = arguments[++i];
    } else if (!endOfOptions && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
      error = QStringLiteral("unknown option ") + argument;
      return std::nullopt;
    } else if (options.file.isEmpty()) {
      options.file = argument;
    } else {
      error = QStringLiteral("only one LOG may be given");
      return std::nullopt;
    }
  }
  return options;
}

QuillonApplication::Information QuillonApplication::InformationRequested(const QStringList& arguments) {
  for (const QString& argument : arguments) {
    if (argument == QLatin1String("--")) break;  // what follows are file names
    if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) return Information::kHelp;
    if (argument == QLatin1String("--version")) return Information::kVersion;
  }
  return Information::kNone;
}

int QuillonApplication::Run(int argc, char** argv) {
  const QStringList arguments = ArgumentsOf(argc, argv);
  // Answered before the toolkit starts: they need no display.
  switch (InformationRequested(arguments)) {
    case Information::kHelp:
      std::fputs(kUsage, stdout);
      return 0;
    case Information::kVersion:
      std::printf("quillon %s\n", QUILLON_VERSION);
      return 0;
    case Information::kNone:
      break;
  }
  // The installer also runs where no window can be shown (an administrator on a remote shell):
  // its report then goes to the terminal.
  const bool install = arguments.contains(QLatin1String("--install-logging-environment"));
  const bool windowed = !install || DisplayAvailable();
  std::unique_ptr<QCoreApplication> application;
  if (windowed) application = std::make_unique<QApplication>(argc, argv);
  else application = std::make_unique<QCoreApplication>(argc, argv);

  // Read after the toolkit has taken its own options (-platform, -style, ...).
  QString error;
  const std::optional<Options> options = ParseArguments(QCoreApplication::arguments().mid(1), error);
  if (!options) {
    std::fprintf(stderr, "quillon: %s\n%s", qPrintable(error), kUsage);
    return 2;
  }
  QCoreApplication::setOrganizationName(QStringLiteral("Morrowvale"));
  QCoreApplication::setApplicationName(QStringLiteral("Quillon"));
  QCoreApplication::setApplicationVersion(QStringLiteral(QUILLON_VERSION));
  if (windowed) {
    // The desktop entry the windows belong to (task bars take its name and icon from it), and
    // the icon of the installed theme, or the built-in one when run from the build tree.
    InitResources();
    QGuiApplication::setDesktopFileName(QStringLiteral("quillon"));
    QIcon builtIn;
    for (const int size : {16, 32, 48, 256}) builtIn.addFile(QStringLiteral(":/icons/quillon-%1.png").arg(size));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("quillon"), builtIn));
  }

  QtSettingsStore settings;
  settings.SetValue(QStringLiteral("Preferences/InstallPath"),
                    QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
  const LoggingEnvironment loggingEnvironment;

  if (options->installLoggingEnvironment) {
    MessageBoxSink boxes;
    ConsoleMessageSink console;
    MessageSink& messages = windowed ? static_cast<MessageSink&>(boxes) : console;
    const QString question =
        QStringLiteral("Switch the gateway daemon's debug logging on for this machine? This creates the daemon's log "
                       "directory and sets GXIKE_DEBUG and GXISAKMP_DEBUG to 1 machine-wide (in %1).")
            .arg(QDir::toNativeSeparators(loggingEnvironment.EnvironmentFile()));
    if (!options->yes && !messages.Ask(question)) {
      std::fputs("quillon: the logging environment was not installed\n", stderr);
      return 1;
    }
    return loggingEnvironment.Install(messages) ? 0 : 1;
  }

  MessageBoxSink messages;
  SystemNameResolver resolver;
  QtProcessLauncher launcher;
  QtFileDialogs dialogs;
  const Services services{messages, settings, resolver, launcher, dialogs, loggingEnvironment};
  LogDocument document(settings);
  MainWindow frame(document, services);
  messages.SetParent(&frame);
  frame.show();

  // The screenshot is taken a moment after the window shows the log (or, without a log, after
  // it appears).
  const auto scheduleScreenshot = [&frame, target = options->screenshot] {
    if (target.isEmpty()) return;
    QTimer::singleShot(700, &frame, [&frame, target] {
      const bool saved = frame.grab().save(target);
      if (!saved) std::fprintf(stderr, "quillon: cannot save %s\n", qPrintable(target));
      QCoreApplication::exit(saved ? 0 : 1);
    });
  };
  if (!options->file.isEmpty()) {
    // A log named on the command line that cannot be shown ends the program after its message.
    QObject::connect(&frame, &MainWindow::LoadFinished, &frame, [scheduleScreenshot, first = true](bool loaded) mutable {
      if (!first) return;
      first = false;
      if (!loaded) QCoreApplication::exit(1);
      else scheduleScreenshot();
    });
    // Started once the event loop runs, so that the window is painted before a long load.
    QTimer::singleShot(0, &frame, [&frame, file = options->file] { frame.OpenFile(file); });
  } else {
    scheduleScreenshot();
  }
  return QCoreApplication::exec();
}

}  // namespace quillon
