// The list of recently opened files (4 entries, newest first), kept in the settings under
// "Recent File List/File1" .. "File4".
#pragma once

#include <QStringList>

namespace quillon {

class SettingsStore;

class RecentFiles {
 public:
  static constexpr int kMaxEntries = 4;

  explicit RecentFiles(SettingsStore& settings);

  const QStringList& Entries() const { return entries_; }
  // Reads the list again: other windows of the program change it too.
  void Reload();
  // Puts the path first; an entry for the same file moves up instead of appearing twice. Both
  // changes start from the list as stored now, so that no window drops another's entries.
  void Add(const QString& path);
  void Remove(const QString& path);

 private:
  void Save();

  SettingsStore& settings_;
  QStringList entries_;
};

}  // namespace quillon
