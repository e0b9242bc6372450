#include "app/LogDocument.h"

#include <QFile>
#include <QFileInfo>

#include "app/Services.h"
#include "logs/SaveLog.h"
#include "platform/ChunkSource.h"
#include "platform/FileIdentity.h"
#include "platform/SafeFile.h"

namespace quillon {

namespace {

const QString kLastAccessedFileKey = QStringLiteral("Misc Data/Last Accessed File");

std::optional<QDateTime> LastWriteTime(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists()) return std::nullopt;
  return info.lastModified();
}

}  // namespace

LogDocument::SaveOutcome LogDocument::SaveAs(const QString& path) const {
  SaveOutcome outcome;
  if (!log_) return outcome;
  const std::string target = QFile::encodeName(path).toStdString();
  std::string notice;
  const platform::SaveResult result = platform::SaveFile(
      target, QFile::encodeName(path_).toStdString(), [&](ByteSink& sink) { return WriteLog(*log_, sink, notice); });
  outcome.saved = result.status == platform::SaveResult::Status::kSaved;
  outcome.message = QString::fromLocal8Bit(result.message.c_str());
  if (outcome.saved && !notice.empty())
    outcome.notice = QStringLiteral("The log was saved, but ") + QString::fromStdString(notice) + QLatin1Char('.');
  outcome.path = QFile::decodeName(QByteArray::fromStdString(result.path));
  return outcome;
}

bool LogDocument::IsOpenLog(const QString& path) const {
  if (path_.isEmpty()) return false;
  return platform::SameFile(QFile::encodeName(path).toStdString(), QFile::encodeName(path_).toStdString());
}

LogDocument::LogDocument(SettingsStore& settings, Loader loader)
    : settings_(settings),
      loader_(loader ? std::move(loader) : Loader([this](const std::string& path, const ReadProgress& progress) {
        const bool again = format_ != nullptr && QFile::encodeName(path_).toStdString() == path;
        return OpenLog(path, progress, platform::LogChunkSource(), 0, again ? format_ : nullptr);
      })) {}

LogDocument::OpenOutcome LogDocument::Open(const QString& path, const ReadProgress& progress) {
  return Adopt(path, Read(path, progress));
}

LogDocument::ReadResult LogDocument::Read(const QString& path, const ReadProgress& progress) const {
  ReadResult read;
  // The write time is taken before reading: a daemon that appends to the log while it loads
  // leaves a tree older than the file, and the change watch must say so.
  read.fileTime = LastWriteTime(path);
  read.log = loader_(QFile::encodeName(path).toStdString(), progress);
  return read;
}

LogDocument::OpenOutcome LogDocument::Adopt(const QString& path, ReadResult read) {
  const std::optional<QDateTime> fileTime = read.fileTime;
  OpenLogResult& result = read.log;

  OpenOutcome outcome;
  if (result.status != OpenLogResult::Status::kCannotOpen) SetLastAccessedFile(path);
  if (result.status != OpenLogResult::Status::kLoaded || !result.log) {
    outcome.message = result.status == OpenLogResult::Status::kCannotOpen
                          ? QStringLiteral("Failed to open file: ") + path +
                                (result.reason.empty() ? QString() : " (" + QString::fromLocal8Bit(result.reason) + ")")
                          : QString::fromLocal8Bit(result.message);
    if (outcome.message.isEmpty()) outcome.message = QStringLiteral("Wrong file type");
    // Which file it was: the user may have chosen it from a list.
    if (result.status == OpenLogResult::Status::kWrongFileType) outcome.message += QStringLiteral(": ") + path;
    return outcome;
  }
  StopFollowing();
  log_ = std::move(result.log);
  path_ = path;
  compressed_ = result.compressed;
  format_ = result.format;
  loadedFileTime_ = fileTime;
  resolvePending_ = true;
  treeChanged_ = false;
  outcome.loaded = true;
  outcome.loadTimeText = QString::fromLatin1(result.loadTimeText);
  outcome.noPackets = result.noPackets;
  outcome.truncated = result.truncated;
  if (!result.warning.empty()) outcome.warning = QStringLiteral("The file changed while it was read: ") + path;
  return outcome;
}

void LogDocument::StartFollowing() {
  if (!IsLoaded() || path_.isEmpty()) return;
  follower_ = std::make_unique<LogFollower>(*log_, QFile::encodeName(path_).toStdString(), &platform::FileIdentity);
  if (format_ != nullptr) follower_->ReadAs(*format_);
}

void LogDocument::StopFollowing() { follower_.reset(); }

bool LogDocument::FollowMayChange() const { return follower_ != nullptr && follower_->MayChange(); }

LogFollower::Change LogDocument::PollFollow() {
  if (!follower_) return LogFollower::Change::kNone;
  const LogFollower::Change change = follower_->Poll();
  // The tree now shows the file as it is: the change watch compares with this time.
  if (change == LogFollower::Change::kExtended || change == LogFollower::Change::kReloaded)
    loadedFileTime_ = LastWriteTime(path_);
  return change;
}

std::vector<LogNode*> LogDocument::FollowChanged() const {
  return follower_ ? follower_->Changed() : std::vector<LogNode*>();
}

void LogDocument::New() {
  StopFollowing();
  log_.reset();
  path_.clear();
  loadedFileTime_.reset();
  resolvePending_ = false;
  treeChanged_ = false;
}

QString LogDocument::Title() const {
  return IsLoaded() ? QFileInfo(path_).fileName() : QStringLiteral("Untitled");
}

bool LogDocument::FileChangedOnDisk() const {
  if (!IsLoaded() || path_.isEmpty()) return false;
  const std::optional<QDateTime> now = LastWriteTime(path_);
  if (!now) return false;
  return !loadedFileTime_ || *now != *loadedFileTime_;
}

std::optional<QString> LogDocument::LastAccessedFile() const {
  const QVariant value = settings_.Value(kLastAccessedFileKey);
  if (value.typeId() != QMetaType::QString) return std::nullopt;
  const QString path = value.toString();
  if (path.isEmpty()) return std::nullopt;
  return path;
}

void LogDocument::SetLastAccessedFile(const QString& path) {
  // Absolute: the next start may be from another folder.
  settings_.SetValue(kLastAccessedFileKey, QFileInfo(path).absoluteFilePath());
}

}  // namespace quillon
