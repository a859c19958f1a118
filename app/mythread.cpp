#include "app/mythread.h"

#include "core/log.h"

#include <exception>
#include <ostream>

MyThread::MyThread(QObject* parent) : QThread(parent) {}

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
  options.progress = [this](std::string_view stage, int i, int n) {
    emit progressed(QString::fromUtf8(stage.data(), static_cast<qsizetype>(stage.size())), i, n);
  };

  // Whatever happens inside the run, the window must hear that it ended, or it
  // would wait for ever with its Sync button disabled.
  QString result;
  QString error;
  try {
    const std::string answer = engine ? engine(std::move(names), settings, options)
                                      : synco(std::move(names), settings, options);
    result = QString::fromStdString(answer);
  } catch (const std::exception& e) {
    error = QString::fromUtf8(e.what());
  } catch (...) {
    error = QStringLiteral("unknown error");
  }
  if (!error.isEmpty()) logthis("sync run failed: " + error.toStdString());
  if (error.isEmpty()) error = QString::fromStdString(outcome.error);
  QStringList unreadable;
  for (const UnreadableFile& u : outcome.unreadable)
    unreadable << QString::fromStdString(outcome.entries[static_cast<std::size_t>(u.entry)] + ": " + u.reason);
  logthis("posle sync it");

  QStringList notices;
  for (const std::string& notice : outcome.notices) notices << QString::fromStdString(notice);
  emit runEnded(result, error, unreadable, notices);
  emit finished2(QString());
  exec();
}
