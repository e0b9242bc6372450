// The real implementations of the platform services: Qt's message boxes, settings, file dialog
// and process start, and the system's reverse name look-up.
#pragma once

#include <memory>

#include <QPointer>
#include <QSettings>

#include "app/Services.h"

namespace quillon {

class MessageBoxSink : public MessageSink {
 public:
  // Boxes are modal to `parent` once it is set (the main window), application-modal before.
  void SetParent(QWidget* parent) { parent_ = parent; }
  void Show(const QString& text, Kind kind) override;
  bool Ask(const QString& question) override;

 private:
  QPointer<QWidget> parent_;
};

// Writes the messages to standard output: the logging-environment installer uses it when no
// display is available (an administrator running it over a remote shell).
class ConsoleMessageSink : public MessageSink {
 public:
  void Show(const QString& text, Kind kind) override;
  // Asks on the terminal; no answer (standard input not a terminal, or closed) is no.
  bool Ask(const QString& question) override;
};

class QtSettingsStore : public SettingsStore {
 public:
  // The per-user settings of organisation "Morrowvale", application "Quillon".
  QtSettingsStore();
  explicit QtSettingsStore(std::unique_ptr<QSettings> settings) : settings_(std::move(settings)) {}

  QVariant Value(const QString& key) const override { return settings_->value(key); }
  void SetValue(const QString& key, const QVariant& value) override;
  void Remove(const QString& key) override;
  void Reload() override { settings_->sync(); }

 private:
  std::unique_ptr<QSettings> settings_;
};

class SystemNameResolver : public NameResolver {
 public:
  std::optional<std::string> HostName(std::uint32_t address) override;
};

class QtProcessLauncher : public ProcessLauncher {
 public:
  QString FindProgram(const QString& name) const override;
  bool StartDetached(const QString& program, const QStringList& arguments) override;
};

class QtFileDialogs : public FileDialogs {
 public:
  QString ChooseFileToOpen(QWidget* parent, const OpenRequest& request) override;
  QString ChooseFileToSave(QWidget* parent, const SaveRequest& request) override;
};

}  // namespace quillon
