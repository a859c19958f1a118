#pragma once
// Shared pieces of the application's Qt Test suites.

#include "app/animalmodel.h"
#include "app/mythread.h"
#include "app/qmlapplicationviewer.h"
#include "app/qmlfile.h"

#include <QList>
#include <QObject>
#include <QQuickItem>
#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gui_test {

// Suites register themselves under a name; the test program runs the one it is given.
using SuiteFactory = std::function<std::unique_ptr<QObject>()>;
struct RegisterSuite {
  RegisterSuite(const char* name, SuiteFactory factory);
};

// Stands in for the sync driver: records what a run received and, when `block`
// is set, holds the run until release() so that tests can act while it is going.
struct EngineStub {
  bool block = false;
  std::function<void(const SyncOptions&)> during;  // called inside the run
  std::string answer = "nema";

  std::atomic<int> calls{0};
  std::vector<std::string> files;
  // None of the defaults, so that settings that never reached the stub show.
  RunSettings settings{.tolerance = 0, .fps = 0, .width = 0, .height = 0, .premiere = -1,
                       .refine = false};
  bool open_output = true;
  bool use_cache = true;
  std::string output_folder;
  QThread* thread = nullptr;

  MyThread::SyncEngine engine();
  void release() { gate_.release(); }

 private:
  QSemaphore gate_;
};

// The window as the application builds it, with the real scene or another one.
struct Window {
  AnimalModel model;
  QmlApplicationViewer view;
  QMLFile controller{model};

  Window();
  ~Window();
  // Loads the scene file; returns the load errors and warnings, empty when clean.
  QString load(const QString& path);
  QObject* find(const char* objectName) const;
  void add(const QString& entry) { model.addAnimal(Animal(entry)); }
  // QML warnings since the window was made (bindings, delegates).
  QStringList warnings() const { return warnings_; }

 private:
  QStringList warnings_;
};

// Repeaters' rows are items of the view but no QObject children of it: the items named
// `name` at or below `item`, in the order they are drawn.
QList<QQuickItem*> find_items(QQuickItem* item, const QString& name);
QQuickItem* find_item(QQuickItem* item, const QString& name);

QString beginMarker();
QString endMarker();

}  // namespace gui_test

// Lets QCOMPARE print both sides when settings differ.
char* toString(const RunSettings& settings);
