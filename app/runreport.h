#pragma once
// What the window shows of a run that has ended: its state, one sentence, and the
// result view's content, made from the engine's result.

#include "app/filelistentries.h"
#include "core/results.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// How a run ended, as the window names it.
enum class RunEnd { Synced, NothingInSync, Failed, Stopped };

// answer: the driver's "mavo" or "nema"; stop_asked: the user pressed Stop, so that a
// run that ended with an error because of it reads as stopped, not failed.
RunEnd run_end(const QString& answer, const RunResult& result, bool stop_asked);

// The result view's content, for the scene:
//   state       "synced", "nothing", "failed" or "stopped"
//   sentence    one sentence on how the run ended
//   error       why the run could not go on; empty when it could
//   groups      [{span, spanText, lanes, members: [{fileName, folder, start, length,
//                 startText, lengthText, refined, driftText, audioOnly, timecodeText,
//                 lane}]}]:
//               members by start, one lane per device (seconds throughout)
//   unsynced    [{fileName, folder}]: files read but in sync with nothing
//   unreadable  [{fileName, folder, reason}]
//   documents   [{fileName, path, applications}], as the run wrote them
//   folder      where the documents are; empty when none were written
//   notices     [text]
// `folder` is where this run was told to write.
QVariantMap describe_run(const QString& answer, const RunResult& result, bool stop_asked,
                         const QString& folder);

// Each file's mark in the list after the run, by its entry text.
QHash<QString, FileListEntries::Mark> file_marks(const QString& answer, const RunResult& result);

// The applications that open a document, by its name; empty for a name not known.
QString applications_for(const QString& document_name);

// Seconds as the result view writes a start or a length: "0:00.000", "1:02:03.500".
QString clock_text(double seconds);
