#include "app/mythread.h"

#include "core/log.h"

#include <exception>
#include <ostream>

MyThread::MyThread(QObject* parent) : QThread(parent) { qRegisterMetaType<RunResult>(); }

void MyThread::run() {
  std::vector<std::string> names;
  names.reserve(files.size());
  for (const QString& entry : files) names.push_back(entry.toUtf8().toStdString());

  logthis("pristisnat Sync IT....");
  console() << "sync pressed...\n" << "posle omp..\n" << std::flush;

  RunResult outcome;
  SyncOptions options;
  options.result = &outcome;
  options.open_output = open_output;
  options.use_cache = use_cache;
  options.found_devices = found_devices;
  options.output_folder = output_folder.toStdString();
  options.progress = [this](std::string_view stage, int i, int n) {
    emit progressed(QString::fromUtf8(stage.data(), static_cast<qsizetype>(stage.size())), i, n);
  };

  // Whatever happens inside the run, the window must hear that it ended, or it
  // would wait for ever with its Sync button disabled.
  QString answer;
  try {
    answer = QString::fromStdString(engine ? engine(std::move(names), settings, options)
                                           : synco(std::move(names), settings, options));
  } catch (const std::exception& e) {
    outcome.error = e.what();
    logthis("sync run failed: " + outcome.error);
  } catch (...) {
    outcome.error = "unknown error";
    logthis("sync run failed: " + outcome.error);
  }
  logthis("posle sync it");

  emit runEnded(answer, outcome);
  emit finished2(QString());
  exec();
}
