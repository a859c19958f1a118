#pragma once
// What the window shows of a run that has ended: its state, one sentence, and the
// result view's content, made from the engine's result.

#include "app/filelistentries.h"
#include "core/results.h"
#include "engine/run_settings.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <string_view>

// How a run ended, as the window names it.
enum class RunEnd { Synced, NothingInSync, Failed, Stopped };

// answer: the driver's "mavo" or "nema"; stop_asked: the user pressed Stop, so that a
// run that ended with an error because of it reads as stopped, not failed.
RunEnd run_end(const QString& answer, const RunResult& result, bool stop_asked);

// The result view's content, for the scene:
//   state       "synced", "nothing", "failed" or "stopped"
//   sentence    one sentence on how the run ended
//   error       why the run could not go on; empty when it could
//   groups      [{span, spanText, lanes, ticks: [{at, timecode, seconds}], members:
//                 [{fileName, folder, start, length, startText, lengthText, refined,
//                 driftText, audioOnly, timecodeText, lane, reference, envelope,
//                 laneFrom, laneTo}]}]:
//               members by start, one lane per device (seconds throughout); laneFrom and
//               laneTo: where the lane's previous file ends and its next one starts
//               (0 and span at the ends); ticks: the ruler, its timecodes at `fps`
//   unsynced    [{fileName, folder}]: files read but in sync with nothing
//   unreadable  [{fileName, folder, reason}]
//   documents   [{fileName, path, applications, editors}], as the run wrote them; the
//               unsynced files' ones only when some file did not sync; editors: the
//               keys of the editors (export/formats.h) the document is the one for
//   folder      where the documents are; empty when none were written
//   notices     [text]
// `folder` is where this run was told to write.
QVariantMap describe_run(const QString& answer, const RunResult& result, bool stop_asked,
                         const QString& folder, double fps = RunSettings{}.fps);

// The documents of describe_run split for the user who edits in `editor_key`:
//   editor  the editor's name when it has a document here, else empty
//   open    the documents it opens; others  the rest, in order
QVariantMap arrange_documents(const QVariantList& documents, const QString& editor_key);

// One of the engine's fixed names (an editor's, a key) as Qt text.
QString view_text(std::string_view name);

// Seconds as a timecode at `fps` frames a second, non-drop: "00:01:00:00" at 25.
QString timecode_text(double seconds, double fps);

// Each file's mark in the list after the run, by its entry text.
QHash<QString, FileListEntries::Mark> file_marks(const QString& answer, const RunResult& result);

// The applications that open a document, by its name; empty for a name not known.
QString applications_for(const QString& document_name);

// Seconds as the result view writes a start or a length: "0:00.000", "1:02:03.500".
QString clock_text(double seconds);
