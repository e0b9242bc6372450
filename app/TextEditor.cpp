#include "app/TextEditor.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#include "app/Services.h"

namespace quillon {

namespace {

// Editors that need a terminal: started from a window they are given one.
bool RunsInTerminal(const QString& program) {
  static const QStringList kTerminalEditors{
      QStringLiteral("vi"),    QStringLiteral("vim"),  QStringLiteral("nvim"),  QStringLiteral("nano"),
      QStringLiteral("pico"),  QStringLiteral("emacs"), QStringLiteral("micro"), QStringLiteral("joe"),
      QStringLiteral("ne"),    QStringLiteral("mcedit"), QStringLiteral("jed"),  QStringLiteral("elvis"),
      QStringLiteral("ed"),    QStringLiteral("helix"), QStringLiteral("hx"),    QStringLiteral("kak")};
  return kTerminalEditors.contains(QFileInfo(program).fileName());
}

// The arguments that open `path` at `line` in a desktop editor, by the options each takes.
QStringList DesktopEditorArguments(const QString& name, const QString& path, std::uint64_t line) {
  if (line == 0) return {path};
  const QString number = QString::number(line);
  if (name == QLatin1String("kate") || name == QLatin1String("kwrite"))
    return {QStringLiteral("--line"), number, path};
  if (name == QLatin1String("gedit") || name == QLatin1String("pluma") || name == QLatin1String("xed") ||
      name == QLatin1String("gnome-text-editor") || name == QLatin1String("mousepad"))
    return {QStringLiteral("+") + number, path};
  return {path};
}

}  // namespace

EditorOutcome OpenInTextEditor(ProcessLauncher& launcher, const QString& path, std::uint64_t line) {
  EditorOutcome outcome;
  for (const QString& variable : {QStringLiteral("VISUAL"), QStringLiteral("EDITOR")}) {
    // The variable may carry options of its own ("code --wait").
    QStringList command = QProcess::splitCommand(launcher.EnvironmentValue(variable));
    if (command.isEmpty()) continue;
    const QString program = launcher.FindProgram(command.takeFirst());
    if (program.isEmpty()) continue;
    if (line != 0) command.append(QStringLiteral("+") + QString::number(line));
    command.append(path);
    if (RunsInTerminal(program)) {
      const QString terminal = launcher.FindProgram(QStringLiteral("x-terminal-emulator"));
      if (terminal.isEmpty()) continue;
      command.prepend(program);
      command.prepend(QStringLiteral("-e"));
      outcome.started = launcher.StartDetached(terminal, command);
    } else {
      outcome.started = launcher.StartDetached(program, command);
    }
    if (!outcome.started) outcome.message = QStringLiteral("Could not start ") + program;
    return outcome;
  }
  // The desktops' own text editors first; xdg-open hands the file to whatever the desktop
  // associates with it.
  for (const QString& name : {QStringLiteral("gnome-text-editor"), QStringLiteral("gedit"), QStringLiteral("kate"),
                              QStringLiteral("kwrite"), QStringLiteral("mousepad"), QStringLiteral("pluma"),
                              QStringLiteral("xed"), QStringLiteral("featherpad"), QStringLiteral("leafpad"),
                              QStringLiteral("xdg-open")}) {
    const QString program = launcher.FindProgram(name);
    if (program.isEmpty()) continue;
    outcome.started = launcher.StartDetached(program, DesktopEditorArguments(name, path, line));
    if (!outcome.started) outcome.message = QStringLiteral("Could not start ") + program;
    return outcome;
  }
  outcome.message = QStringLiteral("No text editor was found to open ") + QDir::toNativeSeparators(path);
  return outcome;
}

}  // namespace quillon
