// The application: command line, settings, the services, the document and the main window.
//
//   quillon [LOG]                            opens the window, with LOG loaded when given
//   quillon --install-logging-environment    prepares this machine for the daemon's debug logs
#pragma once

#include <optional>

#include <QString>
#include <QStringList>

namespace quillon {

class QuillonApplication {
 public:
  struct Options {
    QString file;                          // the log to open at start-up
    bool installLoggingEnvironment = false;
    bool yes = false;                      // install without asking
    QString screenshot;                    // save a picture of the window there, then quit
  };

  enum class Information { kNone, kHelp, kVersion };

  // Whether the arguments ask for the help or the version text (the first of them wins); these
  // print and end the program without opening a window.
  static Information InformationRequested(const QStringList& arguments);

  // Runs the program; returns its exit status.
  int Run(int argc, char** argv);

  // Reads the arguments (without the program name). Nothing, with `error` set, when they make no
  // sense.
  static std::optional<Options> ParseArguments(const QStringList& arguments, QString& error);
};

}  // namespace quillon
