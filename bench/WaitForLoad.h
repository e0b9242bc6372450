// The viewer benchmarks open a log the way a user does: the window starts the read and says
// when it ended (MainWindow::LoadFinished). A benchmark measures the whole wait, so it runs the
// event loop until then.
#pragma once

#include <QEventLoop>
#include <QObject>
#include <QString>

#include "app/MainWindow.h"

namespace quillon::bench {

// Runs the event loop until the window's load (or Follow's first read) ends; whether the file
// was shown as read.
[[maybe_unused]] inline bool WaitForLoad(MainWindow& frame) {
  if (!frame.IsLoading()) return true;
  bool loaded = false;
  QEventLoop loop;
  QObject::connect(&frame, &MainWindow::LoadFinished, &loop, [&](bool ok) {
    loaded = ok;
    loop.quit();
  });
  loop.exec();
  return loaded;
}

[[maybe_unused]] inline bool OpenAndWait(MainWindow& frame, const QString& path) {
  return frame.OpenFile(path) && WaitForLoad(frame);
}

}  // namespace quillon::bench
