#include "app/RecentFiles.h"

#include <QDir>
#include <QFileInfo>

#include "app/Services.h"

namespace quillon {

namespace {

QString KeyOf(int number) { return QStringLiteral("Recent File List/File%1").arg(number); }

// Two spellings of one file ("./a.ilx" and "/home/x/a.ilx") are one entry.
QString Canonical(const QString& path) { return QDir::cleanPath(QFileInfo(path).absoluteFilePath()); }

bool SameFile(const QString& a, const QString& b) {
#ifdef Q_OS_WIN
  return Canonical(a).compare(Canonical(b), Qt::CaseInsensitive) == 0;
#else
  return Canonical(a) == Canonical(b);
#endif
}

}  // namespace

RecentFiles::RecentFiles(SettingsStore& settings) : settings_(settings) { Reload(); }

void RecentFiles::Reload() {
  settings_.Reload();
  entries_.clear();
  for (int number = 1; number <= kMaxEntries; ++number) {
    const QString path = settings_.Value(KeyOf(number)).toString();
    if (!path.isEmpty()) entries_.append(path);
  }
}

void RecentFiles::Add(const QString& path) {
  Reload();
  const QString full = Canonical(path);
  entries_.removeIf([&](const QString& entry) { return SameFile(entry, full); });
  entries_.prepend(full);
  while (entries_.size() > kMaxEntries) entries_.removeLast();
  Save();
}

void RecentFiles::Remove(const QString& path) {
  Reload();
  entries_.removeIf([&](const QString& entry) { return SameFile(entry, path); });
  Save();
}

void RecentFiles::Save() {
  for (int number = 1; number <= kMaxEntries; ++number) {
    if (number <= entries_.size()) settings_.SetValue(KeyOf(number), entries_[number - 1]);
    else settings_.Remove(KeyOf(number));
  }
}

}  // namespace quillon
